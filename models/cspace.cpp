#include "models/cspace.h"

#include <cmath>
#include <iostream>

#include <boost/math/distributions/normal.hpp>

#include "data/builtin_transect.h"
#include "models/model_table.h"
#include "population/diagnostics.h"
#include "population/simulation_context.h"
#include "population/simulation_report.h"
#include "population/utils.h"

namespace {

// What tells the four kernel models apart besides their parameters and boxes.
struct Settings {
    int gridIntervals;  // N: the grid has N + 1 demes from position 0 to the largest site
    int halfPoints;     // K: the kernel has 2K + 1 points
    int maxGenerations; // generation cap of one simulation
};

constexpr Settings coneSettings{200, 3, 100000};
constexpr Settings ctwoSettings{200, 3, 1000000};
constexpr Settings cthreeSettings{400, 5, 1000000};

// Deme index for a border the model does not have: beyond every deme of every grid.
constexpr int noBorder = 100000;

// One evaluation inside the box, with S the model's penalty unit. borderPositions (one or two)
// split the grid into the stretches that start from regionStart[0], [1], [2]; when bordersSelect is
// true the same deme indices also split the selection regimes, otherwise every deme is selected
// with regionFitness[0].
double evaluate(const ModelContext& context, const Settings& settings, double S,
                const std::vector<Genotype>& regionFitness,
                const std::vector<Genotype>& regionStart, double selfing, double sigma,
                const std::vector<double>& borderPositions, bool bordersSelect) {
    const int N = settings.gridIntervals;

    const Transect& transect = context.data();
    const int siteCount = transect.siteCount();
    const std::vector<double>& positions = transect.positions;
    const double demeSpacing = largestPosition(transect) / N;

    int startBorder[2] = {noBorder, noBorder};
    for (std::size_t b = 0; b < borderPositions.size() && b < 2; b++) {
        startBorder[b] = static_cast<int>(std::ceil(borderPositions[b] / demeSpacing));
    }

    std::vector<Population> demes;
    demes.reserve(static_cast<std::size_t>(N) + 1);
    for (int d = 0; d <= N; d++) {
        const int stretch = d < startBorder[0] ? 0 : (d < startBorder[1] ? 1 : 2);
        demes.push_back(Population(regionStart[static_cast<std::size_t>(stretch)]));
    }

    Kernel kernel = buildKernel(sigma, demeSpacing, settings.halfPoints);

    double tolerance = 1e-8;
    int maxGenerations = settings.maxGenerations;
    int border1 = bordersSelect ? startBorder[0] : noBorder;
    int border2 = bordersSelect ? startBorder[1] : noBorder;
    simulate(context.simulation, demes, kernel.weights, kernel.offsets, regionFitness, selfing,
             tolerance, maxGenerations, border1, border2, demeSpacing);

    std::vector<Genotype> predicted;
    predicted.reserve(static_cast<std::size_t>(siteCount));
    for (int i = 0; i < siteCount; i++) {
        predicted.push_back(
            readSite(demes, positions[static_cast<std::size_t>(i)], demeSpacing, N));
    }

    recordPredictions(context.simulation.report, predicted);
    recordDemeAdults(context.simulation.report, demes);

    double L = 0.0;
    for (std::size_t i = 0; i < predicted.size(); i++) {
        L = addSiteLikelihood(L, predicted[i], static_cast<double>(transect.countSS[i]),
                              static_cast<double>(transect.countSI[i]),
                              static_cast<double>(transect.countII[i]), S);
    }

    if (std::isnan(L)) {
        diagnosticsTo(context.simulation.diagnostics) << "WARNING->likelihood=NaN" << std::endl;
        return S;
    }
    return L;
}

// C_3 and C_3_F0: six fitnesses, then (C_3 only) selfing at x[6], then sigma and the two
// borders.
double threeRegions(const ModelContext& context, const NRvector<double>& x, int model,
                    bool fittedSelfing) {
    const ModelBox& box = context.box(model);
    const double penalty = boxPenalty(box, x);
    if (penalty != 0.0) {
        return penalty;
    }
    const int sigmaAt = fittedSelfing ? 7 : 6;
    const std::vector<Genotype> regionFitness{
        {x[0], 1.0, x[1]}, {x[2], 1.0, x[3]}, {x[4], 1.0, x[5]}};
    const std::vector<Genotype> regionStart{deterministic(x[0], x[1]), deterministic(x[2], x[3]),
                                            deterministic(x[4], x[5])};
    const double selfing = fittedSelfing ? x[6] : 0.0;
    return evaluate(context, cthreeSettings, box.penaltyUnit, regionFitness, regionStart, selfing,
                    x[sigmaAt], {x[sigmaAt + 1], x[sigmaAt + 2]}, true);
}

} // namespace

Kernel buildKernel(double sigma, double demeSpacing, int halfPoints) {
    // Reach of 3 sigma in demes, widened to the next multiple of K strictly above it, so the
    // points fall on demes s = m / K apart.
    const int n = static_cast<int>(std::ceil(3.0 * sigma / demeSpacing));
    const int m = n + (halfPoints - n % halfPoints);
    const int s = m / halfPoints;
    const boost::math::normal_distribution<double> density(0.0, sigma);

    Kernel kernel;
    const std::size_t points = static_cast<std::size_t>(2 * halfPoints + 1);
    kernel.points.reserve(points);
    kernel.weights.reserve(points);
    kernel.offsets.reserve(points);
    for (int k = 0; k <= 2 * halfPoints; k++) {
        const double x = k * (s * demeSpacing) + (-m * demeSpacing);
        kernel.points.push_back(x);
        kernel.weights.push_back(boost::math::pdf(density, x));
        kernel.offsets.push_back(-m + k * s);
    }
    return kernel;
}

bool kernelSettingsOf(int number, int& gridIntervals, int& halfPoints) {
    const Settings* settings = number == 7                   ? &coneSettings
                               : number == 8                 ? &ctwoSettings
                               : number == 9 || number == 10 ? &cthreeSettings
                                                             : nullptr;
    if (settings == nullptr) {
        return false;
    }
    gridIntervals = settings->gridIntervals;
    halfPoints = settings->halfPoints;
    return true;
}

double gridSpacing(const Transect& transect, int gridIntervals) {
    return largestPosition(transect) / gridIntervals;
}

int gridIndex(double position, double demeSpacing, int gridIntervals) {
    const int j = static_cast<int>(std::ceil(position / demeSpacing));
    return j > gridIntervals ? gridIntervals : j;
}

Genotype readSite(const std::vector<Population>& demes, double position, double demeSpacing,
                  int gridIntervals) {
    const int j = gridIndex(position, demeSpacing, gridIntervals);
    const int j0 = j >= 2 ? j - 1 : 0;
    const Genotype left = demes[static_cast<std::size_t>(j0)].getAdults();
    const Genotype right = demes[static_cast<std::size_t>(j)].getAdults();
    const double x = position - j0 * demeSpacing;

    Genotype f{interpolate(left.SS, right.SS, x, demeSpacing),
               interpolate(left.SI, right.SI, x, demeSpacing),
               interpolate(left.II, right.II, x, demeSpacing)};
    const double sum = f.SS + f.SI + f.II;
    if (sum > 1.0) {
        f.SS = f.SS / sum;
        f.SI = f.SI / sum;
        f.II = f.II / sum;
    }
    return f;
}

double flooredLog(double logFrequency, double penaltyScale) {
    return logFrequency < -penaltyScale ? -penaltyScale : logFrequency;
}

double addSiteLikelihood(double L, const Genotype& predicted, double countSS, double countSI,
                         double countII, double penaltyScale) {
    const double counts[3] = {countSS, countSI, countII};
    const double frequencies[3] = {predicted.SS, predicted.SI, predicted.II};
    for (int g = 0; g < 3; g++) {
        if (counts[g] != 0.0) {
            const double l = std::log(frequencies[g]);
            if (l != 0.0) {
                L = L - counts[g] * flooredLog(l, penaltyScale);
            }
        }
    }
    return L;
}

double cone(const NRvector<double>& x) {
    return cone(zonefitContext(), x);
}

double cone(const ModelContext& context, const NRvector<double>& x) {
    const ModelBox& box = context.box(7);
    const double penalty = boxPenalty(box, x);
    if (penalty != 0.0) {
        return penalty;
    }
    // One selection regime everywhere; the contact only splits the start into pure SS on its
    // left and pure II from it on.
    const std::vector<Genotype> regionFitness{{x[0], 1.0, x[1]}};
    const std::vector<Genotype> regionStart{{1.0, 0.0, 0.0}, {0.0, 0.0, 1.0}};
    return evaluate(context, coneSettings, box.penaltyUnit, regionFitness, regionStart, x[2], x[3],
                    {x[4]}, false);
}

double ctwo(const NRvector<double>& x) {
    return ctwo(zonefitContext(), x);
}

double ctwo(const ModelContext& context, const NRvector<double>& x) {
    const ModelBox& box = context.box(8);
    const double penalty = boxPenalty(box, x);
    if (penalty != 0.0) {
        return penalty;
    }
    const std::vector<Genotype> regionFitness{{x[0], 1.0, x[1]}, {x[2], 1.0, x[3]}};
    const std::vector<Genotype> regionStart{deterministic(x[0], x[1]), deterministic(x[2], x[3])};
    return evaluate(context, ctwoSettings, box.penaltyUnit, regionFitness, regionStart, x[4], x[5],
                    {x[6]}, true);
}

double cthree(const NRvector<double>& x) {
    return cthree(zonefitContext(), x);
}

double cthree(const ModelContext& context, const NRvector<double>& x) {
    return threeRegions(context, x, 9, true);
}

double CthreeFnot(const NRvector<double>& x) {
    return CthreeFnot(zonefitContext(), x);
}

double CthreeFnot(const ModelContext& context, const NRvector<double>& x) {
    return threeRegions(context, x, 10, false);
}
