// Profile-likelihood support limits of each parameter of a fitted model.
#pragma once

#include "models/model_table.h"
#include "models/objective_kind.h"
#include "optimiser/nr3.h"
#include "tools/formats/profile_types.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The profile at one value: the minimum of `objective` over all coordinates of `start` except
// `index`, which is fixed at `value`, by the downhill simplex at temperature 0 from `start`
// (restarted at its result until that gains less than settings.restartGain). `boxes` (one per
// coordinate, or fewer: the rest are unbounded) only steer the first simplex steps inwards. The
// first simplex steps settings.firstSimplexStep of the step size (stepSize) of each coordinate of
// `scale` (of `start` when null) away, each restart settings.restartStep of that of the point
// found. The minimising point is left in `point`; `evaluations` is increased by the evaluations
// made.
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
// doubling, or up to four times as far where a parabola through the estimate and the last
// point predicts the crossing; up to its box), each point re-optimised by profileValue from its
// neighbour's re-optimised point (the estimate for the first), until -ln L exceeds its value at the
// estimate by `units`; the crossing is then narrowed by interpolation (halving when that
// stalls) until a point lies within settings.crossingTolerance of it, each point started
// from the inner end of the bracket. A point whose -ln L lies more than settings.restartMargin
// below the estimate's becomes the estimate, and the profile of every parameter starts again from
// it (at most settings.maxRestarts times): no point of the outcome then lies more than the margin
// below its minimum. The evaluations count every pass.
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

// The same search, told through `hooks` (recalled points are not computed again), for a side
// run apart from the others (a task of a cluster run). Where settings.maxRestarts > 0 a point
// more than settings.restartMargin below the estimate ends the side there, as it would end the
// pass of profileLikelihood: that point is the side's last and the estimate stays; the whole
// profile, recalling the side's points, then starts again from it.
ProfileOutcome profileSide(const ProfiledObjective& objective, const std::vector<double>& estimate,
                           const std::vector<ParameterInfo>& boxes, int index, int side,
                           const ProfileSettings& settings, const ProfileHooks& hooks);

// The line of the table that says from which estimate a profile was made ("estimate moved 2
// times; from -lnL 447.84354 to 447.3647\n"); empty when the estimate did not move.
std::string estimateMovesLine(const ProfileOutcome& outcome);

// The message of one move of the estimate, as it happens; `name` names move.index.
std::string estimateMoveMessage(const std::string& name, const EstimateMove& move);
