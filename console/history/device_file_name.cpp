#include "device_file_name.h"

#include "codec.h"

namespace quellin::history {
namespace {

constexpr std::string_view kSuffix = ".cfg";
constexpr char kHex[] = "0123456789ABCDEF";

bool KeptAscii(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    return std::string_view("-_.+@=~()[]").find(static_cast<char>(c)) != std::string_view::npos;
}

void Escape(unsigned char c, std::string& out) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string DeviceFileName(std::string_view deviceName) {
    const std::optional<std::string> utf8 = cp932::ToUtf8(deviceName);
    const bool readable = utf8 && cp932::FromUtf8(*utf8) == std::string(deviceName);
    std::string out;
    const std::string_view source = readable ? std::string_view(*utf8) : deviceName;
    for (std::size_t i = 0; i < source.size(); ++i) {
        const auto c = static_cast<unsigned char>(source[i]);
        if (c >= 0x80 && readable)
            out += static_cast<char>(c);
        else if (c < 0x80 && KeptAscii(c) && !(i == 0 && c == '.'))
            out += static_cast<char>(c);
        else
            Escape(c, out);
    }
    return out + std::string(kSuffix);
}

std::optional<std::string> DeviceNameOfFile(std::string_view fileName) {
    if (fileName.size() <= kSuffix.size() || !fileName.ends_with(kSuffix))
        return std::nullopt;
    fileName.remove_suffix(kSuffix.size());
    std::string name;
    std::string run;  // UTF-8 characters between escapes
    auto flush = [&]() -> bool {
        if (run.empty())
            return true;
        auto bytes = cp932::FromUtf8(run);
        if (!bytes)
            return false;
        name += *bytes;
        run.clear();
        return true;
    };
    for (std::size_t i = 0; i < fileName.size(); ++i) {
        const char c = fileName[i];
        if (c != '%') {
            run += c;
            continue;
        }
        if (i + 2 >= fileName.size())
            return std::nullopt;
        const int high = HexValue(fileName[i + 1]);
        const int low = HexValue(fileName[i + 2]);
        if (high < 0 || low < 0 || !flush())
            return std::nullopt;
        name += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (!flush())
        return std::nullopt;
    // Only what DeviceFileName makes counts.
    if (name.empty() || DeviceFileName(name) != std::string(fileName) + std::string(kSuffix))
        return std::nullopt;
    return name;
}

}  // namespace quellin::history
