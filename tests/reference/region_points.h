// Random points of a model's exploration regions, for the tests and benchmarks of the settled
// value.
#pragma once

#include "models/model_table.h"
#include "optimiser/nr3.h"

#include <cmath>
#include <random>

// Fills `x` (parameterCount entries) with a point drawn from the exploration region of every
// parameter of `model`: uniformly, or log-uniformly where the region is on a log scale.
inline void drawInRegions(const ModelEntry& model, std::mt19937_64& rng, NRvector<double>& x) {
    for (int j = 0; j < model.parameterCount; ++j) {
        const ParameterInfo& p = model.parameters[j];
        if (p.exploreLog) {
            std::uniform_real_distribution<double> u(std::log(p.exploreLow),
                                                     std::log(p.exploreHigh));
            x[j] = std::exp(u(rng));
        } else {
            std::uniform_real_distribution<double> u(p.exploreLow, p.exploreHigh);
            x[j] = u(rng);
        }
    }
}
