#include "firmware_image.h"

#include "tarn_image.h"
#include "test_support.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace quellin {
namespace {

using tarn::ImageFormat;
using tarn::ImageLayout;
using tarn::ImageOptions;
using testing::ReadFile;
using testing::TempDirTest;
using testing::WriteFile;

class FirmwareImageTest : public TempDirTest {
protected:
    std::filesystem::path Write(const std::string& name, const std::string& bytes) {
        auto path = dir / name;
        WriteFile(path, bytes);
        return path;
    }
    std::filesystem::path Write(const std::string& name, const ImageOptions& options) {
        EXPECT_EQ(tarn::CheckImageOptions(options), "");
        return Write(name, tarn::BuildImage(options).bytes);
    }
};

ImageOptions Options(ImageFormat format, ImageLayout layout = ImageLayout::kDirectory) {
    ImageOptions options;
    options.format = format;
    options.layout = layout;
    return options;
}

Error Format(const char* why) {
    return {ErrorCode::kFormat, why};
}
const Error kEndsEarly = Format("file ends early");
const Error kLongDirectory{ErrorCode::kTooLong, "directory too long"};

// Why the file is no image; nothing for an image.
std::optional<Error> Why(const std::filesystem::path& path,
                         const FirmwareImageLimits& limits = {}) {
    const Result<DeviceIdentity> examined = ExamineFirmwareImage(path, limits);
    return examined ? std::nullopt : std::optional<Error>(examined.error());
}

FirmifBlock Block(const std::string& bytes) {
    FirmifBlock block{};
    std::memcpy(block.data(), bytes.data(), std::min(bytes.size(), block.size()));
    return block;
}

struct ImageCase {
    const char* name;
    ImageOptions options;
    DeviceIdentity expected;
};

TEST_F(FirmwareImageTest, ReadsTheIdentityOfEveryImageForm) {
    ImageOptions v3001 = Options(ImageFormat::kElf);
    v3001.model = "Tarn-60";
    v3001.ptf = "PTF12";
    v3001.version = "V30.01";
    v3001.date = "2017/12/25";
    ImageOptions longModel = Options(ImageFormat::kCoff);
    longModel.model = std::string(31, 'M');
    ImageOptions firmAmongOthers = Options(ImageFormat::kCoff);
    firmAmongOthers.directoryTag = "ANYTHING";

    const DeviceIdentity tarn90{"Tarn-90", 10, 2, "PTF00", "2006/01/26", ""};
    const ImageCase cases[] = {
        {"coff_in_directory", Options(ImageFormat::kCoff), tarn90},
        {"elf_in_directory", Options(ImageFormat::kElf), tarn90},
        {"coff_right_after_header", Options(ImageFormat::kCoff, ImageLayout::kImageAfterHeader),
         tarn90},
        {"elf_right_after_header", Options(ImageFormat::kElf, ImageLayout::kImageAfterHeader),
         tarn90},
        {"v30_01_block", v3001, {"Tarn-60", 30, 1, "PTF12", "2017/12/25", ""}},
        {"model_of_31_bytes", longModel, {std::string(31, 'M'), 10, 2, "PTF00", "2006/01/26", ""}},
        {"ignored_directory_bytes", firmAmongOthers, tarn90},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceIdentity identity{"stale", 1, 1, "stale", "stale", "config1"};
        EXPECT_EQ(ReadFirmwareIdentity(Write(c.name, c.options), identity), 0);
        EXPECT_EQ(identity, c.expected);
    }
}

struct RefusedCase {
    const char* name;
    ImageOptions options;
    std::optional<Error> fault;
};

TEST_F(FirmwareImageTest, RefusesBrokenImages) {
    auto named = [](ImageOptions options, const char* entry) {
        options.firmEntryName = entry;
        return options;
    };
    ImageOptions elf64 = Options(ImageFormat::kElf);
    elf64.elf64 = true;
    ImageOptions relocatable = Options(ImageFormat::kElf);
    relocatable.relocatable = true;
    ImageOptions shortMinor = Options(ImageFormat::kCoff);
    shortMinor.version = "V10.2";
    ImageOptions noHeader = Options(ImageFormat::kCoff);
    noHeader.headerLine = std::string(512, 'h');

    const RefusedCase cases[] = {
        {"no_firm_entry_coff", named(Options(ImageFormat::kCoff), "boot2"),
         Format("neither COFF nor ELF")},
        {"no_firm_entry_elf", named(Options(ImageFormat::kElf), "kernel"),
         Format("neither COFF nor ELF")},
        {"entry_firmware_is_not_firm", named(Options(ImageFormat::kCoff), "firmware"),
         Format("neither COFF nor ELF")},
        {"entry_firm2_is_not_firm", named(Options(ImageFormat::kCoff), "firm2"),
         Format("neither COFF nor ELF")},
        {"elf_64_bit", elf64, Format("not a 32-bit ELF executable")},
        {"elf_relocatable", relocatable, Format("not a 32-bit ELF executable")},
        {"one_digit_minor", shortMinor, Format("bad version text")},
        {"no_lf_in_first_512_bytes", noHeader, Format("no header line")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceIdentity identity;
        auto path = Write(c.name, c.options);
        EXPECT_EQ(Why(path), c.fault);
        EXPECT_NE(ReadFirmwareIdentity(path, identity), 0);
    }
}

TEST_F(FirmwareImageTest, EveryCutOfAnImageIsNoImage) {
    const ImageOptions forms[] = {
        Options(ImageFormat::kCoff),
        Options(ImageFormat::kElf),
        Options(ImageFormat::kCoff, ImageLayout::kImageAfterHeader),
        Options(ImageFormat::kElf, ImageLayout::kImageAfterHeader),
    };
    ::testing::internal::CaptureStderr();
    for (auto form : forms) {
        form.payloadSize = 16;
        const std::string bytes = tarn::BuildImage(form).bytes;
        auto path = dir / "cut";
        WriteFile(path, bytes);
        DeviceIdentity identity;
        EXPECT_EQ(ReadFirmwareIdentity(path, identity), 0);
        // Cut from the end, one byte at a time.
        for (std::size_t size = bytes.size(); size-- > 0;) {
            std::filesystem::resize_file(path, size);
            ASSERT_NE(ReadFirmwareIdentity(path, identity), 0) << "cut at " << size;
        }
    }
    ::testing::internal::GetCapturedStderr();
}

TEST_F(FirmwareImageTest, StepsOneByOneFollowTheLayout) {
    for (auto format : {ImageFormat::kCoff, ImageFormat::kElf}) {
        SCOPED_TRACE(format == ImageFormat::kCoff ? "coff" : "elf");
        ImageOptions options = Options(format);
        tarn::BuiltImage image = tarn::BuildImage(options);
        auto path = Write("image", image.bytes);

        std::int64_t offset = -5;
        ASSERT_EQ(ReadHeaderLine(path, offset), 0);
        EXPECT_EQ(offset, static_cast<std::int64_t>(options.headerLine.size()));
        ASSERT_EQ(FindFirmwareEntry(path, offset), 0);
        EXPECT_EQ(offset, static_cast<std::int64_t>(image.executableOffset));
        FirmifBlock block{};
        ASSERT_EQ(ReadFirmifSection(path, offset, block), 0);
        EXPECT_EQ(std::string(block.begin(), block.end()),
                  tarn::BuildFirmifBlock("Tarn-90", "PTF00", "V10.02", "2006/01/26"));
        EXPECT_EQ(image.bytes.substr(image.firmifOffset, kFirmifBlockSize),
                  std::string(block.begin(), block.end()));
        DeviceIdentity identity;
        EXPECT_EQ(ParseFirmifSection(identity, block), 0);
        EXPECT_EQ(identity, (DeviceIdentity{"Tarn-90", 10, 2, "PTF00", "2006/01/26", ""}));
    }
}

TEST_F(FirmwareImageTest, WithoutFirmEntryTheOffsetStaysAtTheDirectory) {
    ImageOptions options = Options(ImageFormat::kCoff);
    options.firmEntryName = "boot2";
    auto path = Write("image", options);
    std::int64_t offset = static_cast<std::int64_t>(options.headerLine.size());
    EXPECT_EQ(FindFirmwareEntry(path, offset), 0);
    EXPECT_EQ(offset, static_cast<std::int64_t>(options.headerLine.size()));
}

struct HeaderCase {
    const char* name;
    std::string bytes;
    int result;
    std::int64_t offset;
};

TEST_F(FirmwareImageTest, HeaderLineCountsCrLfAsOneByte) {
    const HeaderCase cases[] = {
        {"lf", "TARN\nrest", 0, 5},
        {"crlf_ends_at_the_lf", "TARN\r\nrest", 0, 5},
        {"lone_cr_counts", "TA\rRN\nrest", 0, 6},
        {"cr_cr_lf", "TARN\r\r\nrest", 0, 6},
        {"lf_first", "\nrest", 0, 1},
        {"crlf_first", "\r\nrest", 0, 1},
        {"lf_at_byte_511", std::string(511, 'x') + "\nrest", 0, 512},
        {"crlf_at_bytes_510_511", std::string(510, 'x') + "\r\nrest", 0, 511},
        {"lf_at_byte_512", std::string(512, 'x') + "\nrest", -1, -7},
        {"no_lf", "TARN", -1, -7},
        {"empty", "", -1, -7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::int64_t offset = -7;
        EXPECT_EQ(ReadHeaderLine(Write("header", c.bytes), offset), c.result);
        EXPECT_EQ(offset, c.offset);
    }
}

TEST_F(FirmwareImageTest, CrLfHeaderMovesTheDirectoryToTheLf) {
    // Laid out after a CR LF line, the directory is read one byte early and
    // the image is not recognised.
    ImageOptions crlf = Options(ImageFormat::kCoff);
    crlf.headerLine = "TARN FIRMWARE IMAGE\r\n";
    DeviceIdentity identity;
    ::testing::internal::CaptureStderr();
    EXPECT_NE(ReadFirmwareIdentity(Write("crlf", crlf), identity), 0);
    ::testing::internal::GetCapturedStderr();

    // A directory that starts at that LF (its first, unread byte) is found.
    ImageOptions shifted = Options(ImageFormat::kElf);
    shifted.headerLine = "TARN FIRMWARE IMAGE\r";
    shifted.directoryTag = "\nTARNPKG";
    EXPECT_EQ(ReadFirmwareIdentity(Write("shifted", shifted), identity), 0);
    EXPECT_EQ(identity.model, "Tarn-90");
}

struct DirectoryCase {
    const char* name;
    std::string bytes;
    int result;
    std::string stderrPrefix;
};

TEST_F(FirmwareImageTest, PlainTextAfterTheFirstLineIsNoImage) {
    // A first line followed by 15, 16 and 17 bytes.
    const DirectoryCase cases[] = {
        {"15_bytes", "text line\n" + std::string(15, '\0'), -1, "read: "},
        {"16_zero_bytes", "text line\n" + std::string(16, '\0'), 0, ""},
        {"17_zero_bytes", "text line\n" + std::string(17, '\0'), 0, ""},
        {"16_text_bytes", "text line\nmore text here..\n", -1, "read: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto path = Write("text", c.bytes);
        std::int64_t offset = 10;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(FindFirmwareEntry(path, offset), c.result);
        std::string errors = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(errors.substr(0, c.stderrPrefix.size()), c.stderrPrefix);
        if (c.stderrPrefix.empty()) {
            EXPECT_EQ(errors, "");
        }
        DeviceIdentity identity;
        ::testing::internal::CaptureStderr();
        EXPECT_NE(ReadFirmwareIdentity(path, identity), 0);
        ::testing::internal::GetCapturedStderr();
    }
}

TEST_F(FirmwareImageTest, DirectoryFailuresPrintTheSystemError) {
    auto path = Write("short", "TARN\n" + std::string(8, '\0'));
    std::int64_t offset = -1;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(FindFirmwareEntry(path, offset), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              std::string("lseek: ") + std::strerror(EINVAL) + "\n");

    // A file that merely ends says so, not what errno 0 would.
    offset = 5;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(FindFirmwareEntry(path, offset), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "read: file ends early\n");

    // The directory announces three entries and holds one.
    std::string directory(16, '\0');
    directory[15] = 3;
    path = Write("entries", "TARN\n" + directory + "boot" + std::string(12, '\0'));
    offset = 5;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(FindFirmwareEntry(path, offset), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "read: file ends early\n");
}

// Read system calls and bytes read by this process so far, from
// /proc/self/io; nullopt where the system does not count them.
struct ReadCounters {
    long long calls = 0;
    long long bytes = 0;
};
std::optional<ReadCounters> CountReads() {
    std::ifstream io("/proc/self/io");
    ReadCounters counters;
    bool calls = false;
    bool bytes = false;
    for (std::string key; io >> key;) {
        if (key == "syscr:")
            calls = static_cast<bool>(io >> counters.calls);
        else if (key == "rchar:")
            bytes = static_cast<bool>(io >> counters.bytes);
        else
            io.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
    }
    if (!calls || !bytes)
        return std::nullopt;
    return counters;
}

struct CountCase {
    const char* name;
    std::string directory;     // header and the entries written
    std::uint64_t sparseSize;  // the file is extended to this size, holes only
    std::optional<Error> fault;
};

std::string DirectoryHeader(std::uint32_t count) {
    std::string header(16, '\0');
    for (int i = 0; i < 4; ++i)
        header[12 + i] = static_cast<char>(count >> (24 - 8 * i));
    return header;
}

std::string Entry(const std::string& name, std::uint32_t offset) {
    std::string entry(16, '\0');
    entry.replace(0, name.size(), name);
    for (int i = 0; i < 4; ++i)
        entry[12 + i] = static_cast<char>(offset >> (24 - 8 * i));
    return entry;
}

TEST_F(FirmwareImageTest, ImpossibleDirectoryCountsAreExaminedQuickly) {
    const std::string zeroEntries(8u << 20, '\0');  // 8 MiB of nameless entries
    std::string firmThird = DirectoryHeader(0xFFFFFFFF) + Entry("boot", 0) + Entry("kern", 0);
    const std::string executable = tarn::BuildImage(Options(ImageFormat::kCoff,
                                                            ImageLayout::kImageAfterHeader))
                                       .bytes.substr(20);  // without the header line
    firmThird += Entry("firm", static_cast<std::uint32_t>(firmThird.size() + 16)) + executable;
    const CountCase cases[] = {
        // 4 billion entries claimed, 1 GiB of holes on disk.
        {"sparse_gigabyte", DirectoryHeader(0xFFFFFFFF), 1u << 30, kLongDirectory},
        {"real_entries_without_firm", DirectoryHeader(0xFFFFFFFF) + zeroEntries, 0, kLongDirectory},
        {"more_claimed_than_held", DirectoryHeader(0xFFFFFFFF) + std::string(1000 * 16, 'x'), 0,
         kEndsEarly},
        {"within_the_limit_but_not_held", DirectoryHeader(4000) + Entry("boot", 0), 0, kEndsEarly},
        // Found before the file ends, as when reading entry by entry.
        {"firm_among_the_first", firmThird, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto path = Write(c.name, "TARN FIRMWARE IMAGE\n" + c.directory);
        if (c.sparseSize > 0)
            std::filesystem::resize_file(path, c.sparseSize);
        DeviceIdentity identity;
        const auto before = CountReads();
        const auto start = std::chrono::steady_clock::now();
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(Why(path), c.fault);
        ::testing::internal::GetCapturedStderr();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        const auto after = CountReads();
        if (before && after) {
            // A handful of reads of at most the 64 KiB of a long directory.
            EXPECT_LT(after->calls - before->calls, 30);
            EXPECT_LT(after->bytes - before->bytes, 128 * 1024);
        }
        if (c.fault == std::nullopt) {
            ASSERT_EQ(ReadFirmwareIdentity(path, identity), 0);
            EXPECT_EQ(identity.model, "Tarn-90");
        }
    }
}

TEST_F(FirmwareImageTest, FirmBeyondTheEntriesLookedThroughIsNotFound) {
    ImageOptions options = Options(ImageFormat::kElf);
    tarn::BuiltImage image = tarn::BuildImage(options);
    auto path = Write("image", image.bytes);
    // The built directory holds a boot entry, then "firm".
    EXPECT_EQ(Why(path, FirmwareImageLimits{2}), std::nullopt);
    EXPECT_EQ(Why(path, FirmwareImageLimits{1}), kLongDirectory);

    // Two entries before "firm": found when three entries are looked at.
    const std::size_t header = options.headerLine.size();
    std::string bytes =
        image.bytes.substr(0, header) + DirectoryHeader(3) + Entry("boot", 0) + Entry("kern", 0);
    const std::size_t executable = bytes.size() + 16 - header;
    bytes += Entry("firm", static_cast<std::uint32_t>(executable)) +
             image.bytes.substr(image.executableOffset);
    path = Write("third", bytes);
    const Result<DeviceIdentity> third = ExamineFirmwareImage(path, FirmwareImageLimits{3});
    ASSERT_TRUE(third);
    EXPECT_EQ(third->model, "Tarn-90");
    EXPECT_EQ(Why(path, FirmwareImageLimits{2}), kLongDirectory);
    std::int64_t offset = static_cast<std::int64_t>(header);
    EXPECT_EQ(FindFirmwareEntry(path, offset, FirmwareImageLimits{2}), -1);
    EXPECT_EQ(offset, static_cast<std::int64_t>(header));
}

TEST_F(FirmwareImageTest, HostileCountsEndWithTheFile) {
    // A directory claiming 4 billion entries.
    std::string directory(16, '\xFF');
    auto path = Write("count", "TARN\n" + directory + std::string(64, '\0'));
    DeviceIdentity identity;
    ::testing::internal::CaptureStderr();
    EXPECT_NE(ReadFirmwareIdentity(path, identity), 0);
    ::testing::internal::GetCapturedStderr();

    // COFF with 65535 sections but no section table.
    ImageOptions coff = Options(ImageFormat::kCoff, ImageLayout::kImageAfterHeader);
    std::string bytes = tarn::BuildImage(coff).bytes;
    bytes[coff.headerLine.size() + 2] = '\xFF';
    bytes[coff.headerLine.size() + 3] = '\xFF';
    bytes[coff.headerLine.size() + 16] = '\x7F';  // optional header size past the end
    EXPECT_EQ(Why(Write("coff", bytes)), kEndsEarly);

    // ELF with 65535 section headers all at the same place (entry size 0),
    // none named ".firmif", and offsets past the end of the file.
    ImageOptions elf = Options(ImageFormat::kElf, ImageLayout::kImageAfterHeader);
    bytes = tarn::BuildImage(elf).bytes;
    std::size_t at = elf.headerLine.size();
    bytes[at + 46] = 0;
    bytes[at + 47] = 0;
    bytes[at + 48] = '\xFF';
    bytes[at + 49] = '\xFF';
    EXPECT_EQ(Why(Write("elf", bytes)), Format("no .firmif section"));
    bytes[at + 32] = '\xFF';  // section header table at 4 GiB
    EXPECT_EQ(Why(Write("elf_far", bytes)), kEndsEarly);
}

TEST_F(FirmwareImageTest, ElfDataEncodingByteIsNotChecked) {
    ImageOptions options = Options(ImageFormat::kElf);
    tarn::BuiltImage image = tarn::BuildImage(options);
    image.bytes[image.executableOffset + 5] = 1;  // claims little-endian
    DeviceIdentity identity;
    EXPECT_EQ(ReadFirmwareIdentity(Write("le", image.bytes), identity), 0);
    EXPECT_EQ(identity.major, 10);
}

TEST_F(FirmwareImageTest, FilesThatAreNoRegularFilesAreNoImages) {
    DeviceIdentity identity;
    EXPECT_NE(ReadFirmwareIdentity(dir / "missing", identity), 0);
    EXPECT_NE(ReadFirmwareIdentity(dir.path(), identity), 0);
    // A FIFO must not block the scan of a software folder.
    auto fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Why(fifo), (Error{ErrorCode::kIo, "cannot open the file"}));
}

struct BlockCase {
    const char* name;
    std::string bytes;
    int result;
    DeviceIdentity expected;
};

std::string BlockBytes(const std::string& model, const std::string& release,
                       const std::string& date) {
    std::string bytes(kFirmifBlockSize, '\0');
    bytes.replace(16, model.size(), model);
    bytes.replace(48, release.size(), release);
    bytes.replace(80, date.size(), date);
    return bytes;
}

TEST(ParseFirmifSectionTest, TakesTheThreeTexts) {
    std::string unterminated(kFirmifBlockSize, 'x');
    unterminated.replace(48, 10, "P V01.02xx");
    std::string ptfRunsLong = BlockBytes("Tarn-70", "", "d");
    ptfRunsLong.replace(48, 40, std::string(36, 'P') + " V12");  // runs into the date field
    ptfRunsLong.replace(88, 5, ".34\0\0", 5);

    const BlockCase cases[] = {
        {"v30_01",
         BlockBytes("Tarn-60", "PTF12 V30.01", "2017/12/25"),
         0,
         {"Tarn-60", 30, 1, "PTF12", "2017/12/25", ""}},
        {"first_space_splits",
         BlockBytes("Tarn-20B", "R 1 V10.02", "d"),
         -1,
         {"Tarn-20B", 0, 0, "R", "d", ""}},
        {"empty_ptf", BlockBytes("Tarn-10", " V09.99", ""), 0, {"Tarn-10", 9, 99, "", "", ""}},
        {"no_space",
         BlockBytes("Tarn-10", "V09.99", "date"),
         -1,
         {"Tarn-10", 0, 0, "", "date", ""}},
        {"major_kept_on_bad_minor",
         BlockBytes("Tarn-10", "P V09.9", ""),
         -1,
         {"Tarn-10", 9, 0, "P", "", ""}},
        {"all_unterminated",
         unterminated,
         -1,
         {std::string(31, 'x'), 1, 0, "P", std::string(31, 'x'), ""}},
        {"ptf_cut_to_31",
         ptfRunsLong,
         0,
         {"Tarn-70", 12, 34, std::string(31, 'P'), "PPPP V12.34", ""}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceIdentity identity;
        EXPECT_EQ(ParseFirmifSection(identity, Block(c.bytes)), c.result);
        EXPECT_EQ(identity, c.expected);
    }
}

struct ReferenceCase {
    const char* file;
    int result;
    DeviceIdentity expected;
};

// Image files kept in the test data, so that a change of the builder cannot
// hide a change of the reader.
TEST(FirmwareImageReferenceTest, ReadsTheStoredImages) {
    const ReferenceCase cases[] = {
        {"image_coff_tarn90_v10_02.bin", 0, {"Tarn-90", 10, 2, "PTF00", "2006/01/26", ""}},
        {"image_elf_tarn60_v30_01.bin", 0, {"Tarn-60", 30, 1, "PTF12", "2017/12/25", ""}},
        {"image_elf_linked_brkx30_v31_05.bin", 0, {"BRKX30", 31, 5, "R3", "2019/04/01", ""}},
        {"image_elf64_tarn90.bin", -1, {}},
        {"image_no_firm_entry.bin", -1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        DeviceIdentity identity;
        std::filesystem::path path = std::filesystem::path(QUELLIN_TEST_DATA) / c.file;
        ASSERT_TRUE(std::filesystem::exists(path));
        EXPECT_EQ(ReadFirmwareIdentity(path, identity), c.result);
        EXPECT_EQ(identity, c.expected);
    }
}

}  // namespace
}  // namespace quellin
