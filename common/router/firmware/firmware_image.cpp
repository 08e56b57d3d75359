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
constexpr char kNoFirmif[] = "no .firmif section";
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
        if (fd_ < 0) {
            openError_ = errno;
            return;
        }
        struct stat info {};
        if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
            openError_ = EINVAL;
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
    // Why the file is not open: a missing file, or one that is no file.
    Error OpenError() const { return {CodeOfErrno(openError_), "cannot open the file"}; }
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
    int openError_ = 0;
    std::int64_t size_ = 0;
};

// The texts of the ways a file is no image; the tools around the image files
// have always shown them.
constexpr char kEndsEarly[] = "file ends early";

Error NotImage(const char* why) {
    return {ErrorCode::kFormat, why};
}

// After a failed read errno tells the reason; a read that merely found the
// end of the file leaves it 0, which has no message of its own.
void ReportSystemError(const char* what) {
    std::fprintf(stderr, "%s: %s\n", what, errno == 0 ? kEndsEarly : std::strerror(errno));
}

Result<std::int64_t> HeaderLine(const std::filesystem::path& path) {
    ImageFile file(path);
    if (!file.is_open())
        return file.OpenError();
    unsigned char buffer[kHeaderReadSize];
    std::size_t size = file.Read(buffer, sizeof buffer);
    const unsigned char* end = buffer + size;
    const unsigned char* lf = std::find(static_cast<const unsigned char*>(buffer), end, '\n');
    if (lf == end)
        return NotImage("no header line");
    // The image tools have always read this line in text mode, where the CR
    // of a CR LF pair disappears, and the offset is counted in the bytes as
    // read.  A CR LF header line therefore leaves the offset at its LF, and
    // images are laid out (or not recognised) accordingly.  Only the line
    // end can be such a pair: no LF comes before it.
    auto position = static_cast<std::int64_t>(lf - buffer);
    if (position > 0 && lf[-1] == '\r')
        --position;
    return position + 1;
}

// The offset of the "firm" entry's data, or the directory's own without one.
Result<std::int64_t> FirmEntry(const std::filesystem::path& path, std::int64_t offset,
                               const FirmwareImageLimits& limits) {
    ImageFile file(path);
    if (!file.is_open())
        return file.OpenError();
    if (offset < 0 || !file.Seek(offset)) {
        if (offset < 0)
            errno = EINVAL;
        ReportSystemError("lseek");
        return NotImage("position out of reach");
    }
    unsigned char header[kDirectoryHeaderSize];
    if (file.Read(header, sizeof header) != sizeof header) {
        ReportSystemError("read");
        return NotImage(kEndsEarly);
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
        return NotImage(kEndsEarly);
    }
    for (std::size_t i = 0; i < taken; ++i) {
        const unsigned char* entry = entries.data() + i * kDirectoryEntrySize;
        // The name equals "firm" exactly when the zero follows its fourth
        // byte; a longer name such as "firmware" does not match.
        if (std::memcmp(entry, "firm", 5) == 0)
            return offset + static_cast<std::int64_t>(Be32(entry + 12));
    }
    if (wanted > present) {
        // Reading on, entry by entry, would have met the end of the file.
        errno = 0;
        ReportSystemError("read");
        return NotImage(kEndsEarly);
    }
    if (count > wanted)
        return Error{ErrorCode::kTooLong, "directory too long"};
    return offset;
}

bool StartsWithFirmif(const unsigned char* name) {
    return std::memcmp(name, kFirmifPrefix, kFirmifPrefixSize) == 0;
}

// The identity block at the data of the section, read whole.
Result<FirmifBlock> BlockAt(ImageFile& file, std::int64_t data) {
    FirmifBlock block{};
    if (!file.ReadAt(data, block.data(), block.size()))
        return NotImage(kEndsEarly);
    return block;
}

Result<FirmifBlock> CoffFirmif(ImageFile& file, std::int64_t start) {
    unsigned char headers[kCoffHeadersSize];
    if (!file.ReadAt(start, headers, sizeof headers))
        return NotImage(kEndsEarly);
    std::uint32_t sections = Be16(headers + 2);
    std::uint32_t optionalSize = Be16(headers + 16);
    std::int64_t table = start + static_cast<std::int64_t>(kCoffFileHeaderSize + optionalSize);
    for (std::uint32_t i = 0; i < sections; ++i) {
        unsigned char section[kCoffSectionHeaderSize];
        if (!file.ReadAt(table + static_cast<std::int64_t>(i * kCoffSectionHeaderSize), section,
                         sizeof section))
            return NotImage(kEndsEarly);
        if (StartsWithFirmif(section))
            return BlockAt(file, start + static_cast<std::int64_t>(Be32(section + 20)));
    }
    return NotImage(kNoFirmif);
}

Result<FirmifBlock> ElfFirmif(ImageFile& file, std::int64_t start) {
    unsigned char header[kElfHeaderSize];
    if (!file.ReadAt(start, header, sizeof header))
        return NotImage(kEndsEarly);
    // Only the class and the type decide; the data-encoding byte is not
    // looked at, every number is taken as big-endian.
    if (header[4] != 1 || Be16(header + 16) != 2)
        return NotImage("not a 32-bit ELF executable");
    std::int64_t table = start + static_cast<std::int64_t>(Be32(header + 32));
    auto entrySize = static_cast<std::int64_t>(Be16(header + 46));
    std::uint32_t count = Be16(header + 48);
    auto namesIndex = static_cast<std::int64_t>(Be16(header + 50));

    unsigned char section[kElfSectionHeaderSize];
    if (!file.ReadAt(table + namesIndex * entrySize, section, sizeof section))
        return NotImage(kEndsEarly);
    std::int64_t names = start + static_cast<std::int64_t>(Be32(section + 16));
    // Headers that all lie at one place are one header, however many the
    // count says.
    if (entrySize == 0)
        count = std::min<std::uint32_t>(count, 1);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!file.ReadAt(table + static_cast<std::int64_t>(i) * entrySize, section, sizeof section))
            return NotImage(kEndsEarly);
        unsigned char name[kElfNameReadSize];
        if (!file.ReadAt(names + static_cast<std::int64_t>(Be32(section)), name, sizeof name))
            return NotImage(kEndsEarly);
        if (StartsWithFirmif(name))
            return BlockAt(file, start + static_cast<std::int64_t>(Be32(section + 16)));
    }
    return NotImage(kNoFirmif);
}

Result<FirmifBlock> FirmifSection(const std::filesystem::path& path, std::int64_t offset) {
    ImageFile file(path);
    if (!file.is_open())
        return file.OpenError();
    if (offset < 0)
        return NotImage("position out of reach");
    unsigned char magic[4];
    if (!file.ReadAt(offset, magic, sizeof magic))
        return NotImage(kEndsEarly);
    if (Be16(magic) == kCoffMagic)
        return CoffFirmif(file, offset);
    if (std::memcmp(magic,
                    "\x7f"
                    "ELF",
                    4) == 0)
        return ElfFirmif(file, offset);
    return NotImage("neither COFF nor ELF");
}

// The zero-terminated text at the block offset, at most limit bytes of it
// and never past the block's end.
std::string BlockText(const FirmifBlock& block, std::size_t offset, std::size_t limit) {
    std::string text;
    for (std::size_t i = offset; i < block.size() && text.size() < limit && block[i] != 0; ++i)
        text.push_back(static_cast<char>(block[i]));
    return text;
}

// Fills what the block holds, also when the version part fails.
Result<void> ParseBlock(DeviceIdentity& identity, const FirmifBlock& block) {
    identity.model = BlockText(block, 16, kTextFieldLimit);
    identity.date = BlockText(block, 80, kTextFieldLimit);
    std::string release = BlockText(block, 48, block.size());
    auto space = release.find(' ');
    if (space == std::string::npos)
        return NotImage("no space before the version");
    identity.ptf = release.substr(0, std::min(space, kTextFieldLimit));
    if (ParseVersionText(release.substr(space + 1), identity.major, identity.minor) != 0)
        return NotImage("bad version text");
    return {};
}

// A step as the image tools have always called it: 0 with its result
// delivered, -1 without.
template <typename T>
int Deliver(Result<T> result, T& out) {
    if (!result)
        return -1;
    out = std::move(*result);
    return 0;
}

}  // namespace

Result<DeviceIdentity> ExamineFirmwareImage(const std::filesystem::path& path,
                                            const FirmwareImageLimits& limits) {
    Result<std::int64_t> directory = HeaderLine(path);
    if (!directory)
        return directory.error();
    Result<std::int64_t> executable = FirmEntry(path, *directory, limits);
    if (!executable)
        return executable.error();
    Result<FirmifBlock> block = FirmifSection(path, *executable);
    if (!block)
        return block.error();
    DeviceIdentity identity;
    if (Result<void> parsed = ParseBlock(identity, *block); !parsed)
        return parsed.error();
    return identity;
}

int ReadFirmwareIdentity(const std::filesystem::path& path, DeviceIdentity& identity) {
    identity = DeviceIdentity{};
    return Deliver(ExamineFirmwareImage(path), identity);
}

int ReadHeaderLine(const std::filesystem::path& path, std::int64_t& offset) {
    return Deliver(HeaderLine(path), offset);
}

int FindFirmwareEntry(const std::filesystem::path& path, std::int64_t& offset,
                      const FirmwareImageLimits& limits) {
    return Deliver(FirmEntry(path, offset, limits), offset);
}

int ReadFirmifSection(const std::filesystem::path& path, std::int64_t offset, FirmifBlock& block) {
    return Deliver(FirmifSection(path, offset), block);
}

int ParseFirmifSection(DeviceIdentity& identity, const FirmifBlock& block) {
    return ParseBlock(identity, block) ? 0 : -1;
}

}  // namespace quellin
