#include "models/ss.h"

#include <boost/math/distributions/normal.hpp>
#include <cmath>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "data/active_transect.h"
#include "data/borders.h"
#include "data/failure_sink.h"
#include "models/model_table.h"
#include "models/site_likelihood.h"
#include "models/ss_frame.h"
#include "population/diagnostics.h"
#include "population/population.h"
#include "population/simulation_report.h"

// The frame that all stepping-stone objectives share; models/SS_F.cpp uses it as well.
namespace ssframe {

bool readRegionBorders(Borders& borders) {
    std::string error;
    if (!readBorders(borderFileName, borders, error)) {
        reportFailure(error);
        return false;
    }
    return true;
}

bool regionsAndBox(const ModelBox& box, const NRvector<double>& x, Borders& borders,
                   double& penalty) {
    if (!readRegionBorders(borders)) {
        penalty = box.penaltyUnit;
        return false;
    }
    penalty = boxPenalty(box, x);
    return penalty == 0.0;
}

namespace {

// Writes the per-region values into the entries, one per deme, of `perDeme` in three passes, so
// that a later region overwrites an earlier one.
template <class T>
void fillThreePasses(std::vector<T>& perDeme, const Borders& borders, const T& region1,
                     const T& region2, const T& region3) {
    const int siteCount = activeTransect().siteCount();
    perDeme.assign(static_cast<std::size_t>(siteCount), T{});
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

} // namespace

std::vector<double> regionValues(const Borders& borders, double region1, double region2,
                                 double region3) {
    std::vector<double> perDeme;
    fillThreePasses(perDeme, borders, region1, region2, region3);
    return perDeme;
}

std::vector<Genotype> regionFitness(const NRvector<double>& x, const Borders& borders) {
    std::vector<Genotype> perDeme;
    fillThreePasses(perDeme, borders, Genotype{1.0, x[0], x[1]}, Genotype{1.0, x[2], x[3]},
                    Genotype{1.0, x[4], x[5]});
    return perDeme;
}

// Builds the row of demes, one per site of the active transect, with their migration rates, runs it
// to equilibrium and scores the adults against the observed counts. `sigma` must be finite and
// greater than 0.
double evaluate(double sigma, const RowSimulation& simulateRow, double penaltyUnit) {
    const double tolerance = 1e-8;
    const int maxGenerations = 1000000;
    const double zeroFrequency = 0.001; // stands in for a genotype not seen at a site

    const Transect& transect = activeTransect();
    const int siteCount = transect.siteCount();
    const int gapCount = siteCount - 1;
    std::vector<double> observedSS(transect.countSS.begin(), transect.countSS.end());
    std::vector<double> observedSI(transect.countSI.begin(), transect.countSI.end());
    std::vector<double> observedII(transect.countII.begin(), transect.countII.end());
    const std::vector<double>& distance = transect.distances;

    // Proportion of a normal displacement of scale sigma that carries an individual past the
    // midpoint between two neighbouring sites.
    const boost::math::normal_distribution<double> displacement(0.0, sigma);
    std::vector<double> migrationRates(static_cast<std::size_t>(gapCount));
    for (std::size_t i = 0; i < migrationRates.size(); i++) {
        migrationRates[i] = 1.0 - boost::math::cdf(displacement, 0.5 * distance[i]);
    }

    std::vector<Population> demes;
    demes.reserve(static_cast<std::size_t>(siteCount));
    for (std::size_t i = 0; i < observedSS.size(); i++) {
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
    for (std::size_t i = 0; i < observedSS.size(); i++) {
        likelihood = addSiteNegLogLikelihood(likelihood, observedSS[i], observedSI[i],
                                             observedII[i], predicted[i]);
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

// Models 3 and 4: the borders are read before the bounds check, so also for a point the check
// refuses.
double threeRegions(const NRvector<double>& x, int model, bool fittedSelfing) {
    const ModelBox& box = activeBox(model);
    Borders borders;
    double penalty = 0.0;
    if (!ssframe::regionsAndBox(box, x, borders, penalty)) {
        return penalty;
    }
    const std::vector<Genotype> demeFitness = ssframe::regionFitness(x, borders);
    const double noSelfing = 0.0;
    const double& selfing = fittedSelfing ? x[6] : noSelfing;
    const double sigma = fittedSelfing ? x[7] : x[6];
    return ssframe::evaluate(sigma, withSelfing(demeFitness, selfing), box.penaltyUnit);
}

} // namespace

double ssone(const NRvector<double>& x) {
    return ssframe::modelOne(x, simulate);
}

double ssframe::modelOne(const NRvector<double>& x, OneRateSimulation simulateRow) {
    const ModelBox& box = activeBox(1);
    const double outOfBox = boxPenalty(box, x);
    if (outOfBox != 0.0) {
        return outOfBox;
    }
    const std::vector<Genotype> demeFitness(static_cast<std::size_t>(activeTransect().siteCount()),
                                            Genotype{x[0], 1.0, x[1]});
    return evaluate(x[3], withSelfing(demeFitness, x[2], simulateRow), box.penaltyUnit);
}

double sstwo(const NRvector<double>& x) {
    const ModelBox& box = activeBox(2);
    const double outOfBox = boxPenalty(box, x);
    if (outOfBox != 0.0) {
        return outOfBox;
    }
    const int border = static_cast<int>(x[6]);
    std::vector<Genotype> demeFitness(static_cast<std::size_t>(activeTransect().siteCount()));
    for (std::size_t i = 0; i < demeFitness.size(); i++) {
        demeFitness[i] =
            static_cast<int>(i) < border ? Genotype{x[0], 1.0, x[1]} : Genotype{x[2], 1.0, x[3]};
    }
    return ssframe::evaluate(x[5], withSelfing(demeFitness, x[4]), box.penaltyUnit);
}

double ssthree(const NRvector<double>& x) {
    return threeRegions(x, 3, true);
}

double ss3_F0(const NRvector<double>& x) {
    return threeRegions(x, 4, false);
}
