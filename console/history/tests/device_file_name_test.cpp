// Device names to file names in the history repository: readable where the
// name allows, safe for any bytes, and one file per device.
#include "device_file_name.h"
#include "codec.h"
#include "test_support.h"

#include <random>
#include <set>

namespace quellin::history {
namespace {

using quellin::testing::PrintTo;
using quellin::testing::Sjis;

struct NameRow {
    const char* name;
    std::string device;  // CP932
    std::string file;    // UTF-8
};

TEST(DeviceFileNameTest, MapsNamesReadablyAndSafely) {
    const NameRow rows[] = {
        {"ascii", "osaka-1", "osaka-1.cfg"},
        {"kept_marks", "a_b.c+d@e=f~(g)[h]", "a_b.c+d@e=f~(g)[h].cfg"},
        {"japanese", Sjis("大阪-支店1"), "大阪-支店1.cfg"},
        {"full_width_slash", Sjis("本社／２"), "本社／２.cfg"},
        {"separators", "a b/c\\d:e", "a%20b%2Fc%5Cd%3Ae.cfg"},
        {"percent", "100%", "100%25.cfg"},
        {"shell_marks", "x*?\"<>|,#;$", "x%2A%3F%22%3C%3E%7C%2C%23%3B%24.cfg"},
        {"control", std::string("a\tb\x7F", 4), "a%09b%7F.cfg"},
        {"leading_dot", ".git", "%2Egit.cfg"},
        {"dots", "..", "%2E..cfg"},
        {"inner_dot", "a.", "a..cfg"},
        {"not_cp932", "\x81", "%81.cfg"},
        {"half_character", "ab\x82", "ab%82.cfg"},
        // The NEC row of CP932 repeats characters of other rows; a name
        // using it does not come back from UTF-8 the same, so its bytes
        // are kept instead.
        {"twin_character", "x\x87\x90", "x%87%90.cfg"},
        {"half_width_kana", "\xB1\xB2", "ｱｲ.cfg"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(DeviceFileName(row.device), row.file);
        EXPECT_EQ(DeviceNameOfFile(row.file), row.device);
    }
}

TEST(DeviceFileNameTest, EveryNameHasAFileOfItsOwn) {
    std::mt19937 random(19);
    std::uniform_int_distribution<int> length(1, 12);
    // Mostly bytes that make CP932 characters, some that break them.
    using namespace std::string_literals;
    const std::string alphabet = "aZ09-._%/ .\x81\x40\x82\xA0\x87\x90\x81\xE0\xB1\x7F\x00\xFC\xFD"s;
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::set<std::string> names;
    std::set<std::string> files;
    for (int i = 0; i < 20000; ++i) {
        std::string name;
        for (int n = length(random); n > 0; --n)
            name += alphabet[pick(random)];
        const std::string file = DeviceFileName(name);
        ASSERT_EQ(DeviceNameOfFile(file), name) << file;
        ASSERT_EQ(file.find('/'), std::string::npos);
        ASSERT_NE(file[0], '.');
        ASSERT_LE(file.size(), 3 * name.size() + 4);
        names.insert(name);
        files.insert(file);
    }
    EXPECT_EQ(names.size(), files.size());
}

TEST(DeviceFileNameTest, OnlyItsOwnFileNamesAreRead) {
    for (const char* file : {"osaka-1.txt", ".cfg", "%zz.cfg", "a%2.cfg", "%61.cfg", "a%2fb.cfg",
                             "%2E.cfg.cfg.x", ".hidden.cfg"}) {
        SCOPED_TRACE(file);
        EXPECT_FALSE(DeviceNameOfFile(file));
    }
}

}  // namespace
}  // namespace quellin::history
