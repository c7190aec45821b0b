// How settled the simulated equilibrium behind a fitted point is, read from the simulation
// itself: how long it ran, how fast its changes were still shrinking, and whether the value
// stands on a cliff.
#pragma once

#include "models/model_table.h"
#include "tools/formats/data_option.h"

#include <ostream>
#include <string>
#include <vector>

// Stopping tolerance of the simulations: the run ends once no larva frequency moves by this
// much in one generation.
constexpr double simulationTolerance = 1e-8;

// Generations whose changes the shrink factor is fitted on.
constexpr int shrinkWindow = 8;

// A one-parameter move of this relative size that changes -lnL by more than cliffHeight marks
// the point as standing on a cliff.
constexpr double cliffStep = 1e-6;
constexpr double cliffHeight = 1.0;

// What one evaluation at a point and its neighbours showed.
struct Settledness {
    double value = 0.0;       // -lnL at the point
    int generations = 0;      // generations the simulation ran (0: a penalty, nothing ran)
    bool converged = false;   // it stopped before the generation cap
    double lambda = 0.0;      // factor by which the per-generation change shrank at the end
                              // (NaN when it cannot be told: too few generations)
    double remaining = 0.0;   // estimated distance still to the fixed point,
                              // tolerance * lambda / (1 - lambda); inf when lambda >= 1
    std::string cliff;        // the first parameter whose move by cliffStep of its value
                              // changes -lnL by more than cliffHeight; empty when none
    double cliffChange = 0.0; // that change of -lnL (signed), 0 when no cliff
};

// The shrink factor of a run of per-generation changes (oldest first): exp of the
// least-squares slope of ln(change) against the generation over the last `window` changes
// that are positive and finite. NaN with fewer than 3 such changes.
double shrinkFactor(const std::vector<double>& changes, int window = shrinkWindow);

// tolerance * lambda / (1 - lambda): how far a geometric approach that just moved by less
// than the tolerance still is from its limit; inf for lambda >= 1, NaN for NaN.
double remainingDistance(double lambda, double tolerance = simulationTolerance);

// Evaluates `model` (whose objective must be available) at `point` on the transect and boxes
// of `data`, then at each parameter moved by +-cliffStep of its value (parameters at 0 are
// moved by cliffStep itself). Costs 2n + 1 evaluations. Their diagnostics go to `diagnostics`
// (null: standard output).
Settledness measureSettledness(const DataContext& data, const ModelEntry& model,
                               const std::vector<double>& point,
                               std::ostream* diagnostics = nullptr);

// A one-line description, as in "1234 generations, lambda 0.9876, remaining 8.0e-07, cliff
// at wSS (+3.2e+03)".
std::string settlednessText(const Settledness& s);

// The warning a comparison of fits shows when a model's best value was reached from only
// `starts` start points (empty when more than one).
std::string singleStartWarning(const ModelEntry& model, int starts);

// The warning of a search whose best value `confirmed` searches reached (empty when two or
// more did: the best is confirmed).
std::string unconfirmedWarning(const ModelEntry& model, int confirmed);
