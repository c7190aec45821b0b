// Result-file names, reading a result line and finding result files in a directory.
#include "tools/formats/results.h"

#include "support/run_program.h"

#include <gtest/gtest.h>

TEST(ResultNames, PrefixAloneOrWithSeed) {
    EXPECT_EQ(resultFileName(*findModel(1), std::nullopt), "SS1_ML_");
    EXPECT_EQ(resultFileName(*findModel(10), std::uint64_t{3}), "C_3_F0_ML_seed3");
    int model = 0;
    std::optional<std::uint64_t> seed;
    ASSERT_TRUE(parseResultName("SS3_F0_ML_", model, seed));
    EXPECT_EQ(model, 4);
    EXPECT_FALSE(seed.has_value());
    ASSERT_TRUE(parseResultName("C_3_ML_seed12", model, seed));
    EXPECT_EQ(model, 9);
    EXPECT_EQ(seed, std::uint64_t{12});
    // Logs, temporary files and seeds not written the way we write them are not results.
    for (const char* other : {"SS1_ML_seed3.log", "SS1_ML_.tmp123", "SS1_ML_seed", "SS1_ML_seed03",
                              "SS1_ML_x", "startvec1.txt", "SS1_ML"}) {
        EXPECT_FALSE(parseResultName(other, model, seed)) << other;
    }
}

TEST(ResultFile, ReadsCoordinatesAndValue) {
    ScratchDir dir;
    // Extra coordinates past the model's four are kept, as zonefit writes them.
    dir.write("SS1_ML_", "1.2 0.8 0.3 15 7 481.31404\n\n");
    StoredResult result;
    std::string error;
    ASSERT_TRUE(readResultFile(dir.file("SS1_ML_"), *findModel(1), result, error)) << error;
    EXPECT_EQ(result.point, (std::vector<double>{1.2, 0.8, 0.3, 15, 7}));
    EXPECT_EQ(result.value, 481.31404);
    EXPECT_EQ(result.model, 1);
}

TEST(ResultFile, RefusesShortForeignAndMultiLineFiles) {
    ScratchDir dir;
    StoredResult result;
    std::string error;
    dir.write("a", "1 2 3 4\n");
    EXPECT_FALSE(readResultFile(dir.file("a"), *findModel(1), result, error));
    EXPECT_EQ(error, dir.file("a") + ": holds 4 numbers; model 1 (SS_1) needs 4 coordinates and "
                                     "the value");
    dir.write("b", "1 2 x 4 5\n");
    EXPECT_FALSE(readResultFile(dir.file("b"), *findModel(1), result, error));
    EXPECT_EQ(error, dir.file("b") + ": 'x' is not a number");
    dir.write("c", "1 2 3 4 5\n1 2 3 4 5\n");
    EXPECT_FALSE(readResultFile(dir.file("c"), *findModel(1), result, error));
    EXPECT_EQ(error, dir.file("c") + ": holds more than one line");
    EXPECT_FALSE(readResultFile(dir.file("missing"), *findModel(1), result, error));
}

TEST(ResultSearch, FindsEveryModelAndSeedInOrderAndReportsBadFiles) {
    ScratchDir dir;
    dir.write("C_1_ML_", "1 1 0.5 10 450 900\n");
    dir.write("SS1_ML_seed2", "1 1 0.5 10 801\n");
    dir.write("SS1_ML_seed10", "1 1 0.5 10 802\n");
    dir.write("SS1_ML_", "1 1 0.5 10 800\n");
    dir.write("SS1_ML_seed2.log", "We'll do model 1: SS_1\n");
    dir.write("SS2_ML_", "broken\n");
    std::vector<StoredResult> found;
    std::vector<std::string> problems;
    ASSERT_TRUE(findResults(dir.path(), found, problems));
    ASSERT_EQ(found.size(), 4u);
    EXPECT_EQ(found[0].value, 800);
    EXPECT_EQ(found[1].seed, std::uint64_t{2});
    EXPECT_EQ(found[2].seed, std::uint64_t{10});
    EXPECT_EQ(found[3].model, 7);
    EXPECT_EQ(found[3].path, dir.file("C_1_ML_"));
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0], dir.file("SS2_ML_") + ": 'broken' is not a number");
    EXPECT_FALSE(findResults(dir.file("nowhere"), found, problems));
}
