// The pieces of zonetool analyse that hold its arithmetic and its files: efforts, selection
// coefficients, stage manifests, the limits file and the outputs.
#include "tools/analysis/analyse_derived.h"
#include "tools/analysis/analyse_effort.h"
#include "tools/analysis/analyse_limits.h"
#include "tools/analysis/analyse_manifest.h"
#include "tools/analysis/analyse_outputs.h"
#include "tools/analysis/analyse_stages.h"
#include "tools/formats/json_io.h"

#include "support/work_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

} // namespace

TEST(AnalyseEffort, NamesAndBudgetsOfTheThreeEfforts) {
    Effort e = Effort::standard;
    EXPECT_TRUE(parseEffort("quick", e));
    EXPECT_EQ(e, Effort::quick);
    EXPECT_TRUE(parseEffort("thorough", e));
    EXPECT_EQ(e, Effort::thorough);
    EXPECT_FALSE(parseEffort("Quick", e));
    EXPECT_EQ(e, Effort::thorough);
    // Each effort spends more than the one before, and only quick skips the annealing.
    const EffortBudget q = effortBudget(Effort::quick);
    const EffortBudget s = effortBudget(Effort::standard);
    const EffortBudget t = effortBudget(Effort::thorough);
    EXPECT_FALSE(q.annealing);
    EXPECT_TRUE(s.annealing && t.annealing);
    EXPECT_LT(expectedEvaluations(q, 4).total(), expectedEvaluations(s, 4).total());
    EXPECT_LT(expectedEvaluations(s, 4).total(), expectedEvaluations(t, 4).total());
}

TEST(AnalyseEffort, ExpectedEvaluationsOfAFourParameterModel) {
    EffortBudget b;
    b.searchStarts = 6;
    b.searchBudget = 400;
    b.annealing = false;
    b.polishBudget = 2000;
    b.profileEvaluations = 600;
    b.profileSteps = 8;
    b.profileBisections = 8;
    const StageEvaluations e = expectedEvaluations(b, 4);
    EXPECT_EQ(e.search, 2400);
    EXPECT_EQ(e.fit, 2000);
    // 2 sides x 4 parameters x (6 steps + 6 bisections) points x 160 evaluations each.
    EXPECT_EQ(e.profile, 2 * 4 * 12 * 160);
    b.annealing = true;
    EXPECT_EQ(expectedEvaluations(b, 4).fit, annealingEvaluations);
}

TEST(AnalyseEffort, RoughDurations) {
    EXPECT_EQ(roughDuration(0.2), "1 s");
    EXPECT_EQ(roughDuration(45.0), "45 s");
    EXPECT_EQ(roughDuration(600.0), "10 min");
    EXPECT_EQ(roughDuration(9000.0), "2.5 h");
    EXPECT_EQ(roughDuration(notANumber), "unknown");
}

TEST(AnalyseEffort, TimeLeftScalesOnlyTheStagesThatEvaluate) {
    // Before any stage ran: the estimates as they stand.
    EXPECT_EQ(etaSeconds(120.0, 10.0, 0.0, 0.0), 130.0);
    // Searches and fits took 3 times their estimate (90 s for 30): the profiles' 120 s become
    // 360 s; the figures and report stay at their 10 s.
    EXPECT_EQ(etaSeconds(120.0, 10.0, 30.0, 90.0), 370.0);
    // A profile 30 times slower than expected, with nothing left to evaluate, leaves the 10 s
    // of figures and report, not 30 times that.
    EXPECT_EQ(etaSeconds(0.0, 10.0, 1.0, 30.0), 10.0);
}

TEST(AnalyseSelection, OneRegionWithTheHeterozygoteAsReference) {
    // SS_1 at wSS 1.2, wII 0.8: SS is the fittest; SI (fitness 1) loses 1/6, II a third.
    const std::vector<std::string> names{"wSS", "wII", "F", "sigma"};
    const std::vector<SelectionCoefficient> s =
        selectionCoefficients(names, {{1.2, 0.8, 0.1, 5.0}, {1.0, 0.9, 0.1, 5.0}});
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].genotype, "SS");
    EXPECT_EQ(s[1].genotype, "SI");
    EXPECT_EQ(s[2].genotype, "II");
    EXPECT_EQ(s[0].region, "all sites");
    EXPECT_DOUBLE_EQ(s[0].s.value, 0.0);
    EXPECT_DOUBLE_EQ(s[1].s.value, 1.0 - 1.0 / 1.2);
    EXPECT_DOUBLE_EQ(s[2].s.value, 1.0 - 0.8 / 1.2);
    // At the second point SS and SI tie at 1 and II loses a tenth: the limits span both.
    EXPECT_DOUBLE_EQ(s[1].s.lower, 0.0);
    EXPECT_DOUBLE_EQ(s[1].s.upper, 1.0 - 1.0 / 1.2);
    EXPECT_NEAR(s[2].s.lower, 0.1, 1e-15);
    EXPECT_DOUBLE_EQ(s[2].s.upper, 1.0 - 0.8 / 1.2);
}

TEST(AnalyseSelection, RegionsAndAnotherReferenceGenotype) {
    // Fitnesses relative to SS per numbered region (models 3 to 6), and left/right pairs.
    const std::vector<SelectionCoefficient> three = selectionCoefficients(
        {"wSI_1", "wII_1", "wSI_2", "wII_2", "F"}, {{0.5, 2.0, 1.0, 1.0, 0.0}});
    ASSERT_EQ(three.size(), 6u);
    EXPECT_EQ(three[0].region, "region 1");
    EXPECT_EQ(three[3].region, "region 2");
    // Region 1: II fittest at 2; SS (1) and SI (0.5) lose half and three quarters.
    EXPECT_DOUBLE_EQ(three[0].s.value, 0.5);
    EXPECT_DOUBLE_EQ(three[1].s.value, 0.75);
    EXPECT_DOUBLE_EQ(three[2].s.value, 0.0);
    // Region 2: all equal, no selection.
    EXPECT_DOUBLE_EQ(three[4].s.value, 0.0);
    const std::vector<SelectionCoefficient> pair =
        selectionCoefficients({"wSS_L", "wII_L", "wSS_R", "wII_R"}, {{1, 1, 1, 1}});
    ASSERT_EQ(pair.size(), 6u);
    EXPECT_EQ(pair[0].region, "left");
    EXPECT_EQ(pair[3].region, "right");
    // Both homozygotes lethal: only the reference heterozygote survives.
    const std::vector<SelectionCoefficient> lethal =
        selectionCoefficients({"wSS", "wII"}, {{0, 0}});
    EXPECT_EQ(lethal[0].s.value, 1.0);
    EXPECT_EQ(lethal[1].s.value, 0.0);
    EXPECT_EQ(lethal[2].s.value, 1.0);
    EXPECT_TRUE(selectionCoefficients({"F", "sigma"}, {{0.1, 2}}).empty());
}

TEST(AnalyseSelection, RangeSkipsNumbersThatDoNotExist) {
    const Bounded b = rangeOf({2.0, notANumber, 1.0, 3.0});
    EXPECT_EQ(b.value, 2.0);
    EXPECT_EQ(b.lower, 1.0);
    EXPECT_EQ(b.upper, 3.0);
    const Bounded none = rangeOf({notANumber, notANumber});
    EXPECT_TRUE(std::isnan(none.value) && std::isnan(none.lower) && std::isnan(none.upper));
}

using AnalyseManifest = InScratchWorkDir;

TEST_F(AnalyseManifest, TextReadsBackAndValuesStayOnOneLine) {
    StageManifest m;
    m.inputs = {{"seed", "1"}, {"data", "a\tb\nc"}};
    m.outputs = {{"SS_1/x.json", "fnv1a64:0123"}};
    m.cpuSeconds = 1.5;
    m.wallSeconds = 2.25;
    StageManifest back;
    ASSERT_TRUE(parseManifest(manifestText(m), back));
    ASSERT_EQ(back.inputs.size(), 2u);
    EXPECT_EQ(back.inputs[1].second, "a b c");
    EXPECT_EQ(back.outputs, m.outputs);
    EXPECT_EQ(back.cpuSeconds, 1.5);
    EXPECT_EQ(back.wallSeconds, 2.25);
    EXPECT_FALSE(parseManifest("input\tno value\n", back));
    EXPECT_FALSE(parseManifest("cpu\tlots\n", back));
}

TEST_F(AnalyseManifest, StateOfAStage) {
    const std::vector<std::pair<std::string, std::string>> inputs{{"seed", "1"}, {"model", "2"}};
    std::string why;
    EXPECT_EQ(stageState("m.tsv", ".", inputs, why), StageState::missing);
    writeFile("out.txt", "result\n");
    StageManifest m;
    m.inputs = inputs;
    m.outputs = {{"out.txt", "fnv1a64:" + std::string("0")}};
    writeFile("m.tsv", manifestText(m));
    // The output's checksum does not match: run the stage again.
    EXPECT_EQ(stageState("m.tsv", ".", inputs, why), StageState::stale);
    // Made from another seed: refused, naming the input.
    EXPECT_EQ(stageState("m.tsv", ".", {{"seed", "2"}, {"model", "2"}}, why), StageState::other);
    EXPECT_EQ(why, "seed");
    EXPECT_EQ(stageState("m.tsv", ".", {{"seed", "1"}}, why), StageState::other);
    EXPECT_EQ(why, "model");
    writeFile("bad.tsv", "garbage\n");
    EXPECT_EQ(stageState("bad.tsv", ".", inputs, why), StageState::other);
    EXPECT_EQ(why, "bad.tsv does not read");
}

TEST(AnalyseLimits, FileReadsBackAndPointsWithinTheLimit) {
    ProfileLimits l;
    l.model = 1;
    l.units = 2.0;
    l.estimate = {1.1, 0.9, 0.1, 0.1 + 0.2};
    l.minimum = 480.5;
    l.parameters = {{"wSS", 1.1, 1.05, 1.2, true, false}};
    l.points = {{{1.05, 0.9, 0.1, 3.0}, 482.5}, {{1.0, 0.9, 0.1, 3.0}, 482.6}};
    ProfileLimits back;
    std::string error;
    ASSERT_TRUE(parseLimitsJson(limitsJson(l), "x.json", back, error)) << error;
    EXPECT_EQ(back.estimate, l.estimate); // exactly, 0.30000000000000004 included
    EXPECT_EQ(back.minimum, l.minimum);
    ASSERT_EQ(back.parameters.size(), 1u);
    EXPECT_FALSE(back.parameters[0].upperFound);
    EXPECT_EQ(back.parameters[0].lower, 1.05);
    // The estimate and the point exactly 2 units up; not the one beyond.
    const std::vector<EvaluatedPoint> within = pointsWithinLimit(back);
    ASSERT_EQ(within.size(), 2u);
    EXPECT_EQ(within[0].value, 480.5);
    EXPECT_EQ(within[1].value, 482.5);
    EXPECT_FALSE(parseLimitsJson("{\"model\": 1}", "x.json", back, error));
    EXPECT_EQ(error, "x.json: not a file of support limits");
    EXPECT_FALSE(parseLimitsJson("{not json", "y.json", back, error));
    EXPECT_EQ(error, "y.json: not a file of support limits");
}

TEST(AnalyseOutputs, EstimatesTableAndModelFileRoundTrip) {
    Analysis a;
    ModelAnalysis m;
    m.model = 1;
    m.name = "SS_1";
    m.estimates = {{"wSS", "fitness\tof SS", {1.25, 1.0, notANumber, true, false}}};
    m.selection = {{"II", "all sites", {0.5, 0.25, 0.75}}};
    m.derived = {{"centre", "length unit of the data", {100.0, 90.0, 110.0}}};
    m.settledness = "settled.";
    a.models = {m};
    EXPECT_EQ(estimatesTsv(a), "model\tkind\tname\tregion\tvalue\tlower\tupper\n"
                               "SS_1\tparameter\twSS\t\t1.25\t1\tNA\n"
                               "SS_1\tselection\ts_II\tall sites\t0.5\t0.25\t0.75\n"
                               "SS_1\tderived\tcentre\t\t100\t90\t110\n");
    ModelAnalysis back;
    std::string error;
    ASSERT_TRUE(parseModelAnalysis(modelAnalysisJson(m), "d.json", back, error)) << error;
    EXPECT_EQ(back.estimates[0].meaning, "fitness\tof SS");
    EXPECT_TRUE(std::isnan(back.estimates[0].estimate.upper));
    EXPECT_FALSE(back.estimates[0].estimate.upperFound);
    EXPECT_EQ(back.selection[0].s.lower, 0.25);
    EXPECT_EQ(back.derived[0].estimate.upper, 110.0);
    EXPECT_EQ(back.settledness, "settled.");
    EXPECT_FALSE(parseModelAnalysis("[]", "d.json", back, error));
    EXPECT_EQ(error, "d.json: not a model's analysis");
}

namespace {

// Whether `j` holds a number of exactly the bits of `expected`.
bool sameBits(const Json* j, double expected) {
    if (j == nullptr || !j->is_number()) {
        return false;
    }
    const double got = j->get<double>();
    return std::memcmp(&got, &expected, sizeof got) == 0;
}

} // namespace

TEST(AnalyseOutputs, AnalysisJsonReadsBackBitForBit) {
    // Numbers whose shortest decimal is not their 17-digit one, the smallest and largest
    // doubles, a negative zero and a fitness just below 1.
    const double third = 1.0 / 3.0;
    const double sum = 0.1 + 0.2;
    const double tiny = std::numeric_limits<double>::denorm_min();
    const double huge = std::numeric_limits<double>::max();
    const double belowOne = std::nextafter(1.0, 0.0);
    Analysis a;
    a.run.seed = 18446744073709551615u;
    a.run.cpuSeconds = sum;
    a.run.wallSeconds = third;
    ModelAnalysis m;
    m.model = 2;
    m.name = "SS_2";
    m.negLogL = 1234.5678901234567;
    m.aicc = huge;
    m.deltaAicc = -0.0;
    m.weight = belowOne;
    m.estimates = {{"wSS", "fitness of SS", {third, tiny, sum, true, false}}};
    m.derived = {{"width", "", {notANumber, 2.5e-300, 7.0e300}}};
    a.models = {m};
    const std::string text = analysisJson(a);
    Json j;
    std::string error;
    ASSERT_TRUE(parseJsonText(text, j, error)) << error;
    // The run first, then one model per line.
    EXPECT_EQ(text.rfind("{\n  \"run\": {\"version\": ", 0), 0u) << text;
    EXPECT_NE(text.find("\n  \"models\": [\n    {\"model\": 2, "), std::string::npos) << text;
    const Json& run = *jsonMember(j, "run");
    EXPECT_EQ(jsonMember(run, "seed")->get<std::uint64_t>(), 18446744073709551615u);
    EXPECT_TRUE(sameBits(jsonMember(run, "cpu_seconds"), sum));
    EXPECT_TRUE(sameBits(jsonMember(run, "wall_seconds"), third));
    const Json& model = (*jsonMember(j, "models"))[0];
    EXPECT_TRUE(sameBits(jsonMember(model, "minus_lnL"), 1234.5678901234567));
    EXPECT_TRUE(sameBits(jsonMember(model, "AICc"), huge));
    EXPECT_TRUE(sameBits(jsonMember(model, "dAICc"), -0.0));
    EXPECT_TRUE(sameBits(jsonMember(model, "weight"), belowOne));
    const Json& estimate = (*jsonMember(model, "estimates"))[0];
    EXPECT_EQ(jsonTextOr(jsonMember(estimate, "name")), "wSS");
    EXPECT_TRUE(sameBits(jsonMember(estimate, "value"), third));
    EXPECT_TRUE(sameBits(jsonMember(estimate, "lower"), tiny));
    EXPECT_TRUE(sameBits(jsonMember(estimate, "upper"), sum));
    EXPECT_FALSE(jsonTrue(jsonMember(estimate, "upper_found")));
    const Json& width = (*jsonMember(model, "derived"))[0];
    EXPECT_TRUE(jsonMember(width, "value")->is_null()); // a width that does not exist
    EXPECT_TRUE(sameBits(jsonMember(width, "lower"), 2.5e-300));
    EXPECT_TRUE(sameBits(jsonMember(width, "upper"), 7.0e300));

    // A model's own file reads back to the same bits, and so does it written again.
    ModelAnalysis back;
    ASSERT_TRUE(parseModelAnalysis(modelAnalysisJson(m), "d.json", back, error)) << error;
    EXPECT_EQ(modelAnalysisJson(back), modelAnalysisJson(m));
    EXPECT_FALSE(parseModelAnalysis("{\"model\": 1,", "d.json", back, error));
    EXPECT_EQ(error.rfind("d.json: not valid JSON", 0), 0u) << error;
}

using AnalyseClines = InScratchWorkDir;

TEST_F(AnalyseClines, RecordReadForTheReport) {
    // A sigmoid of 3 free parameters, -lnL 100 on n = 24: AICc = 2 * 3 + 200 + 24 / 20.
    writeFile("cline_sigmoid.json",
              "{\"record\": \"zonetool cline\", \"axis\": \"position\", \"fits\": [\n"
              "{\"shape\": \"sigmoid\", \"value\": 100, \"k\": 3, \"parameters\": [\n"
              " {\"name\": \"centre\", \"estimate\": 110.5, \"lower\": 99, \"upper\": 121,"
              "  \"lower_open\": false, \"upper_open\": false},\n"
              " {\"name\": \"F\", \"estimate\": 0, \"lower\": 0, \"upper\": 0.05,"
              "  \"lower_open\": true, \"upper_open\": false}]}]}\n");
    DescriptiveCline c;
    std::string error;
    ASSERT_TRUE(readClineRecord("cline_sigmoid.json", 24, c, error)) << error;
    EXPECT_EQ(c.shape, "sigmoid");
    EXPECT_EQ(c.parameters, 3);
    EXPECT_EQ(c.negLogL, 100.0);
    EXPECT_DOUBLE_EQ(c.aicc, 207.2);
    EXPECT_EQ(c.axis, "position");
    ASSERT_EQ(c.estimates.size(), 2u);
    EXPECT_EQ(c.estimates[0].name, "centre");
    EXPECT_EQ(c.estimates[0].meaning, "where the central sigmoid crosses 1/2");
    EXPECT_EQ(c.estimates[0].estimate.value, 110.5);
    EXPECT_TRUE(c.estimates[0].estimate.lowerFound && c.estimates[0].estimate.upperFound);
    // F = 0 at the end of its range: its lower limit is the range's end, not a limit found.
    EXPECT_FALSE(c.estimates[1].estimate.lowerFound);
    EXPECT_TRUE(c.estimates[1].estimate.upperFound);
    EXPECT_EQ(c.estimates[1].estimate.upper, 0.05);

    writeFile("empty.json", "{\"record\": \"zonetool cline\", \"fits\": []}\n");
    EXPECT_FALSE(readClineRecord("empty.json", 24, c, error));
    EXPECT_EQ(error, "empty.json holds no descriptive fit");
    writeFile("broken.json", "{\"fits\": [\n");
    EXPECT_FALSE(readClineRecord("broken.json", 24, c, error));
    EXPECT_EQ(error.rfind("broken.json: not valid JSON", 0), 0u) << error;
    EXPECT_FALSE(readClineRecord("missing.json", 24, c, error));
    EXPECT_EQ(error, "cannot read the cline record missing.json");
}
