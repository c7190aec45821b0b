// Inputs of the benchmarks: rows of demes, migration rates and kernels as the models build
// them, and a sink for the diagnostics that capped runs write.
#pragma once

#include <benchmark/benchmark.h>

#include <boost/math/distributions/normal.hpp>
#include <ostream>
#include <streambuf>
#include <vector>

#include "data/transect.h"
#include "models/cspace.h"
#include "population/population.h"
#include "population/simulation_context.h"

namespace bench {

// The 105 demes of the stepping-stone models, each at its site's smoothed observed frequencies.
inline std::vector<Population> siteRow() {
    std::vector<Population> row;
    for (int i = 0; i < siteCount; ++i) {
        const double n = static_cast<double>(countSS[i]) + countSI[i] + countII[i];
        Genotype g{countSS[i] / n, countSI[i] / n, countII[i] / n};
        g.SS = g.SS == 0.0 ? 0.001 : g.SS;
        g.SI = g.SI == 0.0 ? 0.001 : g.SI;
        g.II = g.II == 0.0 ? 0.001 : g.II;
        const double sum = g.SS + g.II + g.SI;
        row.emplace_back(Genotype{g.SS / sum, g.SI / sum, g.II / sum});
    }
    return row;
}

// Migration rates between neighbouring sites for dispersal scale sigma.
inline std::vector<double> siteRates(double sigma) {
    const boost::math::normal_distribution<double> displacement(0.0, sigma);
    std::vector<double> rates;
    for (int i = 0; i < gapCount; ++i) {
        rates.push_back(1.0 - boost::math::cdf(displacement, 0.5 * siteDistance[i]));
    }
    return rates;
}

// A grid of `demes` demes, pure SS left of deme `contact` and pure II from it on.
inline std::vector<Population> contactGrid(int demes, int contact) {
    std::vector<Population> row;
    for (int d = 0; d < demes; ++d) {
        row.emplace_back(d < contact ? Genotype{1, 0, 0} : Genotype{0, 0, 1});
    }
    return row;
}

// Discards everything written to it.
class NullBuffer : public std::streambuf {
  protected:
    int overflow(int c) override { return c; }
};

// A diagnostics stream that drops everything, to pass down to the simulations a bench times.
class QuietDiagnostics {
  public:
    QuietDiagnostics() : sink(&buffer) {}
    // The stream to pass down as the diagnostics of a simulation or an evaluation.
    std::ostream* stream() { return &sink; }
    // A simulation context that drops the diagnostics and records into `report` (may be null).
    SimulationContext context(SimulationReport* report = nullptr) {
        return SimulationContext{report, &sink, nullptr};
    }

  private:
    NullBuffer buffer;
    std::ostream sink;
};

// Time per unit, for `units` units in every iteration (shown as seconds per unit).
inline benchmark::Counter perUnit(double units) {
    return benchmark::Counter(units, benchmark::Counter::kIsIterationInvariantRate |
                                         benchmark::Counter::kInvert);
}

} // namespace bench
