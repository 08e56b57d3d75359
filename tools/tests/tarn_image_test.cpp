#include "tarn_image.h"

#include "firmware_image.h"
#include "test_support.h"

#include <string>

namespace quellin::tarn {
namespace {

std::uint32_t Be32At(const std::string& bytes, std::size_t at) {
    auto b = [&](std::size_t i) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i]));
    };
    return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

struct CheckCase {
    const char* name;
    ImageOptions options;
    bool valid;
};

ImageOptions With(void (*change)(ImageOptions&)) {
    ImageOptions options;
    change(options);
    return options;
}

TEST(TarnImageTest, ChecksTheTextFieldSizes) {
    const CheckCase cases[] = {
        {"defaults", ImageOptions{}, true},
        {"model_30", With([](ImageOptions& o) { o.model = std::string(30, 'm'); }), true},
        {"model_31", With([](ImageOptions& o) { o.model = std::string(31, 'm'); }), true},
        {"model_32", With([](ImageOptions& o) { o.model = std::string(32, 'm'); }), false},
        {"release_30", With([](ImageOptions& o) { o.ptf = std::string(23, 'p'); }), true},
        {"release_31", With([](ImageOptions& o) { o.ptf = std::string(24, 'p'); }), true},
        {"release_32", With([](ImageOptions& o) { o.ptf = std::string(25, 'p'); }), false},
        {"date_31", With([](ImageOptions& o) { o.date = std::string(31, 'd'); }), true},
        {"date_32", With([](ImageOptions& o) { o.date = std::string(32, 'd'); }), false},
        {"entry_8", With([](ImageOptions& o) { o.firmEntryName = "firmware"; }), true},
        {"entry_9", With([](ImageOptions& o) { o.firmEntryName = "firmware1"; }), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CheckImageOptions(c.options).empty(), c.valid);
    }
}

TEST(TarnImageTest, IdentityBlockLayout) {
    std::string block = BuildFirmifBlock("Tarn-90", "PTF00", "V10.02", "2006/01/26");
    std::string expected(256, '\0');
    expected.replace(0, 6, "FIRMIF");
    expected[15] = 1;
    expected.replace(16, 7, "Tarn-90");
    expected.replace(48, 12, "PTF00 V10.02");
    expected.replace(80, 10, "2006/01/26");
    EXPECT_EQ(block, expected);
}

TEST(TarnImageTest, DirectoryPointsAtTheExecutable) {
    ImageOptions options;
    BuiltImage image = BuildImage(options);
    const std::size_t directory = options.headerLine.size();
    EXPECT_EQ(image.bytes.substr(0, directory), "TARN FIRMWARE IMAGE\n");
    EXPECT_EQ(Be32At(image.bytes, directory + 12), 2u);
    EXPECT_EQ(image.bytes.substr(directory + 16, 5), std::string("boot\0", 5));
    EXPECT_EQ(image.bytes.substr(directory + 32, 5), std::string("firm\0", 5));
    EXPECT_EQ(directory + Be32At(image.bytes, directory + 44), image.executableOffset);
    EXPECT_EQ(Be32At(image.bytes, directory + 40), image.bytes.size() - image.executableOffset);
    EXPECT_EQ(image.bytes.substr(image.executableOffset, 2), "\x01\xF0");
    EXPECT_EQ(image.bytes.substr(image.firmifOffset + 48, 12), "PTF00 V10.02");
}

TEST(TarnImageTest, VariantsChangeOnlyWhatTheyName) {
    ImageOptions elf;
    elf.format = ImageFormat::kElf;
    BuiltImage plain = BuildImage(elf);
    elf.elf64 = true;
    BuiltImage wide = BuildImage(elf);
    elf.elf64 = false;
    elf.relocatable = true;
    BuiltImage relocatable = BuildImage(elf);
    ASSERT_EQ(plain.bytes.size(), wide.bytes.size());
    ASSERT_EQ(plain.bytes.size(), relocatable.bytes.size());
    std::size_t x = plain.executableOffset;
    EXPECT_EQ(plain.bytes.substr(x, 7), std::string("\x7f"
                                                    "ELF\x01\x02\x01",
                                                    7));
    EXPECT_EQ(wide.bytes[x + 4], 2);
    EXPECT_EQ(relocatable.bytes[x + 17], 1);
    std::size_t differences = 0;
    for (std::size_t i = 0; i < plain.bytes.size(); ++i)
        differences += plain.bytes[i] != wide.bytes[i];
    EXPECT_EQ(differences, 1u);

    elf.relocatable = false;
    elf.truncateTo = 100;
    EXPECT_EQ(BuildImage(elf).bytes, plain.bytes.substr(0, 100));
    elf.truncateTo = plain.bytes.size() + 10;
    EXPECT_EQ(BuildImage(elf).bytes, plain.bytes);
}

TEST(TarnImageTest, GivenExecutableIsWrapped) {
    ImageOptions options;
    options.executable = "EXECUTABLE";
    BuiltImage image = BuildImage(options);
    EXPECT_EQ(image.bytes.substr(image.executableOffset), "EXECUTABLE");
    options.layout = ImageLayout::kImageAfterHeader;
    EXPECT_EQ(BuildImage(options).bytes, "TARN FIRMWARE IMAGE\nEXECUTABLE");
}

class TarnImageFileTest : public testing::TempDirTest {};

TEST_F(TarnImageFileTest, WritesReadableImages) {
    ImageOptions options;
    options.model = "Tarn-70";
    options.version = "V29.05";
    std::string error;
    ASSERT_TRUE(WriteImage(dir / "image", options, error)) << error;
    DeviceIdentity identity;
    ASSERT_EQ(ReadFirmwareIdentity(dir / "image", identity), 0);
    EXPECT_EQ(identity.model, "Tarn-70");
    EXPECT_EQ(FormatVersion(identity.major, identity.minor), "V29.05");

    options.model = std::string(40, 'x');
    EXPECT_FALSE(WriteImage(dir / "bad", options, error));
    EXPECT_EQ(error, "model longer than 31 bytes");
    EXPECT_FALSE(std::filesystem::exists(dir / "bad"));
    options.model = "Tarn-70";
    EXPECT_FALSE(WriteImage(dir / "no" / "such" / "folder", options, error));
}

}  // namespace
}  // namespace quellin::tarn
