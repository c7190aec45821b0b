#include "tools/commands/explore.h"

#include "data/borders.h"
#include "driver/schedule.h"
#include "driver/start_file.h"
#include "models/settled_objective.h"
#include "optimiser/amebsa.h"
#include "tools/analysis/explore_part.h"
#include "tools/analysis/point_evaluation.h"
#include "tools/analysis/start_box_check.h"
#include "tools/formats/cli.h"
#include "tools/formats/data_option.h"
#include "tools/formats/options.h"
#include "tools/formats/output_lock.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <iostream>
#include <mutex>
#include <sys/stat.h>
#include <thread>

const char* const exploreHelp =
    "Usage: zonetool explore MODEL [--starts N] [--seed S] [--jobs J] [--budget E]\n"
    "                              [--method M] [--design strength|box]\n"
    "                              [--region NAME=LO:HI ...]\n"
    "                              [--format table|tsv|json] [-o PREFIX] [--redo] [--verbose]\n"
    "                              [--block K/B | --collect --blocks B]\n"
    "                              [--objective settled|zonefit]\n"
    "\n"
    "Searches for the best optimum of MODEL with up to N independent searches, each seeded\n"
    "from seed S: a global phase (method M over each parameter's exploration region, 'zonetool\n"
    "models' lists them, from a start drawn by a Latin hypercube), a polish of its best point\n"
    "by a downhill simplex at temperature 0 (restarted until a restart gains less than 0.001),\n"
    "and hops around its best (a random move of about a twentieth of each region, polished,\n"
    "kept when better). The start vector of startvecMODEL.txt (with its steps), when that file\n"
    "is in the working directory and its start lies inside the boxes (else it is named and\n"
    "left out), is searched first, by the polish and hops alone; without one, the start\n"
    "derived from the transect ('zonetool start MODEL') takes the place of the first design\n"
    "start and is searched the same way. Searches run in order and the run stops at the first\n"
    "search after which two of them agree on the best value (within 0.01 in -lnL): that best\n"
    "is confirmed. Each search spends about E evaluations. End points whose -lnL agree within\n"
    "0.01 and that lie within 1% of every region's width of each other are one optimum. The\n"
    "map of the optima, best first, goes to standard output: -lnL, how many searches reached\n"
    "it, the evaluations they spent, and how settled the simulated equilibrium is\n"
    "(generations, '*' when the cap was reached; lambda, the factor by which the change per\n"
    "generation was still shrinking; the distance to the fixed point that remains,\n"
    "1e-8 lambda/(1-lambda); 'cliff', a parameter whose move by 1e-6 of its value changes\n"
    "-lnL by more than 1), then how many searches confirmed the best. The record is the same\n"
    "for a seed whatever J is. Under the settled objective (the default) the table names the\n"
    "kind of state each optimum settled in, an unsettled one with its generations and last\n"
    "change.\n"
    "\n"
    "Writes PREFIX.explore.json (the record that 'zonetool fit MODEL --from' reads: every\n"
    "optimum at full precision and every start) and PREFIX.explore.svg (the sorted values the\n"
    "starts reached). PREFIX is the model's result-file name (SS1_ML_ for model 1).\n"
    "\n"
    "Options:\n"
    "  --starts N        searches at most, 1 to 100000 (default 8)\n"
    "  --seed S          seed of the searches, 0 to 2^64-1 (default 1)\n"
    "  --jobs J          worker threads, 1 to 256 (default 1)\n"
    "  --budget E        evaluations per search, 10 to 100000000 (default 8000)\n"
    "  --method M        the global phase: crs2 (default; NLopt's CRS2-LM), mlsl (NLopt),\n"
    "                    cmaes or xnes (pagmo, restarted), simplex or anneal (this program's\n"
    "                    simplex)\n"
    "  --design D        strength (default): each pair of fitnesses such as wSS, wII drawn\n"
    "                    as a selection strength (log scale, 1e-4 up to the region's edge,\n"
    "                    either sign) and an asymmetry; box: every parameter across its region\n"
    "  --region N=LO:HI  exploration region of parameter N (within its box; LO = HI holds it\n"
    "                    fixed); may be repeated\n"
    "  --format F        table (default), tsv or json (the record itself)\n"
    "  -o PREFIX         name the record and figure PREFIX.explore.json and .svg\n"
    "  --redo            replace an existing record and figure\n"
    "  --verbose         one line on standard error as each search finishes (its -lnL,\n"
    "                    evaluations and CPU time), and an indented one after each stage of\n"
    "                    it (the global phase, each simplex of its polish and of its hops)\n"
    "  --block K/B       run only block K of B of the searches (contiguous slices of all N,\n"
    "                    in order, each run whole) and write their end points at full precision\n"
    "                    to PREFIX.explore.partK-of-B.json, with what ties the parts of one run\n"
    "                    together (model, seed, starts, budget, design, regions, start vector,\n"
    "                    data checksum, --box settings)\n"
    "  --collect         run nothing: merge the parts PREFIX.explore.part1-of-B.json to\n"
    "                    partB-of-B.json, made with the same options, into the record, figure\n"
    "                    and table of one whole run (cut, as the run is, after the first two\n"
    "                    searches that agree); a part that is missing, of another block\n"
    "                    or of another run is named and nothing is merged\n"
    "  --blocks B        the number of parts, with --collect\n"
    "  --objective K     settled (default) or zonefit: the value every search minimises; the\n"
    "                    record, its parts and the table say which\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length\n"
    "  --locus NAME   fit locus NAME of a --data file with a locus column (one row per site\n"
    "                 and locus); such a file with several loci needs it. The record names\n"
    "                 the locus\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n";

namespace {

bool exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
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

// A map of `settings` with no searches yet.
ExploreMap emptyMap(const DataContext& data, const ModelEntry& model,
                    const SearchSettings& settings) {
    ExploreMap map;
    map.model = model.number;
    map.seed = settings.seed;
    map.budget = settings.budget;
    map.design = settings.design;
    map.objective = settings.objective;
    map.method = globalMethodName(settings.method);
    map.regions = settings.regions.empty() ? defaultRegions(data, model) : settings.regions;
    return map;
}

} // namespace

namespace {

struct ExploreArguments {
    std::string modelText;
    SearchSettings settings;
    std::vector<std::string> regionOptions;
    std::string format = "table";
    std::string prefix;
    bool redo = false;
    int block = 0;  // with --block K/B: K, from 1
    int blocks = 0; // B, of --block or of --collect --blocks
    bool collect = false;
    int collectBlocks = 0; // of --blocks
};

int readArguments(const RunContext& ctx, const std::vector<std::string>& args,
                  ExploreArguments& a) {
    const DataContext& data = ctx.data;
    SearchSettings& s = a.settings;
    int number = 0;
    const int status =
        OptionParser(
            "explore", [] { return std::string(exploreHelp); }, *ctx.out, *ctx.err)
            .optionPrefix("-")
            // A lone "-" is no option: it reads as a model and is refused as one.
            .unknownOption([](const std::string& arg) -> Problem {
                return arg == "-" ? "" : "unknown option '" + arg + "'";
            })
            .flag({"--redo"}, [&a] { a.redo = true; })
            .flag({"--verbose"}, [&s, &ctx] { s.verbose = ctx.err; })
            .value({"--starts"}, "a value", storeWhole(s.searches, 1, 100000))
            .value({"--jobs"}, "a value", storeWhole(s.jobs, 1, 256))
            .value({"--budget"}, "a value", storeWhole(s.budget, 10, 100000000))
            .value({"--seed"}, "a value",
                   [&s](const std::string&, const std::string& value) -> Problem {
                       return parseSeed(value, s.seed) ? ""
                                                       : "--seed needs a whole number from 0 to "
                                                         "18446744073709551615, not '" +
                                                             value + "'";
                   })
            .value({"--design"}, "a value",
                   [&s](const std::string&, const std::string& value) -> Problem {
                       return parseDesign(value, s.design)
                                  ? ""
                                  : "--design needs box or strength, not '" + value + "'";
                   })
            .value({"--format"}, "a value",
                   storeChoice(a.format,
                               {{"table", std::string("table")},
                                {"tsv", std::string("tsv")},
                                {"json", std::string("json")}},
                               "table, tsv or json"))
            .value({"--region"}, "a value",
                   [&a](const std::string&, const std::string& value) -> Problem {
                       a.regionOptions.push_back(value);
                       return "";
                   })
            .value({"-o"}, "a value",
                   [&a](const std::string&, const std::string& value) -> Problem {
                       a.prefix = value;
                       return value.empty() ? "-o needs a non-empty PREFIX" : "";
                   })
            .value({"--block"}, "a value",
                   [&a](const std::string&, const std::string& value) -> Problem {
                       return parseBlock(value, a.block, a.blocks)
                                  ? ""
                                  : "--block needs K/B, block K of B, 1 <= K <= B <= " +
                                        std::to_string(maxBlocks) + ", not '" + value + "'";
                   })
            .flag({"--collect"}, [&a] { a.collect = true; })
            .value({"--blocks"}, "a value", storeWhole(a.collectBlocks, 1, maxBlocks))
            .value({"--objective"}, "a value", storeObjective(s.objective))
            .value({"--method"}, "a value",
                   [&s](const std::string&, const std::string& value) -> Problem {
                       return parseGlobalMethod(value, s.method)
                                  ? ""
                                  : "--method needs simplex, anneal, crs2, mlsl, cmaes or xnes, "
                                    "not '" +
                                        value + "'";
                   })
            .positional(takeOne(a.modelText))
            .check(requireModel(a.modelText, number))
            .check([&a]() -> Problem {
                if (a.collect && a.block > 0) {
                    return "give either --block or --collect, not both";
                }
                if (a.collect && a.collectBlocks == 0) {
                    return "--collect needs --blocks B, the number of parts";
                }
                if (!a.collect && a.collectBlocks > 0) {
                    return "--blocks goes with --collect";
                }
                if (a.collect) {
                    a.blocks = a.collectBlocks;
                }
                return "";
            })
            .parse(args);
    if (status >= 0) {
        return status;
    }
    const ModelEntry& model = *findModel(number);
    a.settings.regions = defaultRegions(data, model);
    for (const std::string& option : a.regionOptions) {
        std::string problem;
        if (!applyRegionOption(data, model, option, a.settings.regions, problem)) {
            return usageError(*ctx.err, "explore", problem);
        }
    }
    if (a.prefix.empty()) {
        a.prefix = model.prefix;
    }
    return -1;
}

} // namespace

namespace {

// Returns -1 when the starts are there, else the exit status after the message.
int readStarts(const RunContext& ctx, const ModelEntry& model, const ExploreArguments& a,
               SearchStarts& list, ExploreRun& run) {
    const DataContext& data = ctx.data;
    const std::string startName = startFileName(a.modelText.c_str());
    StartVector user;
    if (exists(startName)) {
        if (readStartFile(startName, user) != StartFileStatus::ok ||
            user.start.size() < static_cast<std::size_t>(model.parameterCount)) {
            *ctx.err << "zonetool explore: " << startName << " holds no start vector of "
                     << model.parameterCount << " values with its steps\n";
            return 1;
        }
        user.start.resize(static_cast<std::size_t>(model.parameterCount));
        user.deltas.resize(user.start.size());
        // Searched, it would only meet penalties and stand in the map as an optimum.
        const std::string outside = startBoxProblem(data, startName, model, user.start,
                                                    "it is not searched (the design starts are)");
        if (!outside.empty()) {
            *ctx.err << "zonetool explore: " << outside << "\n";
            user.start.clear();
        }
    }
    if (!user.start.empty()) {
        run.userStart = true;
        run.start = user.start;
        run.steps = user.deltas;
    } else {
        user.deltas.clear();
    }
    list = searchStarts(data, model, a.settings, user.start, user.deltas, startName);
    run.model = model.number;
    run.seed = a.settings.seed;
    run.starts = a.settings.searches;
    run.budget = a.settings.budget;
    run.design = a.settings.design;
    run.regions = a.settings.regions;
    run.objective = a.settings.objective;
    run.method = a.settings.method;
    run.dataChecksum = data.checksum;
    run.boxes = data.boxOptions;
    run.locus = data.locus;
    return -1;
}

// One block of a run: its starts' outcomes into its part.
int runBlock(const RunContext& ctx, const ModelEntry& model, const ExploreArguments& a,
             const SearchStarts& list, const ExploreRun& run, const std::string& partName) {
    const DataContext& data = ctx.data;
    const Stopwatch watch;
    const BlockRange range = blockRange(list.points.size(), a.block, a.blocks);
    const std::vector<StartOutcome> outcomes =
        runSearchRange(data, model, a.settings, list, range.first, range.end);
    std::string error;
    if (!writeResultFile(
            partName, explorePartJson(run, a.block, a.blocks, outcomes, watch.cpu(), watch.wall()),
            error, nullptr, a.redo ? ExistingFile::replace : ExistingFile::keep)) {
        *ctx.err << "zonetool explore: " << error << "\n";
        return 1;
    }
    *ctx.out << "block " << a.block << " of " << a.blocks << ": ";
    if (range.end > range.first) {
        *ctx.out << "searches " << range.first + 1 << " to " << range.end << " of "
                 << list.points.size();
    } else {
        *ctx.out << "no search (" << list.points.size() << " searches in all)";
    }
    *ctx.out << ", part " << partName << "\n";
    return 0;
}

// The outcomes of every part, in start order, into `map`. Names every part that is missing or
// does not belong to the run and returns false if there is any.
bool readParts(std::ostream& err, const ExploreArguments& a, const SearchStarts& list,
               const ExploreRun& run, ExploreMap& map) {
    bool good = true;
    for (int k = 1; k <= a.blocks; k++) {
        const BlockRange range = blockRange(list.points.size(), k, a.blocks);
        std::string error;
        if (!readExplorePart(explorePartName(a.prefix, k, a.blocks), run, k, a.blocks,
                             range.end - range.first, map.outcomes, map.cpuSeconds, map.wallSeconds,
                             error)) {
            err << "zonetool explore: " << error << "\n";
            good = false;
        }
    }
    if (!good) {
        err << "zonetool explore: nothing merged\n";
    }
    return good;
}

// The record, the figure and what goes to standard output, of a whole or a merged run.
int writeMap(const RunContext& ctx, const ModelEntry& model, const ExploreArguments& a,
             const ExploreMap& map, const std::string& recordName, const std::string& figureName) {
    const DataContext& data = ctx.data;
    std::string error;
    ExploreMap ofLocus = map;
    ofLocus.locus = data.locus;
    const std::string record = exploreJson(model, ofLocus);
    const ExistingFile existing = a.redo ? ExistingFile::replace : ExistingFile::keep;
    if (!writeResultFile(recordName, record, error, nullptr, existing) ||
        !writeResultFile(figureName, startValuesSvg(model, map), error, nullptr, existing)) {
        *ctx.err << "zonetool explore: " << error << "\n";
        return 1;
    }
    if (a.format == "json") {
        *ctx.out << record;
    } else if (a.format == "tsv") {
        *ctx.out << optimaTsv(model, map);
    } else {
        *ctx.out << optimaTable(model, map);
        // Optima of one value at distant points (a ridge, as where the cline vanishes) are
        // counted once more as one level.
        std::size_t levels = 0;
        for (std::size_t k = 0; k < map.optima.size(); k++) {
            levels += k == 0 || !(std::fabs(map.optima[k].value - map.optima[k - 1].value) <=
                                  mergeValueTolerance);
        }
        *ctx.out << map.outcomes.size() << " searches, " << map.optima.size()
                 << (map.optima.size() == 1 ? " optimum" : " distinct optima") << " at " << levels
                 << (levels == 1 ? " value" : " distinct values") << "; the best confirmed by "
                 << map.confirmed << " of " << map.searches << " searches; CPU time "
                 << formatNumber(map.cpuSeconds, 4) << " s, wall time "
                 << formatNumber(map.wallSeconds, 4) << " s\n"
                 << "objective " << objectiveName(map.objective) << "\n"
                 << "record " << recordName << ", figure " << figureName << "\n";
        const std::string warning = unconfirmedWarning(model, map.confirmed);
        if (!warning.empty()) {
            *ctx.out << warning << "\n";
        }
    }
    return 0;
}

} // namespace

int exploreCommand(RunContext& ctx, const std::vector<std::string>& args) {
    ExploreArguments a;
    const DataContext& data = ctx.data;
    const int status = readArguments(ctx, args, a);
    if (status >= 0) {
        return status;
    }
    int number = 0;
    parseModel(a.modelText, number);
    const ModelEntry& model = *findModel(number);
    if (model.objective == nullptr) {
        *ctx.err << "zonetool explore: model " << number << " is not available in this build\n";
        return 1;
    }
    const std::string recordName = a.prefix + ".explore.json";
    const std::string figureName = a.prefix + ".explore.svg";
    const std::string partName =
        a.block > 0 ? explorePartName(a.prefix, a.block, a.blocks) : std::string();
    const std::vector<std::string> outputs = a.block > 0
                                                 ? std::vector<std::string>{partName}
                                                 : std::vector<std::string>{recordName, figureName};
    OutputLocks locks;
    if (!lockOutputs(*ctx.err, ctx.data.commandLine, locks, "explore", outputs)) {
        return 1;
    }
    // A stop signal removes the locks, and the temporary file of a write under way.
    const StopSignalGuard signalGuard;
    for (const std::string& name : outputs) {
        if (!a.redo && exists(name)) {
            *ctx.err << "zonetool explore: " << name << " exists; give --redo to replace it\n";
            return 1;
        }
    }
    std::string error;
    if (model.borders == BorderSource::borderFile) {
        // A bad border file would fail every start alike: check it once, here, and say why.
        Borders borders;
        if (!readBorders(borderFileName, data.data().siteCount(), borders, error)) {
            *ctx.err << error << "\n";
            return 1;
        }
    }
    SearchStarts list;
    ExploreRun run;
    const int startStatus = readStarts(ctx, model, a, list, run);
    if (startStatus >= 0) {
        return startStatus;
    }
    if (a.block > 0) {
        return runBlock(ctx, model, a, list, run, partName);
    }
    if (!a.collect) {
        return writeMap(ctx, model, a, runSearch(data, model, a.settings, list), recordName,
                        figureName);
    }
    ExploreMap map = emptyMap(data, model, a.settings);
    if (!readParts(*ctx.err, a, list, run, map)) {
        return 1;
    }
    const Stopwatch watch;
    finishMap(data, model, a.settings, map);
    map.cpuSeconds += watch.cpu();
    map.wallSeconds += watch.wall();
    return writeMap(ctx, model, a, map, recordName, figureName);
}
