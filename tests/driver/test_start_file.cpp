#include "driver/start_file.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {
std::vector<std::vector<double>> rowsOf(const std::string& text) {
    std::istringstream in(text);
    return readRows(in);
}
} // namespace

TEST(ReadRows, OneRowPerLineWithOrWithoutFinalLineEnd) {
    EXPECT_EQ(rowsOf("1 2\n3 4\n").size(), 2u);
    EXPECT_EQ(rowsOf("1 2\n3 4").size(), 2u);
    EXPECT_EQ(rowsOf("").size(), 0u);
    EXPECT_EQ(rowsOf("\n").size(), 1u);
    EXPECT_EQ(rowsOf("1 2\n\n").size(), 2u);
}

TEST(ReadRows, RowStopsAtFirstTextThatIsNotANumber) {
    const auto rows = rowsOf("1.5 -2 word 7 8\n");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<double>{1.5, -2.0}));
}

TEST(ReadRows, BlanksTabsAndCarriageReturnsSeparateValues) {
    const auto rows = rowsOf("1\t2  3\r\n0.1 0.2 0.3\r\n");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<double>{1.0, 2.0, 3.0}));
    EXPECT_EQ(rows[1], (std::vector<double>{0.1, 0.2, 0.3}));
}

TEST(ReadRows, ExponentsAndSignsAsStreamExtractionReadsThem) {
    const auto rows = rowsOf("1e-3 +4 -0 2.5E2\n");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<double>{0.001, 4.0, -0.0, 250.0}));
}

TEST(StartFileName, ArgumentAsTyped) {
    EXPECT_EQ(startFileName("3"), "startvec3.txt");
    EXPECT_EQ(startFileName("07"), "startvec07.txt");
    EXPECT_EQ(startFileName(nullptr), "");
}

TEST(ParseModelNumber, ReadsLikePercentI) {
    EXPECT_EQ(parseModelNumber("3"), 3);
    EXPECT_EQ(parseModelNumber("07"), 7);
    EXPECT_EQ(parseModelNumber("010"), 8);
    EXPECT_EQ(parseModelNumber("0x9"), 9);
    EXPECT_EQ(parseModelNumber("  +5"), 5);
    EXPECT_EQ(parseModelNumber("-2"), -2);
    EXPECT_EQ(parseModelNumber("4abc"), 4);
    EXPECT_EQ(parseModelNumber("abc"), 0);
    EXPECT_EQ(parseModelNumber(""), 0);
    EXPECT_EQ(parseModelNumber(nullptr), 0);
}
