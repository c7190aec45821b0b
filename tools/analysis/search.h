// The search of zonetool explore, as a function: independent searches seeded from one seed,
// each a global phase, a polish and hops around its best, until two agree on the best optimum.
#pragma once

#include "models/model_table.h"
#include "optimiser/nr3.h"
#include "tools/analysis/global_phase.h"
#include "tools/analysis/optima_map.h"
#include "tools/formats/data_option.h"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

// What a search does. `budget` is the effort of one search in objective evaluations: about
// half goes to its global phase, the rest to the polish and the hops (which stop early when
// they converge). A run spends at most (searches + 1) x budget evaluations, and as few as
// 2 x budget when its first two searches agree.
struct SearchSettings {
    int searches = 8;                                 // independent searches, at most
    std::uint64_t seed = 1;                           // fixes every draw of every search
    int jobs = 1;                                     // worker threads
    int budget = 8000;                                // evaluations per search (about)
    Design design = Design::strength;                 // how the searches' starts are drawn
    std::vector<Region> regions;                      // the model's defaults when empty
    ObjectiveKind objective = ObjectiveKind::settled; // what the searches minimise
    GlobalMethod method = GlobalMethod::crs2;         // the global phase
    int hops = 3;                                     // hops around each search's best
    // Without a user start vector, the first search polishes the start derived from the
    // transect's own cline (deriveStart) in place of the first design point.
    bool derivedStart = true;
    // When set, one line per finished search and an indented one per stage of each (not owned).
    std::ostream* verbose = nullptr;
};

// The searches of a run, in order: the user's start vector when there is one (polish and hops
// only, label the start file's name), else (with settings.derivedStart) the derived start
// (polish and hops only, label "derived start") in place of the first design point, then one per
// design point ("search 3").
struct SearchStarts {
    std::vector<std::vector<double>> points;
    std::vector<std::vector<double>> steps; // initial steps of a user or derived start; else empty
    std::vector<std::string> labels;
};

// The two fitnesses of a model with one set of them on the whole row (models 1 and 7: wSS and
// wII), as parameter indices; -1 for a model without such a pair. With one set of fitnesses a
// cline stays in place only where wSS and wII are nearly equal, a narrow ridge of the
// likelihood surface.
struct RidgePair {
    int ss = -1;
    int ii = -1;
    // The ridge is exact: on a kernel grid nothing pins a cline between demes, so it stays in
    // place only where wSS and wII agree to about 1e-5 (C_1), and the polish walks the ridge
    // first. A stepping-stone row pins a slightly asymmetric cline between its demes (SS_1):
    // its ridge is a band the axis simplex follows, and a walk first measured slower there.
    bool exact = false;
};
RidgePair ridgePair(const ModelEntry& model);

// The coordinates of a simplex that walks the ridge of `pair`: every coordinate but wII, which
// follows wSS at a fixed offset (wII - wSS at the point the walk starts from). On model 7's
// ridge a cline stays in place only while the two fitnesses are equal to within 1e-5; a
// simplex that moves either alone tries no point on it, and one whose edges move them
// together and apart leaves it at its first reflection.
struct RidgeWalk {
    RidgePair pair;
    double offset = 0.0;
    // The point without wII (of start.size() - 1 coordinates; all of them without a pair).
    std::vector<double> reduce(const std::vector<double>& full) const;
    // The whole point of `reduced`: wII inserted at pair.ii as wSS + offset.
    std::vector<double> expand(const std::vector<double>& reduced) const;
};
RidgeWalk ridgeWalk(const RidgePair& pair, const std::vector<double>& start);

// The starts of `settings.searches` searches from the design of `settings` (regions resolved on
// the boxes of `data`), after `user` (with `userSteps`) when it is not empty. The derived start
// takes the borders derived from the transect (derivedBorders) whatever borders.txt says, is
// held to the regions (a fixed parameter at its value, step 0) and costs no evaluation.
SearchStarts searchStarts(const DataContext& data, const ModelEntry& model,
                          const SearchSettings& settings, const std::vector<double>& user,
                          const std::vector<double>& userSteps, const std::string& userLabel);

// The seed of search `index` (from 0) of a run seeded with `seed`.
std::uint64_t searchSeed(std::uint64_t seed, std::size_t index);

// Search `index` of `starts`: the global phase from its start (skipped for the user's start),
// a temperature-0 simplex polish of its best point, then settings.hops hops (a random move of
// about a twentieth of each region's width, polished, kept when better). Deterministic: the same
// arguments give the same outcome on any thread. The model reads the transect and boxes of
// `data`; its diagnostic lines are dropped.
//
// `note`, when set, is called on the search's thread after each stage (its name, such as
// "global phase", "polish, restart" or "hop 2, ridge walk"; the search's evaluations so far; the
// stage's best value: within a hop, the hop's own), so that a long search shows its progress.
using StageNote = std::function<void(const std::string& stage, long evaluations, double value)>;
StartOutcome runOneSearch(const DataContext& data, const ModelEntry& model,
                          const SearchSettings& settings, const SearchStarts& starts,
                          std::size_t index, const StageNote& note = {});

// How many outcomes of `outcomes[0 .. count)` reached the best value among them (within
// mergeValueTolerance). Penalties (of the model's box in `data`) and values that are not numbers
// confirm nothing.
int confirmations(const DataContext& data, const ModelEntry& model,
                  const std::vector<StartOutcome>& outcomes, std::size_t count);

// The length of the run that `outcomes` (all searches, in order) make: the first count at which
// two of them agree on their best, or all of them.
std::size_t convergedCount(const DataContext& data, const ModelEntry& model,
                           const std::vector<StartOutcome>& outcomes);

// Runs searches `first` to `end - 1` on settings.jobs threads, every one of them.
std::vector<StartOutcome> runSearchRange(const DataContext& data, const ModelEntry& model,
                                         const SearchSettings& settings, const SearchStarts& starts,
                                         std::size_t first, std::size_t end);

// A whole run: searches in order on settings.jobs threads until the first two agree on the best
// (convergedCount), merged into the map, each optimum's settledness measured. The map is the
// same for a seed whatever `jobs` is (timings aside). `settings.regions` empty means the
// model's defaults. Every search, on whichever thread, reads the transect and boxes of `data`.
ExploreMap runSearch(const DataContext& data, const ModelEntry& model,
                     const SearchSettings& settings, const SearchStarts& starts);

// The same for a model with no user start vector: what another command calls.
ExploreMap runSearch(const DataContext& data, const ModelEntry& model,
                     const SearchSettings& settings);

// Fills in the optima of `map` from its outcomes (after cutting them to convergedCount), their
// settledness and state, and its searches and confirmations.
void finishMap(const DataContext& data, const ModelEntry& model, const SearchSettings& settings,
               ExploreMap& map);
