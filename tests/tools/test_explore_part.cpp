// The parts of an explore run: read back whole, and refused, naming the file, when they belong
// to another block or run or are no part at all.
#include "tools/analysis/explore_part.h"

#include "support/json_samples.h"
#include "support/work_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using ExplorePartFile = InScratchWorkDir;

void write(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
}

// The sample outcomes, cut to the two coordinates of the sample run.
std::vector<StartOutcome> sampleOutcomes() {
    std::vector<StartOutcome> outcomes = samples::exploreMap().outcomes;
    for (StartOutcome& o : outcomes) {
        o.start.resize(2);
        o.point.resize(2);
    }
    return outcomes;
}

// The sample part of block 2 of 3, with `from` replaced by `to`.
std::string samplePart(const std::string& from = "", const std::string& to = "") {
    std::string text =
        explorePartJson(samples::exploreRun(true), 2, 3, sampleOutcomes(), 1.5, 0.25);
    if (!from.empty()) {
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
    }
    return text;
}

// Why reading `text` as block 2 of 3 (of `count` starts) of the sample run fails.
std::string refusal(const std::string& text, std::size_t count = 2) {
    write("p.json", text);
    std::vector<StartOutcome> outcomes;
    double cpu = 0.0;
    double wall = 0.0;
    std::string error;
    EXPECT_FALSE(readExplorePart("p.json", samples::exploreRun(true), 2, 3, count, outcomes, cpu,
                                 wall, error))
        << text;
    return error;
}

} // namespace

TEST_F(ExplorePartFile, ReadsBackEveryOutcomeAndAddsTheTimes) {
    write("p.json", samplePart());
    std::vector<StartOutcome> outcomes(1);
    double cpu = 10.0;
    double wall = 1.0;
    std::string error;
    ASSERT_TRUE(
        readExplorePart("p.json", samples::exploreRun(true), 2, 3, 2, outcomes, cpu, wall, error))
        << error;
    ASSERT_EQ(outcomes.size(), 3u);
    const StartOutcome& first = outcomes[1];
    EXPECT_EQ(first.label, "startvec");
    EXPECT_EQ(first.start, (std::vector<double>{0.5, 1.0 / 3.0}));
    EXPECT_EQ(first.point, (std::vector<double>{0.25, 1e-5}));
    EXPECT_EQ(first.value, 1141.2344);
    EXPECT_EQ(first.evaluations, 400);
    EXPECT_TRUE(first.converged);
    EXPECT_TRUE(std::isnan(outcomes[2].value)); // written as null
    EXPECT_FALSE(outcomes[2].converged);
    EXPECT_EQ(cpu, 11.5);
    EXPECT_EQ(wall, 1.25);
}

TEST_F(ExplorePartFile, RefusesPartsOfOtherRunsAndOtherFiles) {
    std::vector<StartOutcome> outcomes;
    double cpu = 0.0;
    double wall = 0.0;
    std::string error;
    EXPECT_FALSE(readExplorePart("absent.json", samples::exploreRun(true), 2, 3, 2, outcomes, cpu,
                                 wall, error));
    EXPECT_EQ(error, "absent.json: cannot open: No such file or directory");
    const std::string whole = samplePart();
    EXPECT_EQ(refusal(whole.substr(0, whole.find("\"outcomes\""))),
              "p.json: not valid JSON near line 10");
    EXPECT_EQ(refusal(fitRecordJson(samples::fitRecord())),
              "p.json: not a part of an explore run (no \"format\": \"zonefit-explore-part\")");
    EXPECT_EQ(refusal(samplePart("\"block\": 2", "\"block\": 1")),
              "p.json holds block 1 of 3, not block 2 of 3 as its name says");
    EXPECT_EQ(refusal(samplePart("\"seed\": 7", "\"seed\": 8")),
              "p.json belongs to another run: its \"seed\" is 8, this run's 7");
    EXPECT_EQ(refusal(samplePart("\"objective\": \"zonefit\"", "\"objective\": \"settled\"")),
              "p.json belongs to another run: its \"objective\" is \"settled\", this run's "
              "\"zonefit\"");
    EXPECT_EQ(
        refusal(samplePart("\"data_checksum\": \"0123456789abcdef\"", "\"data_checksum\": null")),
        "p.json belongs to another run: its \"data_checksum\" is null, this run's "
        "\"0123456789abcdef\"");
    EXPECT_EQ(refusal(samplePart("\"steps\": [0, ", "\"steps\": [0.5, ")),
              "p.json belongs to another run: its \"start_vector\" differs from this run's");
    EXPECT_EQ(refusal(samplePart("\"box\": [\"sigma=1:50\", ", "\"box\": [")),
              "p.json belongs to another run: its \"box\" differs from this run's");
    // Parts of one file's loci share its checksum; the locus tells them apart.
    EXPECT_EQ(refusal(samplePart("\"objective\": \"zonefit\"",
                                 "\"objective\": \"zonefit\", \"locus\": \"B\"")),
              "p.json belongs to another run: its \"locus\" is \"B\", this run's null");
    ExploreRun ofLocus = samples::exploreRun(true);
    ofLocus.locus = "A";
    write("p.json", samplePart());
    EXPECT_FALSE(readExplorePart("p.json", ofLocus, 2, 3, 2, outcomes, cpu, wall, error));
    EXPECT_EQ(error, "p.json belongs to another run: its \"locus\" differs from this run's");
    EXPECT_EQ(refusal(samplePart(), 3), "p.json: block 2 of 3 needs the outcomes of 3 starts");
    EXPECT_EQ(refusal(samplePart("\"point\": [0.25, ", "\"point\": [")),
              "p.json: outcome 1 needs a \"start\" and a \"point\" of 2 numbers and its "
              "\"evaluations\"");
}

TEST_F(ExplorePartFile, APartFromBeforeTheObjectiveWasRecordedIsOneOfZonefit) {
    write("p.json", samplePart(", \"objective\": \"zonefit\"", ""));
    std::vector<StartOutcome> outcomes;
    double cpu = 0.0;
    double wall = 0.0;
    std::string error;
    EXPECT_TRUE(
        readExplorePart("p.json", samples::exploreRun(true), 2, 3, 2, outcomes, cpu, wall, error))
        << error;
}

// The global phase decides where a search ends, so the parts of one run share it; a part from
// before it was recorded searched with CMA-ES, the default then.
TEST_F(ExplorePartFile, APartOfAnotherGlobalPhaseIsRefused) {
    EXPECT_EQ(refusal(samplePart("\"method\": \"crs2\"", "\"method\": \"cmaes\"")),
              "p.json belongs to another run: its \"method\" is \"cmaes\", this run's \"crs2\"");
    EXPECT_EQ(refusal(samplePart(", \"method\": \"crs2\"", "")),
              "p.json belongs to another run: its \"method\" is \"cmaes\", this run's \"crs2\"");
    ExploreRun before = samples::exploreRun(true);
    before.method = GlobalMethod::cmaes;
    write("p.json", samplePart(", \"method\": \"crs2\"", ""));
    std::vector<StartOutcome> outcomes;
    double cpu = 0.0;
    double wall = 0.0;
    std::string error;
    EXPECT_TRUE(readExplorePart("p.json", before, 2, 3, 2, outcomes, cpu, wall, error)) << error;
}
