// The transect file: the shipped example is the built-in data set bit for bit, the format's
// freedoms (comments, column order, separators, line ends), and every bad file with its message.
#include "data/transect.h"
#include "data/transect_file.h"
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string examplePath = std::string(ZONEFIT_SOURCE_DIR) + "/examples/transect.tsv";
const char* const exampleComment =
    "The built-in transect: 105 sites; distance to the next site; counts of SS, SI, II";

bool read(const std::string& text, Transect& t, std::string& error) {
    std::istringstream in(text);
    return readTransect(in, "t.tsv", t, error);
}

// The message for `text`, after checking that the reader refused it and left `t` alone.
std::string errorFor(const std::string& text) {
    Transect t;
    t.siteNames = {"kept"};
    std::string error;
    EXPECT_FALSE(read(text, t, error)) << text;
    EXPECT_EQ(t.siteNames, std::vector<std::string>{"kept"}) << text;
    EXPECT_TRUE(t.positions.empty()) << text;
    return error;
}

bool sameBits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

const std::string header = "site\tposition\tdistance\tSS\tSI\tII\n";

} // namespace

TEST(BuiltInTransect, HoldsTheCompiledTables) {
    const Transect t = builtInTransect();
    ASSERT_EQ(t.siteCount(), 105);
    ASSERT_EQ(t.distances.size(), 104u);
    EXPECT_EQ(t.siteNames.front(), "0");
    EXPECT_EQ(t.siteNames.back(), "104");
    EXPECT_EQ(t.positions[101], 853.288);
    EXPECT_EQ(t.distances[78], 90.891);
    EXPECT_EQ(t.countII[84], 39);
    int total = 0;
    for (int i = 0; i < 105; i++) {
        total += t.countSS[i] + t.countSI[i] + t.countII[i];
    }
    EXPECT_EQ(total, 751);
}

TEST(ExampleTransect, ReadsBackToTheBuiltInTablesBitForBit) {
    Transect t;
    std::string error;
    ASSERT_TRUE(readTransectFile(examplePath, t, error)) << error;
    EXPECT_EQ(error, "");
    const Transect builtIn = builtInTransect();
    EXPECT_EQ(t.siteNames, builtIn.siteNames);
    EXPECT_TRUE(sameBits(t.positions, builtIn.positions));
    EXPECT_TRUE(sameBits(t.distances, builtIn.distances));
    EXPECT_EQ(t.countSS, builtIn.countSS);
    EXPECT_EQ(t.countSI, builtIn.countSI);
    EXPECT_EQ(t.countII, builtIn.countII);
}

TEST(ExampleTransect, IsWhatTheWriterMakesOfTheBuiltInTables) {
    // The example holds the three-decimal texts of the tables (3.116, not 3.1160000000000001).
    std::ostringstream written;
    writeTransect(written, builtInTransect(), exampleComment);
    std::ifstream in(examplePath, std::ios::binary);
    std::ostringstream shipped;
    shipped << in.rdbuf();
    EXPECT_EQ(written.str(), shipped.str());
    EXPECT_NE(shipped.str().find("\n0\t0\t3.116\t1\t0\t0\n"), std::string::npos);
    EXPECT_NE(shipped.str().find("\n104\t852.049\tNA\t0\t0\t2\n"), std::string::npos);
}

TEST(TransectFormat, CommentsColumnOrderSeparatorsAndLineEnds) {
    // Three sites; columns in another order, blanks and tabs mixed, a comment and blank lines
    // between rows, a byte-order mark, Windows line ends, no line end at the very end.
    const std::string text = "\xEF\xBB\xBF# three sites\r\n"
                             "SS SI II\tsite distance position\r\n"
                             "\r\n"
                             "4 1 0 A 2.5 0\r\n"
                             "   # a comment among the rows\n"
                             "0 2 3\t\tB  10 2.5\n"
                             "+0 0 7 C NA 12.5";
    Transect t;
    std::string error = "stale";
    ASSERT_TRUE(read(text, t, error)) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(t.siteNames, (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(t.positions, (std::vector<double>{0, 2.5, 12.5}));
    EXPECT_EQ(t.distances, (std::vector<double>{2.5, 10}));
    EXPECT_EQ(t.countSS, (std::vector<int>{4, 0, 0}));
    EXPECT_EQ(t.countSI, (std::vector<int>{1, 2, 0}));
    EXPECT_EQ(t.countII, (std::vector<int>{0, 3, 7}));
}

TEST(TransectFormat, NumbersAtTheirLimits) {
    // Positions may fall and be negative, a distance may be 0 or written with an exponent, a
    // count may have leading zeros or be written -0; a count near the largest an int holds passes.
    const std::string text = header + "a 5 0 2147483640 0 0\n"
                                      "b -1.5e1 1e-3 0 -0 001\n"
                                      "c .5 NA 0 1 0\n";
    Transect t;
    std::string error;
    ASSERT_TRUE(read(text, t, error)) << error;
    EXPECT_EQ(t.positions, (std::vector<double>{5, -15, 0.5}));
    EXPECT_EQ(t.distances, (std::vector<double>{0, 0.001}));
    EXPECT_EQ(t.countSS[0], 2147483640);
    EXPECT_EQ(t.countII[1], 1);
}

TEST(TransectFormat, EveryBadFileItsMessage) {
    const std::string ok1 = "a 0 1 1 0 0\n";
    const std::string ok2 = "b 1 1 0 1 0\n";
    const std::string last = "c 2 NA 0 0 1\n";
    const std::pair<std::string, std::string> cases[] = {
        {"", "Error in t.tsv: the file is empty"},
        {"# only a comment\n\n  \n", "Error in t.tsv: no header line"},
        {"site position distance SS SI II Sl\n",
         "Error in t.tsv line 1: unknown column 'Sl' (the columns are site, position, "
         "distance, SS, SI, II)"},
        {"#\nsite position distance SS SI ss\n",
         "Error in t.tsv line 2: unknown column 'ss' (the columns are site, position, "
         "distance, SS, SI, II)"},
        {"site position distance SS SI SS\n", "Error in t.tsv line 1: column 'SS' appears twice"},
        {"site position SS SI II\n", "Error in t.tsv line 1: no column 'distance'"},
        {header + "a 0 1 1 0\n", "Error in t.tsv line 2: 5 fields, but the header names 6 columns"},
        {header + ok1 + "b 1 1 0 1 0 7\n",
         "Error in t.tsv line 3: 7 fields, but the header names 6 columns"},
        {header + ok1 + "a 1 1 0 1 0\n",
         "Error in t.tsv line 3: site name 'a' is already used on line 2"},
        // Files saved by spreadsheets with commas between fields or in numbers.
        {"site,position,distance,SS,SI,II\n",
         "Error in t.tsv line 1: fields are separated by tabs or blanks, not commas"},
        {header + ok1 + "b,1,1,0,1,0\n",
         "Error in t.tsv line 3: fields are separated by tabs or blanks, not commas"},
        {header + "a 12,5 1 1 0 0\n",
         "Error in t.tsv line 2: position '12,5': decimal commas are not read: write 12.5"},
        {header + "a 0 -0,25 1 0 0\n",
         "Error in t.tsv line 2: distance '-0,25': decimal commas are not read: write -0.25"},
        {header + "a 0 1,2,3 1 0 0\n",
         "Error in t.tsv line 2: distance '1,2,3' is not a finite number"},
        {header + "a 0x10 1 1 0 0\n",
         "Error in t.tsv line 2: position '0x10' is not a finite number"},
        {header + "a nan 1 1 0 0\n",
         "Error in t.tsv line 2: position 'nan' is not a finite number"},
        {header + "a 1e400 1 1 0 0\n",
         "Error in t.tsv line 2: position '1e400' is not a finite number"},
        {header + "a 0 inf 1 0 0\n",
         "Error in t.tsv line 2: distance 'inf' is not a finite number"},
        {header + "a 0 -2.5 1 0 0\n", "Error in t.tsv line 2: distance '-2.5' is negative"},
        {header + "a 0 NA 1 0 0\n" + ok2 + last,
         "Error in t.tsv line 2: distance NA is only for the last site"},
        {header + ok1 + ok2 + "c 2 0 0 0 1\n",
         "Error in t.tsv line 4: the last site's distance must be NA, not '0'"},
        {header + "a 0 1 x 0 0\n", "Error in t.tsv line 2: SS count 'x' is not a number"},
        {header + "a 0 1 0 NA 0\n", "Error in t.tsv line 2: SI count 'NA' is not a number"},
        {header + "a 0 1 0 0 1.5\n", "Error in t.tsv line 2: II count '1.5' is not a whole number"},
        {header + "a 0 1 0 0 1e2\n", "Error in t.tsv line 2: II count '1e2' is not a whole number"},
        {header + "a 0 1 -3 4 0\n", "Error in t.tsv line 2: SS count '-3' is negative"},
        {header + "a 0 1 2147483648 0 0\n",
         "Error in t.tsv line 2: SS count '2147483648' is too large"},
        {header + "a 0 1 0 0 0\n", "Error in t.tsv line 2: site 'a' has no individual sampled"},
        {header + "a 0 1 2147483647 0 0\n" + ok2,
         "Error in t.tsv line 3: the counts add up to more than 2147483647"},
        {header, "Error in t.tsv: 0 sites; a transect needs at least 3"},
        {header + "c 2 NA 0 0 1\n", "Error in t.tsv: 1 site; a transect needs at least 3"},
        {header + ok1 + last, "Error in t.tsv: 2 sites; a transect needs at least 3"},
        {header + "a\rb 0 1 1 0 0\n",
         "Error in t.tsv line 2: site name 'a\\x0Db' holds a control character"},
        // Text from a binary file is shown escaped and cut short.
        {header + "a\xff\x80 0 1 0 0 0\n",
         "Error in t.tsv line 2: site 'a\\xFF\\x80' has no individual sampled"},
        {header + "a 0 1 " + std::string(50, '7') + " 0 0\n",
         "Error in t.tsv line 2: SS count '" + std::string(40, '7') + "...' is too large"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(errorFor(c.first), c.second) << c.first;
    }
}

TEST(TransectFile, MissingFileAndDirectory) {
    ScratchDir dir;
    Transect t;
    std::string error;
    EXPECT_FALSE(readTransectFile(dir.file("none.tsv"), t, error));
    EXPECT_EQ(error, "Error in " + dir.file("none.tsv") + ": cannot open the file");
    EXPECT_FALSE(readTransectFile(dir.path(), t, error));
    EXPECT_EQ(error, "Error in " + dir.path() + ": cannot read the file");
    dir.write("three.tsv", header + "a 0 1 1 0 0\nb 1 1 0 1 0\nc 2 NA 0 0 1\n");
    EXPECT_TRUE(readTransectFile(dir.file("three.tsv"), t, error)) << error;
    EXPECT_EQ(t.siteCount(), 3);
}

TEST(ShortestText, ShortestDecimalThatReadsBack) {
    EXPECT_EQ(shortestText(3.116), "3.116");
    EXPECT_EQ(shortestText(0.1), "0.1");
    EXPECT_EQ(shortestText(853.288), "853.288");
    EXPECT_EQ(shortestText(0.0), "0");
    EXPECT_EQ(shortestText(1e-300), "1e-300");
    EXPECT_EQ(shortestText(1.0 / 3), "0.3333333333333333");
    EXPECT_EQ(shortestText(0.1 + 0.2), "0.30000000000000004");
}
