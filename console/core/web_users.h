// The web view's logins: the htpasswd file the installation keeps beside
// base.db ("web-users", 0660 in the installation's group like base.db, so
// the web server's user reads it), in the form Apache's Basic
// authentication reads: one "name:hash" line per user, the hash bcrypt
// ("$2y$", salted).  The passwords themselves are never stored or shown.
#pragma once

#include "result.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace quellin::console {

inline constexpr char kWebUsersFile[] = "web-users";
inline constexpr std::size_t kMaxWebUserName = 64;
inline constexpr std::size_t kMaxWebPassword = 256;

// A name Apache's file takes: 1 to 64 bytes, no ":", no control bytes.
bool IsWebUserName(std::string_view name);

// Adds the user, or gives an existing one the new password.
Result<void> AddWebUser(const std::string& installationFolder, std::string_view name,
                        std::string_view password);
// kNotFound when there is no such user.
Result<void> RemoveWebUser(const std::string& installationFolder, std::string_view name);

}  // namespace quellin::console
