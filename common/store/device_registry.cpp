#include "device_registry.h"

#include "file_descriptor.h"
#include "file_replacement.h"
#include "leading_number.h"
#include "profile_file.h"
#include "text_lines.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace quellin {
namespace {

// base.db holds every router's and every access password: its owner and the
// installation's group (which the web server's user belongs to) read it,
// nobody else, whoever writes it.
constexpr mode_t kRegistryMode = S_IRUSR | S_IWUSR | S_IRGRP | S_IWGRP;

std::int32_t LowWord(std::int64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

// The registry opened for appending; a new one is created with the
// registry's rights before its first byte.
UniqueFd OpenForAppending(const std::filesystem::path& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC,
                       S_IRUSR | S_IWUSR));
    if (fd.valid()) {
        if (::fchmod(fd.get(), kRegistryMode) != 0)
            return UniqueFd();
        return fd;
    }
    if (errno != EEXIST)
        return fd;
    return UniqueFd(::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC));
}

}  // namespace

std::int32_t ParseInt32(const std::string& text) {
    return static_cast<std::int32_t>(ParseWrapping<std::uint32_t>(text));
}

std::string SplitNextField(std::string& line) {
    auto comma = line.find(',');
    if (comma == std::string::npos) {
        std::string field = std::move(line);
        line.clear();
        return field;
    }
    std::string field = line.substr(0, comma);
    line.erase(0, comma + 1);
    return field;
}

void ParseDeviceRow(std::string& line, CBase& device) {
    device.name = SplitNextField(line);
    device.address = SplitNextField(line);
    device.password = SplitNextField(line);
    device.accessId = SplitNextField(line);
    device.accessPassword = SplitNextField(line);
    device.configFile = SplitNextField(line);
    device.lastConfigTransfer = ParseInt32(SplitNextField(line));
    device.lastFirmwareUpdate = ParseInt32(SplitNextField(line));
    device.lastLogCollection = ParseInt32(SplitNextField(line));
    device.nextLogCollection = ParseInt32(SplitNextField(line));
    device.logInterval = ParseInt32(SplitNextField(line));
    device.logRepeatCount = ParseInt32(SplitNextField(line));
}

std::string FormatDeviceRow(const CBase& d) {
    std::string row;
    for (const std::string* text :
         {&d.name, &d.address, &d.password, &d.accessId, &d.accessPassword, &d.configFile}) {
        row += *text;
        row += ',';
    }
    row += std::to_string(LowWord(d.lastConfigTransfer)) + ',';
    row += std::to_string(LowWord(d.lastFirmwareUpdate)) + ',';
    row += std::to_string(LowWord(d.lastLogCollection)) + ',';
    row += std::to_string(LowWord(d.nextLogCollection)) + ',';
    row += std::to_string(d.logInterval) + ',';
    row += std::to_string(d.logRepeatCount);
    return row;
}

bool EnsureRowCount(const std::filesystem::path& path, int rows) {
    int count = 0;
    bool endsWithNewline = true;
    if (const auto bytes = ReadFileItself(path)) {
        std::string_view text = *bytes;
        while (count < rows && NextLine(text)) {
            ++count;
            const std::size_t end = bytes->size() - text.size();
            endsWithNewline = (*bytes)[end - 1] == '\n';
        }
    }
    if (count >= rows)
        return true;
    UniqueFd out = OpenForAppending(path);
    if (!out.valid())
        return false;
    // A last line without its line end is finished first, so the padding
    // starts on a row of its own.
    std::string padding = endsWithNewline ? "" : "\r\n";
    for (int i = count; i < rows; ++i)
        padding += std::string(kEmptyDeviceRow) + "\r\n";
    return WriteAll(out.get(), padding) && out.Close();
}

bool LoadDevices(const std::filesystem::path& path, CList<CBase>& list, int rows,
                 std::vector<std::string>* beyond) {
    auto lines = ReadTextLines(path, Links::kRefuse);
    if (!lines)
        return false;
    int counter = 0;
    for (std::string& line : *lines) {
        if (!line.empty() && line.front() == '#')
            continue;
        if (counter >= rows) {
            if (beyond == nullptr)
                break;
            std::string fields = line;
            if (!SplitNextField(fields).empty())
                beyond->push_back(std::move(line));
            continue;
        }
        CBase device;
        device.row = ++counter;
        ParseDeviceRow(line, device);
        list.push_back(std::move(device));
    }
    return true;
}

bool SaveDevices(const std::filesystem::path& path, const CList<CBase>& list, int rows,
                 const std::vector<std::string>& beyond) {
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(rows > 0 ? rows : 0) * 24);
    for (int i = 0; i < rows; ++i) {
        auto index = static_cast<std::size_t>(i);
        bytes += index < list.size() ? FormatDeviceRow(list[index]) : std::string(kEmptyDeviceRow);
        bytes += "\r\n";
    }
    for (const std::string& row : beyond) {
        bytes += row;
        bytes += "\r\n";
    }
    ReplaceOptions options;
    options.mode = kRegistryMode;
    return ReplaceFile(path, bytes, options).ok();
}

bool IsAccessIdUnique(const std::filesystem::path& path, const std::string& accessId, int ownRow) {
    if (accessId.empty())
        return true;
    auto lines = ReadTextLines(path, Links::kRefuse);
    if (!lines)
        return true;
    int number = 0;
    for (std::string& line : *lines) {
        ++number;
        if (number == ownRow)
            continue;
        std::string fourth;
        for (int i = 0; i < 4; ++i)
            fourth = SplitNextField(line);
        if (fourth == accessId)
            return false;
    }
    return true;
}

bool FindDeviceByAccessId(const std::filesystem::path& path, const std::string& accessId,
                          CBase& device) {
    if (accessId.empty())
        return false;
    auto lines = ReadTextLines(path, Links::kRefuse);
    if (!lines)
        return false;
    for (std::string& line : *lines) {
        ParseDeviceRow(line, device);
        if (device.accessId == accessId)
            return true;
    }
    return false;
}

}  // namespace quellin
