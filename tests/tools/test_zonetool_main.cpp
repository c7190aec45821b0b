// Runs of zonetool command lines in a scratch directory: in this process with string streams
// (runZonetool), and a few end to end through the program itself.
#include "support/quick_fit.h"
#include "support/run_in_process.h"
#include "support/run_program.h"
#include "tools/analysis/plot.h"

#include <gtest/gtest.h>

#include "data/builtin_transect.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

ProgramResult zonetool(const ScratchDir& dir, const std::string& arguments) {
    return runProgram(dir.path(), ZONETOOL_BIN, arguments);
}

// The same command line run in this process, in `dir`.
ProgramResult inProcess(const ScratchDir& dir, const std::string& arguments) {
    return runInProcess(dir.path(), arguments);
}

} // namespace

TEST(ZonetoolCommandLine, HelpAndUnknownCommands) {
    ScratchDir dir;
    ProgramResult r = zonetool(dir, "");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Usage: zonetool COMMAND"), std::string::npos);
    for (const char* help : {"--help", "help", "eval --help", "fit --help", "help eval"}) {
        r = zonetool(dir, help);
        EXPECT_EQ(r.status, 0) << help;
        EXPECT_EQ(r.out.rfind("Usage: zonetool", 0), 0u) << help;
    }
    r = zonetool(dir, "frobnicate");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool: unknown command 'frobnicate'\nRun 'zonetool --help' for usage.\n");
}

TEST(ZonetoolEval, BadArgumentsExitTwoNamingTheProblem) {
    ScratchDir dir;
    const std::pair<const char*, const char*> cases[] = {
        {"eval", "zonetool eval: missing MODEL\n"},
        {"eval 11 1 2", "zonetool eval: MODEL must be a model number from 1 to 10, not '11'\n"},
        {"eval 1 1 x 0 10", "zonetool eval: 'x' is not a number\n"},
        {"eval 1 1 1 0", "zonetool eval: model 1 (SS_1) reads 4 parameters, 3 given\n"},
        {"eval 1 1 1 0 10 --bogus", "zonetool eval: unknown option '--bogus'\n"},
        {"eval 1 1 1 0 10 --sites", "zonetool eval: --sites needs a file name\n"},
        {"eval 1 1 1 0 10 --objective", "zonetool eval: --objective needs a value\n"},
        {"eval 1 1 1 0 10 --objective Settled",
         "zonetool eval: --objective needs settled, zonefit or both, not 'Settled'\n"},
    };
    for (const auto& c : cases) {
        const ProgramResult r = inProcess(dir, c.first);
        EXPECT_EQ(r.status, 2) << c.first;
        EXPECT_EQ(r.err, std::string(c.second) + "Run 'zonetool eval --help' for usage.\n")
            << c.first;
        EXPECT_EQ(r.out, "") << c.first;
    }
}

TEST(ZonetoolEval, PenaltyIsPrintedWithoutSimulating) {
    ScratchDir dir;
    const ProgramResult r = inProcess(dir, "eval 1 -2 -3 0 10");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "600000\n");
    EXPECT_EQ(r.err, "generations: 0 (no simulation)\n");
}

TEST(ZonetoolEval, ObjectiveBothPrintsEachValueAndWhatRan) {
    ScratchDir dir;
    // Outside the box nothing is simulated under either objective.
    ProgramResult r = inProcess(dir, "eval 1 -2 -3 0 10 --objective both");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "600000\n600000\n");
    EXPECT_EQ(r.err, "zonefit: 600000 (no simulation); settled: 600000 (no simulation)\n");
    r = inProcess(dir, "eval 1 -2 -3 0 10 --objective settled");
    EXPECT_EQ(r.out, "600000\n");
    EXPECT_EQ(r.err, "settled: no simulation\n");
    // zonefit's part is its own run: the value and generations of the plain eval.
    r = inProcess(dir, "eval 1 1.05 1.05 0.3 15 --objective both");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("1510.0746748633017\n", 0), 0u) << r.out;
    EXPECT_EQ(r.err.rfind("zonefit: 1510.0746748633017 (608 generations); settled: ", 0), 0u)
        << r.err;
    r = inProcess(dir, "eval 1 1.05 1.05 0.3 15 --objective zonefit");
    EXPECT_EQ(r.out, "1510.0746748633017\n");
    EXPECT_EQ(r.err, "generations: 608 (equilibrium reached)\n");
    r = inProcess(dir, "eval --help");
    EXPECT_NE(r.out.find("--objective settled|zonefit|both"), std::string::npos);
}

TEST(ZonetoolEval, BadBorderFileEndsWithItsMessageAndStatus1) {
    ScratchDir dir;
    ProgramResult r = inProcess(dir, "eval 3 1 1 1 1 1 1 0.3 -1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error in borders.txt: cannot open the file\n");
    dir.write("borders.txt", "25\n106\n");
    r = inProcess(dir, "eval 6 1 1 1 1 1 1 0.3 -1 0.3 0.3");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error in borders.txt: border 2 is 106, outside 0 to 105\n");
    dir.write("borders.txt", "25\n79\n");
    r = inProcess(dir, "eval 3 1 1 1 1 1 1 0.3 -1");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "200000\n");
}

// The sites table and the figure are written whole or not at all: a directory that does not
// exist leaves nothing behind and says which file could not be written.
TEST(ZonetoolOutputs, SitesAndFiguresThatCannotBeWrittenAreRefused) {
    ScratchDir dir;
    ProgramResult r = inProcess(dir, "eval 1 1.2 0.8 0.3 15 --sites missing/sites.tsv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("generations: ", 0), 0u);
    EXPECT_NE(r.err.find("zonetool eval: cannot write missing/sites.tsv (cannot create "
                         "missing/sites.tsv.tmp"),
              std::string::npos)
        << r.err;
    dir.write("SS1_ML_", "1.2 0.8 0.3 15 999\n");
    dir.write("fig.svg", "an earlier figure\n");
    r = inProcess(dir, "plot 1 -o missing/fig.svg");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("\nzonetool plot: cannot write missing/fig.svg (cannot create "
                         "missing/fig.svg.tmp"),
              std::string::npos)
        << r.err;
    // A figure written over an earlier one replaces it whole.
    r = inProcess(dir, "plot 1 -o fig.svg");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("fig.svg").rfind("<?xml", 0), 0u);
}

TEST(ZonetoolEval, RealEvaluationReportsGenerationsAndSites) {
    ScratchDir dir;
    const ProgramResult r = inProcess(dir, "eval 1 1.2 0.8 0.3 15 --sites sites.tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    const double value = std::strtod(r.out.c_str(), nullptr);
    EXPECT_GT(value, 0.0);
    EXPECT_LT(value, 100000.0);
    EXPECT_EQ(r.err.rfind("generations: ", 0), 0u);
    EXPECT_NE(r.err.find("(equilibrium reached)"), std::string::npos);
    const std::string sites = dir.read("sites.tsv");
    std::istringstream in(sites);
    std::string line;
    int lines = 0;
    std::getline(in, line);
    EXPECT_EQ(line, "site\tposition\tdistance\tobservedSS\tobservedSI\tobservedII\t"
                    "predictedSS\tpredictedSI\tpredictedII");
    // Both x axes of the figures come back exactly: the kernel models' positions on the
    // transect axis and the stepping-stone models' summed distances.
    const std::vector<double> positions = sitePositionsFor(builtInTransectValue(), *findModel(7));
    const std::vector<double> distances = sitePositionsFor(builtInTransectValue(), *findModel(1));
    while (std::getline(in, line)) {
        std::istringstream cells(line);
        int site = -1;
        double position = 0.0;
        double distance = 0.0;
        cells >> site >> position >> distance;
        ASSERT_EQ(site, lines);
        EXPECT_EQ(position, positions[static_cast<std::size_t>(site)]) << line;
        EXPECT_EQ(distance, distances[static_cast<std::size_t>(site)]) << line;
        if (site == 84) { // 0 SS, 1 SI, 39 II
            int counts[3] = {-1, -1, -1};
            cells >> counts[0] >> counts[1] >> counts[2];
            EXPECT_EQ(std::vector<int>(counts, counts + 3), (std::vector<int>{0, 1, 39}));
        }
        lines++;
    }
    EXPECT_EQ(lines, 105);
    // Site 1: 2.938 on the axis, 3.116 from site 0 along the transect.
    EXPECT_NE(sites.find("\n1\t2.9380000000000002\t3.1160000000000001\t"), std::string::npos);
    EXPECT_NE(sites.find("\n84\t649.77999999999997\t"), std::string::npos);
}

TEST(ZonetoolFit, FixedSeedRunRepeatsItselfAndWritesTrace) {
    ScratchDir dir;
    dir.write("startvec1.txt", quickStart1);
    dir.write("big.tsv", bigSampleTransect);
    const ProgramResult fit = zonetool(dir, "fit 1 --seed 42 --trace trace.tsv --data big.tsv");
    ASSERT_EQ(fit.status, 0) << fit.err;
    const std::string result = dir.read("SS1_ML_");
    const ProgramResult again = zonetool(dir, "fit 1 --seed 42 --redo --data big.tsv");
    EXPECT_EQ(again.out, fit.out);
    EXPECT_EQ(dir.read("SS1_ML_"), result);
    // The first anneal call at temperature 20 spends its 1000 evaluations (and two more).
    const std::string trace = dir.read("trace.tsv");
    EXPECT_EQ(trace.substr(0, trace.find('\n')),
              "1\t1\t1\t20\t1002\t0\t29662.531794038969\t1\t1\t0.5\t15");
    int lines = 0;
    for (char c : trace) {
        lines += c == '\n';
    }
    // Two calls in stage 1, which the first does not end; then one per cycle: 3 + 1 + 5.
    EXPECT_EQ(lines, 11);
}

TEST(ZonetoolFit, StartFileOptionAndBadSeed) {
    ScratchDir dir;
    dir.write("other.txt", quickStart1);
    dir.write("big.tsv", bigSampleTransect);
    ProgramResult r = zonetool(dir, "fit 1 --seed 1 --start other.txt --data big.tsv");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("SS1_ML_"), "1 1 0.5 15 29662.532\n");
    r = zonetool(dir, "fit 1 --seed -4");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool fit: --seed needs a whole number from 0 to 18446744073709551615, "
                     "not '-4'\nRun 'zonetool fit --help' for usage.\n");
    r = zonetool(dir, "fit");
    EXPECT_EQ(r.status, 2);
    r = zonetool(dir, "fit 2 --seed 1");
    EXPECT_EQ(r.status, 1);
    // Named before the fit starts, with the example shipped in the sources.
    EXPECT_EQ(r.err, "zonetool fit: no startvec2.txt in " + dir.path() +
                         " (model 2 (SS_2) reads its start vector and step sizes from it; " +
                         ZONEFIT_SOURCE_DIR + "/examples/startvec2.txt is the shipped one)\n");
    EXPECT_EQ(r.out, "");
}

TEST(ZonetoolModels, ListsEveryModelWithNamesAndBoxes) {
    ScratchDir dir;
    const ProgramResult r = inProcess(dir, "models");
    ASSERT_EQ(r.status, 0);
    // Ten headings, 77 parameters, blank lines between the models.
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 10 + 77 + 9);
    EXPECT_EQ(r.out.rfind("Model 1  SS_1  result file SS1_ML_\n"
                          "  x0  wSS    [0, 10000]  explore 0.00990099 to 101, log scale  fitness "
                          "of SS relative to SI\n",
                          0),
              0u);
    EXPECT_NE(
        r.out.find("\n  x3  sigma  (0, 100]    explore 1 to 100, log scale           dispersal"),
        std::string::npos);
    EXPECT_NE(r.out.find("\nModel 5  SS_3_FR  result file SS3_FR_ML_  reads borders.txt\n"),
              std::string::npos);
    EXPECT_NE(
        r.out.find("\n  x9  border2  [523, 680]  explore 523 to 680                    position "
                   "of the border between regions 2 and 3\n"),
        std::string::npos);
    EXPECT_NE(
        r.out.find("\n  x6  border  (30, 80)    explore 30 to 80                      first deme "
                   "right"),
        std::string::npos);
    const ProgramResult help = inProcess(dir, "eval --help");
    EXPECT_NE(help.out.find("\n   7 C_1:         wSS wII F sigma contact\n"), std::string::npos);
    EXPECT_NE(help.out.find("\n  10 C_3_F0:      wSS_1 wII_1 wSS_2 wII_2 wSS_3 wII_3 sigma "
                            "border1 border2\n"),
              std::string::npos);
    for (const char* command : {"help compare", "profile --help", "plot --help", "help models"}) {
        const ProgramResult h = zonetool(dir, command);
        EXPECT_EQ(h.status, 0) << command;
        EXPECT_EQ(h.out.rfind("Usage: zonetool ", 0), 0u) << command;
    }
}

// The transect of --data and its messages reach the streams of the command run in this
// process; two command lines in a row each read their own data.
TEST(ZonetoolInProcess, DataOptionsAndTheirMessagesUseTheGivenStreams) {
    ScratchDir dir;
    dir.write("small.tsv", bigSampleTransect);
    ProgramResult r = inProcess(dir, "eval 1 1 1 0.5 15 --data missing.tsv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error in missing.tsv: cannot open the file\n");
    r = inProcess(dir, "eval 1 1 1 0.5 15 --data");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool eval: --data needs a file name\n"
                     "Run 'zonetool eval --help' for usage.\n");
    r = inProcess(dir, "eval 1 1 1 0.5 15 --data small.tsv");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "29662.531794038969\n");
    EXPECT_EQ(r.err, "generations: 1 (equilibrium reached)\n");
    r = inProcess(dir, "eval 1 1 1 0.5 15");
    EXPECT_EQ(r.out, "795.11838424180758\n");
    EXPECT_EQ(r.err, "generations: 148841 (equilibrium reached)\n");
    r = inProcess(dir, "");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("Usage: zonetool COMMAND", 0), 0u);
}

// Every command writes its help and its usage errors to the streams it is given: run in this
// process, none of it reaches the process's own standard output or error.
TEST(ZonetoolInProcess, EveryCommandsHelpAndUsageErrorsUseTheGivenStreams) {
    ScratchDir dir;
    for (const std::string command :
         {"eval", "fit", "compare", "profile", "plot", "summary", "slurm", "explore", "start",
          "simulate", "models", "cline", "analyse"}) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const ProgramResult help = inProcess(dir, command + " --help");
        const ProgramResult bad = inProcess(dir, command + " --no-such-option");
        const std::string leakedOut = testing::internal::GetCapturedStdout();
        const std::string leakedErr = testing::internal::GetCapturedStderr();
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_EQ(help.out.rfind("Usage: zonetool " + command, 0), 0u) << command;
        EXPECT_EQ(help.err, "") << command;
        EXPECT_EQ(bad.status, 2) << command;
        EXPECT_EQ(bad.out, "") << command;
        // models takes no options: any argument is one too many.
        const std::string problem = command == "models" ? "unexpected argument" : "unknown option";
        EXPECT_EQ(bad.err, "zonetool " + command + ": " + problem +
                               " '--no-such-option'\nRun 'zonetool " + command +
                               " --help' for usage.\n")
            << command;
        EXPECT_EQ(leakedOut, "") << command;
        EXPECT_EQ(leakedErr, "") << command;
    }
}
