// The map of the optima: merging end points, the record and its reading back, the figure.
#include "tools/analysis/optima_map.h"

#include "driver/schedule.h"
#include "support/json_samples.h"
#include "support/work_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace {

StartOutcome outcome(double value, std::vector<double> point, long evaluations) {
    StartOutcome o;
    o.value = value;
    o.point = std::move(point);
    o.start = o.point;
    o.evaluations = evaluations;
    return o;
}

const std::vector<Region> regions1 = {
    {0.8, 1.25, true}, {0.8, 1.25, true}, {0.0, 1.0, false}, {1.0, 100.0, true}};

} // namespace

TEST(MergeOptima, CloseValuesAtClosePointsAreOneOptimumBestFirst) {
    std::vector<StartOutcome> outcomes = {
        outcome(753.19, {0.83, 0.85, 0.84, 10.2}, 100),
        outcome(483.956, {1.0026, 1.0025, 0.587, 14.13}, 200),
        outcome(483.950, {1.0026, 1.0025, 0.588, 14.14}, 300), // same optimum
        outcome(483.959, {1.0026, 1.0025, 0.587, 30.0}, 50),   // same value, far away
        outcome(483.975, {1.0026, 1.0025, 0.587, 14.13}, 25),  // same point, 0.019 worse
        outcome(NAN, {1.0, 1.0, 0.5, 10.0}, 5),
    };
    const std::vector<Optimum> optima = mergeOptima(outcomes, regions1);
    ASSERT_EQ(optima.size(), 5u);
    EXPECT_EQ(optima[0].value, 483.950);
    EXPECT_EQ(optima[0].point[2], 0.588); // the point of the best value
    EXPECT_EQ(optima[0].starts, 2);
    EXPECT_EQ(optima[0].evaluations, 500);
    EXPECT_EQ(optima[1].value, 483.959);
    EXPECT_EQ(optima[2].value, 483.975);
    EXPECT_EQ(optima[3].value, 753.19);
    EXPECT_TRUE(std::isnan(optima[4].value));
    EXPECT_EQ(outcomes[0].optimum, 3);
    EXPECT_EQ(outcomes[1].optimum, 0);
    EXPECT_EQ(outcomes[2].optimum, 0);
    EXPECT_EQ(outcomes[5].optimum, 4);
    // Values that agree exactly at the same point, however many, are one optimum.
    std::vector<StartOutcome> same(4, outcome(500.0, {1.0, 1.0, 0.5, 10.0}, 10));
    const std::vector<Optimum> one = mergeOptima(same, regions1);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].starts, 4);
}

class ExploreRecord : public InScratchWorkDir {};

TEST_F(ExploreRecord, RecordReadsBackAtFullPrecision) {
    const ModelEntry& model = *findModel(1);
    ExploreMap map;
    map.model = 1;
    map.seed = 18446744073709551615ULL;
    map.budget = 300;
    map.design = Design::strength;
    map.regions = regions1;
    map.outcomes = {outcome(483.95589055152993, {1.002584305, 1.002501366, 0.1 + 0.2, 14.1}, 7),
                    outcome(753.1889741, {0.83, 0.85, 0.84, 10.2}, 9)};
    map.outcomes[0].label = "startvec1.txt \"quoted\"\n";
    map.optima = mergeOptima(map.outcomes, map.regions);
    map.optima[0].settledness.generations = 1234;
    map.optima[0].settledness.lambda = 0.9;
    map.optima[0].settledness.remaining = 9e-8;
    map.optima[0].settledness.cliff = "wSS";
    map.optima[1].settledness.lambda = NAN;
    std::string error;
    ASSERT_TRUE(writeResultFile("r.json", exploreJson(model, map), error)) << error;
    ExploreMap back;
    ASSERT_TRUE(readExploreRecord("r.json", back, error)) << error;
    EXPECT_EQ(back.model, 1);
    EXPECT_EQ(back.design, Design::strength);
    EXPECT_EQ(back.budget, 300);
    EXPECT_EQ(back.method, ""); // a record from before the method was recorded
    ASSERT_EQ(back.optima.size(), 2u);
    EXPECT_EQ(back.optima[0].value, 483.95589055152993);
    EXPECT_EQ(back.optima[0].point, map.optima[0].point);
    EXPECT_EQ(back.optima[0].settledness.generations, 1234);
    EXPECT_EQ(back.optima[0].settledness.cliff, "wSS");
    EXPECT_TRUE(std::isnan(back.optima[1].settledness.lambda)); // written as null
    ASSERT_EQ(back.regions.size(), 4u);
    EXPECT_EQ(back.regions[0].low, 0.8);
    EXPECT_TRUE(back.regions[3].log);
    EXPECT_FALSE(back.regions[2].log);

    const std::pair<const char*, std::string> bad[] = {
        {"{\"format\": \"zonefit-fit-record\"}",
         "b.json: not an explore record (no \"format\": \"zonefit-explore-record\")"},
        {"{\"format\": \"zonefit-explore-record\", ", "b.json: not valid JSON near line 1"},
        // The line of the fault, not that of the start; what JSON has no word for is a fault.
        {"{\"format\": \"zonefit-explore-record\",\n\"model\": 1,\n\"seed\": nan}",
         "b.json: not valid JSON near line 3"},
        {"{\"format\": \"zonefit-explore-record\", \"model\": 11}",
         "b.json: \"model\" must be a model number from 1 to 10"},
        {"{\"format\": \"zonefit-explore-record\", \"model\": 1, \"regions\": []}",
         "b.json: \"regions\" must list 4 regions"},
    };
    for (const auto& [text, message] : bad) {
        std::ofstream("b.json") << text;
        EXPECT_FALSE(readExploreRecord("b.json", back, error)) << text;
        EXPECT_EQ(error, message);
    }
    EXPECT_FALSE(readExploreRecord("missing.json", back, error));
    EXPECT_EQ(error, "cannot read the explore record missing.json");
}

// Seeds up to 2^64 - 1 and the settled state of each optimum come back exactly.
TEST_F(ExploreRecord, SeedsAndStatesReadBackExactly) {
    std::ofstream("s.json") << exploreJson(*findModel(1), samples::exploreMap());
    ExploreMap back;
    std::string error;
    ASSERT_TRUE(readExploreRecord("s.json", back, error)) << error;
    EXPECT_EQ(back.seed, 18446744073709551615ull);
    EXPECT_EQ(back.design, Design::strength);
    EXPECT_EQ(back.objective, ObjectiveKind::settled);
    ASSERT_EQ(back.optima.size(), 2u);
    EXPECT_TRUE(back.optima[0].stateMeasured);
    EXPECT_EQ(back.optima[0].state.kind, StateKind::transientThenEquilibrium);
    EXPECT_EQ(back.optima[0].state.generations, 123456789012);
    EXPECT_EQ(back.optima[0].state.lastChange, 4.9406564584124654e-324);
    EXPECT_FALSE(back.optima[1].stateMeasured);
    EXPECT_TRUE(std::isnan(back.optima[1].value));
    EXPECT_EQ(back.optima[1].settledness.cliffChange, -12.5);
    EXPECT_EQ(back.cpuSeconds, 12.75);
}

TEST(StartValuesFigure, OneDotPerStartInAStandaloneDocument) {
    const ModelEntry& model = *findModel(1);
    ExploreMap map;
    map.regions = regions1;
    map.outcomes = {outcome(500.0, {1, 1, 0.5, 10}, 1), outcome(480.0, {1, 1, 0.6, 10}, 1),
                    outcome(1.7976931e+308, {1, 1, 0.5, 150}, 1)};
    map.optima = mergeOptima(map.outcomes, map.regions);
    const std::string svg = startValuesSvg(model, map);
    EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", 0), 0u);
    EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
    std::size_t dots = 0;
    for (std::size_t at = svg.find("<circle"); at != std::string::npos;
         at = svg.find("<circle", at + 1)) {
        dots++;
    }
    EXPECT_EQ(dots, 3u);
    EXPECT_NE(svg.find("3 starts, best -lnL 480 reached by 1"), std::string::npos);
    EXPECT_EQ(svg.find("nan"), std::string::npos);
    EXPECT_EQ(svg.find("inf"), std::string::npos);
}

// The locus follows the objective only when one is set; a record without it has none.
TEST_F(ExploreRecord, TheLocusReadsBackAndIsAbsentWithoutOne) {
    ExploreMap map = samples::exploreMap();
    const std::string plain = exploreJson(*findModel(1), map);
    EXPECT_EQ(plain.find("locus"), std::string::npos);
    map.locus = "Mdh-1";
    const std::string text = exploreJson(*findModel(1), map);
    EXPECT_NE(text.find("\"objective\": \"settled\",\n  \"locus\": \"Mdh-1\",\n"),
              std::string::npos)
        << text;
    ExploreMap back;
    std::string error;
    std::ofstream("l.json") << text;
    ASSERT_TRUE(readExploreRecord("l.json", back, error)) << error;
    EXPECT_EQ(back.locus, "Mdh-1");
    EXPECT_EQ(back.method, "crs2");
    std::ofstream("p.json") << plain;
    ASSERT_TRUE(readExploreRecord("p.json", back, error)) << error;
    EXPECT_EQ(back.locus, "");
    for (const char* locus : {"\"\"", "2"}) {
        std::string bad = text;
        bad.replace(bad.find("\"Mdh-1\""), 7, locus);
        std::ofstream("b.json") << bad;
        EXPECT_FALSE(readExploreRecord("b.json", back, error)) << locus;
        EXPECT_EQ(error, "b.json: \"locus\" must be a locus name or null");
    }
}
