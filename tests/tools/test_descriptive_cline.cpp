// Descriptive clines: the shapes and their joins, the genotype frequencies, the likelihood as the
// models score it, and fits that recover known clines with honest support limits.
#include "tools/analysis/cline_concordance.h"
#include "tools/analysis/descriptive_cline.h"
#include "tools/analysis/descriptive_fit.h"
#include "tools/commands/simulate.h"
#include "tools/formats/xoshiro.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>

namespace {

std::vector<double> params(std::initializer_list<double> v) {
    return std::vector<double>(v);
}

double pAt(const ClineForm& form, const std::vector<double>& theta, double x) {
    return standardisedCline(form, theta, x).p;
}

// A regular transect of `sites` sites one unit apart, counts drawn at `sampleSize` per site
// from the sigmoid (centre, width) with deficit F, the S allele rising.
Transect drawnTransect(int sites, double centre, double width, double F, int sampleSize,
                       std::uint64_t seed) {
    Transect t;
    std::vector<Genotype> predicted;
    const ClineForm form;
    for (int i = 0; i < sites; i++) {
        t.siteNames.push_back(std::to_string(i));
        t.positions.push_back(i);
        if (i + 1 < sites) {
            t.distances.push_back(1.0);
        }
        t.countSS.push_back(1);
        t.countSI.push_back(0);
        t.countII.push_back(0);
        predicted.push_back(clineGenotypes(form, params({centre, width, F}), i, true));
    }
    return simulatedTransect(t, predicted, sampleSize, seed);
}

} // namespace

TEST(ClineShapes, SigmoidCrossesOneHalfAtTheCentreWithSlopeOneOverWidth) {
    const ClineForm sigmoid;
    const std::vector<double> theta = params({40.0, 8.0, 0.0});
    EXPECT_DOUBLE_EQ(pAt(sigmoid, theta, 40.0), 0.5);
    const double h = 1e-5;
    const double slope = (pAt(sigmoid, theta, 40.0 + h) - pAt(sigmoid, theta, 40.0 - h)) / (2 * h);
    EXPECT_NEAR(slope, 1.0 / 8.0, 1e-9);
    // Far out q = 1 - p keeps its digits: 1 / (1 + e^40) at 80 units beyond the centre.
    EXPECT_NEAR(standardisedCline(sigmoid, theta, 120.0).q / std::exp(-40.0), 1.0, 1e-12);
}

TEST(ClineShapes, StepsJoinTheSigmoidWithoutJumpOrKinkAndDecayAtTheirOwnRate) {
    // Centre 0, width 4 (slope parameter 1), joins at -3 and +2, tails at a fifth and a half of
    // the centre's rate.
    const ClineForm stepped{ClineTails::both, DeficitShape::constant, false};
    const std::vector<double> theta = params({0.0, 4.0, 3.0, 0.2, 2.0, 0.5, 0.0});
    const double h = 1e-6;
    for (double join : {-3.0, 2.0}) {
        const double below = pAt(stepped, theta, join - h);
        const double above = pAt(stepped, theta, join + h);
        EXPECT_NEAR(below, above, 1e-6) << join;
        const double slopeBelow = (below - pAt(stepped, theta, join - 2 * h)) / h;
        const double slopeAbove = (pAt(stepped, theta, join + 2 * h) - above) / h;
        EXPECT_NEAR(slopeBelow, slopeAbove, 1e-4) << join;
    }
    // Within the joins it is the sigmoid.
    EXPECT_DOUBLE_EQ(pAt(stepped, theta, 1.0), 1.0 / (1.0 + std::exp(-1.0)));
    // Far out ln p (left) and ln q (right) fall at 4 tau / width per unit: 0.2 and 0.5.
    const double left = std::log(pAt(stepped, theta, -60.0)) - std::log(pAt(stepped, theta, -61.0));
    const double right = std::log(standardisedCline(stepped, theta, 61.0).q) -
                         std::log(standardisedCline(stepped, theta, 60.0).q);
    EXPECT_NEAR(left, 0.2, 1e-9);
    EXPECT_NEAR(right, -0.5, 1e-9);
    // One-sided shapes leave the other side a sigmoid.
    const ClineForm onlyRight{ClineTails::right, DeficitShape::constant, false};
    EXPECT_DOUBLE_EQ(pAt(onlyRight, params({0.0, 4.0, 2.0, 0.5, 0.0}), -10.0),
                     1.0 / (1.0 + std::exp(10.0)));
}

TEST(ClineShapes, ParameterNamesAndCountFollowTheForm) {
    EXPECT_EQ(parameterNames(ClineForm{}), (std::vector<std::string>{"centre", "width", "F"}));
    EXPECT_EQ(parameterNames(ClineForm{ClineTails::both, DeficitShape::peak, true}),
              (std::vector<std::string>{"centre", "width", "pmin", "pmax", "delta_left", "tau_left",
                                        "delta_right", "tau_right", "F_peak"}));
    EXPECT_EQ(clineLayout(ClineForm{ClineTails::left, DeficitShape::constant, false}).count, 5);
    ClineTails tails = ClineTails::none;
    EXPECT_TRUE(parseTails("stepped-right", tails));
    EXPECT_EQ(tails, ClineTails::right);
    EXPECT_FALSE(parseTails("step", tails));
}

TEST(ClineGenotypes, DeficitMovesHeterozygotesToHomozygotes) {
    // At the centre p = q = 1/2: with F = 0.2, SS = 0.25 + 0.05, SI = 0.5 * 0.8, II = 0.3.
    const ClineForm sigmoid;
    const Genotype g = clineGenotypes(sigmoid, params({0.0, 1.0, 0.2}), 0.0, true);
    EXPECT_DOUBLE_EQ(g.SS, 0.3);
    EXPECT_DOUBLE_EQ(g.SI, 0.4);
    EXPECT_DOUBLE_EQ(g.II, 0.3);
    // Free ends: p between 0.1 and 0.7; at the centre p = 0.4, q = 0.6 (F = 0: 0.16, 0.48, 0.36).
    const ClineForm ends{ClineTails::none, DeficitShape::constant, true};
    const Genotype e = clineGenotypes(ends, params({0.0, 1.0, 0.1, 0.7, 0.0}), 0.0, true);
    EXPECT_NEAR(e.SS, 0.16, 1e-15);
    EXPECT_NEAR(e.SI, 0.48, 1e-15);
    EXPECT_NEAR(e.II, 0.36, 1e-15);
    // When I rises, p is I's frequency: SS and II trade places.
    const Genotype swapped = clineGenotypes(ends, params({0.0, 1.0, 0.1, 0.7, 0.0}), 0.0, false);
    EXPECT_NEAR(swapped.SS, 0.36, 1e-15);
    EXPECT_NEAR(swapped.II, 0.16, 1e-15);
    // A peaked deficit is F_peak at the centre and a quarter of it where u = 1/2 +- sqrt(3)/4.
    const ClineForm peak{ClineTails::none, DeficitShape::peak, false};
    const Genotype atCentre = clineGenotypes(peak, params({0.0, 4.0, 0.6}), 0.0, true);
    EXPECT_DOUBLE_EQ(atCentre.SI, 0.5 * 0.4);
    // Far in a tail the frequencies stay above 0, so a zero count scores 0, not NaN.
    const Genotype far = clineGenotypes(sigmoid, params({0.0, 1.0, 0.0}), -1000.0, true);
    EXPECT_GT(far.SS, 0.0);
    EXPECT_DOUBLE_EQ(far.II, 1.0);
}

TEST(ClineLikelihood, IsTheMultinomialScoreWithoutCoefficientSummedOverSites) {
    // Two sites at the centre (frequencies 1/4, 1/2, 1/4 with F = 0) with counts (1, 2, 3) and
    // (0, 4, 0): -(1 ln 1/4 + 2 ln 1/2 + 3 ln 1/4) - 4 ln 1/2 = 14 ln 2.
    Transect t;
    t.siteNames = {"a", "b"};
    t.positions = {5.0, 5.0};
    t.distances = {0.0};
    t.countSS = {1, 0};
    t.countSI = {2, 4};
    t.countII = {3, 0};
    const ClineData data = clineData(t, ClineAxis::position);
    EXPECT_EQ(data.individuals, 10);
    EXPECT_NEAR(clineNegLogLikelihood(ClineForm{}, params({5.0, 1.0, 0.0}), data),
                14.0 * std::log(2.0), 1e-12);
    // AICc: 2k + 2 value + 2k(k+1)/(n-k-1); k = 3, n = 10: 6 + 20 + 24/6.
    EXPECT_DOUBLE_EQ(clineAicc(10.0, 3, 10), 30.0);
}

TEST(ClineData, AxisIsPositionOrSummedDistanceAndOrientationFollowsTheAlleles) {
    // Positions 0, 10, 5 (the third site lies back on the axis); distances 3 and 4.
    Transect t;
    t.siteNames = {"a", "b", "c"};
    t.positions = {0.0, 10.0, 5.0};
    t.distances = {3.0, 4.0};
    t.countSS = {0, 1, 5};
    t.countSI = {0, 0, 0};
    t.countII = {5, 1, 0};
    EXPECT_EQ(clineData(t, ClineAxis::position).x, (std::vector<double>{0.0, 10.0, 5.0}));
    EXPECT_EQ(clineData(t, ClineAxis::distance).x, (std::vector<double>{0.0, 3.0, 7.0}));
    // By position the upper half is site b (S share 1/2), the lower a and c (1/2 as well: not
    // more): I rises; by distance S rises (upper half: c alone, all S).
    EXPECT_FALSE(clineData(t, ClineAxis::position).sRises);
    EXPECT_TRUE(clineData(t, ClineAxis::distance).sRises);
}

TEST(ClineFit, RecoversAKnownSigmoidWithLimitsAroundTheEstimates) {
    // 61 sites, 200 individuals each, centre 30.3, width 9, F 0.2.
    const Transect t = drawnTransect(61, 30.3, 9.0, 0.2, 200, 11);
    const DescriptiveFit fit = fitCline(ClineForm{}, clineData(t, ClineAxis::position));
    ASSERT_EQ(fit.parameters.size(), 3u);
    EXPECT_NEAR(fit.theta[0], 30.3, 0.3);
    EXPECT_NEAR(fit.theta[1], 9.0, 0.6);
    EXPECT_NEAR(fit.theta[2], 0.2, 0.05);
    EXPECT_EQ(fit.k, 3);
    EXPECT_EQ(fit.individuals, 61 * 200);
    for (const ClineEstimate& e : fit.parameters) {
        EXPECT_LT(e.lower, e.estimate) << e.name;
        EXPECT_GT(e.upper, e.estimate) << e.name;
        EXPECT_FALSE(e.lowerOpen || e.upperOpen) << e.name;
    }
    // The limits are where -lnL, refitted, is 2 above the minimum: the centre held at its
    // upper limit and the rest refitted gives minimum + 2.
    const ClineData data = clineData(t, ClineAxis::position);
    struct Held {
        const ClineData* data;
        double centre;
    } held{&data, fit.parameters[0].upper};
    auto value = [](const std::vector<double>& x, void* c) {
        const Held& h = *static_cast<Held*>(c);
        return clineNegLogLikelihood(ClineForm{}, {h.centre, std::exp(x[0]), x[1]}, *h.data);
    };
    std::vector<double> best;
    const double profiled =
        minimiseWithin(value, &held, {std::log(0.5), 0.0}, {std::log(50.0), 1.0},
                       {{std::log(fit.theta[1]), fit.theta[2]}}, best);
    EXPECT_NEAR(profiled - fit.value, 2.0, 0.01);
    // The stepped shapes nest near the sigmoid: none fits worse than it by more than rounding.
    for (ClineTails tails : {ClineTails::left, ClineTails::right, ClineTails::both}) {
        const DescriptiveFit stepped =
            fitCline(ClineForm{tails, DeficitShape::constant, false}, data, false);
        EXPECT_LT(stepped.value, fit.value + 1.0) << tailsName(tails);
    }
}

TEST(ClineFit, TwoUnitLimitsCoverTheTruthInNinetyOfAHundredDataSets) {
    // 100 data sets of 31 sites with 30 individuals each from centre 15, width 6, F 0.1. Two
    // log-likelihood units are a 95% interval for one parameter; at least 90 must hold the
    // truth, for the centre and for the width.
    int centreCovered = 0;
    int widthCovered = 0;
    for (std::uint64_t seed = 1; seed <= 100; seed++) {
        const Transect t = drawnTransect(31, 15.0, 6.0, 0.1, 30, seed);
        const DescriptiveFit fit = fitCline(ClineForm{}, clineData(t, ClineAxis::position));
        centreCovered += fit.parameters[0].lower <= 15.0 && 15.0 <= fit.parameters[0].upper;
        widthCovered += fit.parameters[1].lower <= 6.0 && 6.0 <= fit.parameters[1].upper;
    }
    std::cout << "coverage of the 2-unit limits: centre " << centreCovered << "/100, width "
              << widthCovered << "/100\n";
    EXPECT_GE(centreCovered, 90);
    EXPECT_GE(widthCovered, 90);
}

TEST(ClineConcordance, SharedClinesAreAcceptedAndShiftedOnesRejected) {
    // Three loci drawn from one cline: no evidence against sharing; a fourth 6 units away is.
    std::vector<ClineData> same;
    std::vector<DescriptiveFit> fits;
    for (std::uint64_t seed : {21, 22, 23}) {
        same.push_back(clineData(drawnTransect(41, 20.0, 8.0, 0.0, 50, seed), ClineAxis::position));
        fits.push_back(fitCline(ClineForm{}, same.back(), false));
    }
    const ClineConcordance shared = testConcordance(same, fits);
    EXPECT_EQ(shared.df, 4);
    EXPECT_EQ(shared.sharedK, 2 + 3);
    EXPECT_EQ(shared.separateK, 9);
    EXPECT_GE(shared.lr, 0.0);
    EXPECT_GT(shared.p, 0.01);
    EXPECT_LT(shared.sharedAicc, shared.separateAicc);
    EXPECT_NEAR(shared.lr, 2.0 * (shared.sharedValue - shared.separateValue), 1e-9);

    same.push_back(clineData(drawnTransect(41, 26.0, 8.0, 0.0, 50, 24), ClineAxis::position));
    fits.push_back(fitCline(ClineForm{}, same.back(), false));
    const ClineConcordance shifted = testConcordance(same, fits);
    EXPECT_EQ(shifted.df, 6);
    EXPECT_LT(shifted.p, 1e-6);
    EXPECT_GT(shifted.sharedAicc, shifted.separateAicc);
}

TEST(ClineFit, AllShapesComeInOrderWithTheirLocusAndLimits) {
    // What a report fits first: the four shapes on one transect, in the order sigmoid,
    // stepped-left, stepped-right, stepped, with k 3, 5, 5, 7 and limits for every parameter.
    const Transect t = drawnTransect(41, 20.0, 8.0, 0.1, 40, 5);
    const std::vector<DescriptiveFit> fits =
        fitAllShapes(t, ClineAxis::distance, DeficitShape::constant, false, "L7");
    ASSERT_EQ(fits.size(), 4u);
    const int ks[] = {3, 5, 5, 7};
    for (std::size_t i = 0; i < fits.size(); i++) {
        EXPECT_EQ(fits[i].k, ks[i]);
        EXPECT_EQ(fits[i].locus, "L7");
        EXPECT_EQ(fits[i].axis, ClineAxis::distance);
        EXPECT_EQ(fits[i].parameters.size(), static_cast<std::size_t>(ks[i]));
        EXPECT_LT(fits[i].parameters[0].lower, fits[i].parameters[0].upper);
        EXPECT_LT(fits[i].value, fits[0].value + 1e-6) << i;
        EXPECT_LT(fits[i].seconds, 1.0) << i;
    }
    EXPECT_EQ(fits[3].form.tails, ClineTails::both);
}
