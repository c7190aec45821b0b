// The number formats of the tables: one formatter for every table cell.
#include "tools/formats/number_format.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(FixedCell, BoundedWidthForEveryValue) {
    EXPECT_EQ(fixedCell(11518.58471, 4), "11518.5847");
    EXPECT_EQ(fixedCell(-0.5, 2), "-0.50");
    // A penalty-sized value would take 309 digits in fixed notation.
    EXPECT_EQ(fixedCell(1.7976931348623157e308, 4), "1.7977e+308");
    EXPECT_EQ(fixedCell(1e12, 1), "1.0e+12");
    EXPECT_EQ(fixedCell(999999999999.0, 1), "999999999999.0");
    EXPECT_EQ(fixedCell(HUGE_VAL, 4), "inf");
    EXPECT_EQ(fixedCell(-HUGE_VAL, 4), "-inf");
    EXPECT_EQ(fixedCell(std::nan(""), 4), "-");
}

TEST(FormatNumber, SignificantDigitsAsTheStateCellsAndFilesUseThem) {
    // Two digits: the last change of an unsettled row.
    EXPECT_EQ(formatNumber(2.5e-9, 2), "2.5e-09");
    EXPECT_EQ(formatNumber(0.00012345, 2), "0.00012");
    EXPECT_EQ(formatNumber(1141.23443, 6), "1141.23");
    EXPECT_EQ(format17(0.1), "0.10000000000000001");
    EXPECT_EQ(format17(1157.6058), "1157.6058");
}
