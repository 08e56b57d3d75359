#include "desktop_entry.h"

#include "file_replacement.h"
#include "profile_file.h"

#include <cerrno>
#include <cstdlib>

namespace quellin::setup {
namespace {

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// One argument of an Exec key, quoted; the quoting rules come first and the
// string escapes of the file format on top of them.
std::string QuoteExecArgument(std::string_view argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

std::string EscapeValue(std::string_view value) {
    std::string escaped;
    for (char c : value) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            case '\t':
                escaped += "\\t";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

}  // namespace

EnvironmentLookup ProcessEnvironment() {
    return [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        if (value == nullptr)
            return std::nullopt;
        return std::string(value);
    };
}

std::optional<std::filesystem::path> ParseUserDirsDesktop(std::string_view fileBytes,
                                                          const std::filesystem::path& home) {
    constexpr std::string_view kKey = "XDG_DESKTOP_DIR";
    std::size_t start = 0;
    while (start <= fileBytes.size()) {
        std::size_t end = fileBytes.find('\n', start);
        if (end == std::string_view::npos)
            end = fileBytes.size();
        std::string_view line = Trim(fileBytes.substr(start, end - start));
        start = end + 1;
        if (line.substr(0, kKey.size()) != kKey)
            continue;
        std::string_view rest = Trim(line.substr(kKey.size()));
        if (rest.empty() || rest.front() != '=')
            continue;
        rest = Trim(rest.substr(1));
        if (rest.size() < 2 || rest.front() != '"' || rest.back() != '"')
            continue;
        std::string value;
        for (std::size_t i = 1; i + 1 < rest.size(); ++i) {
            if (rest[i] == '\\' && i + 2 < rest.size())
                ++i;
            value += rest[i];
        }
        constexpr std::string_view kHome = "$HOME";
        if (value.compare(0, kHome.size(), kHome) == 0) {
            std::string_view tail = std::string_view(value).substr(kHome.size());
            if (!tail.empty() && tail.front() != '/')
                continue;
            while (!tail.empty() && tail.front() == '/')
                tail.remove_prefix(1);
            return tail.empty() ? home : home / tail;
        }
        if (!value.empty() && value.front() == '/')
            return std::filesystem::path(value);
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> DesktopFolder(const EnvironmentLookup& environment) {
    if (auto desktop = environment("XDG_DESKTOP_DIR"); desktop && !desktop->empty())
        return std::filesystem::path(*desktop);
    auto home = environment("HOME");
    if (!home || home->empty())
        return std::nullopt;
    std::filesystem::path config = std::filesystem::path(*home) / ".config";
    if (auto configHome = environment("XDG_CONFIG_HOME");
        configHome && !configHome->empty() && configHome->front() == '/')
        config = *configHome;
    if (auto bytes = ReadWholeFile(config / "user-dirs.dirs")) {
        if (auto desktop = ParseUserDirsDesktop(*bytes, *home))
            return desktop;
    }
    return std::filesystem::path(*home) / "Desktop";
}

std::string DesktopEntryText(const std::filesystem::path& installFolder) {
    const std::string folder = installFolder.string();
    std::string text = "[Desktop Entry]\n";
    text += "Type=Application\n";
    text += "Version=1.0\n";
    text += "Name=Quellin Server\n";
    text += "Exec=" + EscapeValue(QuoteExecArgument(folder + "/Quellin_tool")) + "\n";
    text += "Path=" + EscapeValue(folder) + "\n";
    text += "Terminal=false\n";
    return text;
}

std::error_code WriteDesktopEntry(const std::filesystem::path& desktopFolder,
                                  const std::filesystem::path& installFolder) {
    std::error_code ec;
    std::filesystem::create_directories(desktopFolder, ec);
    if (ec)
        return ec;
    const std::filesystem::path entry = desktopFolder / kDesktopEntryName;
    errno = 0;
    if (!ReplaceFile(entry, DesktopEntryText(installFolder)))
        return std::error_code(errno != 0 ? errno : EIO, std::generic_category());
    using std::filesystem::perms;
    std::filesystem::permissions(entry,
                                 perms::owner_all | perms::group_read | perms::group_exec |
                                     perms::others_read | perms::others_exec,
                                 ec);
    return ec;
}

}  // namespace quellin::setup
