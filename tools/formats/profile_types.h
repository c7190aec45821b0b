// The values of a profile-likelihood search: its settings, the support limits it finds and the
// points it walks. The search itself and the command are in tools/analysis/profile.h.
#pragma once

#include "models/objective_kind.h"
#include "optimiser/nr3.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A function to minimise: a negative log-likelihood of a full parameter vector.
using ProfiledObjective = std::function<double(const NRvector<double>&)>;

// How support limits are searched for.
struct ProfileSettings {
    double units = 2.0;      // log-likelihood units: a limit is where -ln L rises by this much
    double firstStep = 0.05; // first step from the estimate, as a fraction of its step size
                             // (stepSize: |w - 1| for a fitness, else |estimate|, 1 at 0)
    int maxSteps = 20;       // steps per side before giving up
    double tolerance = 1e-4; // the crossing's bracket is narrowed at most to this fraction
                             // of the first step
    int maxBisections = 60;  // points that narrow the bracket, per limit at most
    // The bracket is also narrowed no further than this fraction of its inner end's distance
    // from the estimate, or of the first step where that is less: where the profile is rough or
    // jumps (a cline lost, a settled state of another kind) no point lands within
    // crossingTolerance, and each halving costs a re-optimisation that moves the limit by less than
    // a table shows.
    double distancePrecision = 1e-2;
    // A point whose -ln L lies within this of the crossing's (minimum + units) ends the
    // narrowing: the limit is then read off the straight line through the bracket's ends, and
    // moves by a small fraction of this over the local slope.
    double crossingTolerance = 0.005;
    // Relative spread of the simplex values at convergence. The models' values carry the
    // rounding of their equilibrium test (1e-8 in the frequencies), so a much tighter spread
    // is never reached and would only spend the evaluation budget.
    double simplexTolerance = 1e-7;
    long maxEvaluations = 20000; // per re-optimisation of the other parameters
    // Evaluations per free parameter after which a simplex whose best has gained less than
    // restartGain has stalled and stops (the restarts then decide): on model 1's ridge a
    // simplex among rows that creep never reached its tolerance and spent the point's whole
    // budget.
    long stallWindow = 100;
    // A fresh simplex around a re-optimised point that gains less than this in -ln L ends the
    // re-optimisation: far below the margins of a limit, and above the rounding of the
    // models' values, which every restart would otherwise chase.
    double restartGain = 1e-4;
    // The first steps of a point's first simplex, as a fraction of each coordinate's step size
    // (of the estimate's). The point starts from its neighbour's re-optimised point, which the
    // fixed parameter has moved by a small step: on model 1's sigma profile a fiftieth gave
    // lower values than a tenth (476.96 against 477.12 at the first point) at three quarters of
    // the evaluations, since a tenth of a fitness's strength lands far off the narrow ridge of
    // nearly equal wSS and wII and the simplex spends its evaluations shrinking back.
    double firstSimplexStep = 0.02;
    // The first steps of a restarted simplex, as a fraction of each coordinate's step size: a
    // restart looks around the point found, as the search's polish does; one as wide as the
    // first simplex once was (a tenth) crossed model 1's narrow ridge again at every restart.
    double restartStep = 0.01;
    std::uint64_t seed = 1; // of the simplex's generator (unused at temperature 0)
    // The objective the profile is of: recorded in side files and curves, and checked when
    // sides are collected; the caller binds the objective function itself.
    ObjectiveKind objective = ObjectiveKind::settled;
    // A re-optimised point lower than the estimate's -ln L by more than this moves the
    // estimate there, and the profile starts again from it (profileLikelihood only).
    double restartMargin = 0.01;
    int maxRestarts = 10; // moves of the estimate at most; later better points are only noted
};

// One side of one parameter.
struct SupportLimit {
    double value = 0.0; // the limit; when not found, the farthest value examined
    bool found = false; // the profile rose by `units` within the box and the steps allowed
    bool atBox = false; // the profile stays within `units` up to the box: value is the bound
    int points = 0;     // profile points computed (each a re-optimisation)
};

struct ParameterProfile {
    int index = 0;
    double estimate = 0.0;
    SupportLimit lower;
    SupportLimit upper;
};

// One profile point as walked: the parameter fixed, the others re-optimised.
struct ProfilePoint {
    int index = 0;              // the parameter fixed
    int side = 0;               // -1 lower, +1 upper
    double fixed = 0.0;         // its value
    double value = 0.0;         // -ln L, minimised over the other parameters
    std::vector<double> point;  // the minimising point, every coordinate (the fixed one too)
    long evaluations = 0;       // of this point's re-optimisation
    bool stateMeasured = false; // `state` holds the settled evaluation at `point`
    SettledReport state;        // the kind of state the row settled in there
};

// One move of the estimate: a profile point better than the estimate by more than the margin.
struct EstimateMove {
    int index = 0;             // the parameter being profiled when the point was found
    double fixed = 0.0;        // its value there
    double from = 0.0;         // -ln L at the estimate left
    double to = 0.0;           // -ln L at the point, the new estimate
    std::vector<double> point; // the new estimate, every coordinate
};

struct ProfileOutcome {
    std::vector<double> estimate;    // the estimate profiled: the one given, or where it moved
    std::vector<EstimateMove> moves; // the moves of the estimate, in order
    bool movesExhausted = false;     // after the last move allowed, a point was better still
    double minimum = 0.0;            // the objective at the estimate
    double lowest = 0.0;             // lowest value met; below `minimum` when the estimate
    std::vector<double> lowestPoint; // is not the maximum-likelihood point
    long evaluations = 0;
    std::vector<ParameterProfile> parameters;
    std::vector<ProfilePoint> walked; // every profile point, in the order computed
    bool statesMeasured = false;      // the points' states (and the estimate's) were measured
    SettledReport estimateState;      // the state at the estimate, when measured
};
