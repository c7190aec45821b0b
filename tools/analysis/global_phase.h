// The global phase of one search: a general-purpose optimiser over the exploration regions,
// with the evaluations it may spend, seeded so that the same call gives the same result on any
// thread.
#pragma once

#include "models/model_context.h"
#include "models/model_table.h"
#include "models/objective_kind.h"
#include "tools/analysis/start_design.h"

#include <cstdint>
#include <string>
#include <vector>

// The optimisers a search may use for its global phase.
enum class GlobalMethod {
    simplex, // this program's simplex at temperature 0, restarted from random points
    anneal,  // this program's annealing simplex, on a falling temperature
    crs2,    // NLopt's controlled random search with local mutation (CRS2-LM)
    mlsl,    // NLopt's multi-level single linkage with Sbplx as its local search
    cmaes,   // pagmo's covariance matrix adaptation, restarted from random points
    xnes,    // pagmo's exponential natural evolution strategy, restarted likewise
};

// The name of a method ("crs2") and the method of a name; false for an unknown name.
const char* globalMethodName(GlobalMethod method);
bool parseGlobalMethod(const std::string& text, GlobalMethod& method);

// The search's scale of parameter `j` of `model` over `region`: a fitness (a name starting
// with 'w') on a log region around 1 is a selection strength, u = 1/2 at w = 1 and |ln w| on a
// log scale from 1e-4 at u = 1/2 +- 0 to the region's edge at u = 0 or 1, so that weak and strong
// selection take equal parts of [0, 1]; any other parameter is on its region's own scale
// (fromUnit). `toSearchUnit` is the inverse, clamped to [0, 1].
double fromSearchUnit(const ModelEntry& model, int j, const Region& region, double u);
double toSearchUnit(const ModelEntry& model, int j, const Region& region, double x);

// Simplex steps at `point` of `fraction` (0 to 1/2) of each free parameter's search scale: the
// move from the point's search coordinate u to u + fraction (to u - fraction when that passes
// 1), in the parameter's own units; 0 for a fixed parameter. A hundredth of a fitness region of
// 1/101 to 101 multiplies the selection strength |ln w| by 1.24, so that a step is small near
// neutrality and large under strong selection. A point outside its region takes the step at
// the region's nearer edge.
std::vector<double> searchSteps(const ModelEntry& model, const std::vector<Region>& regions,
                                const std::vector<double>& point, double fraction);

// What a global phase found.
struct PhaseResult {
    std::vector<double> point; // the best point evaluated (the start when nothing was better)
    double value = 0.0;        // the objective there
    long evaluations = 0;      // evaluations spent, at most the budget plus one
    std::string status;        // empty, or why a library stopped early (its message)
};

// Runs `method` from `start` (a point inside `regions`) over the free parameters of `regions`
// (those with high > low; the others stay at their value), each mapped to [0, 1] on its
// search scale (fromSearchUnit), minimising the objective of `kind` of `model` on the transect,
// boxes and simulation of `context`. Spends about `budget` evaluations (at least 1). `seed` fixes
// every random draw. Never throws: a library's failure ends the phase with its best point so far
// and the reason in `status`.
PhaseResult runGlobalPhase(const ModelContext& context, const ModelEntry& model, ObjectiveKind kind,
                           const std::vector<Region>& regions, const std::vector<double>& start,
                           GlobalMethod method, long budget, std::uint64_t seed);
