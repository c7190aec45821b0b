// Transect files with a locus column: each locus read as a transect of its own, files without
// the column read as before, and every inconsistency between loci refused naming file, line and
// locus.
#include "data/locus_transects.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

const std::string header = "locus\tsite\tposition\tdistance\tSS\tSI\tII\n";

// Rows of locus `locus` at sites a, b, c (positions 0, 1, 2; distances 1, 1, NA) with the
// SS counts given (SI 1, II 2 everywhere).
std::string rows(const std::string& locus, int a, int b, int c) {
    return locus + "\ta\t0\t1\t" + std::to_string(a) + "\t1\t2\n" + locus + "\tb\t1\t1\t" +
           std::to_string(b) + "\t1\t2\n" + locus + "\tc\t2\tNA\t" + std::to_string(c) + "\t1\t2\n";
}

bool read(const std::string& text, std::vector<LocusTransect>& loci, std::string& error) {
    std::istringstream in(text);
    return readLocusTransects(in, "l.tsv", loci, error);
}

std::string errorFor(const std::string& text) {
    std::vector<LocusTransect> loci(1);
    loci[0].locus = "kept";
    std::string error;
    EXPECT_FALSE(read(text, loci, error)) << text;
    EXPECT_EQ(loci.size(), 1u);
    EXPECT_EQ(loci[0].locus, "kept");
    return error;
}

} // namespace

TEST(LocusTransects, EachLocusIsATransectInTheOrderOfItsFirstRow) {
    // Rows of the loci interleaved, the locus column last, comments between.
    const std::string text = "# two loci\nsite\tposition\tdistance\tSS\tSI\tII\tlocus\n"
                             "a\t0\t1\t5\t0\t0\tZ1\n"
                             "a\t0\t1\t7\t0\t0\tA2\n"
                             "# comment\n"
                             "b\t1\t1\t1\t1\t1\tZ1\n"
                             "b\t1\t1\t2\t2\t2\tA2\n"
                             "c\t3\tNA\t0\t0\t5\tZ1\n"
                             "c\t3\tNA\t0\t1\t4\tA2\n";
    std::vector<LocusTransect> loci;
    std::string error;
    ASSERT_TRUE(read(text, loci, error)) << error;
    ASSERT_EQ(loci.size(), 2u);
    EXPECT_EQ(loci[0].locus, "Z1");
    EXPECT_EQ(loci[1].locus, "A2");
    EXPECT_EQ(loci[0].transect.countSS, (std::vector<int>{5, 1, 0}));
    EXPECT_EQ(loci[1].transect.countSS, (std::vector<int>{7, 2, 0}));
    EXPECT_EQ(loci[1].transect.countII, (std::vector<int>{0, 2, 4}));
    EXPECT_EQ(loci[1].transect.positions, (std::vector<double>{0, 1, 3}));
    EXPECT_EQ(loci[1].transect.distances, (std::vector<double>{1, 1}));

    Transect chosen;
    ASSERT_TRUE(selectLocus(loci, "l.tsv", "A2", chosen, error));
    EXPECT_EQ(chosen.countSS, loci[1].transect.countSS);
    EXPECT_FALSE(selectLocus(loci, "l.tsv", "B", chosen, error));
    EXPECT_EQ(error, "Error in l.tsv: no locus 'B' (the loci are Z1, A2)");
    EXPECT_FALSE(selectLocus(loci, "l.tsv", "", chosen, error));
    EXPECT_EQ(error,
              "Error in l.tsv: the file holds 2 loci; choose one with --locus NAME (Z1, A2)");
}

TEST(LocusTransects, AFileWithoutLociReadsAsBefore) {
    const std::string text = "site\tposition\tdistance\tSS\tSI\tII\n"
                             "a\t0\t1\t5\t0\t0\nb\t1\t1\t1\t1\t1\nc\t2\tNA\t0\t0\t5\n";
    std::vector<LocusTransect> loci;
    std::string error;
    ASSERT_TRUE(read(text, loci, error)) << error;
    ASSERT_EQ(loci.size(), 1u);
    EXPECT_EQ(loci[0].locus, "");
    EXPECT_EQ(loci[0].transect.countSS, (std::vector<int>{5, 1, 0}));
    Transect chosen;
    EXPECT_TRUE(selectLocus(loci, "l.tsv", "", chosen, error));
    EXPECT_FALSE(selectLocus(loci, "l.tsv", "A", chosen, error));
    EXPECT_EQ(error, "Error in l.tsv: the file has no locus column; --locus A cannot be used");
    // The plain reader's messages, unchanged.
    EXPECT_EQ(errorFor(""), "Error in l.tsv: the file is empty");
    EXPECT_EQ(errorFor("site\tposition\tdistance\tSS\tSI\tII\ta\t0\t1\t5\t0\t0\n"),
              "Error in l.tsv line 1: unknown column 'a' (the columns are site, position, "
              "distance, SS, SI, II)");
    // A single locus needs no --locus.
    ASSERT_TRUE(read(header + rows("only", 1, 2, 3), loci, error)) << error;
    EXPECT_TRUE(selectLocus(loci, "l.tsv", "", chosen, error));
}

TEST(LocusTransects, BadLociAreRefusedNamingFileLineAndLocus) {
    // A locus with no individual at a site.
    EXPECT_EQ(errorFor(header + rows("A", 1, 1, 1) +
                       "B\ta\t0\t1\t1\t1\t2\nB\tb\t1\t1\t0\t0\t0\nB\tc\t2\tNA\t1\t1\t2\n"),
              "Error in l.tsv line 6: site 'b' has no individual sampled (locus 'B')");
    // Sites that differ between loci: another name, a missing site, another position or
    // distance.
    EXPECT_EQ(errorFor(header + rows("A", 1, 1, 1) +
                       "B\ta\t0\t1\t1\t1\t2\nB\tx\t1\t1\t1\t1\t2\nB\tc\t2\tNA\t1\t1\t2\n"),
              "Error in l.tsv line 6: locus 'B' has site 'x' where locus 'A' has site 'b'");
    EXPECT_EQ(errorFor(header + rows("A", 1, 1, 1) +
                       "B\ta\t0\t1\t1\t1\t2\nB\tb\t1\t1\t1\t1\t2\n"
                       "B\tc\t2\t1\t1\t1\t2\nB\td\t3\tNA\t1\t1\t2\n"),
              "Error in l.tsv: locus 'B' has 4 sites, but locus 'A' has 3");
    EXPECT_EQ(errorFor(header + rows("A", 1, 1, 1) +
                       "B\ta\t0\t1\t1\t1\t2\nB\tb\t1.5\t1\t1\t1\t2\nB\tc\t2\tNA\t1\t1\t2\n"),
              "Error in l.tsv line 6: site 'b' of locus 'B' has position 1.5, but 1 at locus 'A'");
    EXPECT_EQ(errorFor(header + rows("A", 1, 1, 1) +
                       "B\ta\t0\t2\t1\t1\t2\nB\tb\t1\t1\t1\t1\t2\nB\tc\t2\tNA\t1\t1\t2\n"),
              "Error in l.tsv line 5: site 'a' of locus 'B' has distance 2, but 1 at locus 'A'");
    // A missing locus name: one field too few, or NA.
    EXPECT_EQ(errorFor(header + rows("A", 1, 1, 1) + "a\t0\t1\t1\t1\t2\n"),
              "Error in l.tsv line 5: 6 fields, but the header names 7 columns (is the locus "
              "name missing?)");
    EXPECT_EQ(errorFor(header + "NA\ta\t0\t1\t1\t1\t2\n"),
              "Error in l.tsv line 2: locus name NA: every row needs its locus");
    EXPECT_EQ(errorFor(header + "A\x01\ta\t0\t1\t1\t1\t2\n"),
              "Error in l.tsv line 2: locus name 'A\\x01' holds a control character");
    // A locus's own rows break the plain rules: the reader's message, with the locus.
    EXPECT_EQ(errorFor(header + rows("A", 1, 1, 1) + "B\ta\t0\t1\t1\t1\t2\nB\tb\t1\tNA\t1\t1\t2\n"),
              "Error in l.tsv: 2 sites; a transect needs at least 3 (locus 'B')");
    EXPECT_EQ(errorFor(header + "A\ta\t0\t1\tx\t1\t2\n"),
              "Error in l.tsv line 2: SS count 'x' is not a number (locus 'A')");
}
