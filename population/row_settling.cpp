// The row is continued in windows of generations through the fast loops. After each window the
// per-generation log rate r of the largest larva change D is measured over the window; D and r
// decide what the row is doing:
// - D below the tolerance: settled, once the score has settled too (with weights); until then
//   the row runs on without a tolerance. Not where the Jacobian at the stop shows a saddle that
//   the row leaves faster than the steady rate: the row runs on without a tolerance until D has
//   grown well above it (a saddle left more slowly makes the stop quasi-stationary);
// - D well above its lowest value and above the first tolerance: the row has left a state it
//   seemed to rest in (a saddle or a transient), and goes on;
// - |r| below the steady rate over a long enough stretch while D stays below the first
//   tolerance, and still below it `steadyHorizon` generations on at the trend r showed over the
//   stretch: a quasi-stationary cline, scored where it is. Without the trend the top of a slow
//   passage from one state to another, where r goes through 0, was taken for a creep.
// - r steady and negative (two successive estimates agree to 10% of r) with more generations
//   still to go by the tail estimate than a Newton search costs: a geometric approach, whose
//   limit Newton steps find (population/fixed_point.h) when it lies within ten times the tail
//   estimate D e^r / (1 - e^r) of the state. The settled state is where the plain run to the
//   tolerance stops; the limit takes its place when the plain run would take more than
//   `plainReach` generations, or when the limit agrees with that stop: by the weights of the
//   score (the counts each frequency is scored against) to `scoreAgreement`, or without them
//   every frequency to `stopAgreement` relative. Refused, the row goes on, with Newton tried again
//   once D has fallen tenfold or the rate has halved, at most four times on each approach (a row
//   whose D grows again approaches another state). Accepted, the limit
//   too must have a settled score, or the row runs on from it until it has.
// - r steady and positive, well above the steady rate, near the state the row leaves: it
//   leaves along one direction, each generation multiplying its change, and is carried ahead
//   along that direction to `departureReach` from the state it leaves (a transient).
// Windows start short, so that a fast approach is measured early, and grow to `window`.
#include "population/row_settling.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <memory>
#include <vector>

#include "population/fixed_point.h"
#include "population/row_generation.h"

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

// The generations a Newton search costs, counted in generations of the row: a few band LU
// factorisations and their solves against one pass of dispersal.
double newtonCost(const RowDynamics& dynamics, std::size_t demes, const RowGeneration& g) {
    const double size = static_cast<double>(g.size());
    const double band = static_cast<double>(g.bandwidth());
    const double lu = size * band * (2.0 * band + 1.0);
    const double points =
        dynamics.form == RowForm::kernel ? static_cast<double>(dynamics.kernelWeights.size()) : 3.0;
    const double generation = static_cast<double>(demes) * (points + 10.0) * 3.0;
    // Measured: a search costs about 16 times the LU's operations in generations' operations
    // (the generations run vectorised, the band LU does not), and a fixed 60.
    return 16.0 * lu / generation + 60.0;
}

// Newton's fixed point from `state`, accepted within `reach`: on acceptance `state` holds it.
// With `stopScale` > 0 the limit must also be where the plain run would stop, in the sense of
// the log-frequencies: the plain run stops about `stopScale` times the remaining distance
// short of the limit. With `weights`, the weighted sum of the relative differences of the
// frequencies (what the score would change by) must then be within `relative`; without, every
// frequency must be within `relative` of its limit.
bool newtonSettles(const RowGeneration& generation, RowState& state, double reach, double stopScale,
                   double relative, const std::vector<double>* weights, double& residual) {
    const std::size_t n = state.larvae.size();
    std::vector<double> x(3 * n), adults;
    for (std::size_t i = 0; i < n; ++i) {
        x[3 * i] = state.larvae[i].SS;
        x[3 * i + 1] = state.larvae[i].SI;
        x[3 * i + 2] = state.larvae[i].II;
    }
    // A limit where an allele is lost (or nearly) is approached plainly: the log-likelihood
    // of a frequency that tends to 0 keeps changing long after the frequencies have settled,
    // and the row is scored where the plain run stops, not at the limit.
    const FixedPointVerdict verdict = stableFixedPoint(generation, x, reach, adults, 1e-6);
    if (verdict != FixedPointVerdict::accepted) {
        return false;
    }
    double weighted = 0.0;
    const bool weighed = weights != nullptr && weights->size() == 3 * n;
    for (std::size_t i = 0; i < n && stopScale > 0.0; ++i) {
        const double start[3] = {state.larvae[i].SS, state.larvae[i].SI, state.larvae[i].II};
        for (int g = 0; g < 3; ++g) {
            const double limit = x[3 * i + g];
            const double gap = std::fabs(start[g] - limit) * stopScale;
            if (weighed) {
                const double w = (*weights)[3 * i + g];
                weighted += w == 0.0 ? 0.0 : w * gap / limit;
            } else if (gap > relative * limit) {
                return false;
            }
        }
    }
    if (weighed && !(weighted <= relative)) {
        return false;
    }
    std::vector<double> next(3 * n);
    generation.apply(x.data(), next.data());
    residual = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        state.larvae[i] = Genotype{x[3 * i], x[3 * i + 1], x[3 * i + 2]};
        state.adults[i] = Genotype{adults[3 * i], adults[3 * i + 1], adults[3 * i + 2]};
    }
    for (std::size_t k = 0; k < next.size(); ++k) {
        residual = std::max(residual, std::fabs(next[k] - x[k]));
    }
    return true;
}

// Whether an adult frequency seen at three times a window of generations apart, p0, p1, p2, is
// on its way to 0: it falls at a geometric rate whose limit (Aitken's estimate) lies under a
// hundredth of it. A frequency at 0 or below the smallest normal number tells nothing: rounding
// hides its rate, and a kernel's front of such frequencies may still be on its way in.
bool fallsToZero(double p0, double p1, double p2) {
    if (!(p0 >= DBL_MIN && p1 >= DBL_MIN && p2 >= DBL_MIN)) {
        return false;
    }
    const double d1 = p1 - p0;
    const double d2 = p2 - p1;
    if (!(d1 < 0.0 && d2 < 0.0)) {
        return false;
    }
    const double ratio = d2 / d1;
    if (!(ratio < 1.0)) {
        return false;
    }
    return p2 + d2 * ratio / (1.0 - ratio) < 0.01 * p0;
}

// Adult frequency k of `s` (3 per deme, deme-major: SS, SI, II).
double frequency(const RowState& s, std::size_t k) {
    const Genotype& g = s.adults[k / 3];
    return k % 3 == 0 ? g.SS : (k % 3 == 1 ? g.SI : g.II);
}

// Whether `rules` weighs the frequencies of `state`.
bool weighs(const SettleRules& rules, const RowState& state) {
    const std::size_t n = state.adults.size();
    return rules.weights != nullptr && rules.weights->size() == 3 * n && state.larvae.size() == n;
}

// What the score moves by from the adults of `from` to those of `to`: the weighted sum of the
// relative changes of the weighed frequencies, which is the change of -lnL to first order.
// Infinite when a weighed frequency leaves 0.
double scoreChange(const std::vector<double>& weights, const RowState& from, const RowState& to) {
    double sum = 0.0;
    for (std::size_t k = 0; k < weights.size(); ++k) {
        const double a = frequency(from, k);
        const double b = frequency(to, k);
        if (weights[k] == 0.0 || a == b) {
            continue;
        }
        if (!(a > 0.0)) {
            return HUGE_VAL;
        }
        sum += weights[k] * std::fabs(b - a) / a;
    }
    return sum;
}

// Two looks ahead of `state` on copies: `first` after `count` generations, `second` after as
// many more. False when the fast loops do not serve the row.
bool twoLooks(const RowDynamics& dynamics, const RowState& state, int count,
              const SettleRules& rules, RowState& first, RowState& second) {
    first = state;
    if (!continueRow(dynamics, first, 0.0, count, rules.diagnostics)) {
        return false;
    }
    second = first;
    return continueRow(dynamics, second, 0.0, count, rules.diagnostics);
}

// Whether the score of `state`, whose larvae have settled to the tolerance, has settled too
// (SettleRules::scoreRest), judged from two generations run on a copy. The tolerance bounds
// the change of a frequency, not its relative change: under strong selection a frequency of
// 1e-12, or of 1e-60 where an allele is all but absent, may still move by a good part of itself
// in a generation, and the score, which reads its logarithm, by as much times the count
// observed there. The same holds for a fixed point of Newton steps, which are exact to the
// rounding of the largest frequencies only. When it has not, `wait` is the number of
// generations after which the tail should have fallen under the rest (at most a window), or a
// window when the change does not fall.
bool scoreSettles(const RowDynamics& dynamics, const RowState& state, const SettleRules& rules,
                  int& wait) {
    wait = rules.window;
    if (!weighs(rules, state)) {
        return true;
    }
    RowState first;
    RowState second;
    if (!twoLooks(dynamics, state, 1, rules, first, second)) {
        return true;
    }
    const std::vector<double>& weights = *rules.weights;
    double total = 0.0;
    for (double w : weights) {
        total += w;
    }
    const double c0 = scoreChange(weights, state, first);
    const double c1 = scoreChange(weights, first, second);
    if (c0 <= rules.scoreRounding * total && c1 <= rules.scoreRounding * total) {
        return true;
    }
    // A geometric tail c0 (1 + q + q^2 ...); a change that does not fall has not settled.
    const double q = c1 / c0;
    if (q < 1.0 && c0 / (1.0 - q) <= rules.scoreRest) {
        return true;
    }
    if (q > 0.0 && q < 1.0) {
        const double generations = std::log(rules.scoreRest * (1.0 - q) / c0) / std::log(q);
        wait = static_cast<int>(std::min(std::ceil(generations), static_cast<double>(wait)));
        wait = std::max(wait, 1);
    }
    return false;
}

// Whether `state`, settled, is losing a weighed adult frequency (see SettleRules::lostLevel),
// judged over two windows of `lostWindow` generations run on a copy.
bool losesWeighedFrequency(const RowDynamics& dynamics, const RowState& state,
                           const SettleRules& rules) {
    const std::size_t n = state.adults.size();
    const std::vector<double>* weights = rules.weights;
    if (!weighs(rules, state)) {
        return false;
    }
    bool small = false;
    for (std::size_t k = 0; k < 3 * n && !small; ++k) {
        small = (*weights)[k] > 0.0 && frequency(state, k) < rules.lostLevel;
    }
    // Almost every settled row that keeps its genotypes ends here, before any generation runs.
    if (!small) {
        return false;
    }
    RowState first;
    RowState second;
    if (!twoLooks(dynamics, state, rules.lostWindow, rules, first, second)) {
        return false;
    }
    for (std::size_t k = 0; k < 3 * n; ++k) {
        const double p0 = frequency(state, k);
        if ((*weights)[k] > 0.0 && p0 < rules.lostLevel &&
            fallsToZero(p0, frequency(first, k), frequency(second, k))) {
            return true;
        }
    }
    return false;
}

// How a state whose larvae changed by less than the tolerance rests.
enum class StopKind {
    rest,       // a stable equilibrium, or nothing known against it: the stop stands
    slowSaddle, // a saddle the row leaves more slowly than the steady rate
    saddle,     // a saddle the row leaves: it has not come to rest
};

// Where a row passes close to a saddle its change falls below any tolerance while it lingers
// there, and it then leaves for another state: near the edge of the parameters that keep a
// cline in place, the point where the stop happened to fall scored the saddle, and its
// neighbours, whose rows passed a little farther away, the state beyond. The stop lies within
// about the tolerance over the saddle's rate of the equilibrium it is near, so the Jacobian at
// the stop tells whether that equilibrium is a saddle; every other verdict leaves the stop as it
// was.
StopKind stopKind(const RowGeneration& generation, const RowState& state,
                  const SettleRules& rules) {
    const std::size_t n = state.larvae.size();
    std::vector<double> x(3 * n);
    for (std::size_t i = 0; i < n; ++i) {
        x[3 * i] = state.larvae[i].SS;
        x[3 * i + 1] = state.larvae[i].SI;
        x[3 * i + 2] = state.larvae[i].II;
    }
    double largest = 0.0;
    if (!saddleNearOne(generation, x, largest)) {
        return StopKind::rest;
    }
    return std::log(largest) <= rules.steadyRate ? StopKind::slowSaddle : StopKind::saddle;
}

// The changes at the ends of the windows of a stretch in which the rate stayed within the steady
// rate, to tell a creep from the top of a slow passage. Where a row moves on from one state to
// another slowly (a cline shifting by part of a deme, at model 1's best points), its change
// grows, peaks and falls, and near the peak the rate stays under the steady rate for a hundred
// thousand generations: long enough for the stretch, though the row is about to settle.
class SteadyStretch {
  public:
    void clear() {
        generations_.clear();
        changes_.clear();
    }
    // A window from `from` (change `before`) to `to` (change `after`).
    void add(long long from, double before, long long to, double after) {
        if (generations_.empty()) {
            generations_.push_back(from);
            changes_.push_back(before);
        }
        generations_.push_back(to);
        changes_.push_back(after);
    }
    // Whether the rate, `rate` now, stays within the steady rate over rules.steadyHorizon
    // generations more at the trend it showed over the stretch (its rate over the second half
    // less that over the first). A trend within three times what the rounding of the changes
    // (2e-16 each) makes of it counts as none: far below the tolerance a change of 1e-14 is
    // known to a few percent only.
    bool staysSteady(double rate, const SettleRules& rules) const {
        const std::size_t n = generations_.size();
        if (n < 3) {
            return true;
        }
        const std::size_t m = n / 2;
        const double firstHalf = static_cast<double>(generations_[m] - generations_[0]);
        const double secondHalf = static_cast<double>(generations_[n - 1] - generations_[m]);
        if (!(firstHalf > 0.0 && secondHalf > 0.0)) {
            return true;
        }
        const double r1 = std::log(changes_[m] / changes_[0]) / firstHalf;
        const double r2 = std::log(changes_[n - 1] / changes_[m]) / secondHalf;
        const double span = 0.5 * (firstHalf + secondHalf);
        const double trend = (r2 - r1) / span;
        double smallest = changes_[0];
        for (double c : changes_) {
            smallest = std::fmin(smallest, c);
        }
        const double relative = 2e-16 / smallest;
        const double noise = 3.0 * 2.0 * relative / (std::fmin(firstHalf, secondHalf) * span);
        if (!(std::fabs(trend) > noise)) {
            return true;
        }
        return std::fabs(rate + trend * rules.steadyHorizon) < rules.steadyRate;
    }

  private:
    std::vector<long long> generations_;
    std::vector<double> changes_;
};

// Carries a row that leaves an unstable state at the steady per-generation factor `lambda`
// (> 1) ahead along its direction of departure. Near the state it leaves, the change of
// generation t + j is that of generation t times lambda^j, so k generations on the row lies at
// x(t+1) + d (lambda + ... + lambda^k), d = x(t+1) - x(t). The jump goes to where the row would
// lie rules.departureReach (in frequency) from the state it leaves: it lies about
// d / (lambda - 1) from it now. Two generations run first: the second change must be the first
// times lambda in every frequency (to 1%), or the growth is not along one direction and nothing
// is carried. Beyond the linear growth the jump follows the tangent rather than the path, and
// the row, run on from there, settles in the state the plain run reaches: on the 70 points of
// model 1's profiles the values agreed to 2e-9. A creep met on the way is still found if it
// lasts. Returns whether it jumped; `generations` counts the two generations run.
bool jumpAhead(const RowDynamics& dynamics, RowState& state, double lambda,
               const SettleRules& rules, long long& generations) {
    RowState first;
    RowState second;
    if (!twoLooks(dynamics, state, 1, rules, first, second)) {
        return false;
    }
    generations += 2;
    const std::size_t n = state.larvae.size();
    std::vector<double> d(3 * n);
    double largest = 0.0;
    double mismatch = 0.0;
    auto larva = [](const RowState& s, std::size_t k) {
        const Genotype& g = s.larvae[k / 3];
        return k % 3 == 0 ? g.SS : (k % 3 == 1 ? g.SI : g.II);
    };
    for (std::size_t k = 0; k < 3 * n; ++k) {
        const double x0 = larva(first, k);
        d[k] = larva(second, k) - x0;
        largest = std::fmax(largest, std::fabs(d[k]));
        mismatch = std::fmax(mismatch, std::fabs(d[k] - lambda * (x0 - larva(state, k))));
    }
    state = std::move(second);
    if (!(largest > 0.0) || !(mismatch <= 0.01 * largest)) {
        return false;
    }
    const double factor = rules.departureReach * (lambda - 1.0) / largest; // lambda^k
    if (!(factor >= 10.0)) {
        return false;
    }
    const double ahead = lambda * (factor - 1.0) / (lambda - 1.0);
    std::vector<Genotype> larvae = state.larvae;
    for (std::size_t i = 0; i < n; ++i) {
        larvae[i].SS += ahead * d[3 * i];
        larvae[i].SI += ahead * d[3 * i + 1];
        larvae[i].II += ahead * d[3 * i + 2];
        if (!(larvae[i].SS >= 0.0 && larvae[i].SI >= 0.0 && larvae[i].II >= 0.0 &&
              larvae[i].SS <= 1.0 && larvae[i].SI <= 1.0 && larvae[i].II <= 1.0)) {
            return false;
        }
    }
    state.larvae = std::move(larvae);
    return true;
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
    std::unique_ptr<RowGeneration> generation;
    double newtonAfter = 0.0;
    double newtonLevel = HUGE_VAL; // Newton is tried only with the change at or below this
    int newtonTries = 0;
    int newtonRounds = 0;          // times the tries started afresh on a new approach
    double newtonRate = -HUGE_VAL; // the rate of the last refused search
    double previousRate = 0.0;
    bool haveRate = false;
    // The larvae have settled to the tolerance but the score has not: the row runs on, whole
    // windows at a time, until it has.
    bool scoreMoving = false;
    // The row stopped at a saddle and runs on, without a tolerance, until it has left it.
    bool leaving = false;
    int jumps = 0;         // carried ahead along a departure (jumpAhead)
    SteadyStretch stretch; // the windows of the present stretch of steady change
    while (out.generations < rules.budget) {
        const long long left = rules.budget - out.generations;
        const int run = static_cast<int>(std::min<long long>(chunk, left));
        if (!continueRow(dynamics, state, scoreMoving || leaving ? 0.0 : rules.tolerance, run,
                         rules.diagnostics)) {
            return out;
        }
        out.generations += state.generations;
        const double before = change;
        change = lastChangeOf(state);
        out.lastChange = change;
        // A run that converges in the last generation of its window also meets its cap, which
        // does not count as converged: the change decides.
        if (change < rules.tolerance && leaving) {
            chunk = rules.window;
            continue;
        }
        if (change < rules.tolerance) {
            out.rest = transient ? RowRest::transientThenEquilibrium : RowRest::equilibrium;
            if (losesWeighedFrequency(dynamics, state, rules)) {
                out.rest = RowRest::alleleLost;
                return out;
            }
            if (!scoreMoving && rules.confirmStable && change > 0.0) {
                if (!generation) {
                    generation.reset(new RowGeneration(dynamics, state.larvae.size()));
                }
                const StopKind kind = stopKind(*generation, state, rules);
                if (kind == StopKind::slowSaddle) {
                    out.rest = RowRest::quasiStationary;
                    return out;
                }
                if (kind == StopKind::saddle) {
                    out.rest = RowRest::unsettled;
                    leaving = true;
                    chunk = rules.window;
                    continue;
                }
            }
            int wait = 0;
            if (scoreSettles(dynamics, state, rules, wait)) {
                return out;
            }
            out.rest = RowRest::unsettled;
            // Larvae that creep at a steady rate below the tolerance while the score keeps
            // moving make a quasi-stationary cline as much as a faster creep does: without this
            // such a row ran to the budget and was penalised, a hole in the surface that cost
            // two million generations, while one creeping a little faster was scored.
            const double rate = std::log(change / before) / run;
            if (scoreMoving && std::fabs(rate) < rules.steadyRate) {
                if (steady == 0) {
                    stretch.clear();
                }
                steady += run;
                stretch.add(out.generations - run, before, out.generations, change);
                if (steady >= steadySpan(rules)) {
                    if (stretch.staysSteady(rate, rules)) {
                        out.rest = RowRest::quasiStationary;
                        return out;
                    }
                    steady = 0;
                }
            } else {
                steady = 0;
            }
            // A tail that the estimate missed is given at least twice as long each time.
            chunk = scoreMoving ? std::max(wait, std::min(2 * chunk, rules.window)) : wait;
            scoreMoving = true;
            continue;
        }
        scoreMoving = false;
        if (leaving) {
            // Left once the change has grown well beyond the tolerance; until then the row is
            // still at the saddle and is not judged.
            if (!(change > rules.growth * rules.tolerance)) {
                chunk = rules.window;
                continue;
            }
            leaving = false;
            transient = true;
        }
        lowest = std::min(lowest, change);
        if (change > rules.growth * lowest && change > rules.firstTolerance) {
            transient = true;
        }
        // A change of 0 only comes with convergence; a non-number never settles.
        const double rate = std::log(change / before) / run;
        const bool geometric = haveRate && rate < 0.0 && previousRate < 0.0 &&
                               std::fabs(rate - previousRate) < 0.1 * std::fabs(rate);
        // Leaving an unstable state: the change grows at a steady rate, well above that of a
        // quasi-stationary creep, and the row lies less than a tenth of the reach from the
        // state it leaves. Run generation by generation, such a departure took most of the
        // generations of rows near model 1's best points (900,000 of 930,000 at a profile's
        // first point).
        const bool departing = rules.jumpDepartures && haveRate && rate > 2.0 * rules.steadyRate &&
                               previousRate > 2.0 * rules.steadyRate &&
                               std::fabs(rate - previousRate) < 0.1 * rate &&
                               change < 0.1 * rules.departureReach * (std::exp(rate) - 1.0);
        // A row whose change grows again has left the state it was approaching (a saddle,
        // where Newton's steps find an unstable fixed point and are refused): the state it goes
        // to is a new approach, with Newton's tries afresh.
        if (haveRate && rate > 0.0 && previousRate > 0.0 && newtonTries > 0 && newtonRounds < 4) {
            ++newtonRounds;
            newtonTries = 0;
            newtonLevel = HUGE_VAL;
            newtonRate = -HUGE_VAL;
        }
        previousRate = rate;
        haveRate = std::isfinite(rate);
        if (departing && jumps < 8) {
            ++jumps;
            if (jumpAhead(dynamics, state, std::exp(rate), rules, out.generations)) {
                // The row has left a state it seemed to rest in.
                transient = true;
                // The rate across the jump means nothing: it is measured afresh.
                haveRate = false;
                steady = 0;
                chunk = std::min(50, rules.window);
                change = lastChangeOf(state);
                continue;
            }
        }
        // A refused search is tried again once the change has fallen tenfold, or once the
        // approach has slowed to half the rate (its tail then reaches twice as far).
        const bool retry = change <= newtonLevel || rate > 0.5 * newtonRate;
        if (rules.newton && geometric && retry && newtonTries < 4) {
            if (!generation) {
                generation.reset(new RowGeneration(dynamics, state.larvae.size()));
            }
            if (newtonAfter == 0.0) {
                newtonAfter = std::max(static_cast<double>(rules.newtonAfter),
                                       newtonCost(dynamics, state.larvae.size(), *generation));
            }
            const double remaining = std::log(rules.tolerance / change) / rate;
            const bool weightsGiven =
                rules.weights != nullptr && rules.weights->size() == 3 * state.larvae.size();
            if (remaining > newtonAfter) {
                const double lambda = std::exp(rate);
                const double tail = change * lambda / (1.0 - lambda);
                // Within reach of plain iteration the limit stands in for the plain run's stop
                // only where the two agree; beyond it, the limit is the answer.
                const double stopScale =
                    remaining <= rules.plainReach ? rules.tolerance / change : 0.0;
                double residual = 0.0;
                RowState before = state;
                bool settles =
                    newtonSettles(*generation, state, 10.0 * tail + 1e-9, stopScale,
                                  weightsGiven ? rules.scoreAgreement : rules.stopAgreement,
                                  weightsGiven ? rules.weights : nullptr, residual);
                // A limit that keeps a trace of a genotype the row is losing where it is rare
                // (Newton steps are exact to the rounding of the largest frequencies only) is
                // no equilibrium of the row: the plain run decides where it stops.
                if (settles && losesWeighedFrequency(dynamics, state, rules)) {
                    state = std::move(before);
                    settles = false;
                }
                if (settles) {
                    out.rest = transient ? RowRest::transientThenEquilibrium : RowRest::equilibrium;
                    out.newton = true;
                    out.lastChange = residual;
                    int wait = 0;
                    if (scoreSettles(dynamics, state, rules, wait)) {
                        return out;
                    }
                    // The plain run from the limit settles its smallest frequencies.
                    out.rest = RowRest::unsettled;
                    change = residual;
                    scoreMoving = true;
                    chunk = wait;
                    continue;
                }
                ++newtonTries;
                newtonLevel = change / 10.0;
                newtonRate = rate;
            }
        }
        if (std::fabs(rate) < rules.steadyRate && change < rules.firstTolerance) {
            if (steady == 0) {
                stretch.clear();
            }
            steady += run;
            stretch.add(out.generations - run, before, out.generations, change);
        } else {
            steady = 0;
        }
        if (steady >= steadySpan(rules)) {
            if (stretch.staysSteady(rate, rules)) {
                out.rest = RowRest::quasiStationary;
                return out;
            }
            // The top of a slow passage: the row runs on, and a later stretch may still be
            // a creep.
            steady = 0;
        }
        chunk = std::min(2 * chunk, rules.window);
    }
    return out;
}
