#include "models/ss.h"

#include <boost/math/distributions/normal.hpp>
#include <cmath>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "data/borders.h"
#include "models/model_context.h"
#include "models/model_table.h"
#include "models/site_likelihood.h"
#include "models/ss_frame.h"
#include "population/diagnostics.h"
#include "population/population.h"
#include "population/simulation_context.h"
#include "population/simulation_report.h"

// The frame that all stepping-stone objectives share; models/SS_F.cpp uses it as well.
namespace ssframe {

bool readRegionBorders(const ModelContext& context, Borders& borders) {
    std::string error;
    if (!readBorders(borderFileName, context.data().siteCount(), borders, error)) {
        context.fail(error);
        return false;
    }
    return true;
}

bool regionsAndBox(const ModelContext& context, const ModelBox& box, const NRvector<double>& x,
                   Borders& borders, double& penalty) {
    if (!readRegionBorders(context, borders)) {
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
void fillThreePasses(int siteCount, std::vector<T>& perDeme, const Borders& borders,
                     const T& region1, const T& region2, const T& region3) {
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

std::vector<double> regionValues(const ModelContext& context, const Borders& borders,
                                 double region1, double region2, double region3) {
    std::vector<double> perDeme;
    fillThreePasses(context.data().siteCount(), perDeme, borders, region1, region2, region3);
    return perDeme;
}

std::vector<Genotype> regionFitness(const ModelContext& context, const NRvector<double>& x,
                                    const Borders& borders) {
    std::vector<Genotype> perDeme;
    fillThreePasses(context.data().siteCount(), perDeme, borders, Genotype{1.0, x[0], x[1]},
                    Genotype{1.0, x[2], x[3]}, Genotype{1.0, x[4], x[5]});
    return perDeme;
}

// Builds the row of demes, one per site of the context's transect, with their migration rates, runs
// it to equilibrium and scores the adults against the observed counts. `sigma` must be finite and
// greater than 0.
double evaluate(const ModelContext& context, double sigma, const RowSimulation& simulateRow,
                double penaltyUnit) {
    const double tolerance = 1e-8;
    const int maxGenerations = 1000000;
    const double zeroFrequency = 0.001; // stands in for a genotype not seen at a site

    const Transect& transect = context.data();
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
    recordPredictions(context.simulation.report, predicted);

    double likelihood = 0.0;
    for (std::size_t i = 0; i < observedSS.size(); i++) {
        likelihood = addSiteNegLogLikelihood(likelihood, observedSS[i], observedSI[i],
                                             observedII[i], predicted[i]);
    }

    if (predicted[0].SS == 2.0) {
        diagnosticsTo(context.simulation.diagnostics) << "non-eq penalty\n";
        return penaltyUnit;
    }
    if (std::isnan(likelihood)) {
        diagnosticsTo(context.simulation.diagnostics) << "likelihood=NaN\n";
        return penaltyUnit;
    }
    return likelihood;
}

} // namespace ssframe

namespace {

// The single-rate simulation of models 1 to 4, run by `simulateRow` in the context's simulation.
ssframe::RowSimulation withSelfing(const ModelContext& context,
                                   const std::vector<Genotype>& demeFitness, const double& selfing,
                                   ssframe::OneRateSimulation simulateRow = simulate) {
    return [&context, &demeFitness, &selfing, simulateRow](
               const std::vector<Population>& demes, const std::vector<double>& migrationRates,
               double tolerance, int maxGenerations) {
        return simulateRow(context.simulation, demes, migrationRates, demeFitness, selfing,
                           tolerance, maxGenerations);
    };
}

// Models 3 and 4: the borders are read before the bounds check, so also for a point the check
// refuses.
double threeRegions(const ModelContext& context, const NRvector<double>& x, int model,
                    bool fittedSelfing) {
    const ModelBox& box = context.box(model);
    Borders borders;
    double penalty = 0.0;
    if (!ssframe::regionsAndBox(context, box, x, borders, penalty)) {
        return penalty;
    }
    const std::vector<Genotype> demeFitness = ssframe::regionFitness(context, x, borders);
    const double noSelfing = 0.0;
    const double& selfing = fittedSelfing ? x[6] : noSelfing;
    const double sigma = fittedSelfing ? x[7] : x[6];
    return ssframe::evaluate(context, sigma, withSelfing(context, demeFitness, selfing),
                             box.penaltyUnit);
}

} // namespace

double ssone(const NRvector<double>& x) {
    return ssone(zonefitContext(), x);
}

double ssone(const ModelContext& context, const NRvector<double>& x) {
    return ssframe::modelOne(context, x, simulate);
}

double ssframe::modelOne(const ModelContext& context, const NRvector<double>& x,
                         OneRateSimulation simulateRow) {
    const ModelBox& box = context.box(1);
    const double outOfBox = boxPenalty(box, x);
    if (outOfBox != 0.0) {
        return outOfBox;
    }
    const std::vector<Genotype> demeFitness(static_cast<std::size_t>(context.data().siteCount()),
                                            Genotype{x[0], 1.0, x[1]});
    return evaluate(context, x[3], withSelfing(context, demeFitness, x[2], simulateRow),
                    box.penaltyUnit);
}

double sstwo(const NRvector<double>& x) {
    return sstwo(zonefitContext(), x);
}

double sstwo(const ModelContext& context, const NRvector<double>& x) {
    const ModelBox& box = context.box(2);
    const double outOfBox = boxPenalty(box, x);
    if (outOfBox != 0.0) {
        return outOfBox;
    }
    const int border = static_cast<int>(x[6]);
    std::vector<Genotype> demeFitness(static_cast<std::size_t>(context.data().siteCount()));
    for (std::size_t i = 0; i < demeFitness.size(); i++) {
        demeFitness[i] =
            static_cast<int>(i) < border ? Genotype{x[0], 1.0, x[1]} : Genotype{x[2], 1.0, x[3]};
    }
    return ssframe::evaluate(context, x[5], withSelfing(context, demeFitness, x[4]),
                             box.penaltyUnit);
}

double ssthree(const NRvector<double>& x) {
    return ssthree(zonefitContext(), x);
}

double ssthree(const ModelContext& context, const NRvector<double>& x) {
    return threeRegions(context, x, 3, true);
}

double ss3_F0(const NRvector<double>& x) {
    return ss3_F0(zonefitContext(), x);
}

double ss3_F0(const ModelContext& context, const NRvector<double>& x) {
    return threeRegions(context, x, 4, false);
}
