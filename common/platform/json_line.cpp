#include "json_line.h"

#include "codec.h"

#include <cstdio>

namespace quellin {

std::string JsonString(std::string_view cp932) {
    std::string utf8 = cp932::ToUtf8Lossy(cp932);
    std::string out = "\"";
    for (char c : utf8) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

void JsonLine::Key(std::string_view key) {
    if (!body_.empty())
        body_ += ",";
    body_ += JsonString(key);
    body_ += ":";
}

JsonLine& JsonLine::Add(std::string_view key, std::string_view text) {
    Key(key);
    body_ += JsonString(text);
    return *this;
}

JsonLine& JsonLine::Add(std::string_view key, std::int64_t number) {
    Key(key);
    body_ += std::to_string(number);
    return *this;
}

JsonLine& JsonLine::Add(std::string_view key, bool flag) {
    Key(key);
    body_ += flag ? "true" : "false";
    return *this;
}

JsonLine& JsonLine::Add(std::string_view key, double number) {
    Key(key);
    char text[48];
    std::snprintf(text, sizeof text, "%.3f", number);
    body_ += text;
    return *this;
}

}  // namespace quellin
