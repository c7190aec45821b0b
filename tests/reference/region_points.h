// Random points of a model's exploration regions, for the tests and benchmarks of the settled
// value.
#pragma once

#include "models/model_table.h"
#include "optimiser/nr3.h"

#include <algorithm>
#include <cmath>
#include <random>

// Fills `x` (parameterCount entries) with a point drawn from the exploration region of every
// parameter of `model` (fitnesses from 0.8 to 1.25): uniformly, or log-uniformly where the
// region is on a log scale.
inline void drawInRegions(const ModelEntry& model, std::mt19937_64& rng, NRvector<double>& x) {
    for (int j = 0; j < model.parameterCount; ++j) {
        const ParameterInfo& p = model.parameters[j];
        // Fitnesses near neutrality (0.8 to 1.25), where these points were drawn before the
        // searches' regions reached strong selection: the tests and costs measured on them
        // keep their points.
        const bool fitness = p.name[0] == 'w';
        const double low = fitness ? 0.8 : p.exploreLow;
        const double high = fitness ? 1.25 : p.exploreHigh;
        if (p.exploreLog) {
            std::uniform_real_distribution<double> u(std::log(low), std::log(high));
            x[j] = std::exp(u(rng));
        } else {
            std::uniform_real_distribution<double> u(low, high);
            x[j] = u(rng);
        }
    }
}

// How a point of the full exploration regions is drawn, as the searches draw their starts.
enum class StrongDraw {
    box,      // every parameter over its region: fitnesses log-uniform from 1/101 to 101
    strength, // each pair of fitnesses (wSI_1, wII_1 ...) as a strength s and an asymmetry a:
              // ln w = s (1 + a) and s (1 - a), |s| log-uniform from 1e-4 to ln 101, either
              // sign, a uniform in (-1, 1); ln w kept within the region
};

// Fills `x` (parameterCount entries) with a point of the exploration regions of `model`,
// selection as strong as the regions allow, drawn as `how` says.
inline void drawStrongSelection(const ModelEntry& model, std::mt19937_64& rng, StrongDraw how,
                                NRvector<double>& x) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto isFitness = [&](int j) {
        return j < model.parameterCount && model.parameters[j].name[0] == 'w' &&
               model.parameters[j].exploreLog;
    };
    for (int j = 0; j < model.parameterCount; ++j) {
        const ParameterInfo& p = model.parameters[j];
        const double logLow = p.exploreLog ? std::log(p.exploreLow) : 0.0;
        const double logHigh = p.exploreLog ? std::log(p.exploreHigh) : 0.0;
        if (how == StrongDraw::strength && isFitness(j) && isFitness(j + 1)) {
            const double largest = std::max(std::fabs(logLow), logHigh);
            const double v = 2.0 * unit(rng) - 1.0;
            const double magnitude =
                std::exp(std::log(1e-4) + std::fabs(v) * (std::log(largest) - std::log(1e-4)));
            const double s = v < 0.0 ? -magnitude : magnitude;
            const double a = 2.0 * unit(rng) - 1.0;
            x[j] = std::exp(std::min(std::max(s * (1.0 + a), logLow), logHigh));
            x[j + 1] = std::exp(std::min(std::max(s * (1.0 - a), logLow), logHigh));
            ++j;
        } else if (p.exploreLog) {
            x[j] = std::exp(logLow + unit(rng) * (logHigh - logLow));
        } else {
            x[j] = p.exploreLow + unit(rng) * (p.exploreHigh - p.exploreLow);
        }
    }
}
