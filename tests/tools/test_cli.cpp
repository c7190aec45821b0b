// Argument lists and number formatting of zonetool.
#include "tools/formats/cli.h"

#include <gtest/gtest.h>

TEST(CliModelList, RangesAndCommasInOrderOfFirstMention) {
    std::vector<int> models;
    std::string problem;
    ASSERT_TRUE(parseModelList("1-10", models, problem));
    EXPECT_EQ(models, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    ASSERT_TRUE(parseModelList("7,1-3,2", models, problem));
    EXPECT_EQ(models, (std::vector<int>{7, 1, 2, 3}));
    ASSERT_TRUE(parseModelList("4", models, problem));
    EXPECT_EQ(models, (std::vector<int>{4}));
}

TEST(CliModelList, RefusesNumbersOutsideOneToTenAndBackwardRanges) {
    std::vector<int> models = {9};
    std::string problem;
    EXPECT_FALSE(parseModelList("0-3", models, problem));
    EXPECT_EQ(problem, "'0-3' is not a model number from 1 to 10 or a range such as 1-10");
    EXPECT_FALSE(parseModelList("1,,2", models, problem));
    EXPECT_FALSE(parseModelList("1-", models, problem));
    EXPECT_FALSE(parseModelList("5-2", models, problem));
    EXPECT_EQ(problem, "the range '5-2' runs backwards");
    EXPECT_EQ(models, (std::vector<int>{9})); // untouched on failure
}

TEST(CliSeedList, RangesDuplicatesAndLimit) {
    std::vector<std::uint64_t> seeds;
    std::string problem;
    ASSERT_TRUE(parseSeedList("1-3,2,10", 100, seeds, problem));
    EXPECT_EQ(seeds, (std::vector<std::uint64_t>{1, 2, 3, 10}));
    // The largest seed ends a range without wrapping round to 0.
    ASSERT_TRUE(parseSeedList("18446744073709551614-18446744073709551615", 100, seeds, problem));
    EXPECT_EQ(seeds.size(), 2u);
    EXPECT_EQ(seeds[1], 18446744073709551615u);
    EXPECT_FALSE(parseSeedList("1-5", 4, seeds, problem));
    EXPECT_EQ(problem, "more than 4 seeds");
    EXPECT_FALSE(parseSeedList("-1", 4, seeds, problem));
    EXPECT_FALSE(parseSeedList("x", 4, seeds, problem));
    EXPECT_EQ(problem, "'x' is not a seed (0 to 18446744073709551615) or a range of seeds");
}

TEST(CliNumbers, WholeTextMustBeRead) {
    int model = 0;
    EXPECT_TRUE(parseModel("0x0a", model));
    EXPECT_EQ(model, 10);
    EXPECT_FALSE(parseModel("1x", model));
    std::uint64_t seed = 0;
    EXPECT_FALSE(parseSeed("+3", seed));
    EXPECT_FALSE(parseSeed("18446744073709551616", seed));
    double value = 0.0;
    EXPECT_TRUE(parseNumber("1e-3", value));
    EXPECT_EQ(value, 0.001);
    EXPECT_FALSE(parseNumber("1.5 ", value));
    EXPECT_EQ(formatNumber(1141.23443, 6), "1141.23");
    EXPECT_EQ(format17(0.1), "0.10000000000000001");
}
