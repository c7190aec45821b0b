// --data and --box: reading the options, the data in force on every thread, and the commands
// run end to end on a transect file.
#include "support/quick_fit.h"
#include "support/run_in_process.h"
#include "support/run_program.h"
#include "tools/analysis/compare.h"
#include "tools/formats/data_option.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <thread>

namespace {

const std::string example = std::string(ZONEFIT_SOURCE_DIR) + "/examples/transect.tsv";

// Three sites 0, 100 and 426.644 (half the built-in largest position), 3 + 4 + 5 individuals.
const char* const threeSites = "# three sites\n"
                               "site position distance SS SI II\n"
                               "a 0 100 1 1 1\n"
                               "b 100 326.644 0 4 0\n"
                               "c 426.644 NA 0 0 5\n";

std::string usage(const std::string& command, const std::string& problem) {
    return "zonetool " + command + ": " + problem + "\nRun 'zonetool " + command +
           " --help' for usage.\n";
}

} // namespace

TEST(DataOptions, TakesItsOptionsOutAndLeavesTheRestInOrder) {
    DataContext data;
    std::vector<std::string> rest;
    EXPECT_EQ(readDataOptions("eval", {"1", "--box", "F=0:0.5", "2", "--data=" + example, "3"},
                              rest, data, std::cerr),
              -1);
    EXPECT_EQ(rest, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(data.path, example);
    EXPECT_EQ(data.checksum.rfind("fnv1a64:", 0), 0u);
    EXPECT_EQ(data.checksum.size(), 8u + 16u);
    EXPECT_EQ(data.transect.siteCount(), 105);
    EXPECT_TRUE(data.customBoxes);
    EXPECT_EQ(boxText(data.boxes.boxes()[0].parameters[2]), "[0, 0.5]");
    EXPECT_EQ(boxText(data.boxes.boxes()[6].parameters[4]), "(300, 600)");

    // Without either option nothing is installed: the built-in data and boxes stay.
    EXPECT_EQ(readDataOptions("eval", {"1"}, rest, data, std::cerr), -1);
    EXPECT_TRUE(data.path.empty());
    EXPECT_TRUE(data.checksum.empty());
    EXPECT_FALSE(data.customBoxes);
}

TEST(DataOptions, ChecksumIsFnv1a64) {
    // Published test values of the 64-bit FNV-1a hash.
    EXPECT_EQ(fnv1a64(""), "cbf29ce484222325");
    EXPECT_EQ(fnv1a64("a"), "af63dc4c8601ec8c");
    EXPECT_EQ(fnv1a64("foobar"), "85944171f73967e8");
}

TEST(DataOptions, TheContextHoldsTheTransectAndItsBoxes) {
    ScratchDir dir;
    dir.write("three.tsv", threeSites);
    DataContext data;
    std::vector<std::string> rest;
    const DataContext builtIn;
    EXPECT_EQ(sampledIndividuals(builtIn.data()), 751);
    EXPECT_EQ(saturatedParameters(builtIn.data()), 210);
    EXPECT_EQ(boxText(builtIn.box(7).parameters[4]), "(300, 600)");
    ASSERT_EQ(readDataOptions("compare", {"--data", dir.file("three.tsv")}, rest, data, std::cerr),
              -1);
    EXPECT_EQ(sampledIndividuals(data.data()), 12);
    EXPECT_EQ(saturatedParameters(data.data()), 6);
    // Site a: 3 x ln 3; sites b and c hold one genotype each.
    EXPECT_NEAR(saturatedNegLogLikelihood(data.data()), 3.0 * std::log(3.0), 1e-12);
    EXPECT_EQ(boxText(data.box(7).parameters[4]), "(150, 300)");
    // The model context made from it reads the same transect and boxes.
    const ModelContext models = data.models();
    EXPECT_EQ(&models.data(), &data.transect);
    EXPECT_EQ(&models.box(7), &data.box(7));
    EXPECT_EQ(builtIn.models().transect, nullptr);
    EXPECT_EQ(builtIn.models().boxes, nullptr);
}

TEST(DataOptionsEndToEnd, BadArgumentsEndWithStatus2BeforeAnyFileIsRead) {
    ScratchDir dir;
    const struct {
        const char* arguments;
        const char* problem;
    } cases[] = {
        {"--box sigma=1", "--box needs NAME=LO:HI, not 'sigma=1'"},
        {"--box =1:2", "--box needs NAME=LO:HI, not '=1:2'"},
        {"--box sigma=a:2", "--box needs NAME=LO:HI with two numbers, not 'sigma=a:2'"},
        {"--box sigma=nan:2", "--box needs NAME=LO:HI with two numbers, not 'sigma=nan:2'"},
        {"--box sigma=3:2", "--box sigma=3:2: the lower bound is above the upper one"},
        {"--box width=1:2", "--box: no model has a parameter 'width' ('zonetool models' lists "
                            "them)"},
        {"--box", "--box needs NAME=LO:HI"},
        {"--data", "--data needs a file name"},
        {"--data a --data b", "--data is given twice"},
        {"--data missing.tsv --box sigma=1", "--box needs NAME=LO:HI, not 'sigma=1'"},
    };
    for (const auto& c : cases) {
        const ProgramResult r =
            runInProcess(dir.path(), std::string("eval 1 1 1 0.3 15 ") + c.arguments);
        EXPECT_EQ(r.status, 2) << c.arguments;
        EXPECT_EQ(r.out, "") << c.arguments;
        EXPECT_EQ(r.err, usage("eval", c.problem)) << c.arguments;
    }
}

TEST(DataOptionsEndToEnd, BadDataFilesEndWithStatus1NamingFileAndLine) {
    ScratchDir dir;
    dir.write("negative.tsv", "site position distance SS SI II\n"
                              "a 0 1 1 1 1\n"
                              "b 1 1 -1 1 1\n"
                              "c 2 NA 1 1 1\n");
    dir.write("flat.tsv", "site position distance SS SI II\n"
                          "a 0 1 1 1 1\nb 0 1 1 1 1\nc -3 NA 1 1 1\n");
    dir.write("startvec1.txt", "1.2 0.8 0.3 15\n0 0 0.05 2\n");
    const struct {
        const char* arguments;
        const char* message;
    } cases[] = {
        {"eval 1 1 1 0.3 15 --data missing.tsv", "Error in missing.tsv: cannot open the file\n"},
        {"eval 1 1 1 0.3 15 --data .", "Error in .: cannot read the file\n"},
        {"models --data negative.tsv", "Error in negative.tsv line 3: SS count '-1' is negative\n"},
        {"fit 1 --seed 1 --data negative.tsv",
         "Error in negative.tsv line 3: SS count '-1' is negative\n"},
        {"fit 1 --seeds 1,2 --data flat.tsv",
         "Error in flat.tsv: no site lies beyond position 0\n"},
        {"compare --data missing.tsv", "Error in missing.tsv: cannot open the file\n"},
        {"profile 1 --data missing.tsv", "Error in missing.tsv: cannot open the file\n"},
        {"plot 1 -o f.svg --data missing.tsv", "Error in missing.tsv: cannot open the file\n"},
        {"simulate 1 1 1 0.3 15 --seed 1 -o s.tsv --data missing.tsv",
         "Error in missing.tsv: cannot open the file\n"},
    };
    for (const auto& c : cases) {
        const ProgramResult r = runInProcess(dir.path(), c.arguments);
        EXPECT_EQ(r.status, 1) << c.arguments;
        EXPECT_EQ(r.out, "") << c.arguments;
        EXPECT_EQ(r.err, c.message) << c.arguments;
    }
    // Nothing was fitted or written.
    EXPECT_FALSE(dir.exists("SS1_ML_"));
    EXPECT_FALSE(dir.exists("SS1_ML_seed1.log"));
    EXPECT_FALSE(dir.exists("f.svg"));
    EXPECT_FALSE(dir.exists("s.tsv"));
}

TEST(DataOptionsEndToEnd, BordersAreCheckedAgainstTheSitesOfTheTransectInUse) {
    ScratchDir dir;
    dir.write("three.tsv", threeSites);
    dir.write("borders.txt", "1\n4\n");
    const std::string point = " 1 1 1 1 1 1 0.3 15";
    ProgramResult r = runInProcess(dir.path(), "eval 3" + point + " --data three.tsv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error in borders.txt: border 2 is 4, outside 0 to 3\n");
    dir.write("startvec3.txt", "1 1 1 1 1 1 0.3 15\n0.1 0.1 0.1 0.1 0.1 0.1 0.1 1\n");
    dir.write("startvec4.txt", "1 1 1 1 1 1 15\n0.1 0.1 0.1 0.1 0.1 0.1 1\n");
    r = runInProcess(dir.path(), "fit 3,4 --data three.tsv --quiet");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error in borders.txt: border 2 is 4, outside 0 to 3\n");

    dir.write("borders.txt", "1\n3\n");
    r = runInProcess(dir.path(), "eval 3" + point + " --data three.tsv");
    EXPECT_EQ(r.status, 0) << r.err;
    // The built-in transect still takes borders up to 105.
    dir.write("borders.txt", "25\n105\n");
    r = runInProcess(dir.path(), "eval 3" + point);
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST(DataOptionsEndToEnd, ModelsPrintsTheBoxesInForce) {
    ScratchDir dir;
    dir.write("three.tsv", threeSites);
    const ProgramResult builtIn = runInProcess(dir.path(), "models");
    const ProgramResult fromExample =
        runInProcess(dir.path(), "models --data " + shellQuote(example));
    EXPECT_EQ(fromExample.out, builtIn.out);

    const ProgramResult r = runInProcess(dir.path(), "models --data three.tsv --box F=0:0.5");
    EXPECT_EQ(r.status, 0) << r.err;
    // Half as long: the kernel models' lengths halve; 3 demes of 105 for the border of SS_2.
    EXPECT_NE(r.out.find("x3  sigma    [0.25, 10]  "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("x4  contact  (150, 300)  explore 150 to 300  "), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("x3  sigma    [0.25, 10]  explore 0.25 to 10, log scale  "),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("x8  border1  [103, 170]  "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("x6  border  (0.857143, 2.28571)  "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("x2  F      [0, 0.5]  "), std::string::npos) << r.out;
}

TEST(DataOptionsEndToEnd, EvalOnTheExampleFileEqualsTheBuiltInData) {
    ScratchDir dir;
    for (const char* point : {"1 1.2 0.8 0.3 15", "8 1.05 0.95 0.95 1.05 0.3 10 450"}) {
        const std::string args = std::string("eval ") + point;
        const ProgramResult builtIn = runInProcess(dir.path(), args + " --sites a.tsv");
        const ProgramResult fromFile =
            runInProcess(dir.path(), args + " --sites b.tsv --data " + shellQuote(example));
        EXPECT_EQ(builtIn.status, 0);
        EXPECT_EQ(fromFile.status, 0);
        EXPECT_EQ(fromFile.out, builtIn.out);
        EXPECT_EQ(fromFile.err, builtIn.err);
        EXPECT_EQ(dir.read("b.tsv"), dir.read("a.tsv"));
    }
    // A box set by hand prices the point as the built-in box would: (15 + 1) units.
    const ProgramResult r = runInProcess(dir.path(), "eval 1 1.2 0.8 0.3 15 --box sigma=0:10");
    EXPECT_EQ(r.out, "1600000\n");
    EXPECT_EQ(r.err, "generations: 0 (no simulation)\n");
}

TEST(DataOptionsEndToEnd, ASeededFitOnTheExampleFileEqualsTheBuiltInOne) {
    ScratchDir builtIn;
    ScratchDir fromFile;
    for (const ScratchDir* dir : {&builtIn, &fromFile}) {
        dir->write("start.txt", "1.2 0.8 0.3 15\n0 0 0.05 2\n");
    }
    const std::string fit = "fit 1 --seed 1 --start start.txt --quiet";
    const ProgramResult a = runInProcess(builtIn.path(), fit);
    const ProgramResult b = runInProcess(fromFile.path(), fit + " --data " + shellQuote(example));
    EXPECT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(b.status, 0) << b.err;
    EXPECT_EQ(b.out, a.out);
    EXPECT_EQ(fromFile.read("SS1_ML_"), builtIn.read("SS1_ML_"));

    // The record names the transect; compare ranks a fit only with the transect it was made on.
    const std::string record = fromFile.read("SS1_ML_.json");
    EXPECT_NE(record.find("\n  \"data\": \"" + example + "\",\n"), std::string::npos) << record;
    EXPECT_NE(record.find("\n  \"data_checksum\": \"fnv1a64:"), std::string::npos) << record;
    EXPECT_NE(builtIn.read("SS1_ML_.json").find("\n  \"data\": null,\n"), std::string::npos);
    ProgramResult r = runInProcess(fromFile.path(), "compare --format tsv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::string checksum = record.substr(record.find("fnv1a64:"), 24);
    EXPECT_EQ(r.err, "zonetool compare: SS1_ML_ is a fit of " + example + " (" + checksum +
                         "), not of the built-in transect; fits of different transects are not "
                         "ranked together (give the fit's --data)\n");
    r = runInProcess(fromFile.path(), "compare --format tsv --data " + shellQuote(example));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\tSS1_ML_\n"), std::string::npos) << r.out;
    r = runInProcess(builtIn.path(), "compare --data " + shellQuote(example));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("zonetool compare: SS1_ML_ is a fit of the built-in transect, not of " +
                              example + " (fnv1a64:",
                          0),
              0u)
        << r.err;
}

TEST(DataOptionsEndToEnd, EveryWorkerOfSeveralFitsUsesTheBoxesGiven) {
    ScratchDir dir;
    dir.write("big.tsv", bigSampleTransect);
    // F may move, and on these three sites it does; --box holds it at 0.5 on both workers.
    dir.write("startvec1.txt", "1 1 0.5 15\n0 0 0.1 0\n");
    ProgramResult r = runInProcess(
        dir.path(), "fit 1 --seeds 1,2 --jobs 2 --quiet --data big.tsv --box F=0.5:0.5");
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* name : {"SS1_ML_seed1", "SS1_ML_seed2"}) {
        EXPECT_EQ(dir.read(name), "1 1 0.5 15 29662.532\n") << name;
    }
    // A start outside the box set is refused before any fit, and nothing is written.
    ScratchDir outside;
    outside.write("startvec1.txt", "1.2 0.8 0.3 15\n0 0 0.05 2\n");
    r = runInProcess(outside.path(), "fit 1 --seeds 1,2 --jobs 2 --box wSS=5000:6000");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zonetool fit: startvec1.txt: wSS = 1.2 lies outside its box [5000, 6000] "
                     "set by --box; run 'zonetool explore 1' (or 'zonetool start 1') for a start "
                     "inside it, or give --start FILE\n");
    EXPECT_FALSE(outside.exists("SS1_ML_seed1.log"));
    EXPECT_FALSE(outside.exists("SS1_ML_seed1"));
}
