// Starts derived from a transect's counts: the observed cline, the heterozygote deficit and the
// place of every value inside its box.
#include "data/builtin_transect.h"
#include "data/decimal_comma.h"
#include "models/scaled_boxes.h"
#include "tools/analysis/derived_start.h"
#include "tools/formats/start_file_commas.h"

#include "support/run_program.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A transect of `n` sites 10 apart with 12 individuals each: pure SS up to `centre` (in sites),
// pure II beyond, and the site at the centre holding 3 SS, 6 SI and 3 II.
Transect stepTransect(int n, int centre, bool sLeft = true) {
    Transect t;
    for (int i = 0; i < n; i++) {
        t.siteNames.push_back("s" + std::to_string(i));
        t.positions.push_back(10.0 * i);
        if (i + 1 < n) {
            t.distances.push_back(10.0);
        }
        const bool left = i < centre;
        const bool middle = i == centre;
        const int ss = middle ? 3 : (left == sLeft ? 12 : 0);
        const int ii = middle ? 3 : 12 - ss;
        t.countSS.push_back(ss);
        t.countSI.push_back(middle ? 6 : 0);
        t.countII.push_back(ii);
    }
    return t;
}

} // namespace

TEST(ObservedCline, CentreAtTheCrossingOfOneHalfAndItsDirection) {
    const Transect t = stepTransect(21, 10);
    const ObservedCline cline = fitObservedCline(t, t.positions);
    // p = 1 left of site 10 (position 100), 1/2 there, 0 beyond: a symmetric, steep cline.
    EXPECT_NEAR(cline.centre, 100.0, 1.0);
    EXPECT_TRUE(cline.sLeft);
    EXPECT_LT(cline.width, 20.0);
    EXPECT_GT(cline.width, 0.0);

    const Transect reversed = stepTransect(21, 10, false);
    const ObservedCline mirrored = fitObservedCline(reversed, reversed.positions);
    EXPECT_NEAR(mirrored.centre, 100.0, 1.0);
    EXPECT_FALSE(mirrored.sLeft);
}

TEST(ObservedCline, AxisOfSummedDistancesAndAFlatAxis) {
    Transect t = stepTransect(5, 2);
    EXPECT_EQ(summedDistances(t), (std::vector<double>{0, 10, 20, 30, 40}));
    // Every site at one place: no cline to fit, but a usable answer.
    const ObservedCline flat = fitObservedCline(t, std::vector<double>(5, 7.0));
    EXPECT_EQ(flat.centre, 7.0);
    EXPECT_EQ(flat.width, 1.0);
}

TEST(ObservedDeficit, PooledOverSitesWithNeisCorrection) {
    Transect t = stepTransect(3, 1);
    // Site 1: 3 SS, 6 SI, 3 II, p = 1/2: expected 12 * 1/2 * 24/23 = 6.2609 heterozygotes
    // with the sample-size correction, 6 observed: F_IS = 1 - 6 / 6.2609 = 0.04167.
    EXPECT_NEAR(observedDeficit(t, 0, 3), 1.0 - 6.0 / (6.0 * 24.0 / 23.0), 1e-12);
    // Only monomorphic sites: nothing to measure.
    EXPECT_TRUE(std::isnan(observedDeficit(t, 0, 1)));
    EXPECT_TRUE(std::isnan(observedDeficit(t, 2, 2)));
    // A single heterozygote sampled alone shows no deficit.
    t.countSS[0] = 0;
    t.countSI[0] = 1;
    t.countII[0] = 0;
    EXPECT_NEAR(observedDeficit(t, 0, 1), 0.0, 1e-12);
}

TEST(ObservedDeficit, SelfingRateOfTheEquilibriumDeficit) {
    // F_IS = F / (2 - F): a deficit of 1/3 is that of F = 1/2.
    EXPECT_NEAR(selfingFromDeficit(1.0 / 3.0), 0.5, 1e-12);
    EXPECT_EQ(selfingFromDeficit(-0.2), 0.02);
    EXPECT_EQ(selfingFromDeficit(std::nan("")), 0.02);
    EXPECT_EQ(selfingFromDeficit(0.99), 0.9);
}

TEST(DerivedBorders, EncloseTheClineAndLeaveEveryRegionADeme) {
    const Borders borders = derivedBorders(stepTransect(21, 10));
    EXPECT_GE(borders.border1, 8);
    EXPECT_LE(borders.border1, 10);
    EXPECT_GE(borders.border2, 11);
    EXPECT_LE(borders.border2, 12);
    // Three sites: one deme per region.
    const Borders smallest = derivedBorders(stepTransect(3, 1));
    EXPECT_EQ(smallest.border1, 1);
    EXPECT_EQ(smallest.border2, 2);
}

TEST(DeriveStart, EveryModelStrictlyInsideTheBoxesScaledToTheTransect) {
    const Transect t = stepTransect(25, 12);
    BoxSet boxes;
    boxes.scale(transectScale(t));
    const Borders borders = derivedBorders(t);
    for (const ModelEntry& model : modelTable) {
        const ModelBox& box = boxes.boxes()[model.number - 1];
        const DerivedStart derived = deriveStart(model, box, t, borders);
        ASSERT_EQ(static_cast<int>(derived.start.size()), model.parameterCount) << model.name;
        ASSERT_EQ(derived.steps.size(), derived.start.size()) << model.name;
        for (int k = 0; k < model.parameterCount; k++) {
            const ParameterInfo& parameter = box.parameters[k];
            EXPECT_TRUE(strictlyInside(parameter, derived.start[static_cast<std::size_t>(k)]))
                << model.name << " " << parameter.name << " " << derived.start[k];
            EXPECT_NE(derived.steps[static_cast<std::size_t>(k)], 0.0)
                << model.name << " " << parameter.name;
            EXPECT_TRUE(strictlyInside(parameter, derived.start[static_cast<std::size_t>(k)] +
                                                      derived.steps[static_cast<std::size_t>(k)]))
                << model.name << " " << parameter.name;
        }
    }
}

TEST(DeriveStart, ContactAtTheCentreFitnessesMirroredWhenIIIsOnTheLeft) {
    const Transect t = stepTransect(25, 12);
    BoxSet boxes;
    boxes.scale(transectScale(t));
    const ModelEntry& c1 = *findModel(7);
    const DerivedStart c1Start = deriveStart(c1, boxes.boxes()[6], t, Borders());
    // One region: both homozygotes 5 percent fitter than SI; contact at position 120.
    EXPECT_EQ(c1Start.start[0], 1.05);
    EXPECT_EQ(c1Start.start[1], 1.05);
    EXPECT_NEAR(c1Start.start[4], 120.0, 1.0);

    const ModelEntry& c2 = *findModel(8);
    const DerivedStart sLeft = deriveStart(c2, boxes.boxes()[7], t, Borders());
    EXPECT_EQ(std::vector<double>(sLeft.start.begin(), sLeft.start.begin() + 4),
              (std::vector<double>{1.05, 0.95, 0.95, 1.05}));
    const Transect reversed = stepTransect(25, 12, false);
    const DerivedStart iiLeft = deriveStart(c2, boxes.boxes()[7], reversed, Borders());
    EXPECT_TRUE(iiLeft.regionsReversed);
    EXPECT_EQ(std::vector<double>(iiLeft.start.begin(), iiLeft.start.begin() + 4),
              (std::vector<double>{0.95, 1.05, 1.05, 0.95}));
}

TEST(DeriveStart, OutOfBoxGuessesMoveInsideAndABoxOfOneValueFixesTheParameter) {
    const Transect t = stepTransect(25, 12);
    BoxSet boxes;
    boxes.scale(transectScale(t));
    // Contact at 120 lies below this box: the start moves a twentieth inside its lower end.
    boxes.override("contact", 150.0, 250.0, 7);
    boxes.override("F", 0.25, 0.25, 7);
    // Sigma of about 0.5 far below this box: a twentieth inside its lower end as well.
    boxes.override("sigma", 100.0, 200.0, 7);
    const DerivedStart derived = deriveStart(*findModel(7), boxes.boxes()[6], t, Borders());
    EXPECT_EQ(derived.start[4], 155.0);
    EXPECT_EQ(derived.start[3], 105.0);
    EXPECT_GT(derived.steps[4], 0.0);
    EXPECT_EQ(derived.start[2], 0.25);
    EXPECT_EQ(derived.steps[2], 0.0);
}

TEST(DeriveStart, FileTextHasTwoRowsInPlainDecimals) {
    DerivedStart derived;
    derived.start = {1.05, 0.3, 450.0};
    derived.steps = {0.15, -0.05, 50.0};
    EXPECT_EQ(startFileText(derived), "1.05 0.3 450\n0.15 -0.05 50\n");
}

TEST(DecimalCommas, ANumberWithOneCommaAndItsFix) {
    EXPECT_EQ(decimalCommaFixed("1,05"), "1.05");
    EXPECT_EQ(decimalCommaFixed("-0,3"), "-0.3");
    for (const char* text : {"1,", ",5", "1,2,3", "1.05", "a,b", "1,05x", ""}) {
        EXPECT_EQ(decimalCommaFixed(text), "") << text;
    }
}

TEST(DecimalCommas, StartFileRowsUpToTheirFirstWord) {
    ScratchDir dir;
    const std::pair<std::string, std::string> cases[] = {
        {"1,05 1,05 0,3 5\n0,15 0,15 0,05 2\n", "line 1: decimal commas are not read: write 1.05"},
        {"1.05 1.05 0.3 5\n0.15 0,15 0.05 2\n", "line 2: decimal commas are not read: write 0.15"},
        {"1.05,1.05,0.3,5\n", "line 1: values are separated by blanks or tabs, not commas"},
        {"1.05, 1.05, 0.3, 5\n", "line 1: values are separated by blanks or tabs, not commas"},
        // A word ends the row: commas after it, or in the third row, are never read.
        {"1.05 1.05 0.3 5 # was 1,2\n0.15 0.15 0.05 2\n", ""},
        {"1 1 0.3 5\n0.1 0.1 0.1 1\n1,5\n", ""},
    };
    for (const auto& c : cases) {
        dir.write("s.txt", c.first);
        const std::string path = dir.file("s.txt");
        EXPECT_EQ(startFileCommaProblem(path), c.second.empty() ? "" : path + " " + c.second)
            << c.first;
    }
    EXPECT_EQ(startFileCommaProblem(dir.file("missing.txt")), "");
}
