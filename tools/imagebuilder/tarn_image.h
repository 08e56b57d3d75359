// Builds router firmware image files for tests, benchmarks and demos: a
// header line, a directory of named entries and a big-endian COFF or ELF32
// executable carrying the ".firmif" identity block.  Options produce the
// broken variants that the image reader must turn away.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace quellin::tarn {

enum class ImageFormat { kCoff, kElf };

enum class ImageLayout {
    kDirectory,         // header line, directory, entries' data
    kImageAfterHeader,  // header line followed directly by the executable
};

struct ImageOptions {
    std::string model = "Tarn-90";
    std::string version = "V10.02";
    std::string ptf = "PTF00";
    std::string date = "2006/01/26";
    ImageFormat format = ImageFormat::kCoff;
    ImageLayout layout = ImageLayout::kDirectory;

    // Raw bytes before the directory; a real image has one text line here.
    std::string headerLine = "TARN FIRMWARE IMAGE\n";
    // Bytes 0-11 of the directory header (the reader ignores them).
    std::string directoryTag = "TARNPKG";
    // Name of the entry holding the executable; anything but "firm" gives a
    // directory without a "firm" entry.
    std::string firmEntryName = "firm";

    bool elf64 = false;             // ELF class byte 2, the rest as a 32-bit image
    bool relocatable = false;       // ELF type 1 instead of 2
    std::size_t payloadSize = 256;  // bytes of program text before the block
    // Executable bytes to place in the entry instead of a generated one.
    std::optional<std::string> executable;
    // Cut the finished file to this many bytes.
    std::optional<std::size_t> truncateTo;
};

struct BuiltImage {
    std::string bytes;
    std::size_t executableOffset = 0;  // where the executable starts in the file
    std::size_t firmifOffset = 0;      // where the identity block starts (generated only)
};

// Empty when the options can be built, else what is wrong with them.
std::string CheckImageOptions(const ImageOptions& options);

// The image; the options must pass CheckImageOptions.
BuiltImage BuildImage(const ImageOptions& options);

// The 256-byte identity block alone.
std::string BuildFirmifBlock(const std::string& model, const std::string& ptf,
                             const std::string& version, const std::string& date);

// Builds and writes the file; false with a reason when the options are bad
// or the file cannot be written.
bool WriteImage(const std::filesystem::path& path, const ImageOptions& options, std::string& error);

}  // namespace quellin::tarn
