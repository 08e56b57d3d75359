#include "firmware_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace quellin {
namespace {

constexpr std::size_t kHeaderReadSize = 512;
constexpr std::size_t kDirectoryHeaderSize = 16;
constexpr std::size_t kDirectoryEntrySize = 16;
constexpr std::size_t kCoffHeadersSize = 48;  // file header and optional header
constexpr std::size_t kCoffFileHeaderSize = 20;
constexpr std::size_t kCoffSectionHeaderSize = 40;
constexpr std::size_t kElfHeaderSize = 52;
constexpr std::size_t kElfSectionHeaderSize = 40;
constexpr std::size_t kElfNameReadSize = 128;
constexpr std::size_t kTextFieldLimit = 31;
constexpr unsigned kCoffMagic = 0x01F0;
constexpr char kFirmifPrefix[] = ".firmif";
constexpr std::size_t kFirmifPrefixSize = sizeof kFirmifPrefix - 1;

std::uint32_t Be16(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) << 8 | static_cast<std::uint32_t>(p[1]);
}

std::uint32_t Be32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

// A read-only descriptor of a regular file.  Opened without blocking so that
// a FIFO or device among the image files cannot stall the caller.
class ImageFile {
public:
    explicit ImageFile(const std::filesystem::path& path) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0)
            return;
        struct stat info {};
        if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        size_ = static_cast<std::int64_t>(info.st_size);
    }
    ~ImageFile() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    bool is_open() const { return fd_ >= 0; }
    // The size when the file was opened.
    std::int64_t size() const { return size_; }

    // Reads at the current position until size bytes or the end of the file;
    // the count read.  errno tells about an error, and is 0 at the end.
    std::size_t Read(void* buffer, std::size_t size) {
        errno = 0;
        std::size_t done = 0;
        auto* bytes = static_cast<unsigned char*>(buffer);
        while (done < size) {
            ssize_t n = ::read(fd_, bytes + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        return done;
    }

    // True when exactly size bytes were read at the offset.
    bool ReadAt(std::int64_t offset, void* buffer, std::size_t size) {
        if (offset < 0)
            return false;
        std::size_t done = 0;
        auto* bytes = static_cast<unsigned char*>(buffer);
        while (done < size) {
            ssize_t n = ::pread(fd_, bytes + done, size - done,
                                static_cast<off_t>(offset) + static_cast<off_t>(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    bool Seek(std::int64_t offset) {
        return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) != static_cast<off_t>(-1);
    }

private:
    int fd_ = -1;
    std::int64_t size_ = 0;
};

// After a failed read errno tells the reason; a read that merely found the
// end of the file leaves it 0, which has no message of its own.
void ReportSystemError(const char* what) {
    std::fprintf(
        stderr, "%s: %s\n", what,
        errno == 0 ? ToString(FirmwareImageFault::kShortRead).data() : std::strerror(errno));
}

FirmwareImageFault HeaderLine(const std::filesystem::path& path, std::int64_t& offset) {
    ImageFile file(path);
    if (!file.is_open())
        return FirmwareImageFault::kOpen;
    unsigned char buffer[kHeaderReadSize];
    std::size_t size = file.Read(buffer, sizeof buffer);
    const unsigned char* end = buffer + size;
    const unsigned char* lf = std::find(static_cast<const unsigned char*>(buffer), end, '\n');
    if (lf == end)
        return FirmwareImageFault::kNoHeaderLine;
    // The image tools have always read this line in text mode, where the CR
    // of a CR LF pair disappears, and the offset is counted in the bytes as
    // read.  A CR LF header line therefore leaves the offset at its LF, and
    // images are laid out (or not recognised) accordingly.  Only the line
    // end can be such a pair: no LF comes before it.
    auto position = static_cast<std::int64_t>(lf - buffer);
    if (position > 0 && lf[-1] == '\r')
        --position;
    offset = position + 1;
    return FirmwareImageFault::kNone;
}

FirmwareImageFault FirmEntry(const std::filesystem::path& path, std::int64_t& offset,
                             const FirmwareImageLimits& limits) {
    ImageFile file(path);
    if (!file.is_open())
        return FirmwareImageFault::kOpen;
    if (offset < 0 || !file.Seek(offset)) {
        if (offset < 0)
            errno = EINVAL;
        ReportSystemError("lseek");
        return FirmwareImageFault::kSeek;
    }
    unsigned char header[kDirectoryHeaderSize];
    if (file.Read(header, sizeof header) != sizeof header) {
        ReportSystemError("read");
        return FirmwareImageFault::kShortRead;
    }
    // The count comes from the file, which may claim billions of entries:
    // only the entries it really holds, and at most the limit of them, are
    // read, all at once.
    const std::uint64_t count = Be32(header + 12);
    const std::int64_t room = file.size() - offset - static_cast<std::int64_t>(sizeof header);
    const std::uint64_t present =
        room > 0 ? static_cast<std::uint64_t>(room) / kDirectoryEntrySize : 0;
    const std::uint64_t wanted = std::min<std::uint64_t>(count, limits.directoryEntries);
    const auto taken = static_cast<std::size_t>(std::min(wanted, present));
    std::vector<unsigned char> entries(taken * kDirectoryEntrySize);
    if (file.Read(entries.data(), entries.size()) != entries.size()) {
        ReportSystemError("read");
        return FirmwareImageFault::kShortRead;
    }
    for (std::size_t i = 0; i < taken; ++i) {
        const unsigned char* entry = entries.data() + i * kDirectoryEntrySize;
        // The name equals "firm" exactly when the zero follows its fourth
        // byte; a longer name such as "firmware" does not match.
        if (std::memcmp(entry, "firm", 5) == 0) {
            offset += Be32(entry + 12);
            return FirmwareImageFault::kNone;
        }
    }
    if (wanted > present) {
        // Reading on, entry by entry, would have met the end of the file.
        errno = 0;
        ReportSystemError("read");
        return FirmwareImageFault::kShortRead;
    }
    if (count > wanted)
        return FirmwareImageFault::kLongDirectory;
    return FirmwareImageFault::kNone;
}

bool StartsWithFirmif(const unsigned char* name) {
    return std::memcmp(name, kFirmifPrefix, kFirmifPrefixSize) == 0;
}

FirmwareImageFault CoffFirmif(ImageFile& file, std::int64_t start, FirmifBlock& block) {
    unsigned char headers[kCoffHeadersSize];
    if (!file.ReadAt(start, headers, sizeof headers))
        return FirmwareImageFault::kShortRead;
    std::uint32_t sections = Be16(headers + 2);
    std::uint32_t optionalSize = Be16(headers + 16);
    std::int64_t table = start + static_cast<std::int64_t>(kCoffFileHeaderSize + optionalSize);
    for (std::uint32_t i = 0; i < sections; ++i) {
        unsigned char section[kCoffSectionHeaderSize];
        if (!file.ReadAt(table + static_cast<std::int64_t>(i * kCoffSectionHeaderSize), section,
                         sizeof section))
            return FirmwareImageFault::kShortRead;
        if (!StartsWithFirmif(section))
            continue;
        std::int64_t data = start + static_cast<std::int64_t>(Be32(section + 20));
        if (!file.ReadAt(data, block.data(), block.size()))
            return FirmwareImageFault::kShortRead;
        return FirmwareImageFault::kNone;
    }
    return FirmwareImageFault::kNoFirmifSection;
}

FirmwareImageFault ElfFirmif(ImageFile& file, std::int64_t start, FirmifBlock& block) {
    unsigned char header[kElfHeaderSize];
    if (!file.ReadAt(start, header, sizeof header))
        return FirmwareImageFault::kShortRead;
    // Only the class and the type decide; the data-encoding byte is not
    // looked at, every number is taken as big-endian.
    if (header[4] != 1 || Be16(header + 16) != 2)
        return FirmwareImageFault::kNotExecutable32;
    std::int64_t table = start + static_cast<std::int64_t>(Be32(header + 32));
    auto entrySize = static_cast<std::int64_t>(Be16(header + 46));
    std::uint32_t count = Be16(header + 48);
    auto namesIndex = static_cast<std::int64_t>(Be16(header + 50));

    unsigned char section[kElfSectionHeaderSize];
    if (!file.ReadAt(table + namesIndex * entrySize, section, sizeof section))
        return FirmwareImageFault::kShortRead;
    std::int64_t names = start + static_cast<std::int64_t>(Be32(section + 16));
    // Headers that all lie at one place are one header, however many the
    // count says.
    if (entrySize == 0)
        count = std::min<std::uint32_t>(count, 1);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!file.ReadAt(table + static_cast<std::int64_t>(i) * entrySize, section, sizeof section))
            return FirmwareImageFault::kShortRead;
        unsigned char name[kElfNameReadSize];
        if (!file.ReadAt(names + static_cast<std::int64_t>(Be32(section)), name, sizeof name))
            return FirmwareImageFault::kShortRead;
        if (!StartsWithFirmif(name))
            continue;
        std::int64_t data = start + static_cast<std::int64_t>(Be32(section + 16));
        if (!file.ReadAt(data, block.data(), block.size()))
            return FirmwareImageFault::kShortRead;
        return FirmwareImageFault::kNone;
    }
    return FirmwareImageFault::kNoFirmifSection;
}

FirmwareImageFault FirmifSection(const std::filesystem::path& path, std::int64_t offset,
                                 FirmifBlock& block) {
    ImageFile file(path);
    if (!file.is_open())
        return FirmwareImageFault::kOpen;
    if (offset < 0)
        return FirmwareImageFault::kSeek;
    unsigned char magic[4];
    if (!file.ReadAt(offset, magic, sizeof magic))
        return FirmwareImageFault::kShortRead;
    if (Be16(magic) == kCoffMagic)
        return CoffFirmif(file, offset, block);
    if (std::memcmp(magic,
                    "\x7f"
                    "ELF",
                    4) == 0)
        return ElfFirmif(file, offset, block);
    return FirmwareImageFault::kUnknownFormat;
}

// The zero-terminated text at the block offset, at most limit bytes of it
// and never past the block's end.
std::string BlockText(const FirmifBlock& block, std::size_t offset, std::size_t limit) {
    std::string text;
    for (std::size_t i = offset; i < block.size() && text.size() < limit && block[i] != 0; ++i)
        text.push_back(static_cast<char>(block[i]));
    return text;
}

FirmwareImageFault ParseBlock(DeviceIdentity& identity, const FirmifBlock& block) {
    identity.model = BlockText(block, 16, kTextFieldLimit);
    identity.date = BlockText(block, 80, kTextFieldLimit);
    std::string release = BlockText(block, 48, block.size());
    auto space = release.find(' ');
    if (space == std::string::npos)
        return FirmwareImageFault::kNoVersionSpace;
    identity.ptf = release.substr(0, std::min(space, kTextFieldLimit));
    if (ParseVersionText(release.substr(space + 1), identity.major, identity.minor) != 0)
        return FirmwareImageFault::kBadVersion;
    return FirmwareImageFault::kNone;
}

int Result(FirmwareImageFault fault) {
    return fault == FirmwareImageFault::kNone ? 0 : -1;
}

}  // namespace

std::string_view ToString(FirmwareImageFault fault) {
    switch (fault) {
        case FirmwareImageFault::kNone:
            return "image";
        case FirmwareImageFault::kOpen:
            return "cannot open the file";
        case FirmwareImageFault::kNoHeaderLine:
            return "no header line";
        case FirmwareImageFault::kSeek:
            return "position out of reach";
        case FirmwareImageFault::kShortRead:
            return "file ends early";
        case FirmwareImageFault::kLongDirectory:
            return "directory too long";
        case FirmwareImageFault::kUnknownFormat:
            return "neither COFF nor ELF";
        case FirmwareImageFault::kNotExecutable32:
            return "not a 32-bit ELF executable";
        case FirmwareImageFault::kNoFirmifSection:
            return "no .firmif section";
        case FirmwareImageFault::kNoVersionSpace:
            return "no space before the version";
        case FirmwareImageFault::kBadVersion:
            return "bad version text";
    }
    return "unknown";
}

FirmwareImageFault ExamineFirmwareImage(const std::filesystem::path& path, DeviceIdentity& identity,
                                        const FirmwareImageLimits& limits) {
    identity = DeviceIdentity{};
    FirmifBlock block{};
    std::int64_t offset = 0;
    if (auto fault = HeaderLine(path, offset); fault != FirmwareImageFault::kNone)
        return fault;
    if (auto fault = FirmEntry(path, offset, limits); fault != FirmwareImageFault::kNone)
        return fault;
    if (auto fault = FirmifSection(path, offset, block); fault != FirmwareImageFault::kNone)
        return fault;
    return ParseBlock(identity, block);
}

int ReadFirmwareIdentity(const std::filesystem::path& path, DeviceIdentity& identity) {
    return Result(ExamineFirmwareImage(path, identity));
}

int ReadHeaderLine(const std::filesystem::path& path, std::int64_t& offset) {
    return Result(HeaderLine(path, offset));
}

int FindFirmwareEntry(const std::filesystem::path& path, std::int64_t& offset,
                      const FirmwareImageLimits& limits) {
    return Result(FirmEntry(path, offset, limits));
}

int ReadFirmifSection(const std::filesystem::path& path, std::int64_t offset, FirmifBlock& block) {
    return Result(FirmifSection(path, offset, block));
}

int ParseFirmifSection(DeviceIdentity& identity, const FirmifBlock& block) {
    return Result(ParseBlock(identity, block));
}

}  // namespace quellin
