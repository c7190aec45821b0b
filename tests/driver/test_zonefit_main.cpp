// End-to-end runs of the zonefit program in a scratch directory.
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

const char* const usageText = "Where's your startvec file?\n"
                              "Remember to specify the Model Number in args\n"
                              "SS_1 = 1\n"
                              "SS_2 = 2\n"
                              "SS_3 = 3, needs borders.txt\n"
                              "SS_3_F0 = 4, needs borders.txt\n"
                              "SS_3_FR = 5, needs borders.txt\n"
                              "SS_3_FG = 6, needs borders.txt\n"
                              "C_1 = 7\n"
                              "C_2 = 8\n"
                              "C_3 = 9\n"
                              "C_3_F0 = 10\n";
const char* const emptyText = "Empty input file. No chains to be run? Exiting (1)\n";
const char* const deltasText =
    "Forgot to include the deltas in the second row of input file. Exiting (1)\n";

ProgramResult zonefit(const ScratchDir& dir, const std::string& arguments) {
    return runProgram(dir.path(), ZONEFIT_BIN, arguments);
}

// An SS_1 start vector outside the box (sigma 150) with zero steps: every vertex has the same
// penalty, so each annealer converges at once and the whole schedule takes milliseconds.
const char* const penaltyStart = "1 1 0.5 150\n0 0 0 0\n";

} // namespace

TEST(ZonefitUsage, MissingArgumentOrFileGivesUsageText) {
    ScratchDir dir;
    for (const char* arguments : {"", "1", "11"}) {
        const ProgramResult r = zonefit(dir, arguments);
        EXPECT_EQ(r.status, 1) << arguments;
        EXPECT_EQ(r.err, usageText) << arguments;
        EXPECT_EQ(r.out, "") << arguments;
    }
}

TEST(ZonefitStartFile, EmptyFile) {
    ScratchDir dir;
    dir.write("startvec1.txt", "");
    const ProgramResult r = zonefit(dir, "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, emptyText);
    EXPECT_EQ(r.out, "");
}

TEST(ZonefitStartFile, MissingOrShortDeltaRows) {
    ScratchDir dir;
    for (const char* content : {"1 1 0.5 10\n", "1 1 0.5 10", "1 1 0.5 10\n\n",
                                "1 1 0.5 10\n0.1 0.1 0.1\n", "1 1 0.5 10\r\n0.1 x 0.1 0.1\r\n"}) {
        dir.write("startvec1.txt", content);
        const ProgramResult r = zonefit(dir, "1");
        EXPECT_EQ(r.status, 1) << content;
        EXPECT_EQ(r.err, deltasText) << content;
        EXPECT_EQ(r.out, "") << content;
    }
}

TEST(ZonefitModelNumber, OutsideOneToTenWithAGoodFile) {
    ScratchDir dir;
    for (const char* argument : {"11", "0", "-1", "x"}) {
        dir.write(std::string("startvec") + argument + ".txt", penaltyStart);
        const ProgramResult r = zonefit(dir, argument);
        EXPECT_EQ(r.status, 1) << argument;
        EXPECT_EQ(r.out, "No model specified. Exiting(1)") << argument;
        EXPECT_EQ(r.err, "") << argument;
    }
}

TEST(ZonefitModelNumber, LeadingZeroNamesTheFileAndReadsOctal) {
    ScratchDir dir;
    // One value: too short for either model, so the message names the model that was chosen.
    dir.write("startvec07.txt", "1\n1\n");
    ProgramResult r = zonefit(dir, "07");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Model 7 (C_1) reads 5 parameters, but the start vector holds 1 value. "
                     "Exiting (1)\n");
    dir.write("startvec010.txt", "1 2\n1 2\n");
    r = zonefit(dir, "010");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Model 8 (C_2) reads 7 parameters, but the start vector holds 2 values. "
                     "Exiting (1)\n");
}

TEST(ZonefitStartFile, ShortOrEmptyStartVectorIsRefusedBeforeAnythingIsWritten) {
    ScratchDir dir;
    dir.write("SS1_ML_", "previous result\n");
    dir.write("startvec1.txt", "word 1 2\n1 2 3\n");
    ProgramResult r = zonefit(dir, "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Model 1 (SS_1) reads 4 parameters, but the start vector holds 0 values. "
                     "Exiting (1)\n");
    dir.write("startvec1.txt", "1 1 0.5\n0.1 0.1 0.1\n");
    r = zonefit(dir, "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Model 1 (SS_1) reads 4 parameters, but the start vector holds 3 values. "
                     "Exiting (1)\n");
    EXPECT_EQ(dir.read("SS1_ML_"), "previous result\n");
}

TEST(ZonefitRun, WholeScheduleWritesReportsAndResultFile) {
    ScratchDir dir;
    dir.write("startvec1.txt", penaltyStart);
    dir.write("SS1_ML_", "previous result\n");
    const ProgramResult r = zonefit(dir, "1");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected = "We'll do model 1: SS_1\n";
    for (int i = 0; i < 3; i++) {
        expected += "Temporary Max::\n0 0 0 0 1.79769e+308\n";
    }
    for (int i = 0; i < 5; i++) {
        expected += "Refining has found:\n0 0 0 0 1.79769e+308\n";
    }
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.read("SS1_ML_"), "0 0 0 0 1.7976931e+308\n");
    const ProgramResult listing = runProgram(dir.path(), "/bin/ls", "-A");
    EXPECT_EQ(listing.out, "SS1_ML_\nstartvec1.txt\n");
}

TEST(ZonefitRun, LongerStartVectorWarnsAndFitsAllValues) {
    ScratchDir dir;
    dir.write("startvec1.txt", "1 1 0.5 150 7\n0 0 0 0 0\n");
    const ProgramResult r = zonefit(dir, "1");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Warning: model 1 (SS_1) reads 4 parameters; the start vector holds 5 "
                     "values, and the extra ones are fitted without effect\n");
    EXPECT_EQ(dir.read("SS1_ML_"), "0 0 0 0 0 1.7976931e+308\n");
}

TEST(ZonefitRun, UnwritableResultEndsBeforeTheFit) {
    ScratchDir dir;
    dir.write("startvec1.txt", penaltyStart);
    ASSERT_EQ(mkdir(dir.file("SS1_ML_").c_str(), 0755), 0);
    const ProgramResult r = zonefit(dir, "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "We'll do model 1: SS_1\n");
    EXPECT_EQ(r.err, "Cannot write the result file: SS1_ML_ exists and is not a regular file. "
                     "Exiting (1)\n");
}

TEST(ZonefitStartFile, HugeStartVectorIsRefusedCleanly) {
    ScratchDir dir;
    std::string row;
    for (int i = 0; i < 20000; i++) {
        row += "1 ";
    }
    dir.write("startvec1.txt", row + "\n" + row + "\n");
    const ProgramResult r = zonefit(dir, "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "The start vector holds 20000 values, more than the 11000 a simplex can be "
                     "built for. Exiting (1)\n");
}
