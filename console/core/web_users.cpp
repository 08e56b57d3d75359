#include "web_users.h"

#include "codec.h"
#include "file_replacement.h"
#include "profile_file.h"

#include <crypt.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace quellin::console {
namespace {

constexpr mode_t kMode = 0660;
// bcrypt's cost: about a tenth of a second here, once per request.
constexpr unsigned long kCost = 10;

std::filesystem::path FileOf(const std::string& folder) {
    return cp932::ToPath(folder) / kWebUsersFile;
}

// Every line but the user's, as the file holds them.
Result<std::string> OtherLines(const std::filesystem::path& file, std::string_view name,
                               bool& found) {
    found = false;
    std::error_code error;
    if (!std::filesystem::exists(file, error))
        return std::string();
    auto text = ReadWholeFile(file);
    if (!text)
        return SystemError(errno, cp932::FromPath(file));
    std::string kept;
    for (std::size_t start = 0; start < text->size();) {
        std::size_t end = text->find('\n', start);
        end = end == std::string::npos ? text->size() : end + 1;
        const std::string_view line(text->data() + start, end - start);
        const std::string prefix = std::string(name) + ":";
        if (line.starts_with(prefix))
            found = true;
        else if (line.find(':') != std::string_view::npos)
            kept += std::string(line.substr(0, line.find_last_not_of("\r\n") + 1)) + "\n";
        start = end;
    }
    return kept;
}

}  // namespace

bool IsWebUserName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxWebUserName &&
           std::ranges::none_of(name, [](char c) {
               return c == ':' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
           });
}

Result<void> AddWebUser(const std::string& installationFolder, std::string_view name,
                        std::string_view password) {
    if (!IsWebUserName(name))
        return Error{ErrorCode::kBadArgument, "a user name is 1 to 64 bytes without \":\""};
    if (password.empty() || password.size() > kMaxWebPassword ||
        password.find('\0') != std::string_view::npos)
        return Error{ErrorCode::kBadArgument, "a password is 1 to 256 bytes"};
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt_gensalt_rn("$2y$", kCost, nullptr, 0, salt, sizeof salt) == nullptr)
        return SystemError(errno, "no salt for the password");
    auto data = std::make_unique<crypt_data>();
    const char* hash = crypt_r(std::string(password).c_str(), salt, data.get());
    if (hash == nullptr || hash[0] == '*')
        return SystemError(errno, "the password cannot be hashed");
    const auto file = FileOf(installationFolder);
    bool found = false;
    auto lines = OtherLines(file, name, found);
    if (!lines)
        return lines.error();
    return ReplaceFile(file, *lines + std::string(name) + ":" + hash + "\n", {.mode = kMode});
}

Result<void> RemoveWebUser(const std::string& installationFolder, std::string_view name) {
    const auto file = FileOf(installationFolder);
    bool found = false;
    auto lines = OtherLines(file, name, found);
    if (!lines)
        return lines.error();
    if (!found)
        return Error{ErrorCode::kNotFound, "no web user " + std::string(name)};
    return ReplaceFile(file, *lines, {.mode = kMode});
}

}  // namespace quellin::console
