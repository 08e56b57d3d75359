#include "display_filter.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace quellin::syslogd {
namespace {

using quellin::testing::PrintTo;

constexpr std::uint8_t kError = 8;
constexpr std::uint8_t kInfo = 64;
constexpr std::uint32_t kKern = 0x1;
constexpr std::uint32_t kUser = 0x2;

struct FilterCase {
    const char* name;
    DisplayFilter filter;
    std::uint8_t level;
    std::uint32_t facility;
    bool listed;
};

class DisplayFilterTruthTable : public ::testing::TestWithParam<FilterCase> {};

TEST_P(DisplayFilterTruthTable, Lists) {
    const FilterCase& c = GetParam();
    EXPECT_EQ(PassesDisplayFilter(c.filter, c.level, c.facility), c.listed);
}

// Show mode lists what every condition in use selects; hide mode holds back
// what any condition in use selects.
INSTANTIATE_TEST_SUITE_P(
    Modes, DisplayFilterTruthTable,
    ::testing::Values(
        FilterCase{"NoFilterListsAll", {1, 0, 0}, kError, kKern, true},
        FilterCase{"NoFilterIgnoresMasks", {1, 8, 1}, kInfo, kUser, true},
        // Show mode, level only.
        FilterCase{"ShowLevelSelected", {2 + 8, kError, 0}, kError, kUser, true},
        FilterCase{"ShowLevelNotSelected", {2 + 8, kError, 0}, kInfo, kUser, false},
        // Show mode, facility only.
        FilterCase{"ShowFacilitySelected", {2 + 16, 0, 1}, kInfo, kKern, true},
        FilterCase{"ShowFacilityNotSelected", {2 + 16, 0, 1}, kInfo, kUser, false},
        // Show mode, both conditions.
        FilterCase{"ShowBothBothSelect", {2 + 8 + 16, kError, 1}, kError, kKern, true},
        FilterCase{"ShowBothOnlyLevel", {2 + 8 + 16, kError, 1}, kError, kUser, false},
        FilterCase{"ShowBothOnlyFacility", {2 + 8 + 16, kError, 1}, kInfo, kKern, false},
        FilterCase{"ShowBothNeither", {2 + 8 + 16, kError, 1}, kInfo, kUser, false},
        FilterCase{"ShowNoConditionInUse", {2, 0, 0}, kInfo, kUser, true},
        // Hide mode, both conditions.
        FilterCase{"HideBothBothSelect", {4 + 8 + 16, kError, 1}, kError, kKern, false},
        FilterCase{"HideBothOnlyLevel", {4 + 8 + 16, kError, 1}, kError, kUser, false},
        FilterCase{"HideBothOnlyFacility", {4 + 8 + 16, kError, 1}, kInfo, kKern, false},
        FilterCase{"HideBothNeither", {4 + 8 + 16, kError, 1}, kInfo, kUser, true},
        FilterCase{"HideLevelOnlySelected", {4 + 8, kError, 1}, kError, kUser, false},
        FilterCase{"HideLevelOnlyFacilityIgnored", {4 + 8, kError, 1}, kInfo, kKern, true},
        FilterCase{"HideFacilityOnlySelected", {4 + 16, kError, 1}, kInfo, kKern, false},
        FilterCase{"HideFacilityOnlyLevelIgnored", {4 + 16, kError, 1}, kError, kUser, true},
        FilterCase{"HideNoConditionInUse", {4, 255, -1}, kError, kKern, true},
        // Only bit 2 picks the mode: without it the hide rule applies.
        FilterCase{"ZeroModeBitsHide", {8, kError, 0}, kError, kKern, false},
        FilterCase{"ShowAndHideBitsShow", {2 + 4 + 8, kError, 0}, kError, kKern, true},
        // Facility bit 22 (Local7) through a mask stored as a signed number.
        FilterCase{"ShowLocal7", {2 + 16, 0, 0x7FFFFF}, kInfo, 0x400000, true}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(DisplayRateLimit, ElevenPerSecondThenBlocked) {
    DisplayRateLimit rate;
    for (int i = 1; i <= 11; ++i) {
        ASSERT_TRUE(rate.Admit(100)) << i;
        rate.RowAdded(100);
    }
    EXPECT_FALSE(rate.Admit(100));  // the twelfth
    EXPECT_FALSE(rate.Admit(100));
    EXPECT_TRUE(rate.Admit(101));
}

TEST(DisplayRateLimit, SecondWithoutListedRowStartsAfresh) {
    DisplayRateLimit rate;
    // Rows held back by the filter never set the listed second, so every
    // datagram of a second without a listed row is admitted.
    for (int i = 0; i < 30; ++i)
        EXPECT_TRUE(rate.Admit(100));
}

}  // namespace
}  // namespace quellin::syslogd
