// The firmware choice over software folders in temporary folders.
#include "firmware_policy.h"

#include "firmware_folder.h"
#include "tarn_image.h"
#include "test_support.h"

#include <cerrno>

namespace quellin {
namespace {

namespace fs = std::filesystem;
using Verdict = FirmwareChoice::Verdict;

class FirmwarePolicyTest : public testing::TempDirTest {
protected:
    void Image(const std::string& file, const std::string& model, const std::string& version) {
        tarn::ImageOptions options;
        options.model = model;
        options.version = version;
        std::string error;
        ASSERT_TRUE(tarn::WriteImage(dir / file, options, error)) << error;
    }
    FirmwareChoice Choose(const std::string& model, const FirmwareRules& rules) {
        return ChooseFirmware(dir.path().string(), {model, 6, 2, "", "", ""}, {}, rules);
    }
};

TEST_F(FirmwarePolicyTest, TakesTheHighestVersionOfTheModelButNeverVersionZero) {
    Image("a.bin", "Tarn-120", "V06.09");
    Image("b.bin", "Tarn-120", "V06.10");
    Image("c.bin", "Tarn-120X", "V99.00");
    Image("d.bin", "tarn-120", "V98.00");
    Image("e.bin", "Tarn-70", "V00.00");
    testing::WriteFile(dir / "readme.txt", "not an image\n");
    fs::create_directory(dir / "sub");
    const FirmwareChoice choice = Choose("Tarn-120", kNetprovFirmwareRules);
    EXPECT_EQ(choice.verdict, Verdict::kUpdate);
    EXPECT_EQ(choice.image, dir / "b.bin");
    EXPECT_EQ(FormatVersion(choice.major, choice.minor), "V06.10");
    EXPECT_EQ(Choose("Tarn-70", kNetprovFirmwareRules).verdict, Verdict::kNoImage);
}

TEST_F(FirmwarePolicyTest, EqualVersionsKeepTheFirstByName) {
    const auto [first, second] =
        tarn::testing::EqualImagesListedOutOfNameOrder(dir.path(), "Tarn-90", "V06.02");
    EXPECT_EQ(Choose("Tarn-90", kNetprovFirmwareRules).image, first);
}

// The console compares names without their dashes and knows the aliases;
// Netprov compares them byte for byte.
TEST_F(FirmwarePolicyTest, RuleSetsDifferInHowNamesMatch) {
    Image("tarn.bin", "Tarn-60", "V30.01");
    Image("brkx.bin", "BRKX30", "V31.05");
    for (const char* model : {"Tarn60", "BRKX30TA"}) {
        EXPECT_EQ(Choose(model, kConsoleFirmwareRules).verdict, Verdict::kUpdate) << model;
        EXPECT_EQ(Choose(model, kNetprovFirmwareRules).verdict, Verdict::kNoImage) << model;
    }
}

TEST_F(FirmwarePolicyTest, FolderThatCannotBeSearchedSaysWhy) {
    const std::string missing = (dir / "missing").string();
    const FirmwareChoice choice = ChooseFirmware(missing, {}, {}, kNetprovFirmwareRules);
    EXPECT_EQ(choice.verdict, Verdict::kFolderUnreadable);
    EXPECT_EQ(choice.FolderError(), SystemError(ENOENT, missing));
    EXPECT_EQ(ChooseFirmware("", {}, {}, kConsoleFirmwareRules).FolderError(),
              (Error{ErrorCode::kNotFound,
                     testing::Sjis("ソフトウェア格納フォルダ (FIRMDIR) が空です")}));
}

}  // namespace
}  // namespace quellin
