// One JSON object on one line, for the programs' machine-readable output
// (quellin --json, the router simulator's journal).  Texts are CP932 bytes;
// they appear converted to UTF-8, bytes that are not valid CP932 as U+FFFD.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quellin {

// Builds one JSON object with the fields in the order they are added.
class JsonLine {
public:
    JsonLine& Add(std::string_view key, std::string_view text);
    JsonLine& Add(std::string_view key, const char* text) {
        return Add(key, std::string_view(text));
    }
    JsonLine& Add(std::string_view key, std::int64_t number);
    JsonLine& Add(std::string_view key, int number) { return Add(key, std::int64_t{number}); }
    JsonLine& Add(std::string_view key, std::size_t number) {
        return Add(key, static_cast<std::int64_t>(number));
    }
    JsonLine& Add(std::string_view key, bool flag);
    // With three decimals ("1.250").
    JsonLine& Add(std::string_view key, double number);
    std::string Text() const { return "{" + body_ + "}"; }

private:
    void Key(std::string_view key);
    std::string body_;
};

// CP932 bytes as a JSON string literal with its quotes.
std::string JsonString(std::string_view cp932);

}  // namespace quellin
