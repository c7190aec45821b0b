// The table formatter behind every table zonetool prints.
#include "tools/formats/table.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(Table, AlignsColumnsAndLeavesTheLastUnpadded) {
    Table table({Align::right, Align::left, Align::right, Align::left});
    table.addRow({"model", "name", "-lnL", "file"});
    table.addRow({"7", "C_1", "1141.2344", "C_1_ML_"});
    table.addRow({"10", "C_3_F0", "-", "x"});
    EXPECT_EQ(table.aligned(), "model  name         -lnL  file\n"
                               "    7  C_1     1141.2344  C_1_ML_\n"
                               "   10  C_3_F0          -  x\n");
    EXPECT_EQ(table.tabSeparated(), "model\tname\t-lnL\tfile\n"
                                    "7\tC_1\t1141.2344\tC_1_ML_\n"
                                    "10\tC_3_F0\t-\tx\n");
}

TEST(Table, RightAlignedLastColumnIndentAndShortRows) {
    Table table({Align::left, Align::right});
    table.addRow({"x0", "1"});
    table.addRow({"x10"}); // the missing cell is empty
    EXPECT_EQ(table.aligned("  "), "  x0   1\n  x10   \n");
    EXPECT_EQ(table.tabSeparated(), "x0\t1\nx10\t\n");
    EXPECT_EQ(Table({Align::left}).aligned(), "");
}
