// Profile (INI) files with the rules of the classic private-profile
// functions, since administrators edit NEXORA.INI and Syslogd.ini by hand and
// files written by earlier installations must keep working:
//  - section and key names match case-insensitively (ASCII letters only;
//    two-byte CP932 characters compare exactly), blanks around names and
//    values are ignored, and a value enclosed in matching double or single
//    quotes loses them on read;
//  - the first matching section and the first matching key in it win;
//  - an integer read takes an optional sign and the leading digits and gives
//    0 for a value without digits; the default applies only when the key is
//    absent;
//  - a write replaces the key's line in place, or adds the key after the last
//    non-blank line of its section, or adds the section at the end of the
//    file, creating the file when needed; every other line is kept byte for
//    byte; written lines end in CR LF; LF-only files are read as well.
#pragma once

#include "file_replacement.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quellin {

// The text of one profile file held in memory.
class ProfileDocument {
public:
    ProfileDocument() = default;
    explicit ProfileDocument(std::string_view bytes);

    std::optional<std::string> Find(std::string_view section, std::string_view key) const;
    void Set(std::string_view section, std::string_view key, std::string_view value);
    // Names of the keys of a section, in file order (first occurrences).
    std::vector<std::string> Keys(std::string_view section) const;
    // Every key of a section with its value as Find gives it, in file order
    // (first occurrences), read in one pass.
    std::vector<std::pair<std::string, std::string>> Values(std::string_view section) const;
    // The same as Set for each entry in turn, done in one pass: large
    // sections are written without rescanning the section for every key.
    void SetMany(std::string_view section,
                 const std::vector<std::pair<std::string, std::string>>& entries);
    std::string Bytes() const;

private:
    struct Line {
        std::string text;  // without its line end
        std::string end;   // "\r\n", "\n" or "" for a last line without one
    };
    std::optional<std::size_t> FindSection(std::string_view section) const;
    std::size_t SectionEnd(std::size_t header) const;

    std::vector<Line> lines_;
};

// Reads and writes one profile file on disk; every call reads the file anew,
// so changes made by other programs are seen at once.
class ProfileFile {
public:
    explicit ProfileFile(std::filesystem::path path) : path_(std::move(path)) {}

    // The value, or the default when the file, the section or the key is
    // missing.  The result is cut to bufferSize - 1 bytes (never inside a
    // two-byte character), like a read into a buffer of that size.
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view defaultValue, std::size_t bufferSize = 4096) const;
    int GetInt(std::string_view section, std::string_view key, int defaultValue) const;
    // False when the file cannot be written; the old file is then unchanged.
    bool WriteString(std::string_view section, std::string_view key, std::string_view value) const;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A section or key name folded so that equal names compare equal: ASCII
// letters in upper case, two-byte CP932 characters unchanged.
std::string FoldProfileName(std::string_view name);

// The integer rule of the profile functions: optional blanks and sign, then
// the leading decimal digits; no digits gives 0.
int ParseProfileInt(std::string_view text);

// Reads a whole file into memory; nullopt when it cannot be opened.
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

// The older name of ReplaceFile (file_replacement.h), still used by
// Syslogd's settings writer.
inline bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes) {
    return ReplaceFile(path, bytes).ok();
}

}  // namespace quellin
