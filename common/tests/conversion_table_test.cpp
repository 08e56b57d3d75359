#include "conversion_table.h"

#include "test_support.h"

#include <gtest/gtest.h>

namespace quellin {
namespace {

using testing::WriteFile;

class ConversionTableTest : public testing::TempDirTest {};

TEST_F(ConversionTableTest, RowsMapFirstFieldToSecond) {
    WriteFile(dir / "firmifconvert.db", "TarnA1,TarnA,extra\r\nLone\nTarnA1,Other\nTarnB2,TarnB");
    CList<CFirmifConversionInfo> table;
    ASSERT_TRUE(LoadConversionTable(dir / "firmifconvert.db", table));
    ASSERT_EQ(table.size(), 4u);
    EXPECT_EQ(LookUpConversion(table, "TarnA1"), "TarnA");  // first of two wins
    EXPECT_EQ(LookUpConversion(table, "Lone"), "");
    EXPECT_EQ(LookUpConversion(table, "TarnB2"), "TarnB");
    EXPECT_EQ(LookUpConversion(table, "tarna1"), "");  // exact comparison
}

TEST_F(ConversionTableTest, MissingFileLeavesTheListEmpty) {
    CList<CFirmifConversionInfo> table;
    EXPECT_FALSE(LoadConversionTable(dir / "none.db", table));
    EXPECT_TRUE(table.empty());
    EXPECT_EQ(LookUpConversion(table, "x"), "");
}

}  // namespace
}  // namespace quellin
