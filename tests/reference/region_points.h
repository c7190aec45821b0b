// Random points of a model's exploration regions, for the tests and benchmarks of the settled
// value.
#pragma once

#include "models/model_table.h"
#include "optimiser/nr3.h"

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
