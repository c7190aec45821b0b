// Starts checked against the boxes in force before any work, end to end on a transect of the
// user's own: the shipped start vectors, start files given by name, explore's starts and the
// fitted points a profile starts from.
#include "support/run_in_process.h"
#include "support/run_program.h"
#include "support/short_transect.h"
#include "tools/analysis/optima_map.h"
#include "tools/formats/json_io.h"
#include "tools/formats/results.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

ProgramResult zonetool(const ScratchDir& dir, const std::string& arguments) {
    return runInProcess(dir.path(), arguments);
}

// The shipped start vectors, borders for 21 sites and the transect as mine.tsv.
void writeShippedInputs(const ScratchDir& dir) {
    for (int n = 1; n <= 10; n++) {
        const std::string name = "startvec" + std::to_string(n) + ".txt";
        const ProgramResult copied = runProgram(
            dir.path(), "/bin/cp",
            shellQuote(std::string(ZONEFIT_SOURCE_DIR) + "/examples/" + name) + " " + name);
        ASSERT_EQ(copied.status, 0) << copied.err;
    }
    dir.write("borders.txt", "5\n15\n");
    dir.write("mine.tsv", shortTransect);
}

// The names in the directory, "." and ".." left out.
std::vector<std::string> namesIn(const ScratchDir& dir) {
    std::vector<std::string> names;
    std::vector<std::string> problems;
    directoryNames(dir.path(), names, problems);
    names.erase(names.begin(), names.begin() + 2);
    return names;
}

// The refusal of startvecN.txt, whose first parameter outside is `outside`.
std::string refusal(const std::string& command, int model, const std::string& outside) {
    const std::string n = std::to_string(model);
    return "zonetool " + command + ": startvec" + n + ".txt: " + outside +
           " for this transect; run 'zonetool explore " + n + "' (or 'zonetool start " + n +
           "') for a start inside it, or give --start FILE\n";
}

// What the shipped start vectors of models 2, 7, 8, 9 and 10 leave on 21 sites over 213.322
// units: SS_2's sigma box is [0.5, 50] x 0.15003 and its border (30, 80) / 5; the kernel
// models' lengths are a quarter of the built-in ones.
const std::pair<int, const char*> refused[] = {
    {2, "sigma = 15 lies outside its box [0.075015, 7.5015]"},
    {7, "sigma = 10 lies outside its box [0.125, 5]"},
    {8, "contact = 450 lies outside its box (50, 150)"},
    {9, "border1 = 250 lies outside its box [51.5, 85]"},
    {10, "border1 = 250 lies outside its box [51.5, 85]"},
};

} // namespace

TEST(StartBoxCheck, ShippedStartVectorsLeavingTheScaledBoxesAreRefusedAndNothingIsWritten) {
    ScratchDir dir;
    writeShippedInputs(dir);
    const std::vector<std::string> inputs = namesIn(dir);
    for (const auto& [model, outside] : refused) {
        const ProgramResult r = zonetool(dir, "fit " + std::to_string(model) +
                                                  " --seed 1 --data mine.tsv --trace t.tsv");
        EXPECT_EQ(r.status, 1) << model;
        EXPECT_EQ(r.out, "") << model;
        EXPECT_EQ(r.err, refusal("fit", model, outside));
    }
    // Several fits: every start outside is named, in model order, before any fit starts.
    ProgramResult r = zonetool(dir, "fit 1-10 --seeds 1-2 --jobs 2 --checkpoints --data mine.tsv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    std::string all;
    for (const auto& [model, outside] : refused) {
        all += refusal("fit", model, outside);
    }
    EXPECT_EQ(r.err, all);
    // A Slurm script is planned from the same checks.
    r = zonetool(dir, "slurm 1-10 --data mine.tsv -o fits.sh");
    EXPECT_EQ(r.status, 1);
    std::string slurm;
    for (const auto& [model, outside] : refused) {
        slurm += refusal("slurm", model, outside);
    }
    EXPECT_EQ(r.err, slurm + "zonetool slurm: nothing written\n");
    EXPECT_EQ(namesIn(dir), inputs);
    // The other models' shipped starts lie inside, and on the built-in transect all do.
    EXPECT_EQ(zonetool(dir, "slurm 1,3-6 --data mine.tsv").status, 0);
    EXPECT_EQ(zonetool(dir, "slurm 1-10").status, 0);
}

TEST(StartBoxCheck, StartFilesGivenByNameAndBoxesSetByHandAreNamed) {
    ScratchDir dir;
    writeShippedInputs(dir);
    dir.write("mine7.txt", "1 1 0.5 2 200\n0.1 0.1 0.1 0.1 10\n");
    // --start: the advice leaves out the option already given.
    ProgramResult r = zonetool(dir, "fit 7 --start mine7.txt --data mine.tsv --checkpoint c.ckpt");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool fit: mine7.txt: contact = 200 lies outside its box (75, 150) for "
                     "this transect; run 'zonetool explore 7' (or 'zonetool start 7') for a "
                     "start inside it\n");
    EXPECT_FALSE(dir.exists("c.ckpt"));
    EXPECT_FALSE(dir.exists("C_1_ML_.log"));
    // A box set by hand on the built-in transect; the value is as precise as it takes to
    // differ from the bound.
    dir.write("edge1.txt", "1 1 0.5 20.000000000000004\n0 0 0 0\n");
    r = zonetool(dir, "fit 1 --start edge1.txt --box sigma=1:20");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool fit: edge1.txt: sigma = 20.000000000000004 lies outside its box "
                     "(1, 20] set by --box; run 'zonetool explore 1' (or 'zonetool start 1') for "
                     "a start inside it\n");
    EXPECT_FALSE(dir.exists("SS1_ML_"));
    EXPECT_FALSE(dir.exists("SS1_ML_.json"));
}

TEST(StartBoxCheck, ExploreDrawsEveryStartInsideTheBoxAndSkipsAStartFileOutside) {
    ScratchDir dir;
    writeShippedInputs(dir);
    // zonefit's values: every start is simulated, whatever state its row ends in.
    const ProgramResult r =
        zonetool(dir, "explore 7 --starts 4 --budget 20 --data mine.tsv --objective zonefit");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "zonetool explore: startvec7.txt: sigma = 10 lies outside its box [0.125, "
                     "5] for this transect; it is not searched (the design starts are)\n");
    Json record;
    std::string error;
    ASSERT_TRUE(readJsonFile(dir.file("C_1_ML_.explore.json"), "record", record, error)) << error;
    const Json* starts = jsonMember(record, "starts");
    ASSERT_NE(starts, nullptr);
    ASSERT_EQ(starts->size(), 4u);
    std::size_t index = 0;
    for (const Json& o : *starts) {
        // The start derived from mine.tsv first, in place of the first design start.
        const std::string label = jsonTextOr(jsonMember(o, "label"));
        EXPECT_EQ(label.rfind(index++ == 0 ? "derived start" : "search ", 0), 0u) << label;
        std::vector<double> start;
        ASSERT_TRUE(jsonNumbers(jsonMember(o, "start"), start));
        ASSERT_EQ(start.size(), 5u);
        EXPECT_TRUE(start[3] >= 0.125 && start[3] <= 5.0) << start[3];
        EXPECT_TRUE(start[4] > 75.0 && start[4] < 150.0) << start[4];
        // Simulated from the start on: a -lnL, never the penalty of 1e6.
        EXPECT_LT(jsonNumberOr(jsonMember(o, "value"), 1e300), 1e5) << label;
    }
    ExploreMap map;
    ASSERT_TRUE(readExploreRecord(dir.file("C_1_ML_.explore.json"), map, error)) << error;
    // A region is checked against the scaled box too.
    const ProgramResult region =
        zonetool(dir, "explore 7 --region contact=300:600 --data mine.tsv --redo");
    EXPECT_EQ(region.status, 2);
    EXPECT_EQ(region.err, "zonetool explore: --region contact: 300:600 leaves the box (75, 150)\n"
                          "Run 'zonetool explore --help' for usage.\n");
    // The regions recorded are the scaled ones.
    EXPECT_EQ(map.regions[4].low, std::nextafter(75.0, 100.0));
    EXPECT_EQ(map.regions[4].high, std::nextafter(150.0, 100.0));
    EXPECT_EQ(map.regions[3].high, 5.0);
}

TEST(StartBoxCheck, AProfileStartsOnlyFromAPointInsideTheBoxes) {
    ScratchDir dir;
    writeShippedInputs(dir);
    // A fit of the built-in transect, profiled on mine.tsv.
    dir.write("C_1_ML_", "1.05 1.05 0.3 10 450 1234\n");
    const std::string message = "C_1_ML_: sigma = 10 lies outside its box [0.125, 5] for this "
                                "transect; profile a fit of model 7 made with the same --data and "
                                "--box\n";
    ProgramResult r = zonetool(dir, "profile 7 --data mine.tsv --curve c.tsv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zonetool profile: warning: C_1_ML_ gives 1234, but its point evaluates to "
                     "11000000; the value at the point is used\n"
                     "zonetool profile: " +
                         message);
    EXPECT_FALSE(dir.exists("c.tsv"));
    r = zonetool(dir, "slurm --profile 7 --data mine.tsv -o p.sh");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool slurm: " + message + "zonetool slurm: nothing written\n");
    EXPECT_FALSE(dir.exists("p.sh"));
}
