// Every JSON file zonetool writes, byte for byte: the records, explore maps and parts,
// comparisons and summaries made of the samples in support/json_samples.h must read as
// golden/json_writers.txt, which the writers made before they went through the JSON library
// (explore records have since gained the members "searches" and "confirmed").
#include "support/json_samples.h"
#include "tools/commands/compare_command.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string golden() {
    std::ifstream in(std::string(ZONEFIT_SOURCE_DIR) + "/tests/tools/golden/json_writers.txt",
                     std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The golden file's section `name`: the text between its "=====name" line and the next.
std::string section(const std::string& name) {
    const std::string text = golden();
    const std::string mark = "=====" + name + "\n";
    const std::size_t from = text.find(mark);
    EXPECT_NE(from, std::string::npos) << name;
    if (from == std::string::npos) {
        return "";
    }
    const std::size_t begin = from + mark.size();
    const std::size_t end = text.find("=====", begin);
    return text.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

} // namespace

TEST(JsonWriters, FitRecordsAsBefore) {
    EXPECT_EQ(fitRecordJson(samples::fitRecord()), section("record"));
    FitRecord clock = samples::fitRecord();
    clock.seed.reset();
    clock.data.clear();
    clock.dataChecksum.clear();
    clock.value = HUGE_VAL;
    clock.free.clear();
    clock.point.clear();
    clock.start.clear();
    clock.steps.clear();
    EXPECT_EQ(fitRecordJson(clock), section("record2"));
}

TEST(JsonWriters, ExploreRecordsAndPartsAsBefore) {
    const ModelEntry& model = *findModel(1);
    EXPECT_EQ(exploreJson(model, samples::exploreMap()), section("explore"));
    ExploreMap empty;
    empty.model = 1;
    EXPECT_EQ(exploreJson(model, empty), section("explore2"));
    EXPECT_EQ(
        explorePartJson(samples::exploreRun(true), 2, 3, samples::exploreMap().outcomes, 1.5, 0.25),
        section("part"));
    EXPECT_EQ(explorePartJson(samples::exploreRun(false), 1, 1, {}, 0, 0), section("part2"));
}

TEST(JsonWriters, ComparisonsAndSummariesAsBefore) {
    for (const auto& [settled, name] :
         {std::make_pair(false, "summary1"), std::make_pair(true, "summary2")}) {
        const std::string members = section(name);
        EXPECT_EQ(jsonInline(summaryJson(samples::fitSummary(settled))),
                  "{" + members.substr(0, members.size() - 1) + "}");
    }
    EXPECT_EQ(formatComparison(samples::comparisonRows(), TableFormat::json, true,
                               {summaryJson(samples::fitSummary(true)), Json()}),
              section("compare"));
    EXPECT_EQ(formatComparison({}, TableFormat::json), section("compare2"));
}
