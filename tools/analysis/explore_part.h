// An explore run cut into blocks of starts, each run on its own (as the tasks of a Slurm
// array): which starts a block holds, the partial record of one block's end points, and the
// checks that the parts read back belong to one run.
#pragma once

#include "models/model_table.h"
#include "models/objective_kind.h"
#include "tools/analysis/global_phase.h"
#include "tools/analysis/optima_map.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The starts first to end - 1 (in the order of a whole run) that block `block` (1 to
// `blocks`) of `total` starts holds: contiguous slices whose sizes differ by at most one,
// together every start once.
struct BlockRange {
    std::size_t first = 0;
    std::size_t end = 0;
};
BlockRange blockRange(std::size_t total, int block, int blocks);

// Reads "K/B" with 1 <= K <= B <= maxBlocks.
constexpr int maxBlocks = 100000;
bool parseBlock(const std::string& text, int& block, int& blocks);

// PREFIX.explore.partK-of-B.json
std::string explorePartName(const std::string& prefix, int block, int blocks);

// Everything that decides the starts of a run and where they end: the parts of one run agree
// on all of it.
struct ExploreRun {
    int model = 0;
    std::uint64_t seed = 0;
    int starts = 0; // design points
    int budget = 0;
    Design design = Design::box;
    std::vector<Region> regions;
    bool userStart = false; // startvecN.txt was read: its start and steps come first
    std::vector<double> start;
    std::vector<double> steps;
    std::string dataChecksum;       // of the --data file; empty for the built-in transect
    std::string locus;              // --locus of such a file; empty for none
    std::vector<std::string> boxes; // the --box settings, as given
    ObjectiveKind objective = ObjectiveKind::settled; // what the starts minimise
    GlobalMethod method = GlobalMethod::crs2;         // the searches' global phase
};

// The partial record of one block: the run, the block, and its starts' outcomes at full
// precision (label, start, end point, value, evaluations, converged), with the block's times.
std::string explorePartJson(const ExploreRun& run, int block, int blocks,
                            const std::vector<StartOutcome>& outcomes, double cpuSeconds,
                            double wallSeconds);

// Reads the part of block `block` of `blocks` from `path` and checks that it belongs to `run`
// and holds the `count` starts of its block. Appends its outcomes and adds its times. On
// failure returns false with the reason, naming `path`, in `error`. A part without "objective"
// (from before it was recorded) was made under zonefit's.
bool readExplorePart(const std::string& path, const ExploreRun& run, int block, int blocks,
                     std::size_t count, std::vector<StartOutcome>& outcomes, double& cpuSeconds,
                     double& wallSeconds, std::string& error);
