#include "models/ss.h"

#include <boost/math/distributions/normal.hpp>
#include <cmath>
#include <functional>
#include <iostream>
#include <limits>
#include <vector>

#include "data/borders.h"
#include "data/transect.h"
#include "models/ss_frame.h"
#include "population/diagnostics.h"
#include "population/population.h"
#include "population/simulation_report.h"

// The frame that all stepping-stone objectives share; models/SS_F.cpp uses it as well.
namespace ssframe {

constexpr double penaltyUnit = 100000.0; // every penalty is at least this
constexpr double noUpperBound = std::numeric_limits<double>::infinity();

// Penalty for a parameter value v that failed its bounds test: (|v| + 1) penalty units, so
// that it grows with the distance from 0; a value that is not a number costs one unit.
double penalty(double v) {
    if (std::isnan(v)) {
        return penaltyUnit;
    }
    return (std::fabs(v) + 1.0) * penaltyUnit;
}

// True when v lies outside [low, high]; a value that is not finite is always outside, also
// when high is infinite.
bool outside(double v, double low, double high) {
    return !std::isfinite(v) || v < low || v > high;
}

// Writes the per-region values into the 105 entries of `perDeme` in three passes, so that a
// later region overwrites an earlier one: demes from border2 on take region 3 even when
// border1 > border2. The borders are 0 to 105.
template <class T>
void fillThreePasses(std::vector<T>& perDeme, const Borders& borders, const T& region1,
                     const T& region2, const T& region3) {
    perDeme.assign(siteCount, T{});
    for (int i = 0; i < borders.border1; i++) {
        perDeme[i] = region1;
    }
    for (int i = borders.border1; i < borders.border2; i++) {
        perDeme[i] = region2;
    }
    for (int i = borders.border2; i < siteCount; i++) {
        perDeme[i] = region3;
    }
}

void fillRegions(std::vector<Genotype>& demeFitness, const Borders& borders,
                 const Genotype& region1, const Genotype& region2, const Genotype& region3) {
    fillThreePasses(demeFitness, borders, region1, region2, region3);
}

void fillRegions(std::vector<double>& demeSelfing, const Borders& borders, double region1,
                 double region2, double region3) {
    fillThreePasses(demeSelfing, borders, region1, region2, region3);
}

// Builds the row of 105 demes with their migration rates, runs it to equilibrium and scores
// the adults against the observed counts. `sigma` must be finite and greater than 0.
double evaluate(double sigma, const RowSimulation& simulateRow) {
    const double tolerance = 1e-8;
    const int maxGenerations = 1000000;
    const double zeroFrequency = 0.001; // stands in for a genotype not seen at a site

    std::vector<double> observedSS(countSS, countSS + siteCount);
    std::vector<double> observedSI(countSI, countSI + siteCount);
    std::vector<double> observedII(countII, countII + siteCount);
    std::vector<double> distance(siteDistance, siteDistance + gapCount);

    // Proportion of a normal displacement of scale sigma that carries an individual past the
    // midpoint between two neighbouring sites.
    const boost::math::normal_distribution<double> displacement(0.0, sigma);
    std::vector<double> migrationRates(gapCount);
    for (int i = 0; i < gapCount; i++) {
        migrationRates[i] = 1.0 - boost::math::cdf(displacement, 0.5 * distance[i]);
    }

    std::vector<Population> demes;
    demes.reserve(siteCount);
    for (int i = 0; i < siteCount; i++) {
        const double n = observedSS[i] + observedSI[i] + observedII[i];
        Genotype start{observedSS[i] / n, observedSI[i] / n, observedII[i] / n};
        if (start.SS == 0.0) {
            start.SS = zeroFrequency;
        }
        if (start.SI == 0.0) {
            start.SI = zeroFrequency;
        }
        if (start.II == 0.0) {
            start.II = zeroFrequency;
        }
        const double sum = start.SS + start.II + start.SI;
        start.SS = start.SS / sum;
        start.SI = start.SI / sum;
        start.II = start.II / sum;
        demes.emplace_back(start);
    }

    const std::vector<Genotype> predicted =
        simulateRow(demes, migrationRates, tolerance, maxGenerations);
    recordPredictions(predicted);

    double likelihood = 0.0;
    for (int i = 0; i < siteCount; i++) {
        likelihood = likelihood - observedSS[i] * std::log(predicted[i].SS) -
                     observedSI[i] * std::log(predicted[i].SI) -
                     observedII[i] * std::log(predicted[i].II);
    }

    if (predicted[0].SS == 2.0) {
        diagnostics() << "non-eq penalty\n";
        return penaltyUnit;
    }
    if (std::isnan(likelihood)) {
        diagnostics() << "likelihood=NaN\n";
        return penaltyUnit;
    }
    return likelihood;
}

} // namespace ssframe

using ssframe::evaluate;
using ssframe::fitnessMax;
using ssframe::noUpperBound;
using ssframe::outside;
using ssframe::penalty;
using ssframe::penaltyUnit;

namespace {

// The single-rate simulation of models 1 to 4, run by `simulateRow`.
ssframe::RowSimulation withSelfing(const std::vector<Genotype>& demeFitness, const double& selfing,
                                   ssframe::OneRateSimulation simulateRow = simulate) {
    return [&demeFitness, &selfing, simulateRow](const std::vector<Population>& demes,
                                                 const std::vector<double>& migrationRates,
                                                 double tolerance, int maxGenerations) {
        return simulateRow(demes, migrationRates, demeFitness, selfing, tolerance, maxGenerations);
    };
}

// Models 3 and 4 after their bounds check: fitness triples (SS = 1, SI, II) of the three
// regions from x[0] to x[5].
double threeRegions(const NRvector<double>& x, const Borders& borders, const double& selfing,
                    double sigma) {
    std::vector<Genotype> demeFitness;
    ssframe::fillRegions(demeFitness, borders, Genotype{1.0, x[0], x[1]}, Genotype{1.0, x[2], x[3]},
                         Genotype{1.0, x[4], x[5]});
    return evaluate(sigma, withSelfing(demeFitness, selfing));
}

} // namespace

double ssone(const NRvector<double>& x) {
    return ssframe::modelOne(x, simulate);
}

double ssframe::modelOne(const NRvector<double>& x, OneRateSimulation simulateRow) {
    if (std::isnan(x[0]) || std::isnan(x[1])) {
        return penaltyUnit;
    }
    if (x[0] < 0 || x[1] < 0) {
        return (std::fabs(x[0]) + 1.0 + std::fabs(x[1])) * penaltyUnit;
    }
    for (int k = 0; k < 3; k++) {
        if (x[k] > fitnessMax) {
            return penalty(x[k]);
        }
    }
    if (outside(x[2], 0.0, 1.0)) {
        return penalty(x[2]);
    }
    // A scale of exactly 0 is inside the box but describes no dispersal distribution.
    if (outside(x[3], 0.0, 100.0) || x[3] == 0.0) {
        return penalty(x[3]);
    }

    const std::vector<Genotype> demeFitness(siteCount, Genotype{x[0], 1.0, x[1]});
    return evaluate(x[3], withSelfing(demeFitness, x[2], simulateRow));
}

double sstwo(const NRvector<double>& x) {
    for (int k = 0; k < 4; k++) {
        if (outside(x[k], 0.0, fitnessMax)) {
            return penalty(x[k]);
        }
    }
    if (outside(x[4], 0.0, 1.0)) {
        return penalty(x[4]);
    }
    // The box of sigma excludes 0, which the normal distribution would refuse.
    if (outside(x[5], 0.5, 50.0)) {
        return penalty(x[5]);
    }
    // The border is a deme index; 30 and 80 themselves are refused, with a flat penalty.
    if (!(x[6] > 30.0) || !(x[6] < 80.0)) {
        return penaltyUnit;
    }

    const int border = static_cast<int>(x[6]);
    std::vector<Genotype> demeFitness(siteCount);
    for (int i = 0; i < siteCount; i++) {
        demeFitness[i] = i < border ? Genotype{x[0], 1.0, x[1]} : Genotype{x[2], 1.0, x[3]};
    }
    return evaluate(x[5], withSelfing(demeFitness, x[4]));
}

double ssthree(const NRvector<double>& x) {
    const Borders borders = readBordersOrExit();
    for (int k = 0; k < 6; k++) {
        if (outside(x[k], 0.0, fitnessMax)) {
            return penalty(x[k]);
        }
    }
    if (outside(x[6], 0.0, 1.0)) {
        return penalty(x[6]);
    }
    if (outside(x[7], 0.0, noUpperBound) || x[7] == 0.0) {
        return penalty(x[7]);
    }
    return threeRegions(x, borders, x[6], x[7]);
}

double ss3_F0(const NRvector<double>& x) {
    const Borders borders = readBordersOrExit();
    for (int k = 0; k < 6; k++) {
        if (outside(x[k], 0.0, fitnessMax)) {
            return penalty(x[k]);
        }
    }
    if (outside(x[6], 0.0, noUpperBound) || x[6] == 0.0) {
        return penalty(x[6]);
    }
    const double noSelfing = 0.0;
    return threeRegions(x, borders, noSelfing, x[6]);
}
