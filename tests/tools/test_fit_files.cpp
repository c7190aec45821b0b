// Reading fits back: the record when it agrees, the result file checked against its model
// otherwise, and files of the wrong shape or model refused.
#include "tools/analysis/fit_files.h"

#include "support/run_in_process.h"
#include "support/run_program.h"
#include "support/work_dir.h"

#include <gtest/gtest.h>

#include "tools/formats/data_option.h"

#include <fstream>

namespace {

// A line of model 1 on a knife edge: the 8-digit point falls into another equilibrium.
const char* const knifeEdge = "1.0027124 1.0016635 0.46893661 7.042975 1157.6058\n";
const char* const knifeEdgeWarning =
    "warning: SS1_ML_ gives 1157.6058, but its point evaluates to 4613.0837066057775; the "
    "value at the point is used";

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

// A record of model 1 at `point` with `value`, as a fit would leave it.
std::string recordText(const std::vector<double>& point, double value, int model = 1) {
    FitRecord record =
        newFitRecord(*findModel(model), point, std::vector<double>(point.size(), 0.1));
    record.point = point;
    record.value = value;
    record.seed = 5;
    return fitRecordJson(record);
}

using LoadFit = InScratchWorkDir;

} // namespace

TEST(ResultRounding, EightSignificantDigits) {
    EXPECT_EQ(roundedToResultDigits(1157.60581234), 1157.6058);
    EXPECT_EQ(roundedToResultDigits(4613.0837066057775), 4613.0837);
    EXPECT_EQ(roundedToResultDigits(0.46893661449), 0.46893661);
    EXPECT_EQ(roundedToResultDigits(1.7976931348623157e308), 1.7976931e308);
}

TEST_F(LoadFit, PointWithoutRecordIsEvaluatedAndAWrongValueNamed) {
    writeFile("SS1_ML_", knifeEdge);
    LoadedFit fit;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(loadFit(DataContext{}, "SS1_ML_", *findModel(1), false, fit, error, warnings))
        << error;
    EXPECT_TRUE(fit.evaluated);
    EXPECT_EQ(fit.fileValue, 1157.6058);
    EXPECT_EQ(fit.result.value, 4613.0837066057775);
    EXPECT_EQ(fit.result.point, (std::vector<double>{1.0027124, 1.0016635, 0.46893661, 7.042975}));
    EXPECT_EQ(warnings, std::vector<std::string>{knifeEdgeWarning});
    EXPECT_FALSE(fit.record.has_value());

    // A value that its point reproduces to 8 digits passes without a word.
    writeFile("SS1_ML_", "1.0027124 1.0016635 0.46893661 7.042975 4613.0837\n");
    warnings.clear();
    ASSERT_TRUE(loadFit(DataContext{}, "SS1_ML_", *findModel(1), true, fit, error, warnings))
        << error;
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(fit.predictions.size(), 105u);
    EXPECT_GT(fit.generations, 0);
}

TEST_F(LoadFit, AgreeingRecordGivesTheFullPrecisionPointWithoutEvaluating) {
    const std::vector<double> point = {1.00271238, 1.00166351, 0.468936608, 7.0429750004};
    writeFile("SS1_ML_", knifeEdge);
    writeFile("SS1_ML_.json", recordText(point, 1157.60581));
    LoadedFit fit;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(loadFit(DataContext{}, "SS1_ML_", *findModel(1), false, fit, error, warnings))
        << error;
    EXPECT_FALSE(fit.evaluated);
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(fit.result.point, point);
    EXPECT_EQ(fit.result.value, 1157.60581);
    EXPECT_EQ(fit.result.seed, std::optional<std::uint64_t>(5));
    // Steps of 0.1: every coordinate free.
    EXPECT_EQ(fit.result.free, std::vector<bool>(4, true));

    // A record that no longer matches its result file (zonefit wrote over it) is ignored, and
    // the file's point is checked instead.
    writeFile("SS1_ML_.json", recordText({1, 1, 0.5, 7}, 1157.6058));
    ASSERT_TRUE(loadFit(DataContext{}, "SS1_ML_", *findModel(1), false, fit, error, warnings))
        << error;
    EXPECT_TRUE(fit.evaluated);
    EXPECT_EQ(warnings, (std::vector<std::string>{"warning: SS1_ML_.json does not match SS1_ML_ "
                                                  "(the record of another fit?); it is ignored",
                                                  knifeEdgeWarning}));
}

TEST_F(LoadFit, RefusesFilesOfTheWrongShapeOrModel) {
    LoadedFit fit;
    std::string error;
    std::vector<std::string> warnings;
    // A line of model 8 (seven parameters) copied into model 1's file.
    writeFile("SS1_ML_", "1 1 1 1 0.5 10 400 452.40557\n");
    EXPECT_FALSE(loadFit(DataContext{}, "SS1_ML_", *findModel(1), false, fit, error, warnings));
    EXPECT_EQ(error, "SS1_ML_: holds 8 numbers; model 1 (SS_1) needs 4 coordinates and the value");
    writeFile("C_1_ML_", "1 1 0.5 10 450 497 3\n");
    EXPECT_FALSE(loadFit(DataContext{}, "C_1_ML_", *findModel(7), false, fit, error, warnings));
    EXPECT_EQ(error, "C_1_ML_: holds 7 numbers; model 7 (C_1) needs 5 coordinates and the value");
    // A record of another model beside the file.
    writeFile("SS1_ML_", knifeEdge);
    writeFile("SS1_ML_.json", recordText({1, 1, 1, 1, 0.5, 10, 400}, 452.40557, 8));
    EXPECT_FALSE(loadFit(DataContext{}, "SS1_ML_", *findModel(1), false, fit, error, warnings));
    EXPECT_EQ(error, "SS1_ML_.json: the record is of model 8 (C_2), but SS1_ML_ is read as a "
                     "result of model 1 (SS_1)");
    writeFile("SS1_ML_.json", "{\"format\": \"zonefit-fit-record\", \"version\": 1}");
    EXPECT_FALSE(loadFit(DataContext{}, "SS1_ML_", *findModel(1), false, fit, error, warnings));
    EXPECT_EQ(error, "SS1_ML_.json: member \"model\" is missing");
    EXPECT_FALSE(loadFit(DataContext{}, "missing", *findModel(1), false, fit, error, warnings));
    EXPECT_EQ(error, "missing: cannot open: No such file or directory");
    EXPECT_TRUE(warnings.empty());
}

TEST_F(LoadFit, FindsResultFilesBelowDirectoriesWhenAsked) {
    ASSERT_EQ(system("mkdir -p a/deep b && touch a/SS1_ML_ a/SS1_ML_.json a/SS1_ML_.log "
                     "a/deep/C_1_ML_seed2 b/SS2_ML_ b/notes.txt"),
              0);
    std::vector<FoundResult> found;
    std::vector<std::string> problems;
    ASSERT_TRUE(findResultFiles({"b", "a/"}, false, found, problems));
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].path, "b/SS2_ML_");
    EXPECT_EQ(found[1].path, "a/SS1_ML_");
    ASSERT_TRUE(findResultFiles({"a"}, true, found, problems));
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[1].path, "a/deep/C_1_ML_seed2");
    EXPECT_EQ(found[1].model, 7);
    EXPECT_EQ(found[1].seed, std::optional<std::uint64_t>(2));
    EXPECT_TRUE(problems.empty());
    EXPECT_FALSE(findResultFiles({"a", "nowhere"}, true, found, problems));
    EXPECT_EQ(problems, std::vector<std::string>{"nowhere: cannot read the directory: No such "
                                                 "file or directory"});
}

TEST(CheckedCommands, KnifeEdgeLineIsWarnedAboutAndShownWithItsRealValue) {
    ScratchDir dir;
    dir.write("SS1_ML_", knifeEdge);
    ProgramResult r = runInProcess(dir.path(), "plot 1 -o fit.svg");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("zonetool plot: ") + knifeEdgeWarning + "\n");
    const std::string svg = dir.read("fit.svg");
    EXPECT_NE(svg.find("<title>Model 1 (SS_1): \xE2\x88\x92ln L = 4613.0837</title>"),
              std::string::npos);
    EXPECT_EQ(svg.find("1157.6058"), std::string::npos);

    r = runInProcess(dir.path(), "compare --format tsv");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, std::string("zonetool compare: ") + knifeEdgeWarning +
                         "\nzonetool compare: warning: the best value of model 1 (SS_1) was "
                         "reached from only one start; another start may find a better optimum "
                         "(see zonetool explore)\n");
    EXPECT_NE(r.out.find("\n1\tSS_1\t-\tbest\t4\t4613.0837\t9234.1674\t"), std::string::npos)
        << r.out;
}

TEST(CheckedCommands, ForeignFileIsRefusedByEveryCommand) {
    ScratchDir dir;
    dir.write("SS1_ML_", "1 1 1 1 0.5 10 400 452.40557\n");
    const std::string reason =
        "SS1_ML_: holds 8 numbers; model 1 (SS_1) needs 4 coordinates and the value\n";
    ProgramResult r = runInProcess(dir.path(), "plot 1 -o fit.svg");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool plot: " + reason);
    EXPECT_FALSE(dir.exists("fit.svg"));
    r = runInProcess(dir.path(), "profile 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool profile: " + reason);
    EXPECT_EQ(r.out, "");
    r = runInProcess(dir.path(), "compare");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool compare: skipped " + reason +
                         "zonetool compare: no result files "
                         "in .\n");
    r = runInProcess(dir.path(), "summary");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool summary: skipped " + reason +
                         "zonetool summary: no result files "
                         "in .\n");
}
