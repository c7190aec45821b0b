// Simulated data sets: the generator, the multinomial draws and zonetool simulate end to end.
#include "data/builtin_transect.h"
#include "models/model_context.h"
#include "models/model_table.h"
#include "population/simulation_report.h"
#include "support/run_in_process.h"
#include "support/run_program.h"
#include "tools/commands/simulate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <sstream>

namespace {} // namespace

TEST(RandomStream, FollowsTheSplitmix64DefinitionAndIsReproducible) {
    std::uint64_t state = 0;
    EXPECT_EQ(splitmix64(state), 0xe220a8397b1dcdafULL);
    EXPECT_EQ(splitmix64(state), 0x6e789e6aa1b965f4ULL);

    Xoshiro256 a(42);
    Xoshiro256 b(42);
    Xoshiro256 c(43);
    std::set<std::uint64_t> seen;
    bool differs = false;
    for (int i = 0; i < 1000; i++) {
        const std::uint64_t x = a.next();
        EXPECT_EQ(x, b.next());
        differs = differs || x != c.next();
        seen.insert(x);
    }
    EXPECT_TRUE(differs);
    EXPECT_EQ(seen.size(), 1000u);
    double sum = 0.0;
    for (int i = 0; i < 100000; i++) {
        const double u = a.uniform();
        ASSERT_GE(u, 0.0);
        ASSERT_LT(u, 1.0);
        sum += u;
    }
    EXPECT_NEAR(sum / 100000, 0.5, 0.005); // s.e. 0.0009
}

TEST(DrawCounts, MeansConvergeToTheFrequencies) {
    Xoshiro256 random(7);
    // Frequencies need not add up to 1: 0.1, 0.25, 0.15 are shares 0.2, 0.5, 0.3.
    const Genotype frequencies{0.1, 0.25, 0.15};
    double sums[3] = {0, 0, 0};
    const int draws = 4000;
    for (int d = 0; d < draws; d++) {
        int ss = 0;
        int si = 0;
        int ii = 0;
        drawCounts(frequencies, 100, random, ss, si, ii);
        ASSERT_EQ(ss + si + ii, 100);
        sums[0] += ss;
        sums[1] += si;
        sums[2] += ii;
    }
    // Standard errors of the mean counts: sqrt(100 p (1 - p) / 4000), at most 0.08.
    EXPECT_NEAR(sums[0] / draws, 20.0, 0.3);
    EXPECT_NEAR(sums[1] / draws, 50.0, 0.3);
    EXPECT_NEAR(sums[2] / draws, 30.0, 0.3);

    int ss = -1;
    int si = -1;
    int ii = -1;
    drawCounts(Genotype{0.0, 1.0, 0.0}, 50, random, ss, si, ii);
    EXPECT_EQ(ss, 0);
    EXPECT_EQ(si, 50);
    EXPECT_EQ(ii, 0);
    drawCounts(frequencies, 0, random, ss, si, ii);
    EXPECT_EQ(ss + si + ii, 0);
}

TEST(SimulatedTransect, DrawsAtTheModelsPredictionsWithTheDataSampleSizes) {
    // Model 7 predicts a cline: SS on the left, II on the right.
    NRvector<double> x(5);
    const double point[] = {1.05, 1.05, 0.3, 10, 450};
    for (int j = 0; j < 5; j++) {
        x[j] = point[j];
    }
    SimulationReport report;
    report.keepPredictions = true;
    ModelContext recording;
    recording.simulation.report = &report;
    findModel(7)->evaluate(recording, x);
    const Transect& data = builtInTransectValue();
    ASSERT_EQ(report.predictions.size(), 105u);

    const Transect like = simulatedTransect(data, report.predictions, 0, 5);
    EXPECT_EQ(like.positions, data.positions);
    EXPECT_EQ(like.distances, data.distances);
    EXPECT_EQ(like.siteNames, data.siteNames);
    for (int i = 0; i < 105; i++) {
        EXPECT_EQ(like.countSS[i] + like.countSI[i] + like.countII[i],
                  data.countSS[i] + data.countSI[i] + data.countII[i]);
    }
    const Transect again = simulatedTransect(data, report.predictions, 0, 5);
    EXPECT_EQ(again.countSS, like.countSS);
    EXPECT_EQ(again.countII, like.countII);

    // Mean frequencies over many data sets of 20 per site approach the predictions.
    const int sets = 500;
    std::vector<double> meanSS(105, 0.0);
    std::vector<double> meanII(105, 0.0);
    for (int s = 0; s < sets; s++) {
        const Transect t = simulatedTransect(data, report.predictions, 20, 1000 + s);
        for (int i = 0; i < 105; i++) {
            ASSERT_EQ(t.countSS[i] + t.countSI[i] + t.countII[i], 20);
            meanSS[i] += t.countSS[i] / 20.0 / sets;
            meanII[i] += t.countII[i] / 20.0 / sets;
        }
    }
    for (std::size_t i = 0; i < 105; i++) {
        const Genotype& g = report.predictions[i];
        const double sum = g.SS + g.SI + g.II;
        // Five standard errors of a mean of 10000 individuals: at most 0.025.
        EXPECT_NEAR(meanSS[i], g.SS / sum, 0.025) << "site " << i;
        EXPECT_NEAR(meanII[i], g.II / sum, 0.025) << "site " << i;
    }
}

TEST(SimulateEndToEnd, WritesAReproducibleTransectFileAndKeepsExistingOnes) {
    ScratchDir dir;
    const std::string command = "simulate 7 1.05 1.05 0.3 10 450 --seed 9 -o ";
    ProgramResult r = runInProcess(dir.path(), command + "a.tsv");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    r = runInProcess(dir.path(), command + "b.tsv --like-data");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("a.tsv"), dir.read("b.tsv"));
    EXPECT_EQ(dir.read("a.tsv").rfind("# simulated by zonetool simulate 7 1.05 1.05 "
                                      "0.29999999999999999 10 450 --seed 9\n"
                                      "site\tposition\tdistance\tSS\tSI\tII\n",
                                      0),
              0u);
    // Drawn from the settled state, the file says so.
    r = runInProcess(dir.path(), command + "s.tsv --objective settled");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("s.tsv").rfind("# simulated by zonetool simulate 7 1.05 1.05 "
                                      "0.29999999999999999 10 450 --seed 9 --objective settled\n",
                                      0),
              0u);
    Transect read;
    std::string error;
    ASSERT_TRUE(readTransectFile(dir.file("a.tsv"), read, error)) << error;
    EXPECT_EQ(read.positions, builtInTransectValue().positions);

    // An existing file stays unless --redo is given.
    dir.write("c.tsv", "mine\n");
    r = runInProcess(dir.path(), command + "c.tsv --samples 30");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool simulate: c.tsv exists; give --redo to overwrite it\n");
    EXPECT_EQ(dir.read("c.tsv"), "mine\n");
    r = runInProcess(dir.path(), command + "c.tsv --samples 30 --redo");
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(readTransectFile(dir.file("c.tsv"), read, error)) << error;
    EXPECT_EQ(read.countSS[0] + read.countSI[0] + read.countII[0], 30);

    // A simulated file is a data set like any other: simulate again from it.
    r = runInProcess(dir.path(), "simulate 1 1.2 0.8 0.3 15 --seed 1 -o d.tsv --data c.tsv");
    EXPECT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(readTransectFile(dir.file("d.tsv"), read, error)) << error;
    EXPECT_EQ(read.countSS[4] + read.countSI[4] + read.countII[4], 30);
}

TEST(SimulateEndToEnd, RefusesBadArgumentsAndPointsOutsideTheBox) {
    ScratchDir dir;
    const struct {
        const char* arguments;
        int status;
        const char* err;
    } cases[] = {
        {"simulate 1 1.2 0.8 0.3 15 -o a.tsv", 2,
         "zonetool simulate: missing --seed S\nRun 'zonetool simulate --help' for usage.\n"},
        {"simulate 1 1.2 0.8 0.3 15 --seed 1", 2,
         "zonetool simulate: missing -o FILE\nRun 'zonetool simulate --help' for usage.\n"},
        {"simulate 1 1.2 0.8 0.3 15 --seed 1 -o a.tsv --samples 5 --like-data", 2,
         "zonetool simulate: give either --samples or --like-data, not both\n"
         "Run 'zonetool simulate --help' for usage.\n"},
        {"simulate 1 1.2 0.8 0.3 15 --seed 1 -o a.tsv --samples 0", 2,
         "zonetool simulate: --samples needs a whole number from 1 to 1000000, not '0'\n"
         "Run 'zonetool simulate --help' for usage.\n"},
        {"simulate 1 1.2 0.8 0.3 --seed 1 -o a.tsv", 2,
         "zonetool simulate: model 1 (SS_1) reads 4 parameters, 3 given\n"
         "Run 'zonetool simulate --help' for usage.\n"},
        {"simulate 1 1.2 0.8 0.3 150 --seed 1 -o a.tsv", 1,
         "zonetool simulate: the point lies outside the box of model 1 ('zonetool models' "
         "shows it); nothing was simulated\n"},
        {"simulate 3 1 1 1 1 1 1 0.3 15 --seed 1 -o a.tsv", 1,
         "Error in borders.txt: cannot open the file\n"},
        {"simulate 1 1.2 0.8 0.3 15 --seed 1 -o a.tsv --objective", 2,
         "zonetool simulate: --objective needs a value\n"
         "Run 'zonetool simulate --help' for usage.\n"},
        {"simulate 1 1.2 0.8 0.3 15 --seed 1 -o a.tsv --objective stable", 2,
         "zonetool simulate: --objective needs settled or zonefit, not 'stable'\n"
         "Run 'zonetool simulate --help' for usage.\n"},
        {"simulate 1 1.2 0.8 0.3 150 --seed 1 -o a.tsv --objective settled", 1,
         "zonetool simulate: the point lies outside the box of model 1 ('zonetool models' "
         "shows it); nothing was simulated\n"},
    };
    for (const auto& c : cases) {
        const ProgramResult r = runInProcess(dir.path(), c.arguments);
        EXPECT_EQ(r.status, c.status) << c.arguments;
        EXPECT_EQ(r.err, c.err) << c.arguments;
    }
    EXPECT_FALSE(dir.exists("a.tsv"));
}
