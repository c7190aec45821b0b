// zonetool fit refuses to start, naming every missing input, before the first fit runs.
#include "support/read_only_dir.h"
#include "support/run_in_process.h"
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

ProgramResult zonetool(const ScratchDir& dir, const std::string& arguments) {
    return runInProcess(dir.path(), arguments);
}

const char* const startInBox1 = "1 1 0.5 15\n0 0 0 0\n";

std::string example(const std::string& name) {
    return std::string(ZONEFIT_SOURCE_DIR) + "/examples/" + name;
}

std::string noStartFile(const ScratchDir& dir, int model, const std::string& modelName) {
    const std::string name = "startvec" + std::to_string(model) + ".txt";
    return "zonetool fit: no " + name + " in " + dir.path() + " (model " + std::to_string(model) +
           " (" + modelName + ") reads its start vector and step sizes from it; " + example(name) +
           " is the shipped one)\n";
}

std::string noBorders(const ScratchDir& dir) {
    return "zonetool fit: no borders.txt in " + dir.path() +
           " (models 3 to 6 read their region borders from it; " + example("borders.txt") +
           " is the shipped one)\n";
}

} // namespace

// Model 1's fit would run for hours before model 2's turn shows its start file missing.
TEST(FitInputs, EveryMissingInputIsNamedBeforeAnyFit) {
    ScratchDir dir;
    dir.write("startvec1.txt", startInBox1);
    ProgramResult r = zonetool(dir, "fit 1,2 --seeds 1-2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, noStartFile(dir, 2, "SS_2"));
    EXPECT_FALSE(dir.exists("SS1_ML_seed1.log"));
    EXPECT_FALSE(dir.exists("SS1_ML_seed1"));

    // All at once, in order: start files, then the border file.
    r = zonetool(dir, "fit 4,1,3 --seed 1 --checkpoints");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, noStartFile(dir, 4, "SS_3_F0") + noStartFile(dir, 3, "SS_3") + noBorders(dir));
    EXPECT_FALSE(dir.exists("SS1_ML_.ckpt"));

    // One fit, too; with --start only the border file is missing.
    r = zonetool(dir, "fit 3 --seed 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, noStartFile(dir, 3, "SS_3") + noBorders(dir));
    r = zonetool(dir, "fit 3 --start startvec1.txt --checkpoint c.ckpt");
    EXPECT_EQ(r.err, noBorders(dir));
    EXPECT_FALSE(dir.exists("SS3_ML_.log"));
}

// Faults that would otherwise surface only when the later fit starts.
TEST(FitInputs, BadStartFilesOfSeveralFitsAreRefused) {
    ScratchDir dir;
    dir.write("startvec1.txt", "");
    dir.write("startvec2.txt", "1 1 1 1 0.5 100 50\n");
    dir.write("startvec5.txt", "1 2 3\n0 0 0\n");
    dir.write("borders.txt", "25\n");
    mkdir(dir.file("startvec6.txt").c_str(), 0755);
    const ProgramResult r = zonetool(dir, "fit 1,2,5,6");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zonetool fit: startvec1.txt is empty (model 1 (SS_1) reads its start "
                     "vector from it)\n"
                     "zonetool fit: startvec2.txt has no step sizes in its second row\n"
                     "zonetool fit: startvec5.txt: model 5 (SS_3_FR) reads 10 parameters, the "
                     "start vector holds 3\n"
                     "zonetool fit: cannot read startvec6.txt in " +
                         dir.path() +
                         ": Is a directory\n"
                         "Error in borders.txt: fewer than two lines\n");
}

TEST(FitInputs, DirectoryThatCannotTakeNewFilesIsNamed) {
    ScratchDir dir;
    dir.write("startvec1.txt", startInBox1);
    const std::string message = "zonetool fit: " + dir.path() +
                                " cannot take new files (Permission denied); results, logs and "
                                "records go there\n";
    ProgramResult r = inReadOnlyDir(dir, "fit 1 --seeds 1-2 --quiet");
    if (r.status == 125) {
        GTEST_SKIP() << "cannot run the program as user 65534 here";
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, message);
    r = inReadOnlyDir(dir, "fit 1 --seed 1 --quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, message);
    EXPECT_FALSE(dir.exists("SS1_ML_"));
}

// A result, checkpoint or trace elsewhere needs its own directory to take files.
TEST(FitInputs, EveryDirectoryWrittenIsChecked) {
    ScratchDir dir;
    dir.write("startvec1.txt", startInBox1);
    const ProgramResult r = zonetool(
        dir, "fit 1 --seed 1 --result out/fit --checkpoint ckpt/fit.ckpt --trace ../nodir/t.tsv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool fit: " + dir.path() +
                         "/out cannot take new files (No such file or directory); results, logs "
                         "and records go there\n"
                         "zonetool fit: " +
                         dir.path() +
                         "/ckpt cannot take new files (No such file or directory); results, "
                         "logs and records go there\n"
                         "zonetool fit: " +
                         dir.path() +
                         "/../nodir cannot take new files (No such file or directory); results, "
                         "logs and records go there\n");
}
