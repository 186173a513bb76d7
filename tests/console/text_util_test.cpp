#include <gtest/gtest.h>

#include <string>

#include "text_util.h"

TEST(ChkFloat, AcceptsDigitsAroundOnePoint) {
    for (const char* ok : {"12.00", "230.5", ".5", "12.", "0.0"}) EXPECT_EQ(ChkFloat(ok), 1) << ok;
    for (const char* bad :
         {"", ".", "230", "1.2.3", "-1.0", " 1.0", "1.0 ", "N/A", "1,0", "1e.5"}) {
        EXPECT_EQ(ChkFloat(bad), 0) << bad;
    }
}

TEST(ChkInt, AcceptsOnlyDigitsAndTheEmptyText) {
    EXPECT_EQ(ChkInt(""), 1);
    EXPECT_EQ(ChkInt("023"), 1);
    EXPECT_EQ(ChkInt(" 23"), 0);
    EXPECT_EQ(ChkInt("N/A"), 0);
    EXPECT_EQ(ChkInt("2.3"), 0);
}

TEST(RpLeadingZeros, BlanksZerosThatADigitFollows) {
    EXPECT_EQ(RpLeadingZeros("003"), "  3");
    EXPECT_EQ(RpLeadingZeros("000"), "  0");
    EXPECT_EQ(RpLeadingZeros("023"), " 23");
    EXPECT_EQ(RpLeadingZeros("0.5"), "0.5");
    EXPECT_EQ(RpLeadingZeros("099.0"), " 99.0");
    EXPECT_EQ(RpLeadingZeros("100"), "100");  // stops at the first character that is not "0"
    EXPECT_EQ(RpLeadingZeros("N/A"), "N/A");
    EXPECT_EQ(RpLeadingZeros(""), "");
}

TEST(RmLeadingSpace, DropsOnlyTheLeadingBlanks) {
    std::string text = "  3 ";
    RmLeadingSpace(text);
    EXPECT_EQ(text, "3 ");
    text = "   ";
    RmLeadingSpace(text);
    EXPECT_EQ(text, "");
}

TEST(CutToRange, Clamps) {
    EXPECT_EQ(CutToRange(130, -4, 125), 125);
    EXPECT_EQ(CutToRange(-10, -4, 125), -4);
    EXPECT_EQ(CutToRange(50, -4, 125), 50);
}

TEST(MakeBar, IsNPlusOneBlanksAndNeverPassesItsLimit) {
    EXPECT_EQ(MakeBar(-1, 33), "");
    EXPECT_EQ(MakeBar(0, 33), " ");
    EXPECT_EQ(MakeBar(25, 33), std::string(26, ' '));
    EXPECT_EQ(MakeBar(32, 33), std::string(33, ' '));
    EXPECT_EQ(MakeBar(38, 33), std::string(33, ' '));
    EXPECT_EQ(MakeBar(1000000, 33), std::string(33, ' '));
}

TEST(LeadingInt, SaturatesInsteadOfOverflowing) {
    EXPECT_EQ(LeadingInt("230.0"), 230);
    EXPECT_EQ(LeadingInt("abc"), 0);
    EXPECT_EQ(LeadingInt("99999999999999999999.0"), 1000000);
}

TEST(Printable, BlanksControlAndHighBytes) {
    EXPECT_EQ(Printable(std::string("a\x1b[2Jb\x01\xff", 8)), "a [2Jb  ");
}
