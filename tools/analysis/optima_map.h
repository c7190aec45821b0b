// The map of the optima of a multi-start search: the starts' end points merged into distinct
// optima, and its table, TSV, JSON record and SVG figure.
#pragma once

#include "models/model_table.h"
#include "models/objective_kind.h"
#include "tools/analysis/settledness.h"
#include "tools/analysis/start_design.h"
#include "tools/formats/json_io.h"

#include <cstdint>
#include <string>
#include <vector>

// Two end points are one optimum when their values agree within this much and the points lie
// within this fraction of every region's width of each other.
constexpr double mergeValueTolerance = 0.01;
constexpr double mergeDistance = 0.01;

// Where one start's simplex ended.
struct StartOutcome {
    std::string label;         // "design 3" or "startvec"
    std::vector<double> start; // start point
    std::vector<double> point; // best point found
    double value = 0.0;        // -lnL there
    long evaluations = 0;      // objective evaluations spent
    bool converged = false;    // the simplex converged within the budget
    int optimum = -1;          // index of its optimum in the map, after merging
};

// One distinct optimum.
struct Optimum {
    double value = 0.0;         // the best value of its starts
    std::vector<double> point;  // the point of that value
    int starts = 0;             // starts that ended here
    long evaluations = 0;       // evaluations those starts spent together
    Settledness settledness;    // measured at `point`
    bool stateMeasured = false; // `state` holds the settled evaluation at `point`
    SettledReport state;        // what kind of state the settled objective scored there
};

// A whole search, as written to and read from the record.
struct ExploreMap {
    int model = 0;
    std::uint64_t seed = 0;
    int budget = 0;
    Design design = Design::box;
    ObjectiveKind objective = ObjectiveKind::zonefit; // what the starts minimised
    std::string method; // the global phase ("crs2"); empty in records that predate it
    std::string locus;  // --locus of a file with a locus column; empty: none ("locus" absent)
    std::vector<Region> regions;
    std::vector<StartOutcome> outcomes; // in start order
    std::vector<Optimum> optima;        // best first
    int searches = 0;                   // searches run (0 in records that predate them)
    int confirmed = 0;                  // of them, those that reached the best value
    double cpuSeconds = 0.0;
    double wallSeconds = 0.0;
};

// Merges the outcomes into optima, best first: each outcome, taken in order of value (ties by
// start order), joins the first optimum whose value is within mergeValueTolerance and whose
// point is within mergeDistance (regionDistance) of it, or opens a new one. Sets each
// outcome's `optimum`. Settledness is left for the caller to measure.
std::vector<Optimum> mergeOptima(std::vector<StartOutcome>& outcomes,
                                 const std::vector<Region>& regions);

// The map as an aligned table, as TSV (one header line, one row per optimum), or as the JSON
// record (an object whose "optima" lists value, point, starts, evaluations and settledness).
// Each says which objective was minimised: the TSV in a column, the record in "objective";
// the table and TSV name the state each optimum settled in ("-" when not measured).
std::string optimaTable(const ModelEntry& model, const ExploreMap& map);
std::string optimaTsv(const ModelEntry& model, const ExploreMap& map);
std::string exploreJson(const ModelEntry& model, const ExploreMap& map);

// One start's outcome as a JSON object: label, start, point, value, evaluations, converged.
Json startOutcomeJson(const StartOutcome& outcome);

// A small standalone SVG figure: the value each start reached, sorted, as distance above the
// best (log scale), so that one sees at a glance how many starts found the best.
std::string startValuesSvg(const ModelEntry& model, const ExploreMap& map);

// Reads a record written by exploreJson; one without "objective" (older records) was made
// under zonefit's. On failure returns false with the reason (naming
// `path`) in `error`.
bool readExploreRecord(const std::string& path, ExploreMap& map, std::string& error);

// The start file of the fits from an optimum: its point on line 1 (17 significant digits),
// the steps from the regions of the record on line 2.
std::string optimumStartText(const ExploreMap& map, const Optimum& optimum);
