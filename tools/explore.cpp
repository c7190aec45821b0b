#include "tools/explore.h"

#include "data/borders.h"
#include "driver/schedule.h"
#include "driver/start_file.h"
#include "optimiser/amebsa.h"
#include "population/diagnostics.h"
#include "tools/cli.h"
#include "tools/options.h"

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
    "                              [--design box|strength] [--region NAME=LO:HI ...]\n"
    "                              [--format table|tsv|json] [-o PREFIX] [--redo] [--verbose]\n"
    "\n"
    "Searches for the best optimum of MODEL from many start points: N points of a Latin\n"
    "hypercube over each parameter's exploration region ('zonetool models' lists them),\n"
    "drawn reproducibly from seed S, plus the start vector of startvecMODEL.txt (with its\n"
    "steps) when that file is in the working directory. From each point a downhill simplex\n"
    "at temperature 0 (steps a tenth of each region's width) runs until it converges or has\n"
    "spent E evaluations. End points whose -lnL agree within 0.01 and that lie within 1% of\n"
    "every region's width of each other are one optimum. The map of the optima, best first,\n"
    "goes to standard output: -lnL, how many starts reached it, the evaluations they spent,\n"
    "and how settled the simulated equilibrium is (generations, '*' when the cap was reached;\n"
    "lambda, the factor by which the change per generation was still shrinking; the distance\n"
    "to the fixed point that remains, 1e-8 lambda/(1-lambda); 'cliff', a parameter whose\n"
    "move by 1e-6 of its value changes -lnL by more than 1). The map is the same for a seed\n"
    "whatever J is.\n"
    "\n"
    "Writes PREFIX.explore.json (the record that 'zonetool fit MODEL --from' reads: every\n"
    "optimum at full precision and every start) and PREFIX.explore.svg (the sorted values the\n"
    "starts reached). PREFIX is the model's result-file name (SS1_ML_ for model 1).\n"
    "\n"
    "Options:\n"
    "  --starts N        design points, 1 to 100000 (default 32)\n"
    "  --seed S          seed of the design, 0 to 2^64-1 (default 1)\n"
    "  --jobs J          worker threads, 1 to 256 (default 1)\n"
    "  --budget E        evaluations per start, 10 to 100000000 (default 4000)\n"
    "  --design D        box (default): every parameter across its region; strength: each\n"
    "                    pair of fitnesses such as wSS, wII drawn as a selection strength (log\n"
    "                    scale, 1e-4 up to the region's edge, either sign) and an asymmetry\n"
    "  --region N=LO:HI  exploration region of parameter N (within its box; LO = HI holds it\n"
    "                    fixed); may be repeated\n"
    "  --format F        table (default), tsv or json (the record itself)\n"
    "  -o PREFIX         name the record and figure PREFIX.explore.json and .svg\n"
    "  --redo            replace an existing record and figure\n"
    "  --verbose         one line on standard error as each start finishes\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n";

namespace {

// Counts the evaluations of one start.
struct CountedObjective {
    ObjectiveFunction* objective;
    long count = 0;
    double operator()(const NRvector<double>& x) {
        count++;
        return objective(x);
    }
};

NRvector<double>* fill(NRvector<double>& to, const std::vector<double>& from) {
    for (std::size_t j = 0; j < from.size(); j++) {
        to[static_cast<int>(j)] = from[j];
    }
    return &to;
}

bool exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

} // namespace

StartOutcome runStart(const ModelEntry& model, const std::vector<double>& start,
                      const std::vector<double>& steps, int budget) {
    const int n = static_cast<int>(start.size());
    NRvector<double> point(n);
    NRvector<double> deltas(n);
    fill(point, start);
    fill(deltas, steps);
    CountedObjective counted{model.objective};
    // At temperature 0 the generator's draws add nothing, so the seed does not matter.
    Amebsa<CountedObjective> simplex(point, deltas, counted, exploreTolerance, 0);
    int left = budget;
    StartOutcome outcome;
    outcome.start = start;
    outcome.converged = simplex.anneal(left, 0.0);
    outcome.value = simplex.vertexValues[0];
    outcome.point.assign(start.size(), 0.0);
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

namespace {

// Runs task(i) for i in 0 to count - 1 on `workers` threads, the models' diagnostics dropped.
void onWorkers(std::size_t count, int workers, const std::function<void(std::size_t)>& task) {
    std::atomic<std::size_t> next{0};
    auto work = [&]() {
        std::ostream discard(nullptr);
        setDiagnostics(&discard);
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= count) {
                break;
            }
            task(i);
        }
        setDiagnostics(nullptr);
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

} // namespace

ExploreMap runExplore(const ModelEntry& model, const ExploreSettings& settings,
                      const std::vector<std::vector<double>>& starts,
                      const std::vector<std::vector<double>>& steps,
                      const std::vector<std::string>& labels) {
    ExploreMap map;
    map.model = model.number;
    map.seed = settings.seed;
    map.budget = settings.budget;
    map.design = settings.design;
    map.regions = settings.regions.empty() ? defaultRegions(model) : settings.regions;
    const std::clock_t cpuStart = std::clock();
    const auto wallStart = std::chrono::steady_clock::now();
    map.outcomes.resize(starts.size());
    std::mutex logLock;
    onWorkers(starts.size(), settings.jobs, [&](std::size_t i) {
        map.outcomes[i] = runStart(model, starts[i], steps[i], settings.budget);
        map.outcomes[i].label = labels[i];
        if (settings.verbose) {
            const StartOutcome& o = map.outcomes[i];
            const std::lock_guard<std::mutex> hold(logLock);
            std::cerr << "start " << i + 1 << "/" << starts.size() << " (" << o.label << "): -lnL "
                      << format17(o.value) << " after " << o.evaluations << " evaluations"
                      << (o.converged ? "" : " (budget spent)") << "\n";
        }
    });
    map.optima = mergeOptima(map.outcomes, map.regions);
    onWorkers(map.optima.size(), settings.jobs, [&](std::size_t k) {
        map.optima[k].settledness = measureSettledness(model, map.optima[k].point);
    });
    map.cpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    map.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    return map;
}

namespace {

struct ExploreArguments {
    std::string modelText;
    ExploreSettings settings;
    std::vector<std::string> regionOptions;
    std::string format = "table";
    std::string prefix;
    bool redo = false;
};

int readArguments(const std::vector<std::string>& args, ExploreArguments& a) {
    ExploreSettings& s = a.settings;
    int number = 0;
    const int status =
        OptionParser("explore", [] { return std::string(exploreHelp); })
            .optionPrefix("-")
            // A lone "-" is no option: it reads as a model and is refused as one.
            .unknownOption([](const std::string& arg) -> Problem {
                return arg == "-" ? "" : "unknown option '" + arg + "'";
            })
            .flag({"--redo"}, [&a] { a.redo = true; })
            .flag({"--verbose"}, [&s] { s.verbose = true; })
            .value({"--starts"}, "a value", storeWhole(s.starts, 1, 100000))
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
            .positional(takeOne(a.modelText))
            .check(requireModel(a.modelText, number))
            .parse(args);
    if (status >= 0) {
        return status;
    }
    const ModelEntry& model = *findModel(number);
    a.settings.regions = defaultRegions(model);
    for (const std::string& option : a.regionOptions) {
        std::string problem;
        if (!applyRegionOption(model, option, a.settings.regions, problem)) {
            return usageError("explore", problem);
        }
    }
    if (a.prefix.empty()) {
        a.prefix = model.prefix;
    }
    return -1;
}

} // namespace

int exploreCommand(const std::vector<std::string>& args) {
    ExploreArguments a;
    const int status = readArguments(args, a);
    if (status >= 0) {
        return status;
    }
    int number = 0;
    parseModel(a.modelText, number);
    const ModelEntry& model = *findModel(number);
    if (model.objective == nullptr) {
        std::cerr << "zonetool explore: model " << number << " is not available in this build\n";
        return 1;
    }
    const std::string recordName = a.prefix + ".explore.json";
    const std::string figureName = a.prefix + ".explore.svg";
    for (const std::string& name : {recordName, figureName}) {
        if (!a.redo && exists(name)) {
            std::cerr << "zonetool explore: " << name << " exists; give --redo to replace it\n";
            return 1;
        }
    }
    std::string error;
    if (model.borders == BorderSource::borderFile) {
        // The objectives end the process on a bad border file: check it once, here.
        Borders borders;
        if (!readBorders(borderFileName, borders, error)) {
            std::cerr << error << "\n";
            return 1;
        }
    }
    const std::vector<std::vector<double>> design = designStarts(
        model, a.settings.regions, a.settings.starts, a.settings.seed, a.settings.design);
    std::vector<std::vector<double>> starts;
    std::vector<std::vector<double>> steps;
    std::vector<std::string> labels;
    const std::string startName = startFileName(a.modelText.c_str());
    StartVector user;
    if (exists(startName)) {
        if (readStartFile(startName, user) != StartFileStatus::ok ||
            user.start.size() < static_cast<std::size_t>(model.parameterCount)) {
            std::cerr << "zonetool explore: " << startName << " holds no start vector of "
                      << model.parameterCount << " values with its steps\n";
            return 1;
        }
        user.start.resize(static_cast<std::size_t>(model.parameterCount));
        user.deltas.resize(user.start.size());
        starts.push_back(user.start);
        steps.push_back(user.deltas);
        labels.push_back(startName);
    }
    for (std::size_t i = 0; i < design.size(); i++) {
        starts.push_back(design[i]);
        steps.push_back(regionSteps(a.settings.regions, design[i]));
        labels.push_back("design " + std::to_string(i + 1));
    }

    const ExploreMap map = runExplore(model, a.settings, starts, steps, labels);
    const std::string record = exploreJson(model, map);
    if (!writeResultFile(recordName, record, error) ||
        !writeResultFile(figureName, startValuesSvg(model, map), error)) {
        std::cerr << "zonetool explore: " << error << "\n";
        return 1;
    }
    if (a.format == "json") {
        std::cout << record;
    } else if (a.format == "tsv") {
        std::cout << optimaTsv(model, map);
    } else {
        std::cout << optimaTable(model, map);
        const int bestStarts = map.optima.empty() ? 0 : map.optima.front().starts;
        // Optima of one value at distant points (a ridge, as where the cline vanishes) are
        // counted once more as one level.
        std::size_t levels = 0;
        for (std::size_t k = 0; k < map.optima.size(); k++) {
            levels += k == 0 || !(std::fabs(map.optima[k].value - map.optima[k - 1].value) <=
                                  mergeValueTolerance);
        }
        std::cout << starts.size() << " starts, " << map.optima.size()
                  << (map.optima.size() == 1 ? " optimum" : " distinct optima") << " at " << levels
                  << (levels == 1 ? " value" : " distinct values") << "; the best reached by "
                  << bestStarts << (bestStarts == 1 ? " start" : " starts") << "; CPU time "
                  << formatNumber(map.cpuSeconds, 4) << " s, wall time "
                  << formatNumber(map.wallSeconds, 4) << " s\n"
                  << "record " << recordName << ", figure " << figureName << "\n";
        const std::string warning = singleStartWarning(model, bestStarts);
        if (!warning.empty()) {
            std::cout << warning << "\n";
        }
    }
    return 0;
}
