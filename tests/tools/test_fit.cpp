// zonetool fit from the command line: one fit as zonefit runs it, or several at once.
#include "support/run_program.h"

#include <gtest/gtest.h>

namespace {

ProgramResult zonetool(const ScratchDir& dir, const std::string& arguments) {
    return runProgram(dir.path(), ZONETOOL_BIN, arguments);
}

// Start vectors outside the boxes with zero steps: every fit converges at once.
const char* const penaltyStart1 = "1 1 0.5 150\n0 0 0 0\n";
const char* const penaltyStart2 = "1 1 1 1 0.5 100 50\n0 0 0 0 0 0 0\n";

int lineCount(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace

TEST(FitSeveral, ModelsTimesSeedsEachWithResultAndLog) {
    ScratchDir dir;
    dir.write("startvec1.txt", penaltyStart1);
    dir.write("startvec2.txt", penaltyStart2);
    const ProgramResult r = zonetool(dir, "fit 1-2 --seeds 1-2 --jobs 2 --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const char* name : {"SS1_ML_seed1", "SS1_ML_seed2"}) {
        EXPECT_EQ(dir.read(name), "0 0 0 0 1.7976931e+308\n") << name;
    }
    EXPECT_EQ(dir.read("SS2_ML_seed2"), "0 0 0 0 0 0 0 1.7976931e+308\n");
    // The log holds exactly what zonefit prints.
    const ProgramResult single = runProgram(dir.path(), ZONEFIT_BIN, "1");
    EXPECT_EQ(dir.read("SS1_ML_seed1.log"), single.out);
    EXPECT_FALSE(dir.exists("SS1_ML_seed1.log.tmp"));
    // Summary: header, four fits, the closing line.
    EXPECT_EQ(lineCount(r.out), 6) << r.out;
    EXPECT_EQ(r.out.rfind("model  name  seed  status  ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\n    2  SS_2  2     ok      1.7976931e+308  "), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\n4 fits on 2 jobs: wall time 0:00:0"), std::string::npos) << r.out;
}

TEST(FitSeveral, OneSeedKeepsThePlainNamesAndAFailureSetsTheStatus) {
    ScratchDir dir;
    dir.write("startvec1.txt", penaltyStart1);
    const ProgramResult r = zonetool(dir, "fit 1,7 --seed 3 --jobs 2 --quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool fit: model 7 seed 3 failed; see C_1_ML_.log\n");
    EXPECT_TRUE(dir.exists("SS1_ML_"));
    EXPECT_EQ(dir.read("SS1_ML_.log").rfind("We'll do model 1: SS_1\n", 0), 0u);
    EXPECT_EQ(dir.read("C_1_ML_.log").rfind("Where's your startvec file?\n", 0), 0u);
    EXPECT_NE(r.out.find("failed(1)"), std::string::npos);
}

TEST(FitSeveral, BadBorderFileStopsBeforeAnyFit) {
    ScratchDir dir;
    dir.write("startvec1.txt", penaltyStart1);
    dir.write("borders.txt", "25\n");
    const ProgramResult r = zonetool(dir, "fit 1,3 --seeds 1-2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error in borders.txt: fewer than two lines\n");
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(dir.exists("SS1_ML_seed1.log"));
}

TEST(FitSeveral, OptionsThatNeedOneFit) {
    ScratchDir dir;
    const std::pair<const char*, const char*> cases[] = {
        {"fit 1,2 --start s.txt", "--start works with one model and one seed only"},
        {"fit 1 --seeds 1-2 --trace t.tsv", "--trace works with one model and one seed only"},
        {"fit 1 --seed 1 --seeds 2", "give either --seed or --seeds, not both"},
        {"fit 1-2 --jobs 0", "--jobs needs a whole number from 1 to 256, not '0'"},
        {"fit 1-11", "'1-11' is not a model number from 1 to 10 or a range such as 1-10"},
        {"fit 3-1", "the range '3-1' runs backwards"},
        {"fit 1 --seeds 2-1", "--seeds: the range '2-1' runs backwards"},
        {"fit x", "MODEL must be a model number from 1 to 10, not 'x'"},
        {"fit 1,2 --checkpoint c.ckpt", "--checkpoint works with one model and one seed only"},
        {"fit 1 --seeds 1-2 --result r", "--result works with one model and one seed only"},
        {"fit 1 --checkpoints",
         "--checkpoints is for several fits; give one fit --checkpoint FILE"},
        {"fit 1 --requeue", "--requeue needs --checkpoint or --checkpoints"},
        {"fit 1 --checkpoint", "--checkpoint needs a value"},
        {"fit 1 --result ''", "--result needs a file name"},
    };
    for (const auto& c : cases) {
        const ProgramResult r = zonetool(dir, c.first);
        EXPECT_EQ(r.status, 2) << c.first;
        EXPECT_EQ(r.err, std::string("zonetool fit: ") + c.second +
                             "\nRun 'zonetool fit --help' for usage.\n")
            << c.first;
    }
}

TEST(FitSingle, OneSeedFromSeedsIsThePlainFit) {
    ScratchDir dir;
    dir.write("startvec1.txt", penaltyStart1);
    const ProgramResult listed = zonetool(dir, "fit 1 --seeds 7 --jobs 2");
    ASSERT_EQ(listed.status, 0) << listed.err;
    const ProgramResult plain = runProgram(dir.path(), ZONEFIT_BIN, "1");
    EXPECT_EQ(listed.out, plain.out);
    EXPECT_FALSE(dir.exists("SS1_ML_.log"));
}
