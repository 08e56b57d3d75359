#include "tarn_image.h"

#include <cstdint>
#include <fstream>
#include <vector>

namespace quellin::tarn {
namespace {

constexpr std::size_t kBlockSize = 256;
constexpr std::size_t kTextLimit = 31;
constexpr std::size_t kDataSize = 32;

void PutBe16(std::string& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<char>(value >> 8 & 0xFF);
    bytes[at + 1] = static_cast<char>(value & 0xFF);
}

void PutBe32(std::string& bytes, std::size_t at, std::uint32_t value) {
    bytes[at] = static_cast<char>(value >> 24 & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 16 & 0xFF);
    bytes[at + 2] = static_cast<char>(value >> 8 & 0xFF);
    bytes[at + 3] = static_cast<char>(value & 0xFF);
}

void PutText(std::string& bytes, std::size_t at, const std::string& text, std::size_t field) {
    bytes.replace(at, std::min(text.size(), field), text, 0, std::min(text.size(), field));
}

std::uint32_t U32(std::size_t value) {
    return static_cast<std::uint32_t>(value);
}

// Program text that looks like code: a repeating instruction-like pattern.
std::string Payload(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>((i * 37 + 11) & 0xFF);
    return text;
}

std::string InitialisedData() {
    std::string data(kDataSize, '\0');
    PutText(data, 0, "tarn runtime data", kDataSize);
    return data;
}

struct Generated {
    std::string bytes;
    std::size_t firmifOffset = 0;
};

// COFF: file header, optional header, three section headers, then the data
// of .text, .data and last .firmif, so that any cut of the file loses part
// of the identity block.
Generated BuildCoff(const ImageOptions& options, const std::string& block) {
    constexpr std::size_t kFileHeader = 20;
    constexpr std::size_t kOptionalHeader = 28;
    constexpr std::size_t kSectionHeader = 40;
    constexpr std::size_t kSections = 3;
    const std::size_t textAt = kFileHeader + kOptionalHeader + kSections * kSectionHeader;
    const std::string text = Payload(options.payloadSize);
    const std::string data = InitialisedData();
    const std::size_t dataAt = textAt + text.size();
    const std::size_t firmifAt = dataAt + data.size();

    std::string image(firmifAt, '\0');
    PutBe16(image, 0, 0x01F0);
    PutBe16(image, 2, kSections);
    PutBe32(image, 4, 1138281284);  // build time stamp
    PutBe32(image, 8, 0);           // no symbol table
    PutBe32(image, 12, 0);
    PutBe16(image, 16, kOptionalHeader);
    PutBe16(image, 18, 0x0002);  // executable
    std::size_t opt = kFileHeader;
    PutBe16(image, opt, 0x010B);
    PutBe16(image, opt + 2, 1);
    PutBe32(image, opt + 4, U32(text.size()));
    PutBe32(image, opt + 8, U32(data.size() + kBlockSize));
    PutBe32(image, opt + 12, 0);
    PutBe32(image, opt + 16, 0x10000);
    PutBe32(image, opt + 20, 0x10000);
    PutBe32(image, opt + 24, 0x20000);

    struct Section {
        const char* name;
        std::size_t at;
        std::size_t size;
        std::uint32_t address;
        std::uint32_t flags;
    };
    const Section sections[kSections] = {
        {".text", textAt, text.size(), 0x10000, 0x20},
        {".data", dataAt, data.size(), 0x20000, 0x40},
        {".firmif", firmifAt, kBlockSize, 0, 0x40},
    };
    for (std::size_t i = 0; i < kSections; ++i) {
        std::size_t h = kFileHeader + kOptionalHeader + i * kSectionHeader;
        PutText(image, h, sections[i].name, 8);
        PutBe32(image, h + 8, sections[i].address);
        PutBe32(image, h + 12, sections[i].address);
        PutBe32(image, h + 16, U32(sections[i].size));
        PutBe32(image, h + 20, U32(sections[i].at));
        PutBe32(image, h + 36, sections[i].flags);
    }
    image.replace(textAt, text.size(), text);
    image.replace(dataAt, data.size(), data);
    image += block;
    return {image, firmifAt};
}

// ELF32 big-endian: header, section data, the section-name table, and the
// section header table last with the name table's header at its end, as
// linkers lay it out.
Generated BuildElf(const ImageOptions& options, const std::string& block) {
    constexpr std::size_t kHeader = 52;
    constexpr std::size_t kSectionHeader = 40;
    const std::string text = Payload(options.payloadSize);
    const std::string data = InitialisedData();
    const std::string names = std::string("\0.text\0.data\0.firmif\0.shstrtab\0", 32);
    const std::size_t textAt = kHeader;
    const std::size_t dataAt = textAt + text.size();
    const std::size_t firmifAt = dataAt + data.size();
    const std::size_t namesAt = firmifAt + kBlockSize;
    const std::size_t tableAt = (namesAt + names.size() + 3) / 4 * 4;

    struct Section {
        std::uint32_t name;
        std::uint32_t type;
        std::uint32_t flags;
        std::uint32_t address;
        std::size_t at;
        std::size_t size;
    };
    const std::vector<Section> sections = {
        {0, 0, 0, 0, 0, 0},
        {1, 1, 0x6, 0x10000, textAt, text.size()},  // .text, PROGBITS, AX
        {7, 1, 0x3, 0x20000, dataAt, data.size()},  // .data, PROGBITS, WA
        {13, 1, 0x0, 0, firmifAt, kBlockSize},      // .firmif
        {21, 3, 0x0, 0, namesAt, names.size()},     // .shstrtab, STRTAB
    };

    std::string image(tableAt + sections.size() * kSectionHeader, '\0');
    image[0] = '\x7f';
    image[1] = 'E';
    image[2] = 'L';
    image[3] = 'F';
    image[4] = options.elf64 ? 2 : 1;  // class
    image[5] = 2;                      // big-endian
    image[6] = 1;                      // version
    PutBe16(image, 16, options.relocatable ? 1 : 2);
    PutBe16(image, 18, 20);  // PowerPC
    PutBe32(image, 20, 1);
    PutBe32(image, 24, 0x10000);  // entry
    PutBe32(image, 28, 0);        // no program headers
    PutBe32(image, 32, U32(tableAt));
    PutBe32(image, 36, 0);
    PutBe16(image, 40, kHeader);
    PutBe16(image, 42, 32);
    PutBe16(image, 44, 0);
    PutBe16(image, 46, kSectionHeader);
    PutBe16(image, 48, U32(sections.size()));
    PutBe16(image, 50, U32(sections.size() - 1));

    image.replace(textAt, text.size(), text);
    image.replace(dataAt, data.size(), data);
    image.replace(firmifAt, block.size(), block);
    image.replace(namesAt, names.size(), names);
    for (std::size_t i = 0; i < sections.size(); ++i) {
        std::size_t h = tableAt + i * kSectionHeader;
        PutBe32(image, h, sections[i].name);
        PutBe32(image, h + 4, sections[i].type);
        PutBe32(image, h + 8, sections[i].flags);
        PutBe32(image, h + 12, sections[i].address);
        PutBe32(image, h + 16, U32(sections[i].at));
        PutBe32(image, h + 20, U32(sections[i].size));
        PutBe32(image, h + 32, i == 0 ? 0 : 4);  // alignment
    }
    return {image, firmifAt};
}

}  // namespace

std::string BuildFirmifBlock(const std::string& model, const std::string& ptf,
                             const std::string& version, const std::string& date) {
    std::string block(kBlockSize, '\0');
    PutText(block, 0, "FIRMIF", 16);
    PutBe32(block, 12, 1);  // block layout revision
    PutText(block, 16, model, kTextLimit);
    PutText(block, 48, ptf + " " + version, kTextLimit);
    PutText(block, 80, date, kTextLimit);
    return block;
}

std::string CheckImageOptions(const ImageOptions& options) {
    if (options.model.size() > kTextLimit)
        return "model longer than 31 bytes";
    if (options.ptf.size() + 1 + options.version.size() > kTextLimit)
        return "ptf and version together longer than 30 bytes";
    if (options.date.size() > kTextLimit)
        return "date longer than 31 bytes";
    if (options.directoryTag.size() > 12)
        return "directory tag longer than 12 bytes";
    if (options.firmEntryName.size() > 8)
        return "entry name longer than 8 bytes";
    if (options.payloadSize > (64u << 20))
        return "payload larger than 64 MiB";
    return {};
}

BuiltImage BuildImage(const ImageOptions& options) {
    const std::string block =
        BuildFirmifBlock(options.model, options.ptf, options.version, options.date);
    Generated executable;
    if (options.executable) {
        executable.bytes = *options.executable;
    } else if (options.format == ImageFormat::kCoff) {
        executable = BuildCoff(options, block);
    } else {
        executable = BuildElf(options, block);
    }

    BuiltImage image;
    image.bytes = options.headerLine;
    if (options.layout == ImageLayout::kImageAfterHeader) {
        image.executableOffset = image.bytes.size();
    } else {
        // Two entries: a boot loader blob, then the executable.
        constexpr std::size_t kDirectoryHeader = 16;
        constexpr std::size_t kEntry = 16;
        constexpr std::size_t kEntries = 2;
        const std::string boot(64, '\xB0');
        std::string directory(kDirectoryHeader + kEntries * kEntry, '\0');
        PutText(directory, 0, options.directoryTag, 12);
        PutBe32(directory, 12, kEntries);
        const std::size_t bootAt = directory.size();
        const std::size_t firmAt = bootAt + boot.size();
        PutText(directory, kDirectoryHeader, "boot", 8);
        PutBe32(directory, kDirectoryHeader + 8, U32(boot.size()));
        PutBe32(directory, kDirectoryHeader + 12, U32(bootAt));
        PutText(directory, kDirectoryHeader + kEntry, options.firmEntryName, 8);
        PutBe32(directory, kDirectoryHeader + kEntry + 8, U32(executable.bytes.size()));
        PutBe32(directory, kDirectoryHeader + kEntry + 12, U32(firmAt));
        image.bytes += directory;
        image.bytes += boot;
        image.executableOffset = image.bytes.size();
    }
    image.bytes += executable.bytes;
    image.firmifOffset = options.executable ? 0 : image.executableOffset + executable.firmifOffset;
    if (options.truncateTo && *options.truncateTo < image.bytes.size())
        image.bytes.resize(*options.truncateTo);
    return image;
}

bool WriteImage(const std::filesystem::path& path, const ImageOptions& options,
                std::string& error) {
    error = CheckImageOptions(options);
    if (!error.empty())
        return false;
    BuiltImage image = BuildImage(options);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(image.bytes.data(), static_cast<std::streamsize>(image.bytes.size()));
    out.close();
    if (!out) {
        error = "cannot write " + path.string();
        return false;
    }
    return true;
}

}  // namespace quellin::tarn
