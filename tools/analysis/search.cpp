#include "tools/analysis/search.h"

#include "models/settled_objective.h"
#include "optimiser/amebsa.h"
#include "tools/analysis/derived_start.h"
#include "tools/analysis/point_evaluation.h"
#include "tools/formats/cli.h"
#include "tools/formats/data_option.h"
#include "tools/formats/fit_record.h" // threadCpuSeconds

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <mutex>
#include <ostream>
#include <thread>

namespace {

// The convergence tolerance of the polish: that of the refining stages of a fit.
constexpr double polishTolerance = 1e-5;

// Counts the evaluations of one polish.
struct CountedObjective {
    BoundObjective objective;
    long count = 0;
    double operator()(const NRvector<double>& x) {
        count++;
        return objective(x);
    }
};

// Runs `simplex` (built on an objective that `counted` counts, from `start`) at temperature 0 for
// at most `budget` evaluations and returns where it ended, in the simplex's own coordinates.
template <class T>
StartOutcome runPolish(Amebsa<T>& simplex, const CountedObjective& counted,
                       const std::vector<double>& start, long budget) {
    const int n = simplex.dimension;
    int left = static_cast<int>(std::min<long>(std::max(1L, budget), 1000000000L));
    StartOutcome outcome;
    outcome.start = start;
    outcome.converged = simplex.anneal(left, 0.0);
    outcome.value = simplex.vertexValues[0];
    outcome.point.assign(static_cast<std::size_t>(n), 0.0);
    for (int j = 0; j < n; j++) {
        outcome.point[static_cast<std::size_t>(j)] = simplex.simplex[0][j];
    }
    // The best trial can beat every vertex kept (a trial is recorded before it is judged).
    if (simplex.bestValue < outcome.value) {
        outcome.value = simplex.bestValue;
        for (int j = 0; j < n; j++) {
            outcome.point[static_cast<std::size_t>(j)] = simplex.bestPoint[j];
        }
    }
    outcome.evaluations = counted.count;
    return outcome;
}

// The optimiser's vector of `x`'s values.
struct Vector {
    explicit Vector(const std::vector<double>& x) : v(static_cast<int>(x.size())) {
        for (std::size_t j = 0; j < x.size(); j++) {
            v[static_cast<int>(j)] = x[j];
        }
    }
    NRvector<double> v;
};

// A temperature-0 simplex from `start` with initial `steps`, for at most `budget` evaluations.
StartOutcome polish(const ModelContext& context, const ModelEntry& model, ObjectiveKind kind,
                    const std::vector<double>& start, const std::vector<double>& steps,
                    long budget) {
    CountedObjective counted{BoundObjective{&context, &model, kind}};
    // At temperature 0 the generator's draws add nothing, so the seed does not matter.
    Amebsa<CountedObjective> simplex(Vector(start).v, Vector(steps).v, counted, polishTolerance, 0);
    return runPolish(simplex, counted, start, budget);
}

// A model's objective on the coordinates of `walk`, counted.
struct WalkObjective {
    CountedObjective& counted;
    const RidgeWalk& walk;
    std::vector<double> reduced;
    NRvector<double> full;
    double operator()(const NRvector<double>& x) {
        for (int j = 0; j < x.size(); j++) {
            reduced[static_cast<std::size_t>(j)] = x[j];
        }
        const std::vector<double> point = walk.expand(reduced);
        for (int j = 0; j < full.size(); j++) {
            full[j] = point[static_cast<std::size_t>(j)];
        }
        return counted(full);
    }
};

// A temperature-0 simplex along the ridge of `pair` from `start` (RidgeWalk: wII follows wSS),
// with the steps of the other coordinates, for at most `budget` evaluations.
StartOutcome ridgePolish(const ModelContext& context, const ModelEntry& model, ObjectiveKind kind,
                         const std::vector<double>& start, const std::vector<double>& steps,
                         const RidgePair& pair, long budget) {
    CountedObjective counted{BoundObjective{&context, &model, kind}};
    const RidgeWalk walk = ridgeWalk(pair, start);
    const std::vector<double> from = walk.reduce(start);
    WalkObjective along{counted, walk, from, NRvector<double>(static_cast<int>(start.size()))};
    Amebsa<WalkObjective> simplex(Vector(from).v, Vector(walk.reduce(steps)).v, along,
                                  polishTolerance, 0);
    StartOutcome outcome = runPolish(simplex, counted, start, budget);
    outcome.point = walk.expand(outcome.point);
    return outcome;
}

// How much a restarted polish must gain, in -lnL, for the polish to restart again: a tenth of
// the tolerance within which two searches agree.
constexpr double restartGain = 0.001;

// Temperature-0 simplices from `start` (the first with `steps`), each later one restarted from
// the best point so far with steps of a hundredth of the search scale, until a restart gains
// less than restartGain or `budget` evaluations are spent. A simplex that has collapsed along a
// ridge stops short of the ridge's end; a fresh one takes up the walk. For a one-region model,
// when a restart gains too little, a simplex that walks the ridge of nearly equal wSS and wII
// (ridgePolish: wII follows wSS) tries it before the polish ends; on an exact ridge (C_1) the
// first simplex walks it too.
StartOutcome polishToConvergence(const ModelContext& context, const ModelEntry& model,
                                 ObjectiveKind kind, const std::vector<Region>& regions,
                                 const std::vector<double>& start, const std::vector<double>& steps,
                                 long budget,
                                 const std::function<void(const char*, long, double)>& note) {
    const RidgePair pair = ridgePair(model);
    // A model with an exact ridge walks it first: a simplex whose edges move one fitness alone
    // tries points off it (on model 7's, where a cline moves unless wSS and wII agree to 1e-5,
    // penalties) and can spend its whole budget without moving either fitness.
    StartOutcome outcome = pair.exact
                               ? ridgePolish(context, model, kind, start, steps, pair, budget)
                               : polish(context, model, kind, start, steps, budget);
    long spent = outcome.evaluations;
    note(pair.exact ? "ridge walk" : "simplex", spent, outcome.value);
    // Counts a restart and keeps its point when it is better; returns what it gained. A
    // restart along the axes always says whether the polish converged, one along the ridge
    // only when it found a better point.
    auto take = [&](const StartOutcome& next, bool alongAxes) {
        spent += next.evaluations;
        const double gain = outcome.value - next.value;
        if (next.value < outcome.value) {
            outcome.point = next.point;
            outcome.value = next.value;
        }
        if (alongAxes || gain > 0.0) {
            outcome.converged = next.converged;
        }
        note(alongAxes ? "restart" : "ridge walk", spent, outcome.value);
        return gain;
    };
    while (spent < budget) {
        const double gain =
            take(polish(context, model, kind, outcome.point,
                        searchSteps(model, regions, outcome.point, 0.01), budget - spent),
                 true);
        if (!(gain >= restartGain)) {
            if (pair.ss < 0 || spent >= budget) {
                break;
            }
            const double ridgeGain = take(
                ridgePolish(context, model, kind, outcome.point,
                            searchSteps(model, regions, outcome.point, 0.01), pair, budget - spent),
                false);
            if (!(ridgeGain >= restartGain)) {
                break;
            }
        }
    }
    outcome.evaluations = spent;
    return outcome;
}

// A normal draw by Box-Muller, from two uniform draws of `rng`.
double normal(SplitMix64& rng) {
    const double u = rng.open01();
    const double v = rng.open01();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
}

// Runs task(i) for i in 0 to count - 1 on `workers` threads until task returns false (then no
// new index is taken). Each task brings its own model context.
void onWorkers(std::size_t count, int workers, const std::function<bool(std::size_t)>& task) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    auto work = [&]() {
        while (!stop) {
            const std::size_t i = next.fetch_add(1);
            if (i >= count) {
                break;
            }
            if (!task(i)) {
                stop = true;
            }
        }
    };
    const int threads = std::max(1, std::min<int>(workers, static_cast<int>(count)));
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; t++) {
        pool.emplace_back(work);
    }
    for (std::thread& thread : pool) {
        thread.join();
    }
}

// Processor and wall time since it was made.
struct Stopwatch {
    std::clock_t cpuStart = std::clock();
    std::chrono::steady_clock::time_point wallStart = std::chrono::steady_clock::now();
    double cpu() const { return static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC; }
    double wall() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    }
};

// The line of a finished search for --verbose. `cpuSeconds`: the search's own CPU time, on its
// thread, so that a user can tell which searches are slow and what a run of more would take.
std::string searchLine(std::size_t i, std::size_t count, const StartOutcome& o, double cpuSeconds) {
    return "search " + std::to_string(i + 1) + "/" + std::to_string(count) + " (" + o.label +
           "): -lnL " + format17(o.value) + " after " + std::to_string(o.evaluations) +
           " evaluations" + (o.converged ? "" : " (budget spent)") + ", " +
           formatNumber(cpuSeconds, 4) + " CPU s\n";
}

// For --verbose, the note that writes a line per stage of search `i` (under `lock`), with the
// CPU time of its thread since `cpuStart`; none without --verbose.
StageNote stageNote(const SearchSettings& settings, std::size_t i, const SearchStarts& starts,
                    double cpuStart, std::mutex& lock) {
    if (!settings.verbose) {
        return {};
    }
    std::ostream* out = settings.verbose;
    const std::string head = "  search " + std::to_string(i + 1) + "/" +
                             std::to_string(starts.points.size()) + " (" + starts.labels[i] + "), ";
    return [out, head, cpuStart, &lock](const std::string& stage, long evaluations, double value) {
        const std::string line = head + stage + ": -lnL " + format17(value) + " after " +
                                 std::to_string(evaluations) + " evaluations, " +
                                 formatNumber(threadCpuSeconds() - cpuStart, 4) + " CPU s\n";
        const std::lock_guard<std::mutex> hold(lock);
        *out << line << std::flush;
    };
}

} // namespace

RidgePair ridgePair(const ModelEntry& model) {
    // Only a model with one set of fitnesses has parameters called plainly wSS and wII; the
    // others name theirs by region (wSS_L, wSS_1).
    RidgePair pair;
    const int ss = findParameter(model, "wSS");
    const int ii = findParameter(model, "wII");
    if (ss >= 0 && ii >= 0) {
        pair.ss = ss;
        pair.ii = ii;
        pair.exact = model.geometry == Geometry::kernelGrid;
    }
    return pair;
}

RidgeWalk ridgeWalk(const RidgePair& pair, const std::vector<double>& start) {
    RidgeWalk walk;
    const int n = static_cast<int>(start.size());
    if (pair.ss >= 0 && pair.ii >= 0 && pair.ss < n && pair.ii < n && pair.ss != pair.ii) {
        walk.pair = pair;
        walk.offset =
            start[static_cast<std::size_t>(pair.ii)] - start[static_cast<std::size_t>(pair.ss)];
    }
    return walk;
}

std::vector<double> RidgeWalk::reduce(const std::vector<double>& full) const {
    std::vector<double> reduced;
    for (std::size_t j = 0; j < full.size(); j++) {
        if (static_cast<int>(j) != pair.ii) {
            reduced.push_back(full[j]);
        }
    }
    return reduced;
}

std::vector<double> RidgeWalk::expand(const std::vector<double>& reduced) const {
    if (pair.ii < 0) {
        return reduced;
    }
    std::vector<double> full(reduced);
    const std::size_t ss = static_cast<std::size_t>(pair.ss < pair.ii ? pair.ss : pair.ss - 1);
    full.insert(full.begin() + pair.ii, reduced[ss] + offset);
    return full;
}

SearchStarts searchStarts(const DataContext& data, const ModelEntry& model,
                          const SearchSettings& settings, const std::vector<double>& user,
                          const std::vector<double>& userSteps, const std::string& userLabel) {
    const std::vector<Region> regions =
        settings.regions.empty() ? defaultRegions(data, model) : settings.regions;
    SearchStarts starts;
    if (!user.empty()) {
        starts.points.push_back(user);
        starts.steps.push_back(userSteps);
        starts.labels.push_back(userLabel);
    }
    const std::vector<std::vector<double>> design =
        designStarts(model, regions, settings.searches, settings.seed, settings.design);
    std::size_t first = 0;
    if (user.empty() && settings.derivedStart && !design.empty()) {
        // The observed cline puts this start in the basin of a cline held by weak selection,
        // which a design point rarely hits (most fall where the cline is lost): measured on
        // model 1, its polish alone ends lower than any global phase of the same cost.
        DerivedStart derived =
            deriveStart(model, data.box(model.number), data.data(), derivedBorders(data.data()));
        for (std::size_t j = 0; j < regions.size() && j < derived.start.size(); j++) {
            const Region& r = regions[j];
            derived.start[j] = std::min(r.high, std::max(r.low, derived.start[j]));
            if (!(r.high > r.low)) {
                derived.steps[j] = 0.0;
            }
        }
        starts.points.push_back(derived.start);
        starts.steps.push_back(derived.steps);
        starts.labels.push_back("derived start");
        first = 1;
    }
    for (std::size_t i = first; i < design.size(); i++) {
        starts.points.push_back(design[i]);
        starts.steps.push_back({});
        starts.labels.push_back("search " + std::to_string(i + 1));
    }
    return starts;
}

std::uint64_t searchSeed(std::uint64_t seed, std::size_t index) {
    // A stream per search: the run's seed moved by the index, then mixed.
    SplitMix64 mix(seed ^ (0xd1b54a32d192ed03ULL * (static_cast<std::uint64_t>(index) + 1)));
    return mix.next();
}

StartOutcome runOneSearch(const DataContext& data, const ModelEntry& model,
                          const SearchSettings& settings, const SearchStarts& starts,
                          std::size_t index, const StageNote& note) {
    std::ostream discard(nullptr);
    SimulationContext simulation;
    simulation.diagnostics = &discard;
    const ModelContext context = data.models(nullptr, simulation);
    const std::vector<Region> regions =
        settings.regions.empty() ? defaultRegions(data, model) : settings.regions;
    const std::vector<double>& start = starts.points[index];
    const bool user = !starts.steps[index].empty();
    const long budget = std::max(2, settings.budget);
    SplitMix64 rng(searchSeed(settings.seed, index));
    const std::uint64_t phaseSeed = rng.next();
    long spent = 0;
    std::vector<double> best = start;
    if (!user) {
        const PhaseResult phase = runGlobalPhase(context, model, settings.objective, regions, start,
                                                 settings.method, budget / 2, phaseSeed);
        spent += phase.evaluations;
        best = phase.point;
        if (note) {
            note("global phase", spent, phase.value);
        }
    }
    // The polish: the user's start with its own steps, a global phase's best with small ones on
    // the search scale (on a fitness's region scale a hundredth would be a tenth of w, which
    // near neutrality leaps off the ridges where weak selection holds a cline).
    const std::vector<double> steps =
        user ? starts.steps[index] : searchSteps(model, regions, best, 0.01);
    // Half of what is left, so that a polish walking a long ridge is not cut short; the hops
    // share what it leaves.
    const long polishBudget =
        std::max(1L, settings.hops > 0 ? (budget - spent) / 2 : budget - spent);
    // Each stage of a polish reported with the evaluations of the whole search.
    const char* within = "polish";
    auto polishNote = [&](const char* stage, long evaluations, double value) {
        if (note) {
            note(std::string(within) + ", " + stage, spent + evaluations, value);
        }
    };
    StartOutcome outcome = polishToConvergence(context, model, settings.objective, regions, best,
                                               steps, polishBudget, polishNote);
    spent += outcome.evaluations;
    for (int h = 0; h < settings.hops && spent < budget; h++) {
        std::vector<double> moved = outcome.point;
        for (std::size_t j = 0; j < moved.size() && j < regions.size(); j++) {
            const Region& r = regions[j];
            if (r.high > r.low) {
                const int k = static_cast<int>(j);
                const double u = toSearchUnit(model, k, r, moved[j]) + 0.05 * normal(rng);
                moved[j] = fromSearchUnit(model, k, r, std::min(1.0, std::max(0.0, u)));
            }
        }
        const std::string hopName = "hop " + std::to_string(h + 1);
        within = hopName.c_str();
        const StartOutcome hop =
            polishToConvergence(context, model, settings.objective, regions, moved,
                                searchSteps(model, regions, moved, 0.02),
                                (budget - spent) / (settings.hops - h), polishNote);
        spent += hop.evaluations;
        if (hop.value < outcome.value) {
            outcome.point = hop.point;
            outcome.value = hop.value;
            outcome.converged = hop.converged;
        }
    }
    outcome.start = start;
    outcome.label = starts.labels[index];
    outcome.evaluations = spent;
    return outcome;
}

int confirmations(const DataContext& data, const ModelEntry& model,
                  const std::vector<StartOutcome>& outcomes, std::size_t count) {
    const ModelBox& box = data.box(model.number);
    double best = HUGE_VAL;
    for (std::size_t i = 0; i < count && i < outcomes.size(); i++) {
        if (!isPenalty(box, outcomes[i].value)) {
            best = std::min(best, outcomes[i].value);
        }
    }
    int agree = 0;
    for (std::size_t i = 0; i < count && i < outcomes.size(); i++) {
        agree +=
            !isPenalty(box, outcomes[i].value) && outcomes[i].value - best <= mergeValueTolerance;
    }
    return agree;
}

std::size_t convergedCount(const DataContext& data, const ModelEntry& model,
                           const std::vector<StartOutcome>& outcomes) {
    for (std::size_t k = 2; k <= outcomes.size(); k++) {
        if (confirmations(data, model, outcomes, k) >= 2) {
            return k;
        }
    }
    return outcomes.size();
}

std::vector<StartOutcome> runSearchRange(const DataContext& data, const ModelEntry& model,
                                         const SearchSettings& settings, const SearchStarts& starts,
                                         std::size_t first, std::size_t end) {
    std::vector<StartOutcome> outcomes(end - first);
    std::mutex logLock;
    onWorkers(outcomes.size(), settings.jobs, [&](std::size_t k) {
        const double cpuStart = threadCpuSeconds();
        outcomes[k] = runOneSearch(data, model, settings, starts, first + k,
                                   stageNote(settings, first + k, starts, cpuStart, logLock));
        if (settings.verbose) {
            const std::string line = searchLine(first + k, starts.points.size(), outcomes[k],
                                                threadCpuSeconds() - cpuStart);
            const std::lock_guard<std::mutex> hold(logLock);
            *settings.verbose << line;
        }
        return true;
    });
    return outcomes;
}

void finishMap(const DataContext& data, const ModelEntry& model, const SearchSettings& settings,
               ExploreMap& map) {
    map.outcomes.resize(convergedCount(data, model, map.outcomes));
    map.searches = static_cast<int>(map.outcomes.size());
    map.confirmed = confirmations(data, model, map.outcomes, map.outcomes.size());
    map.optima = mergeOptima(map.outcomes, map.regions);
    onWorkers(map.optima.size(), settings.jobs, [&](std::size_t k) {
        Optimum& o = map.optima[k];
        std::ostream discard(nullptr);
        o.settledness = measureSettledness(data, model, o.point, &discard);
        if (settings.objective == ObjectiveKind::settled) {
            objectiveAt(data, model, o.point, ObjectiveKind::settled, &o.state, &discard);
            o.stateMeasured = true;
        }
        return true;
    });
}

ExploreMap runSearch(const DataContext& data, const ModelEntry& model,
                     const SearchSettings& settings, const SearchStarts& starts) {
    ExploreMap map;
    map.model = model.number;
    map.seed = settings.seed;
    map.budget = settings.budget;
    map.design = settings.design;
    map.objective = settings.objective;
    map.method = globalMethodName(settings.method);
    map.regions = settings.regions.empty() ? defaultRegions(data, model) : settings.regions;
    SearchSettings resolved = settings;
    resolved.regions = map.regions;
    const Stopwatch watch;
    const std::size_t count = starts.points.size();
    std::vector<StartOutcome> outcomes(count);
    std::vector<char> done(count, 0);
    std::size_t stopAt = count;
    std::mutex lock;
    onWorkers(count, settings.jobs, [&](std::size_t i) {
        {
            // A search after the point where the run has converged is not started.
            const std::lock_guard<std::mutex> hold(lock);
            if (i >= stopAt) {
                return false;
            }
        }
        const double cpuStart = threadCpuSeconds();
        StartOutcome o = runOneSearch(data, model, resolved, starts, i,
                                      stageNote(settings, i, starts, cpuStart, lock));
        const double cpu = threadCpuSeconds() - cpuStart;
        const std::lock_guard<std::mutex> hold(lock);
        outcomes[i] = o;
        done[i] = 1;
        if (settings.verbose) {
            *settings.verbose << searchLine(i, count, o, cpu);
        }
        // The run ends at the first prefix of finished searches of which two agree: the same
        // prefix whatever the order in which the workers finish.
        std::size_t finished = 0;
        while (finished < count && done[finished]) {
            finished++;
        }
        for (std::size_t k = 2; k <= finished && k < stopAt; k++) {
            if (confirmations(data, model, outcomes, k) >= 2) {
                stopAt = k;
            }
        }
        return i + 1 < stopAt;
    });
    outcomes.resize(std::min(stopAt, count));
    map.outcomes = outcomes;
    finishMap(data, model, resolved, map);
    map.cpuSeconds = watch.cpu();
    map.wallSeconds = watch.wall();
    return map;
}

ExploreMap runSearch(const DataContext& data, const ModelEntry& model,
                     const SearchSettings& settings) {
    return runSearch(data, model, settings, searchStarts(data, model, settings, {}, {}, ""));
}
