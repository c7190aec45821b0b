// Fits that found nothing but penalties: the fit commands write no result for one, and the
// commands that read results name such a file and leave it out.
#include "support/quick_fit.h"
#include "support/run_in_process.h"
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

ProgramResult zonetool(const ScratchDir& dir, const std::string& arguments) {
    return runInProcess(dir.path(), arguments);
}

// Full selfing on the three big sites: no heterozygote is left, yet 9000 were sampled, and
// every vertex of a simplex of zero steps scores at least the penalty unit.
const char* const selfingStart = "1 1 1 15\n0 0 0 0\n";

const char* const noFit =
    "zonetool fit: model 1 (SS_1) found no fit: its best value, 1.7976931e+308, is a penalty (no "
    "point tried was simulated inside the box, or every simulation failed); nothing written\n";

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

TEST(FailedFit, AFitThatFindsOnlyPenaltiesWritesNoResult) {
    ScratchDir dir;
    dir.write("big.tsv", bigSampleTransect);
    dir.write("startvec1.txt", selfingStart);
    // One fit: the reports are there, the message ends them, no result and no record.
    ProgramResult r = zonetool(dir, "fit 1 --seed 1 --quiet --data big.tsv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("We'll do model 1: SS_1\n", 0), 0u) << r.out;
    EXPECT_EQ(r.err, noFit);
    EXPECT_FALSE(dir.exists("SS1_ML_"));
    EXPECT_FALSE(dir.exists("SS1_ML_.json"));
    // Checkpointed: the same.
    r = zonetool(dir, "fit 1 --seed 1 --quiet --data big.tsv --checkpoint c.ckpt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, noFit);
    EXPECT_FALSE(dir.exists("SS1_ML_"));
    EXPECT_FALSE(dir.exists("SS1_ML_.json"));
    // Several: each fails with the message in its log, and the summary says so.
    r = zonetool(dir, "fit 1 --seeds 1-2 --quiet --data big.tsv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool fit: model 1 seed 1 failed; see SS1_ML_seed1.log\n"
                     "zonetool fit: model 1 seed 2 failed; see SS1_ML_seed2.log\n");
    EXPECT_NE(r.out.find("\n    1  SS_1  2     failed(1)  "), std::string::npos) << r.out;
    for (const char* name : {"SS1_ML_seed1", "SS1_ML_seed2"}) {
        EXPECT_TRUE(endsWith(dir.read(std::string(name) + ".log"), noFit)) << name;
        EXPECT_FALSE(dir.exists(name));
        EXPECT_FALSE(dir.exists(std::string(name) + ".json"));
    }
}

TEST(FailedFit, CompareNamesAPenaltyResultAndRanksOnlyTheFits) {
    ScratchDir dir;
    dir.write("SS1_ML_", "1.2 0.8 0.3 15 11518.585\n");
    dir.write("SS2_ML_", "1.05 0.95 0.95 1.05 0.3 15 50 1707.1568\n");
    // What a fit that never left the penalty region used to write.
    dir.write("C_1_ML_", "0 0 0 0 0 1.7976931e+308\n");
    ProgramResult r = zonetool(dir, "compare --format tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("zonetool compare: warning: C_1_ML_ holds a failed fit (its value, "
                         "1000000, is a penalty, not a -lnL); it is left out\n"),
              std::string::npos)
        << r.err;
    // A header and the two fits, model 2 first; all the weight is theirs.
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 3) << r.out;
    EXPECT_EQ(r.out.find("C_1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n2\tSS_2\t-\tbest\t7\t1707.1568\t3428.3135\t"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\t1.0000\t"), std::string::npos) << r.out;
    r = zonetool(dir, "compare --format json --all");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("C_1"), std::string::npos) << r.out;
    // A directory of failed fits alone holds nothing to compare.
    ScratchDir failed;
    failed.write("C_1_ML_", "0 0 0 0 0 1.7976931e+308\n");
    r = zonetool(failed, "compare");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(endsWith(r.err, "zonetool compare: no usable fit in .\n")) << r.err;
}

TEST(FailedFit, PlotDrawsTheDataOnlyForAPenaltyResult) {
    ScratchDir dir;
    // Simulated, but the run never settles: the value is the penalty of that.
    dir.write("SS1_ML_", "1.000001 1 0.5 0.05 100000\n");
    const ProgramResult r = zonetool(dir, "plot 1 -o fit.svg");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(endsWith(r.err, "zonetool plot: warning: SS1_ML_ holds a failed fit (its value, "
                                "100000, is a penalty, not a -lnL); the figure shows the data "
                                "only\n"))
        << r.err;
    const std::string svg = dir.read("fit.svg");
    EXPECT_EQ(svg.find("<polyline"), std::string::npos);
    EXPECT_NE(svg.find("no prediction (penalty)"), std::string::npos);
}
