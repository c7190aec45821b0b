#include "data/transect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

TEST(TransectCounts, TotalsPerGenotype) {
    int ss = 0;
    int si = 0;
    int ii = 0;
    for (int i = 0; i < siteCount; i++) {
        ss += countSS[i];
        si += countSI[i];
        ii += countII[i];
    }
    EXPECT_EQ(ss, 228);
    EXPECT_EQ(si, 129);
    EXPECT_EQ(ii, 394);
    EXPECT_EQ(ss + si + ii, 751);
}

TEST(TransectCounts, EverySiteSampledSmallestOneLargestFortyAtSite84) {
    int smallest = 1000;
    int largest = 0;
    int largestSite = -1;
    for (int i = 0; i < siteCount; i++) {
        const int n = countSS[i] + countSI[i] + countII[i];
        smallest = std::min(smallest, n);
        if (n > largest) {
            largest = n;
            largestSite = i;
        }
    }
    EXPECT_EQ(smallest, 1);
    EXPECT_EQ(largest, 40);
    EXPECT_EQ(largestSite, 84);
}

namespace {
std::pair<int, int> foundFromTo(const int* counts) {
    int first = -1;
    int last = -1;
    for (int i = 0; i < siteCount; i++) {
        if (counts[i] > 0) {
            if (first < 0) {
                first = i;
            }
            last = i;
        }
    }
    return {first, last};
}
} // namespace

TEST(TransectCounts, WhereEachGenotypeIsFound) {
    EXPECT_EQ(foundFromTo(countSS), std::make_pair(0, 78));
    EXPECT_EQ(foundFromTo(countSI), std::make_pair(20, 86));
    EXPECT_EQ(foundFromTo(countII), std::make_pair(25, 104));
}

TEST(TransectDistances, RangeAndSum) {
    const double* smallest = std::min_element(siteDistance, siteDistance + gapCount);
    const double* largest = std::max_element(siteDistance, siteDistance + gapCount);
    EXPECT_EQ(*smallest, 1.56);
    EXPECT_EQ(smallest - siteDistance, 38);
    EXPECT_EQ(*largest, 90.891);
    EXPECT_EQ(largest - siteDistance, 78);
    double sum = 0.0;
    for (double d : siteDistance) {
        sum += d;
    }
    EXPECT_NEAR(sum, 1421.863, 1e-9);
}

TEST(TransectPositions, NotMonotoneWithKnownMaximum) {
    EXPECT_EQ(sitePosition[0], 0.0);
    EXPECT_EQ(sitePosition[104], 852.049);
    std::vector<int> decreasesAfter;
    for (int i = 0; i + 1 < siteCount; i++) {
        if (sitePosition[i + 1] < sitePosition[i]) {
            decreasesAfter.push_back(i);
        }
    }
    EXPECT_EQ(decreasesAfter,
              (std::vector<int>{7, 12, 51, 57, 58, 59, 60, 61, 62, 63, 96, 101, 103}));
    EXPECT_EQ(sitePosition[45], sitePosition[46]);
    const double* largest = std::max_element(sitePosition, sitePosition + siteCount);
    EXPECT_EQ(*largest, 853.288);
    EXPECT_EQ(largest - sitePosition, 101);
}
