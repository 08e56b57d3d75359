// CP932 (Shift-JIS) text at the edges of the system.
//
// The cores keep every text that others see (files, pages, datagrams, mail)
// as CP932 byte strings in std::string.  Unicode appears only at the GUI and
// at file-system names, and every conversion goes through this module.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quellin::cp932 {

// CP932 bytes to UTF-8; nullopt when the bytes are not valid CP932.
std::optional<std::string> ToUtf8(std::string_view cp932);

// UTF-8 to CP932 bytes; nullopt when the text has a character without a
// CP932 form (or is not valid UTF-8).
std::optional<std::string> FromUtf8(std::string_view utf8);

// UTF-8 to CP932 as a text box of the original would hand it over:
// characters without a CP932 form become "?".
std::string FromUtf8Lossy(std::string_view utf8);

// CP932 to UTF-8 for display: bytes that are not valid CP932 become U+FFFD.
std::string ToUtf8Lossy(std::string_view cp932);

// Number of CP932 bytes the UTF-8 text takes; nullopt without a CP932 form.
std::optional<std::size_t> ByteLength(std::string_view utf8);

// The start of the text, at most maxBytes long, that ends where a character
// ends: a two-byte character at the cut is left out whole, never halved.
std::string_view Head(std::string_view text, std::size_t maxBytes);

// A UTF-8 literal of the program's own (messages, captions, keys) as CP932.
// The program's literals are all representable; one that is not is a
// programming error and aborts.
std::string Jp(std::string_view utf8);

// A CP932 path text as a file-system path.  Names that are not valid CP932
// are taken byte for byte.
std::filesystem::path ToPath(std::string_view cp932);

// A file-system path as CP932 text (the program folder, for instance).
// Names without a CP932 form are kept byte for byte.
std::string FromPath(const std::filesystem::path& path);

// True when the byte is the first byte of a two-byte CP932 character.
constexpr bool IsLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// True when the byte can follow a lead byte.
constexpr bool IsTrailByte(unsigned char c) {
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

// Bytes (1 or 2) of the character starting at `offset`: a lead byte and a
// valid trail byte make one character, every other byte is one.
constexpr std::size_t CharacterLength(std::string_view text, std::size_t offset) {
    if (IsLeadByte(static_cast<unsigned char>(text[offset])) && offset + 1 < text.size() &&
        IsTrailByte(static_cast<unsigned char>(text[offset + 1])))
        return 2;
    return 1;
}

// The end of the text, at most maxBytes long, that starts where a character
// starts: a two-byte character at the cut is left out whole, never halved.
std::string_view Tail(std::string_view text, std::size_t maxBytes);

}  // namespace quellin::cp932
