// zonetool profile: profile-likelihood support limits of each parameter of a fitted model.
#pragma once

#include "models/model_table.h"
#include "models/objective_kind.h"
#include "optimiser/nr3.h"
#include "tools/run_context.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A function to minimise: a negative log-likelihood of a full parameter vector.
using ProfiledObjective = std::function<double(const NRvector<double>&)>;

// How support limits are searched for.
struct ProfileSettings {
    double units = 2.0;      // log-likelihood units: a limit is where -ln L rises by this much
    double firstStep = 0.05; // first step from the estimate, as a fraction of |estimate| (of 1
                             // when the estimate is 0); each further step doubles
    int maxSteps = 20;       // steps per side before giving up
    double tolerance = 1e-4; // the crossing is bisected to this fraction of the first step
    int maxBisections = 60;  // bisection steps per limit at most
    // Relative spread of the simplex values at convergence. The models' values carry the
    // rounding of their equilibrium test (1e-8 in the frequencies), so a much tighter spread
    // is never reached and would only spend the evaluation budget.
    double simplexTolerance = 1e-7;
    long maxEvaluations = 20000; // per re-optimisation of the other parameters
    std::uint64_t seed = 1;      // of the simplex's generator (unused at temperature 0)
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

// The profile at one value: the minimum of `objective` over all coordinates of `start` except
// `index`, which is fixed at `value`, by the downhill simplex at temperature 0 from `start`
// (restarted at its result until that stops improving). `boxes` (one per coordinate, or fewer:
// the rest are unbounded) only steer the first simplex steps inwards. The first simplex steps
// a tenth of each coordinate of `scale` (of `start` when null) away. The minimising point is
// left in `point`; `evaluations` is increased by the evaluations made.
double profileValue(const ProfiledObjective& objective, const std::vector<double>& start,
                    const std::vector<ParameterInfo>& boxes, int index, double value,
                    const ProfileSettings& settings, std::vector<double>& point, long& evaluations,
                    const std::vector<double>* scale = nullptr);

// Called before each profile point: parameter index, side (-1 lower, +1 upper), point number
// on that side, and the value at which the parameter is fixed.
using ProfileObserver = std::function<void(int index, int side, int point, double value)>;

// What a profile reports as it goes, and the points it need not compute again. `estimate` is
// the number of moves of the estimate before the point (0: the estimate given) and `minimum`
// -ln L at that estimate; any member may be left empty.
struct ProfileHooks {
    ProfileObserver before; // before each point, recalled or computed
    // A point computed earlier: given the point's index, side and fixed value, fills in its
    // value, re-optimised point and evaluations and returns true; it is then not computed.
    std::function<bool(int estimate, double minimum, ProfilePoint& point)> recall;
    // After each point computed here (not recalled).
    std::function<void(int estimate, double minimum, const ProfilePoint& point)> computed;
    // After a move of the estimate, before the profile starts again from it.
    std::function<void(const EstimateMove& move)> moved;
};

// Support limits of the parameters `indices` of `estimate`, each searched for on both sides:
// the parameter is fixed at values farther and farther from its estimate (first step, then
// doubling, up to its box), each point re-optimised by profileValue from its neighbour's
// re-optimised point (the estimate for the first), until -ln L exceeds its value at the
// estimate by `units`; the crossing is then bisected, each point started from the inner end
// of the bracket. A point whose -ln L lies more than settings.restartMargin below the
// estimate's becomes the estimate, and the profile of every parameter starts again from it
// (at most settings.maxRestarts times): no point of the outcome then lies more than the
// margin below its minimum. The evaluations count every pass.
ProfileOutcome profileLikelihood(const ProfiledObjective& objective,
                                 const std::vector<double>& estimate,
                                 const std::vector<ParameterInfo>& boxes,
                                 const std::vector<int>& indices, const ProfileSettings& settings,
                                 const ProfileObserver& observer = ProfileObserver());
ProfileOutcome profileLikelihood(const ProfiledObjective& objective,
                                 const std::vector<double>& estimate,
                                 const std::vector<ParameterInfo>& boxes,
                                 const std::vector<int>& indices, const ProfileSettings& settings,
                                 const ProfileHooks& hooks);

// The search of profileLikelihood for one parameter on one side (-1 lower, +1 upper) only:
// the outcome holds that parameter, its other side left as a default SupportLimit. The
// estimate never moves here (the sides of separate jobs must share it); a better point is
// left in the outcome's lowest.
ProfileOutcome profileSide(const ProfiledObjective& objective, const std::vector<double>& estimate,
                           const std::vector<ParameterInfo>& boxes, int index, int side,
                           const ProfileSettings& settings,
                           const ProfileObserver& observer = ProfileObserver());

// The line of the table that says from which estimate a profile was made ("estimate moved 2
// times; from -lnL 447.84354 to 447.3647\n"); empty when the estimate did not move.
std::string estimateMovesLine(const ProfileOutcome& outcome);

// The message of one move of the estimate, as it happens; `name` names move.index.
std::string estimateMoveMessage(const std::string& name, const EstimateMove& move);

// The command: zonetool profile MODEL [options]. Returns the exit status.
int profileCommand(RunContext& ctx, const std::vector<std::string>& args);

extern const char* const profileHelp;
