// Lines of text files and request bodies.  Files written on Windows end
// their lines in CR LF, others in LF; both read alike, the way a text-mode
// stream reads them: a CR LF pair is one line end, and a CR anywhere else
// is an ordinary byte.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quellin {

// The bytes with every CR LF pair made a single LF.
std::string TextMode(std::string_view bytes);

// Takes the next line off the front of `text`, without its line end (LF or
// CR LF); a last line without a line end is a line too.  nullopt once the
// text is used up.
std::optional<std::string_view> NextLine(std::string_view& text);

// Whether a file read may be reached through a symbolic link.  A file that a
// group of users may replace (base.db) is read only as itself, so that no
// member can make a program of root's read another file in its place.
enum class Links { kFollow, kRefuse };

// The bytes of the regular file at the path itself, never through a link
// (a FIFO does not block); nullopt when it cannot be read as such or is
// larger than `limit`.
inline constexpr std::size_t kReadFileItselfLimit = 256u << 20;
std::optional<std::string> ReadFileItself(const std::filesystem::path& path,
                                          std::size_t limit = kReadFileItselfLimit);

// The lines of a text file, split as NextLine splits them; nullopt when the
// file cannot be opened (or, refusing links, is a link or no regular file).
std::optional<std::vector<std::string>> ReadTextLines(const std::filesystem::path& path,
                                                      Links links = Links::kFollow);

}  // namespace quellin
