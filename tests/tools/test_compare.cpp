// Information criteria and goodness of fit of several fits.
#include "tools/analysis/compare.h"
#include "tools/commands/compare_command.h"

#include "driver/schedule.h"
#include "support/run_in_process.h"
#include "support/run_program.h"
#include "tools/formats/data_option.h"
#include "tools/formats/fit_record.h"

#include <gtest/gtest.h>

#include "data/builtin_transect.h"

#include <algorithm>
#include <cmath>
#include <tuple>

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
    EXPECT_EQ(sampledIndividuals(builtInTransectValue()), 751);
    EXPECT_EQ(saturatedParameters(builtInTransectValue()), 210);
    // Sum over sites and genotypes of -n ln(n / site total), zero counts left out.
    EXPECT_NEAR(saturatedNegLogLikelihood(builtInTransectValue()), 274.0604838542637, 1e-10);
}

TEST(CompareRows, CriteriaWeightsAndGAreSortedByAic) {
    const std::vector<ComparisonRow> rows = compareResults(builtInTransectValue(), threeFits());
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

TEST(CompareRows, ReplicateFitsOfOneModelShareNoWeight) {
    // Two seeds of model 1 and one fit of model 7: one Akaike row per model.
    std::vector<StoredResult> fits = threeFits();
    fits.erase(fits.begin() + 2);
    fits.push_back(stored(1, 498.0, "SS1_ML_seed2"));
    fits.push_back(stored(1, 503.0, "SS1_ML_seed3"));
    const std::vector<ComparisonRow> rows = compareResults(builtInTransectValue(), fits);
    ASSERT_EQ(rows.size(), 4u);
    // Model 1's best (AIC 1004, as model 7's 1004) comes first on the tie, then its others.
    EXPECT_EQ(rows[0].result.path, "SS1_ML_seed2");
    EXPECT_TRUE(rows[0].best);
    EXPECT_EQ(rows[1].result.path, "SS1_ML_");
    EXPECT_EQ(rows[2].result.path, "SS1_ML_seed3");
    EXPECT_FALSE(rows[1].best);
    EXPECT_TRUE(std::isnan(rows[1].weight));
    EXPECT_EQ(rows[1].deltaAic, 4.0);
    EXPECT_EQ(rows[3].result.model, 7);
    EXPECT_TRUE(rows[3].best);
    // Weights between the two best fits only: 1/2 each.
    EXPECT_EQ(rows[0].weight, 0.5);
    EXPECT_EQ(rows[3].weight, 0.5);
    // AICc: model 1's penalty term 40/746 is smaller than model 7's 60/745.
    EXPECT_EQ(rows[0].deltaAicc, 0.0);
    EXPECT_NEAR(rows[3].deltaAicc, 60.0 / 745 - 40.0 / 746, 1e-12);
    const std::string table = formatComparison(rows, TableFormat::table, false);
    EXPECT_NE(table.find("\n2 other fits of these models not shown (--all lists them)\n"),
              std::string::npos)
        << table;
    // Header, two best fits, the objective line and the line about the others.
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 5) << table;
    const std::string all = formatComparison(rows, TableFormat::tsv, true);
    EXPECT_NE(all.find("\n1\tSS_1\t-\tother\t4\t500.0000\t1008.0000\t1008.0536\t4.0000\t"
                       "4.0000\t-\t"),
              std::string::npos)
        << all;
}

TEST(CompareRows, ParametersHeldFixedAreNotCounted) {
    std::vector<StoredResult> fits = {stored(8, 450.0, "C_2_ML_")};
    fits[0].free = {true, false, true, false, true, false, true};
    EXPECT_EQ(compareResults(builtInTransectValue(), fits)[0].parameters, 4);
    EXPECT_EQ(compareResults(builtInTransectValue(), fits)[0].aic, 908.0);
    EXPECT_EQ(compareResults(builtInTransectValue(), fits)[0].df, 206);
    fits[0].free.clear();
    EXPECT_EQ(compareResults(builtInTransectValue(), fits)[0].parameters, 7);
}

TEST(CompareRows, PenaltyFitGetsNoWeightAndJsonNull) {
    std::vector<StoredResult> fits = threeFits();
    fits.push_back(stored(10, 1.7976931e308, "C_3_F0_ML_"));
    const std::vector<ComparisonRow> rows = compareResults(builtInTransectValue(), fits);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3].result.model, 10);
    EXPECT_EQ(rows[3].weight, 0.0);
    EXPECT_NEAR(rows[0].weight, 0.5740969929676946, 1e-12);
    const std::string json = formatComparison(rows, TableFormat::json);
    EXPECT_NE(json.find("\"model\": 10, \"name\": \"C_3_F0\", \"seed\": null, \"fit\": \"best\", "
                        "\"k\": 9, \"negLogL\": 1.7976931e+308, \"AIC\": null"),
              std::string::npos)
        << json;
    // Penalty-sized numbers keep the table narrow.
    const std::string tsv = formatComparison(rows, TableFormat::tsv);
    EXPECT_NE(tsv.find("\tbest\t9\t1.7977e+308\tinf\tinf\tinf\tinf\t0.0000\t"), std::string::npos)
        << tsv;
    // A single fit is its own best: weight 1 even when its AIC is infinite.
    const std::vector<ComparisonRow> alone = compareResults(builtInTransectValue(), {fits.back()});
    EXPECT_EQ(alone[0].deltaAic, 0.0);
    EXPECT_EQ(alone[0].weight, 1.0);
}

TEST(CompareFormat, TsvAndAlignedTable) {
    std::vector<StoredResult> fits = threeFits();
    fits[0].seed = 3;
    const std::vector<ComparisonRow> rows = compareResults(builtInTransectValue(), fits);
    const std::string tsv = formatComparison(rows, TableFormat::tsv);
    EXPECT_EQ(tsv.substr(0, tsv.find('\n') + 1),
              "model\tname\tseed\tfit\tk\t-lnL\tAIC\tAICc\tdAIC\tdAICc\tweight\tG\tdf\tfile\n");
    EXPECT_NE(tsv.find("\n7\tC_1\t-\tbest\t5\t497.0000\t1004.0000\t1004.0805\t0.0000\t0.0000\t"
                       "0.5741\t445.8790\t205\tC_1_ML_\n"),
              std::string::npos)
        << tsv;
    EXPECT_NE(tsv.find("\n1\tSS_1\t3\tbest\t4\t500.0000\t1008.0000\t"), std::string::npos) << tsv;
    const std::string table = formatComparison(rows, TableFormat::table);
    std::istringstream lines(table);
    std::string header;
    std::string first;
    std::getline(lines, header);
    std::getline(lines, first);
    // Columns line up: the AIC of the first row ends where the header's "AIC" ends.
    EXPECT_EQ(first.find("1004.0000 ") + 9, header.find("AIC ") + 3) << table;
    EXPECT_EQ(first.substr(0, 24), "    7  C_1      -  best ");
}

namespace {

// Result file and agreeing record of a fit of `model` at `point` with `value` and `steps`.
void writeFit(const ScratchDir& dir, const std::string& name, int model,
              const std::vector<double>& point, double value, const std::vector<double>& steps,
              std::optional<std::uint64_t> seed, ObjectiveKind objective = ObjectiveKind::zonefit,
              const std::string& locus = "") {
    FitRecord record = newFitRecord(*findModel(model), point, steps);
    record.objective = objective;
    record.locus = locus;
    record.point = point;
    record.value = value;
    record.seed = seed;
    dir.write(name + ".json", fitRecordJson(record));
    FitResult result;
    result.bestPoint = point;
    result.bestValue = value;
    dir.write(name, resultLine(result));
}

} // namespace

// A record that is not one is named, and its fit left out.
TEST(CompareCommand, ADamagedOrForeignRecordIsSkippedWithItsName) {
    ScratchDir dir;
    writeFit(dir, "SS1_ML_", 1, {1.05, 1.05, 0.3, 15}, 1510.1479584, {0.1, 0.1, 0, 1},
             std::nullopt);
    const std::string whole = dir.read("SS1_ML_.json");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {whole.substr(0, whole.find("\"steps\"")), "SS1_ML_.json: not valid JSON near line 12"},
        {"model\tvalue\n", "SS1_ML_.json: not valid JSON near line 1"},
        {"{\"format\": \"zonefit-explore-record\", \"version\": 1}\n",
         "SS1_ML_.json: not a fit record (format \"zonefit-explore-record\")"},
        {"{\"format\": \"zonefit-fit-record\", \"version\": \"1\"}\n",
         "SS1_ML_.json: member \"version\" is not a number"}};
    for (const auto& [text, message] : cases) {
        dir.write("SS1_ML_.json", text);
        const ProgramResult r = runInProcess(dir.path(), "compare");
        EXPECT_EQ(r.status, 1) << message;
        EXPECT_EQ(r.err, "zonetool compare: skipped " + message +
                             "\nzonetool compare: no result files in .\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST(CompareCommand, SeveralDirectoriesRecordsAndFixedParameters) {
    ScratchDir dir;
    ASSERT_EQ(system(("mkdir -p " + shellQuote(dir.file("job 1/deep")) + " " +
                      shellQuote(dir.file("job2")))
                         .c_str()),
              0);
    // Model 1 in two job folders, the better one held at wSS = wII = 1 (steps 0, unmoved).
    writeFit(dir, "job 1/SS1_ML_seed1", 1, {0.9, 0.8, 0.3, 8}, 1215.9545256098254,
             {0.1, 0.1, 0.1, 1}, 1);
    writeFit(dir, "job2/SS1_ML_seed2", 1, {1, 1, 0.31, 8.2}, 1210.25, {0, 0, 0.1, 1}, 2);
    writeFit(dir, "job 1/deep/C_1_ML_", 7, {0.7, 0.8, 0.3, 10, 450}, 908.76627050507773,
             {0.1, 0.1, 0.1, 1, 10}, std::nullopt);
    ProgramResult r = runInProcess(dir.path(), "compare 'job 1' job2/ --format tsv --all");
    ASSERT_EQ(r.status, 0) << r.err;
    // The two fits of model 1 reached different values: its best, from one start only.
    EXPECT_EQ(
        r.err,
        "zonetool compare: warning: the best value of model 1 (SS_1) was reached from only one "
        "start; another start may find a better optimum (see zonetool explore)\n");
    EXPECT_EQ(r.out,
              "model\tname\tseed\tfit\tk\t-lnL\tAIC\tAICc\tdAIC\tdAICc\tweight\tG\tdf\tfile\n"
              "1\tSS_1\t2\tbest\t2\t1210.2500\t2424.5000\t2424.5160\t0.0000\t0.0000\t"
              "1.0000\t1872.3790\t208\tjob2/SS1_ML_seed2\n"
              "1\tSS_1\t1\tother\t4\t1215.9545\t2439.9091\t2439.9627\t15.4091\t15.4466\t-\t"
              "1883.7881\t206\tjob 1/SS1_ML_seed1\n");
    // -r finds the C_1 fit below, which takes all the weight.
    r = runInProcess(dir.path(), "compare -r 'job 1' job2");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\n    7  C_1      -  best  5   908.7663  1827.5325  1827.6131    0.0000  "
                         "  0.0000  1.0000  1269.4116  205  job 1/deep/C_1_ML_\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\n1 other fit of these models not shown (--all lists them)\n"),
              std::string::npos)
        << r.out;
    // The JSON rows carry the same fields, and the best fits their cline summary.
    r = runInProcess(dir.path(), "compare -r . --format json");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("{\"model\": 7, \"name\": \"C_1\", \"seed\": null, \"fit\": \"best\", "
                         "\"k\": 5, \"negLogL\": 908.76627050507773, "),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"file\": \"job 1/deep/C_1_ML_\", \"summary\": {\"axis\": "
                         "\"position\", \"centre\": "),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("other"), std::string::npos) << r.out;
}

TEST(CompareCommand, EmptyDirectoryAndBadArguments) {
    ScratchDir dir;
    ProgramResult r = runInProcess(dir.path(), "compare");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool compare: no result files in .\n");
    r = runInProcess(dir.path(), "compare --format xml");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool compare: --format needs table, tsv or json, not 'xml'\n"
                     "Run 'zonetool compare --help' for usage.\n");
    r = runInProcess(dir.path(), "compare missing-dir");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool compare: missing-dir: cannot read the directory: No such file or "
                     "directory\n");
    r = runInProcess(dir.path(), "compare -x");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool compare: unknown option '-x'\n"
                     "Run 'zonetool compare --help' for usage.\n");
}

TEST(CompareCommand, FitsOfDifferentObjectivesAreNotRankedTogether) {
    ScratchDir dir;
    writeFit(dir, "SS1_ML_seed1", 1, {1.2, 0.8, 0.3, 15}, 11518.584711626465, {0.1, 0.1, 0.1, 1},
             1);
    writeFit(dir, "SS1_ML_seed2", 1, {1.05, 1.05, 0.3, 15}, 1510.0746748633017, {0, 0, 0.1, 1}, 2,
             ObjectiveKind::settled);
    ProgramResult r = runInProcess(dir.path(), "compare");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zonetool compare: SS1_ML_seed2 is a fit of the settled objective, not of "
                     "the zonefit objective of SS1_ML_seed1; fits of different objectives are "
                     "not ranked together\n");
    r = runInProcess(dir.path(), "compare --objective settled");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool compare: SS1_ML_seed1 is a fit of the zonefit objective, not of "
                     "the settled objective of --objective; fits of different objectives are not "
                     "ranked together\n");
    r = runInProcess(dir.path(), "compare --objective both");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool compare: --objective needs settled or zonefit, not 'both'\n"
                     "Run 'zonetool compare --help' for usage.\n");

    // Fits of one objective: every output names it; zonefit's TSV is as it always was.
    std::remove(dir.file("SS1_ML_seed1").c_str());
    r = runInProcess(dir.path(), "compare --format tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("# objective: settled\nmodel\tname\t", 0), 0u) << r.out;
    r = runInProcess(dir.path(), "compare");
    EXPECT_NE(r.out.find("\nobjective: settled\n"), std::string::npos) << r.out;
    r = runInProcess(dir.path(), "compare --format json");
    EXPECT_NE(r.out.find("\"df\": 208, \"objective\": \"settled\", \"file\": "), std::string::npos)
        << r.out;
    // A result file without a record is a fit of the objective asked for, evaluated under it.
    std::remove(dir.file("SS1_ML_seed2").c_str());
    std::remove(dir.file("SS1_ML_seed2.json").c_str());
    dir.write("SS1_ML_seed3", "1.05 1.05 0.3 15 1510.1479584\n");
    r = runInProcess(dir.path(), "compare --format tsv --objective settled");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("# objective: settled\n", 0), 0u) << r.out;
    r = runInProcess(dir.path(), "compare --format tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("model\tname\t", 0), 0u) << r.out;
}

TEST(CompareCommand, FitsOfAnotherLocusAreLeftOutWithTheirName) {
    ScratchDir dir;
    // Two loci at the same three sites; the records say which transect (by checksum) and
    // which locus each fit is of.
    const std::string loci = "site\tlocus\tposition\tdistance\tSS\tSI\tII\n"
                             "a\tA\t0\t10\t8\t2\t0\nb\tA\t10\t10\t4\t2\t4\n"
                             "c\tA\t20\tNA\t0\t2\t8\na\tB\t0\t10\t9\t1\t0\n"
                             "b\tB\t10\t10\t5\t1\t4\nc\tB\t20\tNA\t1\t1\t8\n";
    dir.write("loci.tsv", loci);
    const std::vector<double> point = {1.0, 1.0, 0.3, 5};
    const std::vector<double> steps = {0.1, 0.1, 0.1, 1};
    for (const auto& [name, locus, value] :
         {std::make_tuple("SS1_ML_seed1", "A", 30.5), std::make_tuple("SS1_ML_seed2", "B", 20.25),
          std::make_tuple("SS1_ML_seed3", "A", 31.0)}) {
        writeFit(dir, name, 1, point, value, steps, 1, ObjectiveKind::zonefit, locus);
        // As 'fit --data loci.tsv --locus L' records them.
        std::string record = dir.read(std::string(name) + ".json");
        const std::string checksum =
            "  \"data\": \"loci.tsv\",\n  \"data_checksum\": \"fnv1a64:" + fnv1a64(loci) + "\",\n";
        const std::size_t at = record.find("  \"data\": null,\n  \"data_checksum\": null,\n");
        ASSERT_NE(at, std::string::npos) << record;
        dir.write(std::string(name) + ".json", record.replace(at, 43, checksum));
    }
    ProgramResult r =
        runInProcess(dir.path(), "compare --all --format tsv --data loci.tsv --locus A");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.rfind("zonetool compare: warning: SS1_ML_seed2 is a fit of locus 'B', not of "
                          "locus 'A'; it is left out (give the fit's --locus)\n",
                          0),
              0u)
        << r.err;
    EXPECT_NE(r.out.find("\tSS1_ML_seed1\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\tSS1_ML_seed3\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("SS1_ML_seed2"), std::string::npos) << r.out;
    r = runInProcess(dir.path(), "compare --format tsv --data loci.tsv --locus B");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\t20.2500\t"), std::string::npos) << r.out;

    // None of the locus asked for: named, status 1.
    for (const char* name : {"SS1_ML_seed1", "SS1_ML_seed3"}) {
        std::remove(dir.file(name).c_str());
        std::remove(dir.file(std::string(name) + ".json").c_str());
    }
    r = runInProcess(dir.path(), "compare --data loci.tsv --locus A");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zonetool compare: warning: SS1_ML_seed2 is a fit of locus 'B', not of locus "
                     "'A'; it is left out (give the fit's --locus)\n"
                     "zonetool compare: no fit of locus 'A' to compare\n");
    // A fit of another transect is still refused as such, whatever its locus.
    r = runInProcess(dir.path(), "compare");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "zonetool compare: SS1_ML_seed2 is a fit of loci.tsv (fnv1a64:" + fnv1a64(loci) +
                  "), not of the built-in transect; fits of different transects are not "
                  "ranked together (give the fit's --data)\n");
}

TEST(CompareCommand, ASearchBesideTheFitsThatConfirmedTheirBestSilencesTheWarning) {
    ScratchDir dir;
    writeFit(dir, "SS1_ML_seed1", 1, {0.9, 0.8, 0.3, 8}, 1215.9545256098254, {0.1, 0.1, 0.1, 1}, 1);
    writeFit(dir, "SS1_ML_seed2", 1, {1, 1, 0.31, 8.2}, 1210.25, {0, 0, 0.1, 1}, 2);
    // An explore record of model 1 whose best, 1210.255, two of its three searches reached.
    const auto record = [](const std::string& objective, int confirmed, double best) {
        return "{\"format\": \"zonefit-explore-record\", \"model\": 1, \"objective\": \"" +
               objective +
               "\", \"regions\": [{\"low\": 0.5, \"high\": 2, \"log\": true}, {\"low\": 0.5, "
               "\"high\": 2, \"log\": true}, {\"low\": 0, \"high\": 1}, {\"low\": 1, \"high\": "
               "100, \"log\": true}], \"searches\": 3, \"confirmed\": " +
               std::to_string(confirmed) + ", \"optima\": [{\"value\": " + std::to_string(best) +
               ", \"point\": [1, 1, 0.31, 8.2], \"starts\": 2}]}\n";
    };
    const std::string warning =
        "zonetool compare: warning: the best value of model 1 (SS_1) was reached from only one "
        "start; another start may find a better optimum (see zonetool explore)\n";
    EXPECT_EQ(runInProcess(dir.path(), "compare").err, warning);
    dir.write("SS1_ML_.explore.json", record("zonefit", 2, 1210.255));
    ProgramResult r = runInProcess(dir.path(), "compare");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // Unconfirmed, of another value (0.02 away) or of another objective, it confirms nothing.
    for (const std::string& other : {record("zonefit", 1, 1210.255), record("zonefit", 2, 1210.27),
                                     record("settled", 2, 1210.25)}) {
        dir.write("SS1_ML_.explore.json", other);
        r = runInProcess(dir.path(), "compare");
        EXPECT_EQ(r.err, warning) << other;
    }
}
