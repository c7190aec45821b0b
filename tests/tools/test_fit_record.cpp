// The fit record: written at full precision, read back whole, anything else refused.
#include "tools/formats/fit_record.h"

#include <gtest/gtest.h>

namespace {

FitRecord sampleRecord() {
    FitRecord r = newFitRecord(*findModel(1), {1.2, 0.8, 0.3, 15}, {0, 0, 0.05, 2});
    r.point = {1.0027124000000001, 1.0016635, 0.46893661, 7.0429750000000002};
    r.value = 1157.6058123456789;
    r.seed = 18446744073709551615ull; // far beyond the integers a double holds
    r.evaluations = 179963;
    r.cpuSeconds = 2040.5;
    r.wallSeconds = 2051.25;
    r.commandLine = {"zonetool", "fit", "1", "--start", "my \"dir\"/start\nfile.txt"};
    return r;
}

std::string refusal(const std::string& text) {
    FitRecord record;
    std::string error;
    EXPECT_FALSE(parseFitRecord(text, record, error)) << text;
    return error;
}

std::string replaced(const std::string& from, const std::string& to) {
    std::string text = fitRecordJson(sampleRecord());
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return text.replace(at, from.size(), to);
}

} // namespace

TEST(FitRecord, NewRecordTakesNamesAndFreeFlagsFromTheModelAndSteps) {
    const FitRecord r =
        newFitRecord(*findModel(8), {1, 1, 1, 1, 0.5, 10, 400}, {0, 0.1, 0, 0.1, 0, 0, 5});
    EXPECT_EQ(r.model, 8);
    EXPECT_EQ(r.name, "C_2");
    ASSERT_EQ(r.parameters.size(), 7u);
    EXPECT_EQ(r.parameters[5], "sigma");
    EXPECT_EQ(r.free, (std::vector<bool>{false, true, false, true, false, false, true}));
    EXPECT_EQ(freeParameterCount(r.free, 7), 3);
    // Coordinates past the model's own are not its parameters; no flags means all free.
    EXPECT_EQ(freeParameterCount({true, false, true, true, true}, 4), 3);
    EXPECT_EQ(freeParameterCount({}, 4), 4);
    EXPECT_EQ(recordFileName("SS1_ML_seed3"), "SS1_ML_seed3.json");
    EXPECT_FALSE(programVersion().empty());
}

TEST(FitRecord, ReadsBackEveryFieldExactly) {
    const FitRecord original = sampleRecord();
    const std::string text = fitRecordJson(original);
    EXPECT_EQ(text.rfind("{\n  \"format\": \"zonefit-fit-record\",\n  \"version\": 1,\n", 0), 0u)
        << text;
    EXPECT_NE(text.find("\n  \"value\": 1157.6058123456789,\n"), std::string::npos) << text;
    FitRecord back;
    std::string error;
    ASSERT_TRUE(parseFitRecord(text, back, error)) << error;
    EXPECT_EQ(back.model, 1);
    EXPECT_EQ(back.name, "SS_1");
    EXPECT_EQ(back.parameters, original.parameters);
    EXPECT_EQ(back.point, original.point);
    EXPECT_EQ(back.value, original.value);
    EXPECT_EQ(back.seed, original.seed);
    EXPECT_EQ(back.evaluations, 179963);
    EXPECT_EQ(back.start, original.start);
    EXPECT_EQ(back.steps, original.steps);
    EXPECT_EQ(back.free, original.free);
    EXPECT_EQ(back.cpuSeconds, 2040.5);
    EXPECT_EQ(back.wallSeconds, 2051.25);
    EXPECT_EQ(back.programVersion, original.programVersion);
    EXPECT_EQ(back.commandLine, original.commandLine);
    // A clock-seeded fit has a null seed.
    FitRecord clock = original;
    clock.seed.reset();
    ASSERT_TRUE(parseFitRecord(fitRecordJson(clock), back, error)) << error;
    EXPECT_FALSE(back.seed.has_value());
}

TEST(FitRecord, RefusesOtherDocumentsAndInconsistentRecords) {
    EXPECT_EQ(refusal("[1]"), "not a fit record (no JSON object)");
    EXPECT_EQ(refusal("{\"format\": 1"), "not valid JSON near line 1");
    // A record cut short, a table, and a record naming a member twice.
    const std::string whole = fitRecordJson(sampleRecord());
    EXPECT_EQ(refusal(whole.substr(0, whole.find("\"steps\""))), "not valid JSON near line 12");
    EXPECT_EQ(refusal("model\tvalue\n1\t1157.6\n"), "not valid JSON near line 1");
    EXPECT_EQ(refusal(replaced("\"version\": 1,", "\"version\": 1, \"version\": 1,")),
              "not valid JSON: the member \"version\" appears twice in one object");
    EXPECT_EQ(refusal(replaced("\"point\": [", "\"point\": [null, ")),
              "member \"point\" holds something other than numbers");
    EXPECT_EQ(refusal(replaced("\"command_line\": [", "\"command_line\": [1, ")),
              "member \"command_line\" holds something other than strings");
    EXPECT_EQ(refusal(replaced("zonefit-fit-record", "zonefit-explore-record")),
              "not a fit record (format \"zonefit-explore-record\")");
    EXPECT_EQ(refusal(replaced("\"version\": 1", "\"version\": 2")),
              "fit record version 2 is not supported (only 1)");
    EXPECT_EQ(refusal(replaced("\"model\": 1", "\"model\": 11")),
              "member \"model\" is not a whole number in range");
    EXPECT_EQ(refusal(replaced("\"evaluations\"", "\"evals\"")),
              "member \"evaluations\" is missing");
    EXPECT_EQ(refusal(replaced("\"name\": \"SS_1\"", "\"name\": 1")),
              "member \"name\" is not a string");
    EXPECT_EQ(refusal(replaced("\"free\": [false", "\"free\": [0")),
              "member \"free\" holds something other than true and false");
    EXPECT_EQ(refusal(replaced("\"steps\": [0, ", "\"steps\": [")),
              "point, start, steps and free differ in length");
    for (const char* seed : {"18446744073709551616", "1.5", "-1", "\"3\""}) {
        EXPECT_EQ(
            refusal(replaced("\"seed\": 18446744073709551615", std::string("\"seed\": ") + seed)),
            "member \"seed\" is not a whole number from 0 to 18446744073709551615 or null")
            << seed;
    }
}

TEST(FitRecord, FileReadingNamesThePath) {
    FitRecord record;
    std::string error;
    EXPECT_FALSE(readFitRecord("/nonexistent/SS1_ML_.json", record, error));
    EXPECT_EQ(error, "/nonexistent/SS1_ML_.json: cannot open: No such file or directory");
}

TEST(FitRecord, RecordsTheObjectiveAndReadsOlderRecordsAsZonefit) {
    FitRecord settled = sampleRecord();
    settled.objective = ObjectiveKind::settled;
    const std::string text = fitRecordJson(settled);
    EXPECT_EQ(text.substr(text.size() - 27), "  \"objective\": \"settled\"\n}\n");
    FitRecord back;
    std::string error;
    ASSERT_TRUE(parseFitRecord(text, back, error)) << error;
    EXPECT_EQ(back.objective, ObjectiveKind::settled);
    // A record written before the objective was recorded is one of zonefit's.
    const std::string older = replaced(",\n  \"objective\": \"zonefit\"", "");
    back.objective = ObjectiveKind::settled;
    ASSERT_TRUE(parseFitRecord(older, back, error)) << error;
    EXPECT_EQ(back.objective, ObjectiveKind::zonefit);
    for (const char* kind : {"\"both\"", "1", "null"}) {
        EXPECT_EQ(
            refusal(replaced("\"objective\": \"zonefit\"", std::string("\"objective\": ") + kind)),
            "member \"objective\" is not \"settled\" or \"zonefit\"")
            << kind;
    }
}

TEST(FitRecord, RecordsTheLocusOnlyWhenOneIsSet) {
    FitRecord ofLocus = sampleRecord();
    ofLocus.locus = "Mdh-1 \"b\"";
    const std::string text = fitRecordJson(ofLocus);
    const std::string tail = "  \"objective\": \"zonefit\",\n  \"locus\": \"Mdh-1 \\\"b\\\"\"\n}\n";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    FitRecord back;
    std::string error;
    ASSERT_TRUE(parseFitRecord(text, back, error)) << error;
    EXPECT_EQ(back.locus, "Mdh-1 \"b\"");
    // Without a locus the record is the one written before loci were recorded.
    EXPECT_EQ(fitRecordJson(sampleRecord()).find("locus"), std::string::npos);
    back.locus = "A";
    ASSERT_TRUE(parseFitRecord(fitRecordJson(sampleRecord()), back, error)) << error;
    EXPECT_EQ(back.locus, "");
    ASSERT_TRUE(
        parseFitRecord(replaced("\"zonefit\"\n", "\"zonefit\",\n  \"locus\": null\n"), back, error))
        << error;
    EXPECT_EQ(back.locus, "");
    for (const char* locus : {"\"\"", "7", "[\"A\"]"}) {
        EXPECT_EQ(refusal(replaced("\"zonefit\"\n",
                                   std::string("\"zonefit\",\n  \"locus\": ") + locus + "\n")),
                  "member \"locus\" is not a locus name or null")
            << locus;
    }
}
