// Information criteria and goodness of fit of several fits.
#include "tools/compare.h"

#include "support/run_program.h"

#include <gtest/gtest.h>

namespace {

StoredResult stored(int model, double value, const char* path) {
    StoredResult r;
    r.model = model;
    r.value = value;
    r.path = path;
    return r;
}

// Three fits whose AICs are 1008 (model 1, k = 4), 1004 (model 7, k = 5) and 1005 (model 2,
// k = 7): differences 4, 0 and 1.
std::vector<StoredResult> threeFits() {
    return {stored(1, 500.0, "SS1_ML_"), stored(7, 497.0, "C_1_ML_"), stored(2, 495.5, "SS2_ML_")};
}

} // namespace

TEST(CompareData, SampleSizeAndSaturatedModel) {
    EXPECT_EQ(sampledIndividuals(), 751);
    EXPECT_EQ(saturatedParameters(), 210);
    // Sum over sites and genotypes of -n ln(n / site total), zero counts left out.
    EXPECT_NEAR(saturatedNegLogLikelihood(), 274.0604838542637, 1e-10);
}

TEST(CompareRows, CriteriaWeightsAndGAreSortedByAic) {
    const std::vector<ComparisonRow> rows = compareResults(threeFits());
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].result.model, 7);
    EXPECT_EQ(rows[1].result.model, 2);
    EXPECT_EQ(rows[2].result.model, 1);
    EXPECT_EQ(rows[0].aic, 1004.0);
    EXPECT_EQ(rows[2].aic, 1008.0);
    // AICc = AIC + 2k(k+1)/(751 - k - 1): 60/745 for k = 5.
    EXPECT_NEAR(rows[0].aicc, 1004.0805369127517, 1e-9);
    EXPECT_NEAR(rows[1].aicc, 1005.1507402422611, 1e-9);
    EXPECT_EQ(rows[0].deltaAic, 0.0);
    EXPECT_EQ(rows[1].deltaAic, 1.0);
    EXPECT_EQ(rows[2].deltaAic, 4.0);
    // exp(-delta/2) = 1, 0.6065, 0.1353, over their sum 1.7419.
    EXPECT_NEAR(rows[0].weight, 0.5740969929676946, 1e-12);
    EXPECT_NEAR(rows[1].weight, 0.3482074278837349, 1e-12);
    EXPECT_NEAR(rows[2].weight, 0.0776955791485706, 1e-12);
    EXPECT_NEAR(rows[2].g, 451.87903229147264, 1e-9);
    EXPECT_EQ(rows[2].df, 206);
    EXPECT_EQ(rows[1].df, 203);
}

TEST(CompareRows, PenaltyFitGetsNoWeightAndJsonNull) {
    std::vector<StoredResult> fits = threeFits();
    fits.push_back(stored(10, 1.7976931e308, "C_3_F0_ML_"));
    const std::vector<ComparisonRow> rows = compareResults(fits);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3].result.model, 10);
    EXPECT_EQ(rows[3].weight, 0.0);
    EXPECT_NEAR(rows[0].weight, 0.5740969929676946, 1e-12);
    const std::string json = formatComparison(rows, TableFormat::json);
    EXPECT_NE(json.find("\"model\": 10, \"name\": \"C_3_F0\", \"seed\": null, \"k\": 9, "
                        "\"negLogL\": 1.7976931e+308, \"AIC\": null"),
              std::string::npos)
        << json;
    // A single fit is its own best: weight 1 even when its AIC is infinite.
    const std::vector<ComparisonRow> alone = compareResults({fits.back()});
    EXPECT_EQ(alone[0].deltaAic, 0.0);
    EXPECT_EQ(alone[0].weight, 1.0);
}

TEST(CompareFormat, TsvAndAlignedTable) {
    std::vector<StoredResult> fits = threeFits();
    fits[0].seed = 3;
    const std::vector<ComparisonRow> rows = compareResults(fits);
    const std::string tsv = formatComparison(rows, TableFormat::tsv);
    EXPECT_EQ(tsv.substr(0, tsv.find('\n') + 1),
              "model\tname\tseed\tk\t-lnL\tAIC\tAICc\tdAIC\tweight\tG\tdf\tfile\n");
    EXPECT_NE(tsv.find("\n7\tC_1\t-\t5\t497\t1004\t1004.080537\t0\t0.5741\t445.87903\t205\t"
                       "C_1_ML_\n"),
              std::string::npos)
        << tsv;
    EXPECT_NE(tsv.find("\n1\tSS_1\t3\t4\t500\t1008\t"), std::string::npos) << tsv;
    const std::string table = formatComparison(rows, TableFormat::table);
    std::istringstream lines(table);
    std::string header;
    std::string first;
    std::getline(lines, header);
    std::getline(lines, first);
    // Columns line up: the AIC of the first row ends where the header's "AIC" ends.
    EXPECT_EQ(first.find("1004 ") + 4, header.find("AIC ") + 3) << table;
    EXPECT_EQ(first.substr(0, 12), "    7  C_1  ");
}

TEST(CompareCommand, ReadsDirectoryAndReportsSkippedFiles) {
    ScratchDir dir;
    dir.write("SS1_ML_", "1 1 0.5 10 500\n");
    dir.write("C_1_ML_seed4", "1 1 0.5 10 450 497\n");
    dir.write("SS2_ML_", "1 2\n");
    ProgramResult r = runProgram(dir.path(), ZONETOOL_BIN, "compare --format tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "zonetool compare: skipped SS2_ML_: holds 2 numbers; model 2 (SS_2) needs 7 "
                     "coordinates and the value\n");
    EXPECT_NE(r.out.find("\n7\tC_1\t4\t5\t497\t1004\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n1\tSS_1\t-\t4\t500\t1008\t"), std::string::npos) << r.out;

    r = runProgram("/", ZONETOOL_BIN, "compare " + shellQuote(dir.path()) + " --format json");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.out.substr(0, 3), "[\n ");
    EXPECT_NE(r.out.find("\"file\": \"" + dir.file("C_1_ML_seed4") + "\""), std::string::npos);
}

TEST(CompareCommand, EmptyDirectoryAndBadArguments) {
    ScratchDir dir;
    ProgramResult r = runProgram(dir.path(), ZONETOOL_BIN, "compare");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool compare: no result files in .\n");
    r = runProgram(dir.path(), ZONETOOL_BIN, "compare --format xml");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool compare: --format needs table, tsv or json, not 'xml'\n"
                     "Run 'zonetool compare --help' for usage.\n");
    r = runProgram(dir.path(), ZONETOOL_BIN, "compare missing-dir");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool compare: missing-dir: cannot read the directory: No such file or "
                     "directory\n");
}
