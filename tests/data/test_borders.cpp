#include "data/borders.h"

#include <gtest/gtest.h>

#include "support/work_dir.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Each test runs in a fresh directory of its own, where it writes "borders.txt".
class BorderFile : public InScratchWorkDir {
  protected:
    static void write(const std::string& text) {
        std::ofstream(borderFileName, std::ios::binary) << text;
    }
    // The error text of reading the file, empty when it reads.
    std::string read() {
        std::string error;
        borders = Borders{-1, -1};
        return readBorders(borderFileName, 105, borders, error) ? "" : error;
    }
    Borders borders;
};

TEST_F(BorderFile, EachBorderIsTheLastIntegerOfItsLine) {
    struct Case {
        const char* text;
        int border1;
        int border2;
    };
    const Case cases[] = {
        {"30\n70\n", 30, 70},     {"10 20\n70\n", 20, 70}, {"40 word 50\n70\n", 40, 70},
        {"40\r\n70\r\n", 40, 70}, {"  40\t\n70", 40, 70},  {"40\n70\n5\nnot a border\n", 40, 70},
        {"0\n105\n", 0, 105},     {"70\n40\n", 70, 40},    {"12 40\n70 word 105\n", 40, 70},
    };
    for (const Case& c : cases) {
        write(c.text);
        EXPECT_EQ(read(), "") << c.text;
        EXPECT_EQ(borders.border1, c.border1) << c.text;
        EXPECT_EQ(borders.border2, c.border2) << c.text;
    }
}

TEST_F(BorderFile, ProblemsNameTheFileAndTheProblem) {
    EXPECT_EQ(read(), "Error in borders.txt: cannot open the file");
    std::string error;
    EXPECT_FALSE(readBorders("/no/such/dir/b.txt", 105, borders, error));
    EXPECT_EQ(error, "Error in /no/such/dir/b.txt: cannot open the file");

    const std::pair<const char*, const char*> cases[] = {
        {"", "fewer than two lines"},
        {"40\n", "fewer than two lines"},
        {"40", "fewer than two lines"},
        {"word\n70\n", "line 1 holds no integer"},
        {"40\n\n", "line 2 holds no integer"},
        {"40\r\n\r\n", "line 2 holds no integer"},
        {"40\nx 70\n", "line 2 holds no integer"},
        {"120\n70\n", "border 1 is 120, outside 0 to 105"},
        {"40\n-1\n", "border 2 is -1, outside 0 to 105"},
        {"40\n106\n", "border 2 is 106, outside 0 to 105"},
    };
    for (const auto& c : cases) {
        write(c.first);
        EXPECT_EQ(read(), std::string("Error in borders.txt: ") + c.second) << c.first;
        EXPECT_EQ(borders.border1, -1) << c.first;
    }
}

} // namespace

namespace {

// Hand-edited files: what each odd line reads as, with the integer reading of the stream.
class OddBorderFile : public BorderFile {};

TEST_F(OddBorderFile, ReadsAsIntegerExtractionReadsIt) {
    struct Case {
        std::string text;
        int border1;
        int border2;
    };
    const Case cases[] = {
        {"+25\n-0 79\n", 25, 79},
        {"-0\n+0\n", 0, 0},
        {"25.9\n79\n", 25, 79},                     // ".9" is no integer: the line ends there
        {"0x1A\n79\n", 0, 79},                      // no hexadecimal: 0, then "x1A" ends the line
        {"40 99999999999\n79\n", 40, 79},           // the overflowing item ends the line
        {std::string("25\0 30\n79\n", 10), 25, 79}, // a NUL byte ends the line
        {"25\n79", 25, 79},                         // no final line end
        {"\t 25 \t\n\v79\f\n", 25, 79},
    };
    for (const Case& c : cases) {
        write(c.text);
        EXPECT_EQ(read(), "") << c.text;
        EXPECT_EQ(borders.border1, c.border1) << c.text;
        EXPECT_EQ(borders.border2, c.border2) << c.text;
    }
}

TEST_F(OddBorderFile, UnreadableLinesAreRefused) {
    const std::pair<std::string, const char*> cases[] = {
        {"\xEF\xBB\xBF"
         "25\n79\n",
         "line 1 holds no integer"},                      // byte-order mark
        {"99999999999\n79\n", "line 1 holds no integer"}, // beyond int
        {"-99999999999\n79\n", "line 1 holds no integer"},
        {"25\n2147483647\n", "border 2 is 2147483647, outside 0 to 105"},
        {"25\n-2147483648\n", "border 2 is -2147483648, outside 0 to 105"},
        {"nan\n79\n", "line 1 holds no integer"},
        {std::string("\0"
                     "25\n79\n",
                     6),
         "line 1 holds no integer"},
        {"\r\n79\n", "line 1 holds no integer"},
        {std::string(1 << 20, '7') + "\n79\n", "line 1 holds no integer"}, // 1 MB number
    };
    for (const auto& c : cases) {
        write(c.first);
        EXPECT_EQ(read(), std::string("Error in borders.txt: ") + c.second)
            << c.first.substr(0, 20);
        EXPECT_EQ(borders.border1, -1);
    }
    // A directory opens but reads no line.
    std::remove(borderFileName);
    ASSERT_EQ(mkdir(borderFileName, 0755), 0);
    EXPECT_EQ(read(), "Error in borders.txt: fewer than two lines");
    ASSERT_EQ(rmdir(borderFileName), 0);
}

} // namespace
