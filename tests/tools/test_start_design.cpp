// Start designs of the multi-start search: generator, Latin hypercube, regions and steps.
#include "tools/analysis/start_design.h"

#include <gtest/gtest.h>

#include "tools/formats/data_option.h"

#include <cmath>
#include <set>

TEST(SplitMix64, PublishedOutputsAndOpenInterval) {
    // The first outputs from seed 0 as published with the generator.
    SplitMix64 rng(0);
    EXPECT_EQ(rng.next(), 0xe220a8397b1dcdafULL);
    EXPECT_EQ(rng.next(), 0x6e789e6aa1b965f4ULL);
    EXPECT_EQ(rng.next(), 0x06c45d188009454fULL);
    SplitMix64 other(7);
    for (int i = 0; i < 10000; i++) {
        const double u = other.open01();
        ASSERT_GT(u, 0.0);
        ASSERT_LT(u, 1.0);
        ASSERT_LT(other.below(3), 3u);
    }
    EXPECT_EQ(other.below(1), 0u);
}

TEST(LatinHypercube, OnePointPerSliceOnEveryAxisAndSameSeedSameDesign) {
    const int points = 16;
    const auto design = latinHypercube(points, 5, 42);
    ASSERT_EQ(design.size(), 16u);
    for (int d = 0; d < 5; d++) {
        std::set<int> slices;
        for (const auto& x : design) {
            ASSERT_GT(x[d], 0.0);
            ASSERT_LT(x[d], 1.0);
            slices.insert(static_cast<int>(std::floor(x[d] * points)));
        }
        EXPECT_EQ(slices.size(), 16u) << "axis " << d;
    }
    EXPECT_EQ(latinHypercube(points, 5, 42), design);
    EXPECT_NE(latinHypercube(points, 5, 43), design);
    EXPECT_TRUE(latinHypercube(0, 3, 1).empty());
    EXPECT_EQ(latinHypercube(1, 2, 1).size(), 1u);
}

TEST(DesignStarts, StaysInRegionsAndPairsFitnessesByStrength) {
    const ModelEntry& model = *findModel(1);
    const std::vector<Region> regions = defaultRegions(DataContext{}, model);
    for (Design design : {Design::box, Design::strength}) {
        for (const auto& x : designStarts(model, regions, 64, 3, design)) {
            for (std::size_t j = 0; j < 4; j++) {
                EXPECT_GE(x[j], regions[j].low) << designName(design) << " x" << j;
                EXPECT_LE(x[j], regions[j].high) << designName(design) << " x" << j;
                EXPECT_TRUE(insideBox(model.parameters[j], x[j]));
            }
        }
    }
    // By strength, both homozygotes are fitter than SI or both less fit (ln w = s(1 +- a)),
    // and about half of the pairs lie within 2% of 1.
    int near = 0;
    for (const auto& x : designStarts(model, regions, 64, 3, Design::strength)) {
        EXPECT_GE(std::log(x[0]) * std::log(x[1]), 0.0) << x[0] << " " << x[1];
        near += std::fabs(x[0] - 1) < 0.02 && std::fabs(x[1] - 1) < 0.02;
    }
    EXPECT_GE(near, 20);
    int nearBox = 0;
    for (const auto& x : designStarts(model, regions, 64, 3, Design::box)) {
        nearBox += std::fabs(x[0] - 1) < 0.02 && std::fabs(x[1] - 1) < 0.02;
    }
    EXPECT_LE(nearBox, 4);
    // A region of one value holds its parameter there, in either design.
    std::vector<Region> fixed = regions;
    fixed[1] = {0.9, 0.9, true};
    fixed[3] = {15.0, 15.0, true};
    for (const auto& x : designStarts(model, fixed, 8, 3, Design::strength)) {
        EXPECT_EQ(x[1], 0.9);
        EXPECT_EQ(x[3], 15.0);
    }
}

TEST(Regions, OptionReadsChecksAndKeepsTheScale) {
    const ModelEntry& model = *findModel(1);
    std::vector<Region> regions = defaultRegions(DataContext{}, model);
    std::string problem;
    ASSERT_TRUE(applyRegionOption(DataContext{}, model, "sigma=5:20", regions, problem)) << problem;
    EXPECT_EQ(regions[3].low, 5.0);
    EXPECT_EQ(regions[3].high, 20.0);
    EXPECT_TRUE(regions[3].log);
    ASSERT_TRUE(applyRegionOption(DataContext{}, model, "wSS=0:1.1", regions, problem));
    EXPECT_FALSE(regions[0].log); // a log scale cannot start at 0
    const std::pair<const char*, const char*> bad[] = {
        {"sigma", "--region needs NAME=LO:HI, not 'sigma'"},
        {"s=1:2", "--region: model 1 has no parameter 's'"},
        {"F=a:1", "--region F: LO and HI must be finite numbers, not 'a:1'"},
        {"F=0:inf", "--region F: LO and HI must be finite numbers, not '0:inf'"},
        {"F=0.6:0.5", "--region F: LO must not exceed HI"},
        {"F=0:1.5", "--region F: 0:1.5 leaves the box [0, 1]"},
    };
    for (const auto& [text, message] : bad) {
        EXPECT_FALSE(applyRegionOption(DataContext{}, model, text, regions, problem)) << text;
        EXPECT_EQ(problem, message);
    }
}

TEST(Regions, StepsAndDistancesOnEachScale) {
    const std::vector<Region> regions = {{1.0, 100.0, true}, {0.0, 1.0, false}, {2.0, 2.0, false}};
    const std::vector<double> steps = regionSteps(regions, {10.0, 0.5, 2.0});
    // A tenth of two decades is a factor 10^0.2 = 1.585: a step of 5.85 from 10.
    EXPECT_NEAR(steps[0], 10.0 * (std::pow(10.0, 0.2) - 1.0), 1e-12);
    EXPECT_DOUBLE_EQ(steps[1], 0.1);
    EXPECT_EQ(steps[2], 0.0);
    // 10 to 20 is log(2)/log(100) = 15% of the first region; the fixed parameter never counts.
    EXPECT_NEAR(regionDistance(regions, {10.0, 0.5, 2.0}, {20.0, 0.55, 7.0}),
                std::log(2.0) / std::log(100.0), 1e-12);
    EXPECT_NEAR(regionDistance(regions, {10.0, 0.5, 2.0}, {10.0, 0.75, 2.0}), 0.25, 1e-12);
    EXPECT_TRUE(std::isinf(regionDistance(regions, {10.0, NAN, 2.0}, {10.0, 0.5, 2.0})));
}
