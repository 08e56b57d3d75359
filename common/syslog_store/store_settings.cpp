#include "store_settings.h"

#include "codec.h"
#include "profile_file.h"
#include "store_text.h"

#include <cerrno>
#include <fstream>

namespace quellin::syslogstore {
namespace {

constexpr char kSection[] = "SETUP";
// Syslogd's log file when LogPath is absent ("C:\syslogd.txt" on the
// system Syslogd came from).
constexpr char kDefaultLogPath[] = "/syslogd.txt";
// Syslogd reads every value as into a 255-byte buffer.
constexpr std::size_t kValueLimit = 254;
constexpr std::uintmax_t kMaxFileBytes = 64u << 20;

}  // namespace

StoreSettings ParseStoreSettings(std::optional<std::string_view> syslogdIni,
                                 const std::filesystem::path& folder) {
    const ProfileDocument document(syslogdIni.value_or(std::string_view()));
    auto text = [&](std::string_view key) -> std::optional<std::string> {
        auto value = document.Find(kSection, key);
        if (value)
            value->resize(cp932::Head(*value, kValueLimit).size());
        return value;
    };
    auto number = [&](std::string_view key) {
        auto value = text(key);
        return value ? ParseProfileInt(*value) : 0;
    };
    StoreSettings settings;
    settings.enabled = number("StoreFlag") == 1;
    const std::string path = text("StorePath").value_or("");
    settings.path = path.empty() ? DefaultStorePath(text("LogPath").value_or(kDefaultLogPath))
                                 : cp932::ToPath(path);
    if (settings.path.is_relative() && !folder.empty())
        settings.path = folder / settings.path;
    settings.keepDays = number("StoreKeepDays");
    settings.maxMB = number("StoreMaxMB");
    return settings;
}

Result<StoreSettings> ReadStoreSettings(const std::filesystem::path& syslogdIni) {
    const std::string name = cp932::FromPath(syslogdIni);
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(syslogdIni, ec);
    if (ec)
        return SystemError(ec.value(), name);
    if (size > kMaxFileBytes)
        return Error{ErrorCode::kTooLong, name + ": larger than 64 MiB"};
    std::ifstream in(syslogdIni, std::ios::binary);
    if (!in)
        return SystemError(errno, name);
    // A file that grows meanwhile is read as far as it was long.
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad())
        return Error{ErrorCode::kIo, name + ": cannot be read"};
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return ParseStoreSettings(bytes, syslogdIni.parent_path());
}

}  // namespace quellin::syslogstore
