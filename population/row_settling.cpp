// The row is continued in windows of generations through the fast loops. After each window the
// per-generation log rate r of the largest larva change D is measured over the window; D and r
// decide what the row is doing:
// - D below the tolerance: settled;
// - D well above its lowest value and above the first tolerance: the row has left a state it
//   seemed to rest in (a saddle or a transient), and goes on;
// - |r| below the steady rate over a long enough stretch while D stays below the first
//   tolerance: a quasi-stationary cline, scored where it is.
// Windows start short, so that a fast approach is measured early, and grow to `window`.
#include "population/row_settling.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// The largest larva change of the last generation of `state`, or 0 when none was recorded.
double lastChangeOf(const RowState& state) {
    std::vector<double> changes;
    state.changes.copyOldestFirst(changes);
    return changes.empty() ? 0.0 : changes.back();
}

// Generations of steady change that make a quasi-stationary cline.
long long steadySpan(const SettleRules& rules) {
    return static_cast<long long>(rules.steadyWindows) * rules.window;
}

} // namespace

RowSettling settleRow(const RowDynamics& dynamics, RowState& state, const SettleRules& rules) {
    RowSettling out;
    double change = lastChangeOf(state);
    out.lastChange = change;
    if (!state.converged) {
        return out;
    }
    double lowest = change;
    bool transient = false;
    long long steady = 0; // generations of steady change up to now
    int chunk = std::min(50, rules.window);
    while (out.generations < rules.budget) {
        const long long left = rules.budget - out.generations;
        const int run = static_cast<int>(std::min<long long>(chunk, left));
        if (!continueRow(dynamics, state, rules.tolerance, run)) {
            return out;
        }
        out.generations += state.generations;
        const double before = change;
        change = lastChangeOf(state);
        out.lastChange = change;
        if (state.converged) {
            out.rest = transient ? RowRest::transientThenEquilibrium : RowRest::equilibrium;
            return out;
        }
        lowest = std::min(lowest, change);
        if (change > rules.growth * lowest && change > rules.firstTolerance) {
            transient = true;
        }
        // A change of 0 only comes with convergence; a non-number never settles.
        const double rate = std::log(change / before) / run;
        if (std::fabs(rate) < rules.steadyRate && change < rules.firstTolerance) {
            steady += run;
        } else {
            steady = 0;
        }
        if (steady >= steadySpan(rules)) {
            out.rest = RowRest::quasiStationary;
            return out;
        }
        chunk = std::min(2 * chunk, rules.window);
    }
    return out;
}
