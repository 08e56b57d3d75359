// Firmware image identification: the model, version and build texts that a
// router firmware image carries in its ".firmif" section.
//
// An image file starts with one text line, followed by a directory of named
// entries; the entry "firm" holds a COFF or big-endian ELF32 executable with
// the ".firmif" section.  All numbers in the file are big-endian.  A file
// without that layout is simply not an image: every read is checked against
// the real file size, and what is read and allocated stays small whatever
// counts the file claims, so any file is examined in milliseconds.
//
// The four steps can be called one by one; each opens and closes the file
// itself.  Seek and read failures while walking the directory are written to
// the standard error stream as "lseek: <reason>" or "read: <reason>", as the
// tools around the image files have always shown them; a file that ends
// before the directory does gives "read: file ends early".
#pragma once

#include "device_identity.h"
#include "result.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace quellin {

inline constexpr std::size_t kFirmifBlockSize = 256;
using FirmifBlock = std::array<unsigned char, kFirmifBlockSize>;

// How much of a file the reader looks at.
struct FirmwareImageLimits {
    // Directory entries looked through for "firm", in one read.  Real images
    // have a handful; a directory that claims more and has no "firm" among
    // the first ones is no image.
    std::size_t directoryEntries = 4096;
};

// The whole identification: the identity block's model, major, minor, ptf
// and date (startupConfig empty), or why the file is not an image: kFormat
// (or kTooLong for a directory beyond the limit) with the tools' own words
// ("no .firmif section", "file ends early", ...), or the file's own failure
// to open ("cannot open the file").
Result<DeviceIdentity> ExamineFirmwareImage(const std::filesystem::path& path,
                                            const FirmwareImageLimits& limits = {});

// The same as the image's callers have always called it: 0 when the file is
// an image, with the identity filled, any other value otherwise.  The
// identity is cleared first.
int ReadFirmwareIdentity(const std::filesystem::path& path, DeviceIdentity& identity);

// Step 1: the offset just past the header line.  The header is read the way
// a text-mode read sees it, where CR LF is one byte, so for a header line
// ending in CR LF the offset is that of its LF.  0 or -1.
int ReadHeaderLine(const std::filesystem::path& path, std::int64_t& offset);

// Step 2: given the directory's offset, moves it to the data of the entry
// named "firm".  Without such an entry the result is still 0 and the offset
// stays at the directory.  0 or -1.
int FindFirmwareEntry(const std::filesystem::path& path, std::int64_t& offset,
                      const FirmwareImageLimits& limits = {});

// Step 3: the first 256 bytes of the ".firmif" section of the executable at
// the offset.  0 or -1.
int ReadFirmifSection(const std::filesystem::path& path, std::int64_t offset, FirmifBlock& block);

// Step 4: model (block offset 16), "<ptf> <version>" (48) and date (80).
// 0 or -1; model and date are filled even when the version part fails.
int ParseFirmifSection(DeviceIdentity& identity, const FirmifBlock& block);

}  // namespace quellin
