// The file a device's configuration is kept in inside the history
// repository.  Device names are CP932 bytes and may hold anything (base.db
// can be edited by hand), while the file name must be one safe name in one
// folder, readable where it can be, and different for different devices.
//
// The mapping:
//   - a name that is valid CP932 and comes back unchanged from UTF-8 keeps
//     its characters beyond ASCII, written as UTF-8 ("大阪-1" stays "大阪-1");
//   - of ASCII, letters, digits and - _ . + @ = ~ ( ) [ ] are kept as they
//     are; every other byte (controls, space, % / \ : * ? " < > | , # and
//     the rest) becomes "%" and its two upper-case hex digits;
//   - a name that is not valid CP932, or whose characters would not come
//     back the same (CP932 has a few characters twice), has every byte
//     beyond ASCII written as "%XX" too;
//   - a leading "." is written "%2E", so no name is hidden or names "." or
//     ".." or ".git";
//   - ".cfg" follows.
// Every "%" of the result starts an escape, so the device name can be read
// back from the file name, and two names never share a file.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quellin::history {

// The file name (UTF-8) for a device name (CP932, not empty).
std::string DeviceFileName(std::string_view deviceName);

// The device name (CP932) a file name stands for; nullopt for a name this
// mapping does not make.
std::optional<std::string> DeviceNameOfFile(std::string_view fileName);

}  // namespace quellin::history
