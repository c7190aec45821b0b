#include "tools/analysis/profile.h"

#include "optimiser/amebsa.h"
#include "tools/formats/table.h"

#include <algorithm>
#include <cmath>

namespace {

// The objective as a function of all coordinates but one, which stays fixed.
class FixedCoordinate {
  public:
    FixedCoordinate(const ProfiledObjective& objective, const std::vector<double>& start, int index,
                    double value, long& evaluations)
        : objective_(objective), full_(static_cast<int>(start.size())), evaluations_(evaluations) {
        for (std::size_t j = 0; j < start.size(); j++) {
            full_[static_cast<int>(j)] = start[j];
            if (static_cast<int>(j) != index) {
                free_.push_back(static_cast<int>(j));
            }
        }
        full_[index] = value;
    }

    double operator()(const NRvector<double>& reduced) {
        for (std::size_t j = 0; j < free_.size(); j++) {
            full_[free_[j]] = reduced[static_cast<int>(j)];
        }
        evaluations_ += 1;
        return objective_(full_);
    }

    const std::vector<int>& freeCoordinates() const { return free_; }

  private:
    const ProfiledObjective& objective_;
    NRvector<double> full_;
    std::vector<int> free_;
    long& evaluations_;
};

// A first simplex step for coordinate j at x: `fraction` of the step size of `size` (a fitness's
// selection strength, see stepSize), turned inwards when the step would leave the box. On a
// ridge such as the one-region models' wSS = wII a step of a tenth of |w| lands far off it,
// and the simplex spends its evaluations shrinking back.
double stepFor(double x, double size, const std::vector<ParameterInfo>& boxes, int j,
               double fraction) {
    const bool boxed = j < static_cast<int>(boxes.size());
    const ParameterInfo box = boxed ? boxes[static_cast<std::size_t>(j)]
                                    : ParameterInfo{"", "", -unbounded, false, unbounded, false};
    double step = fraction * stepSize(box, size);
    if (boxed && !insideBox(box, x + step)) {
        step = -step;
    }
    return step;
}

} // namespace

double profileValue(const ProfiledObjective& objective, const std::vector<double>& start,
                    const std::vector<ParameterInfo>& boxes, int index, double value,
                    const ProfileSettings& settings, std::vector<double>& point, long& evaluations,
                    const std::vector<double>* scale) {
    FixedCoordinate fixed(objective, start, index, value, evaluations);
    const std::vector<int>& freeCoordinates = fixed.freeCoordinates();
    const int n = static_cast<int>(freeCoordinates.size());
    point = start;
    point[static_cast<std::size_t>(index)] = value;
    NRvector<double> current(n);
    for (int j = 0; j < n; j++) {
        current[j] = start[static_cast<std::size_t>(freeCoordinates[static_cast<std::size_t>(j)])];
    }
    if (n == 0) {
        return fixed(current);
    }
    double best = std::numeric_limits<double>::infinity();
    const long budgetEnd = evaluations + settings.maxEvaluations;
    // A simplex can collapse before it reaches the minimum; a fresh one around its result
    // either confirms the point or moves on.
    for (int restart = 0; restart < 10 && evaluations < budgetEnd; restart++) {
        NRvector<double> steps(n);
        for (int j = 0; j < n; j++) {
            const int k = freeCoordinates[static_cast<std::size_t>(j)];
            // A warm start may sit near 0 where the estimate does not: its size is the
            // estimate's. Later simplices shrink around the point found.
            const double size = restart == 0 && scale != nullptr
                                    ? (*scale)[static_cast<std::size_t>(k)]
                                    : current[j];
            steps[j] = stepFor(current[j], size, boxes, k,
                               restart == 0 ? settings.firstSimplexStep : settings.restartStep);
        }
        Amebsa<FixedCoordinate> simplex(current, steps, fixed, settings.simplexTolerance,
                                        settings.seed);
        bool converged = false;
        const long window = std::max(1L, settings.stallWindow * n);
        while (!converged && evaluations < budgetEnd) {
            // The point's budget holds within a call too: a simplex creeping along a flat
            // ridge would otherwise spend a thousand evaluations on a point allowed thirty.
            int budget = static_cast<int>(std::min<long>(window, budgetEnd - evaluations));
            const double before = simplex.bestValue;
            converged = simplex.anneal(budget, 0.0);
            // A simplex whose best gains less than a restart must over a whole window has
            // stalled: where rows creep, values move by more than the simplex's tolerance
            // between neighbouring points, and it would spend the point's whole budget
            // shrinking without converging. The restarts below decide whether to go on.
            if (!converged && std::isfinite(before) &&
                before - simplex.bestValue < settings.restartGain) {
                break;
            }
        }
        // The lowest vertex: a simplex stopped before it converged need not have it first.
        int lowest = 0;
        for (int i = 1; i <= n; i++) {
            if (simplex.vertexValues[i] < simplex.vertexValues[lowest]) {
                lowest = i;
            }
        }
        const double found = simplex.vertexValues[lowest];
        const bool improved =
            found < best - std::fmax(settings.restartGain, 1e-12 * std::fabs(best)) || restart == 0;
        if (found < best) {
            best = found;
            for (int j = 0; j < n; j++) {
                current[j] = simplex.simplex[lowest][j];
            }
        }
        if (!improved) {
            break;
        }
    }
    for (int j = 0; j < n; j++) {
        point[static_cast<std::size_t>(freeCoordinates[static_cast<std::size_t>(j)])] = current[j];
    }
    return best;
}

namespace {

struct SideSearch {
    const ProfiledObjective& objective;
    const std::vector<double>& estimate;
    const std::vector<ParameterInfo>& boxes;
    const ProfileSettings& settings;
    const ProfileHooks& hooks;
    ProfileOutcome& outcome;
    int moves = 0;        // moves of the estimate before this pass
    bool mayMove = false; // a better point ends this pass
    long better = -1;     // the point that ends it, as its index in outcome.walked

    bool ended() const { return better >= 0; }

    // The point at `value`, re-optimised from `from`: its value is returned and the point
    // left in `reached`.
    double at(int index, int side, int point, double value, const std::vector<double>& from,
              std::vector<double>& reached) {
        if (hooks.before) {
            hooks.before(index, side, point, value);
        }
        ProfilePoint walked;
        walked.index = index;
        walked.side = side;
        walked.fixed = value;
        if (hooks.recall && hooks.recall(moves, outcome.minimum, walked)) {
            outcome.evaluations += walked.evaluations;
        } else {
            const long before = outcome.evaluations;
            walked.value = profileValue(objective, from, boxes, index, value, settings,
                                        walked.point, outcome.evaluations, &estimate);
            walked.evaluations = outcome.evaluations - before;
            if (hooks.computed) {
                hooks.computed(moves, outcome.minimum, walked);
            }
        }
        if (walked.value < outcome.lowest) {
            outcome.lowest = walked.value;
            outcome.lowestPoint = walked.point;
        }
        if (walked.value < outcome.minimum - settings.restartMargin) {
            if (mayMove) {
                better = static_cast<long>(outcome.walked.size());
            } else {
                outcome.movesExhausted = true;
            }
        }
        reached = walked.point;
        outcome.walked.push_back(walked);
        return walked.value;
    }

    SupportLimit search(int index, int side) {
        SupportLimit limit;
        const double theta = estimate[static_cast<std::size_t>(index)];
        const double target = outcome.minimum + settings.units;
        const bool boxed = index < static_cast<int>(boxes.size());
        const ParameterInfo box = boxed
                                      ? boxes[static_cast<std::size_t>(index)]
                                      : ParameterInfo{"", "", -unbounded, false, unbounded, false};
        const double bound = side < 0 ? box.lower : box.upper;
        const bool open = side < 0 ? box.lowerOpen : box.upperOpen;
        const double firstStep = settings.firstStep * stepSize(box, theta);
        double inner = theta;
        double innerValue = outcome.minimum;
        std::vector<double> innerPoint = estimate;
        limit.value = theta;
        double offset = firstStep;
        for (int step = 0; step < settings.maxSteps; step++) {
            double t = theta + side * offset;
            bool atBound = false;
            if (side * (t - bound) >= 0.0) {
                // An open bound is approached to within a billionth of its size.
                t = open ? bound - side * 1e-9 * std::fmax(std::fabs(bound), 1.0) : bound;
                atBound = true;
                if (side * (t - inner) <= 0.0) {
                    limit.value = inner;
                    limit.found = true;
                    limit.atBox = true;
                    return limit;
                }
            }
            limit.points += 1;
            std::vector<double> reached;
            const double value = at(index, side, limit.points, t, innerPoint, reached);
            if (ended()) {
                return limit;
            }
            if (value - outcome.minimum >= settings.units) {
                limit.value = refine(index, side, theta, inner, innerValue, innerPoint, t, value,
                                     target, firstStep, limit.points);
                limit.found = true;
                return limit;
            }
            offset = nextOffset(offset, value - outcome.minimum);
            inner = t;
            innerValue = value;
            innerPoint = reached;
            limit.value = t;
            if (atBound) {
                limit.found = true;
                limit.atBox = true;
                return limit;
            }
        }
        return limit;
    }

    // The offset of the next step from the estimate, after a point at `offset` that rose by
    // `rise` (less than the units). A profile near its maximum is a parabola, which crosses
    // the units at offset x sqrt(units / rise): the step goes a tenth beyond that, so
    // that the crossing is bracketed close to its outer end, but at most four times as far.
    // A rise below a thousandth of the units is too close to the rounding of the re-optimised
    // values to extrapolate from: the step doubles.
    double nextOffset(double offset, double rise) const {
        if (!(rise >= 1e-3 * settings.units)) {
            return 2.0 * offset;
        }
        const double predicted = 1.1 * offset * std::sqrt(settings.units / rise);
        return std::fmin(predicted, 4.0 * offset);
    }

    // The crossing of `target` between inner (below it) and outer (at or above it). Each new
    // point goes where the bracket's ends say the target is crossed (crossing()), kept a
    // twentieth of the bracket away from either end, or halves the bracket when its outer end
    // is a penalty or a jump. The search ends when a point lies within
    // settings.crossingTolerance of the target, or the bracket is narrower than
    // settings.tolerance of the first step, or than settings.distancePrecision of its inner
    // end's distance from the estimate, and of the first step: a cliff right at the estimate
    // (its cline lost a hair's breadth away) is then found in about three points. Each
    // new point starts from the inner end's point: the outer one may lie where the model gives
    // a penalty.
    double refine(int index, int side, double theta, double inner, double innerValue,
                  std::vector<double> innerPoint, double outer, double outerValue, double target,
                  double firstStep, int& points) {
        int sameEnd = 0; // points in a row that moved the same end of the bracket
        int lastEnd = 0; // -1 the inner end moved last, +1 the outer
        const auto width = [&]() {
            const double distance = std::fmax(std::fabs(inner - theta), firstStep);
            return std::fmax(settings.tolerance * firstStep, settings.distancePrecision * distance);
        };
        for (int i = 0; i < settings.maxBisections && std::fabs(outer - inner) > width(); i++) {
            double next = 0.5 * (inner + outer);
            // An outer end far above the target after two points that each moved the inner
            // end is a jump, not a slope: the line through the ends would creep towards it a
            // twentieth at a time, and halving finds its edge sooner.
            const bool jump = lastEnd < 0 && sameEnd >= 2 && outerValue - target > settings.units;
            if (!jump && interpolable(innerValue, outerValue, target)) {
                // The end that stays while the other keeps moving counts for less each time
                // (the Illinois rule), so that a bent profile is crossed from both sides.
                const double weight = std::ldexp(1.0, -std::max(0, sameEnd - 1));
                const double below = target - (target - innerValue) * (lastEnd > 0 ? weight : 1.0);
                const double above = target + (outerValue - target) * (lastEnd < 0 ? weight : 1.0);
                const double at = crossing(theta, inner, below, outer, above, target);
                const double fraction =
                    std::fmin(0.95, std::fmax(0.05, (at - inner) / (outer - inner)));
                next = inner + fraction * (outer - inner);
            }
            points += 1;
            std::vector<double> reached;
            const double value = at(index, side, points, next, innerPoint, reached);
            if (ended()) {
                return inner;
            }
            const int end = value >= target ? +1 : -1;
            sameEnd = end == lastEnd ? sameEnd + 1 : 1;
            lastEnd = end;
            if (end > 0) {
                outer = next;
                outerValue = value;
            } else {
                inner = next;
                innerValue = value;
                innerPoint = reached;
            }
            if (std::fabs(value - target) <= settings.crossingTolerance) {
                break;
            }
        }
        // Within the last bracket the profile is close to its interpolation, unless one end is
        // a penalty: then the inner end is the honest answer.
        if (interpolable(innerValue, outerValue, target)) {
            return crossing(theta, inner, innerValue, outer, outerValue, target);
        }
        return inner;
    }

    // Whether the bracket's ends say where the target is crossed: not when the outer end is a
    // penalty.
    static bool interpolable(double innerValue, double outerValue, double target) {
        return std::isfinite(outerValue) && outerValue > innerValue && outerValue - target < 1e3;
    }

    // Where the target is crossed between the bracket's ends, by a straight line in the
    // squared distance from the estimate `theta`: exact for a parabola with its vertex at the
    // estimate, which a profile is near its maximum, and close to a straight line in the
    // parameter across a narrow bracket far from it.
    static double crossing(double theta, double inner, double innerValue, double outer,
                           double outerValue, double target) {
        const double a = (inner - theta) * (inner - theta);
        const double b = (outer - theta) * (outer - theta);
        const double u = a + (target - innerValue) / (outerValue - innerValue) * (b - a);
        return theta + std::copysign(std::sqrt(u), outer - theta);
    }
};

// The outcome before any search: the value at the estimate, which is the lowest met so far.
ProfileOutcome outcomeAtEstimate(const ProfiledObjective& objective,
                                 const std::vector<double>& estimate) {
    ProfileOutcome outcome;
    NRvector<double> x(static_cast<int>(estimate.size()));
    for (std::size_t j = 0; j < estimate.size(); j++) {
        x[static_cast<int>(j)] = estimate[j];
    }
    outcome.estimate = estimate;
    outcome.minimum = objective(x);
    outcome.evaluations = 1;
    outcome.lowest = outcome.minimum;
    outcome.lowestPoint = estimate;
    return outcome;
}

} // namespace

ProfileOutcome profileLikelihood(const ProfiledObjective& objective,
                                 const std::vector<double>& estimate,
                                 const std::vector<ParameterInfo>& boxes,
                                 const std::vector<int>& indices, const ProfileSettings& settings,
                                 const ProfileObserver& observer) {
    ProfileHooks hooks;
    hooks.before = observer;
    return profileLikelihood(objective, estimate, boxes, indices, settings, hooks);
}

ProfileOutcome profileLikelihood(const ProfiledObjective& objective,
                                 const std::vector<double>& estimate,
                                 const std::vector<ParameterInfo>& boxes,
                                 const std::vector<int>& indices, const ProfileSettings& settings,
                                 const ProfileHooks& hooks) {
    std::vector<double> current = estimate;
    std::vector<EstimateMove> moves;
    long evaluations = 0;
    for (;;) {
        ProfileOutcome outcome = outcomeAtEstimate(objective, current);
        outcome.evaluations += evaluations;
        outcome.moves = moves;
        SideSearch search{objective, current, boxes, settings, hooks, outcome};
        search.moves = static_cast<int>(moves.size());
        search.mayMove = search.moves < settings.maxRestarts;
        for (std::size_t k = 0; k < indices.size() && !search.ended(); k++) {
            ParameterProfile profile;
            profile.index = indices[k];
            profile.estimate = current[static_cast<std::size_t>(indices[k])];
            profile.lower = search.search(indices[k], -1);
            if (!search.ended()) {
                profile.upper = search.search(indices[k], +1);
            }
            outcome.parameters.push_back(profile);
        }
        if (!search.ended()) {
            return outcome;
        }
        const ProfilePoint& better = outcome.walked[static_cast<std::size_t>(search.better)];
        EstimateMove move;
        move.index = better.index;
        move.fixed = better.fixed;
        move.from = outcome.minimum;
        move.to = better.value;
        move.point = better.point;
        moves.push_back(move);
        if (hooks.moved) {
            hooks.moved(move);
        }
        current = move.point;
        evaluations = outcome.evaluations;
    }
}

namespace {

ProfileOutcome oneSide(const ProfiledObjective& objective, const std::vector<double>& estimate,
                       const std::vector<ParameterInfo>& boxes, int index, int side,
                       const ProfileSettings& settings, const ProfileHooks& hooks,
                       bool endAtBetter) {
    ProfileOutcome outcome = outcomeAtEstimate(objective, estimate);
    SideSearch search{objective, estimate, boxes, settings, hooks, outcome};
    search.mayMove = endAtBetter;
    ParameterProfile profile;
    profile.index = index;
    profile.estimate = estimate[static_cast<std::size_t>(index)];
    (side < 0 ? profile.lower : profile.upper) = search.search(index, side);
    outcome.parameters.push_back(profile);
    return outcome;
}

} // namespace

ProfileOutcome profileSide(const ProfiledObjective& objective, const std::vector<double>& estimate,
                           const std::vector<ParameterInfo>& boxes, int index, int side,
                           const ProfileSettings& settings, const ProfileObserver& observer) {
    ProfileHooks hooks;
    hooks.before = observer;
    return oneSide(objective, estimate, boxes, index, side, settings, hooks, false);
}

ProfileOutcome profileSide(const ProfiledObjective& objective, const std::vector<double>& estimate,
                           const std::vector<ParameterInfo>& boxes, int index, int side,
                           const ProfileSettings& settings, const ProfileHooks& hooks) {
    // The whole profile's pass ends at such a point while it may still move: points beyond it
    // would never be asked for.
    return oneSide(objective, estimate, boxes, index, side, settings, hooks,
                   settings.maxRestarts > 0);
}

std::string estimateMovesLine(const ProfileOutcome& outcome) {
    if (outcome.moves.empty()) {
        return "";
    }
    const std::size_t n = outcome.moves.size();
    return "estimate moved " + std::to_string(n) + (n == 1 ? " time" : " times") + "; from -lnL " +
           formatNumber(outcome.moves.front().from, 10) + " to " +
           formatNumber(outcome.moves.back().to, 10) + "\n";
}

std::string estimateMoveMessage(const std::string& name, const EstimateMove& move) {
    return "zonetool profile: a point with " + name + " = " + formatNumber(move.fixed, 8) +
           " has -lnL " + formatNumber(move.to, 10) + ", better than the estimate " +
           formatNumber(move.from, 10) + " by " + formatNumber(move.from - move.to, 6) +
           "; the profile starts again from there\n";
}
