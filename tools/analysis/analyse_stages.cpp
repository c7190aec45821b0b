#include "tools/analysis/analyse_stages.h"

#include "data/failure_sink.h"
#include "driver/schedule.h"
#include "driver/start_file.h"
#include "models/model_table.h"
#include "models/settled_objective.h"
#include "tools/analysis/analyse_limits.h"
#include "tools/analysis/checkpoint.h"
#include "tools/analysis/compare.h"
#include "tools/analysis/descriptive_fit.h"
#include "tools/analysis/explore_part.h"
#include "tools/analysis/fit_run.h"
#include "tools/analysis/plot.h"
#include "tools/analysis/plot_envelope.h"
#include "tools/analysis/plot_model_lines.h"
#include "tools/analysis/point_evaluation.h"
#include "tools/analysis/profile.h"
#include "tools/analysis/profile_plot.h"
#include "tools/analysis/progress.h"
#include "tools/analysis/search.h"
#include "tools/analysis/settledness.h"
#include "tools/analysis/start_box_check.h"
#include "tools/analysis/start_design.h"
#include "tools/analysis/summary.h"
#include "tools/formats/cli.h"
#include "tools/formats/data_option.h"
#include "tools/formats/fit_description.h"
#include "tools/formats/fit_record.h"
#include "tools/formats/json_io.h"
#include "tools/formats/profile_curve.h"
#include "tools/formats/profile_journal.h"
#include "tools/formats/results.h"
#include "tools/formats/whole_file.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>
#include <unistd.h>

namespace {

const ModelEntry& entry(int model) {
    return *findModel(model);
}

std::vector<ParameterInfo> boxesOf(const DataContext& data, int model) {
    const ModelBox& box = data.box(model);
    return std::vector<ParameterInfo>(box.parameters, box.parameters + box.parameterCount);
}

// Stops the process by its own stop signal after `ZONETOOL_TEST_PROFILE_STOP_AFTER` profile
// points journaled: how tests interrupt the profile stage at a chosen point.
void stopForTests(long written) {
    const char* after = std::getenv("ZONETOOL_TEST_PROFILE_STOP_AFTER");
    if (after != nullptr && std::atol(after) == written) {
        std::raise(SIGTERM);
    }
}

} // namespace

std::string analyseCommandLine(const DataContext& data) {
    std::string line;
    for (const std::string& arg : data.commandLine) {
        line += (line.empty() ? "" : " ") + arg;
    }
    return line;
}

std::string analyseProgramVersion() {
    return programVersion();
}

std::vector<std::string> parameterNames(const DataContext& data, int model) {
    std::vector<std::string> names;
    for (const ParameterInfo& p : boxesOf(data, model)) {
        names.push_back(p.name);
    }
    return names;
}

std::vector<std::string> parameterMeanings(const DataContext& data, int model) {
    std::vector<std::string> meanings;
    for (const ParameterInfo& p : boxesOf(data, model)) {
        meanings.push_back(p.meaning);
    }
    return meanings;
}

int modelParameterCount(int model) {
    return entry(model).parameterCount;
}
const char* modelName(int model) {
    return entry(model).name;
}
const char* modelPrefix(int model) {
    return entry(model).prefix;
}
bool modelReadsBorderFile(int model) {
    return entry(model).borders == BorderSource::borderFile;
}

std::string dataFileLabel(const DataContext& data) {
    return data.path.empty() ? "built-in" : data.path;
}

// A temperature-0 simplex polish of `start` with initial steps `steps`, within about `budget`
// evaluations of the settled objective on the transect and boxes of `data`: a search of the
// user's start without hops.
StartOutcome polishFrom(const DataContext& data, const ModelEntry& m,
                        const std::vector<double>& start, const std::vector<double>& steps,
                        int budget) {
    SearchSettings settings;
    settings.searches = 0;
    settings.budget = budget;
    settings.hops = 0;
    settings.regions = defaultRegions(data, m);
    settings.objective = ObjectiveKind::settled;
    const SearchStarts starts = searchStarts(data, m, settings, start, steps, "polish");
    return runOneSearch(data, m, settings, starts, 0);
}

std::string dataChecksum(const DataContext& data) {
    return data.checksum;
}

std::string boxOptionsText(const DataContext& data) {
    std::string text;
    for (const std::string& option : data.boxOptions) {
        text += (text.empty() ? "" : " ") + option;
    }
    return text;
}

int analysedIndividuals(const DataContext& data) {
    return sampledIndividuals(data.data());
}

EvaluationCost secondsAt(const DataContext& data, int model, const std::vector<double>& point,
                         int repeats) {
    const ModelEntry& m = entry(model);
    std::ostream discard(nullptr);
    const std::int64_t began = steadyNow();
    const double cpuBegan = processCpuSeconds();
    for (int i = 0; i < repeats; i++) {
        objectiveAt(data, m, point, ObjectiveKind::settled, nullptr, &discard);
    }
    EvaluationCost cost;
    cost.cpu = (processCpuSeconds() - cpuBegan) / std::max(1, repeats);
    cost.wall = static_cast<double>(steadyNow() - began) * 1e-9 / std::max(1, repeats);
    return cost;
}

EvaluationCost secondsPerEvaluation(const DataContext& data, int model, int samples,
                                    std::uint64_t seed) {
    // Along short simplexes from the first design starts rather than at the starts alone: a
    // search spends its time where the simplex goes, near cliffs and lost alleles whose runs
    // are long, not at the spread-out starts. Then at the best point they reached: near an
    // optimum, where fits and profiles spend theirs, selection is often weak and the
    // simulation slow to settle (ten times slower than at the starts, for SS_1).
    const ModelEntry& m = entry(model);
    const std::vector<Region> regions = defaultRegions(data, m);
    const int walks = 3;
    const std::vector<std::vector<double>> starts =
        designStarts(m, regions, walks, seed, Design::strength);
    const std::int64_t began = steadyNow();
    const double cpuBegan = processCpuSeconds();
    long evaluations = 0;
    StartOutcome best;
    for (const std::vector<double>& start : starts) {
        const StartOutcome walk =
            polishFrom(data, m, start, regionSteps(regions, start), std::max(1, samples / walks));
        evaluations += walk.evaluations;
        if (best.point.empty() || walk.value < best.value) {
            best = walk;
        }
    }
    const double count = static_cast<double>(std::max(1L, evaluations));
    EvaluationCost cost;
    cost.cpu = (processCpuSeconds() - cpuBegan) / count;
    cost.wall = static_cast<double>(steadyNow() - began) * 1e-9 / count;
    // Where the walks ended: nearer an optimum, where fits and profiles spend their time.
    const EvaluationCost atBest = secondsAt(data, model, best.point, 3);
    cost.cpuNearBest = std::max(cost.cpu, atBest.cpu);
    cost.wallNearBest = std::max(cost.wall, atBest.wall);
    return cost;
}

namespace {

// The settings and the starts of the search of `model`, and what its block parts record of them.
struct PlannedSearch {
    SearchSettings settings;
    SearchStarts starts;
    ExploreRun run;
};

PlannedSearch planSearch(const DataContext& data, const ModelEntry& m, const EffortBudget& budget,
                         std::uint64_t seed, int jobs) {
    PlannedSearch p;
    p.settings.searches = budget.searchStarts;
    p.settings.seed = seed;
    p.settings.jobs = jobs;
    p.settings.budget = budget.searchBudget;
    p.settings.regions = defaultRegions(data, m);
    p.settings.objective = ObjectiveKind::settled;
    // The user's start vector comes first, as in 'zonetool explore', when it is usable.
    const std::string startName = startFileName(std::to_string(m.number).c_str());
    StartVector user;
    std::vector<double> userStart;
    std::vector<double> userSteps;
    if (readStartFile(startName, user) == StartFileStatus::ok &&
        user.start.size() >= static_cast<std::size_t>(m.parameterCount)) {
        user.start.resize(static_cast<std::size_t>(m.parameterCount));
        user.deltas.resize(user.start.size());
        if (startBoxProblem(data, startName, m, user.start, "").empty()) {
            userStart = user.start;
            userSteps = user.deltas;
        }
    }
    p.starts = searchStarts(data, m, p.settings, userStart, userSteps, startName);
    p.run.model = m.number;
    p.run.seed = seed;
    p.run.starts = p.settings.searches;
    p.run.budget = p.settings.budget;
    p.run.design = p.settings.design;
    p.run.regions = p.settings.regions;
    p.run.method = p.settings.method;
    p.run.userStart = !userStart.empty();
    p.run.start = userStart;
    p.run.steps = userSteps;
    p.run.dataChecksum = data.checksum;
    p.run.locus = data.locus;
    p.run.boxes = data.boxOptions;
    p.run.objective = p.settings.objective;
    return p;
}

} // namespace

bool runSearchStage(const DataContext& data, int model, const EffortBudget& budget,
                    std::uint64_t seed, int jobs, const std::string& recordPath,
                    std::string& error) {
    const ModelEntry& m = entry(model);
    const PlannedSearch p = planSearch(data, m, budget, seed, jobs);
    const ExploreMap map = runSearch(data, m, p.settings, p.starts);
    if (map.optima.empty()) {
        error = std::string("the search of ") + m.name + " found no optimum";
        return false;
    }
    return writeResultFile(recordPath, exploreJson(m, map), error);
}

bool runSearchBlockStage(const DataContext& data, int model, const EffortBudget& budget,
                         std::uint64_t seed, int jobs, int block, int blocks,
                         const std::string& partPrefix, std::string& error) {
    const ModelEntry& m = entry(model);
    const PlannedSearch p = planSearch(data, m, budget, seed, jobs);
    const double cpu0 = processCpuSeconds();
    const std::int64_t wall0 = steadyNow();
    const BlockRange range = blockRange(p.starts.points.size(), block, blocks);
    const std::vector<StartOutcome> outcomes =
        runSearchRange(data, m, p.settings, p.starts, range.first, range.end);
    return writeResultFile(explorePartName(partPrefix, block, blocks),
                           explorePartJson(p.run, block, blocks, outcomes,
                                           processCpuSeconds() - cpu0,
                                           static_cast<double>(steadyNow() - wall0) * 1e-9),
                           error);
}

bool mergeSearchStage(const DataContext& data, int model, const EffortBudget& budget,
                      std::uint64_t seed, int blocks, const std::string& partPrefix,
                      const std::string& recordPath, double& partsCpu, double& partsWall,
                      std::string& error) {
    const ModelEntry& m = entry(model);
    const PlannedSearch p = planSearch(data, m, budget, seed, 1);
    ExploreMap map;
    map.model = m.number;
    map.seed = seed;
    map.budget = p.settings.budget;
    map.design = p.settings.design;
    map.objective = p.settings.objective;
    map.method = globalMethodName(p.settings.method);
    map.regions = p.settings.regions;
    for (int k = 1; k <= blocks; k++) {
        const BlockRange range = blockRange(p.starts.points.size(), k, blocks);
        if (!readExplorePart(explorePartName(partPrefix, k, blocks), p.run, k, blocks,
                             range.end - range.first, map.outcomes, map.cpuSeconds, map.wallSeconds,
                             error)) {
            return false;
        }
    }
    partsCpu = map.cpuSeconds;
    partsWall = map.wallSeconds;
    finishMap(data, m, p.settings, map);
    if (map.optima.empty()) {
        error = std::string("the search of ") + m.name + " found no optimum";
        return false;
    }
    return writeResultFile(recordPath, exploreJson(m, map), error);
}

bool readSearchFacts(const std::string& recordPath, SearchFacts& facts, std::string& error) {
    ExploreMap map;
    if (!readExploreRecord(recordPath, map, error)) {
        return false;
    }
    if (map.optima.empty()) {
        error = recordPath + " holds no optimum";
        return false;
    }
    facts.best = map.optima.front().point;
    facts.value = map.optima.front().value;
    facts.confirmations = map.confirmed;
    facts.starts = map.searches;
    return true;
}

bool runFitStage(const DataContext& data, int model, const EffortBudget& budget, std::uint64_t seed,
                 const std::string& recordPath, const std::string& resultPath, std::string& error) {
    const ModelEntry& m = entry(model);
    ExploreMap map;
    if (!readExploreRecord(recordPath, map, error)) {
        return false;
    }
    if (map.optima.empty()) {
        error = recordPath + " holds no optimum";
        return false;
    }
    const Optimum& best = map.optima.front();
    if (!budget.annealing) {
        // A deterministic polish: the same record gives the same point, so a stopped polish
        // simply runs again.
        const std::vector<double> steps = regionSteps(map.regions, best.point);
        const StartOutcome polished = polishFrom(data, m, best.point, steps, budget.polishBudget);
        const bool better = polished.value < best.value;
        FitResult result;
        result.bestPoint = better ? polished.point : best.point;
        result.bestValue = better ? polished.value : best.value;
        FitRecord record = newFitRecord(m, best.point, steps, &data);
        record.point = result.bestPoint;
        record.value = result.bestValue;
        record.seed = seed;
        record.objective = ObjectiveKind::settled;
        record.evaluations = polished.evaluations;
        return writeFitRecord(resultPath, record, error) &&
               writeResultFile(resultPath, resultLine(result), error);
    }
    const std::string startPath = resultPath + ".start";
    if (!writeResultFile(startPath, optimumStartText(map, best), error)) {
        return false;
    }
    FitDescription fit;
    fit.model = model;
    fit.startPath = startPath;
    fit.startOrigin = StartOrigin::optimum;
    fit.seed = seed;
    fit.objective = ObjectiveKind::settled;
    fit.data = &data;
    FitNaming naming;
    naming.result = resultPath;
    naming.checkpoint = resultPath + ".ckpt";
    fit.files = fitFiles(m, seed, naming);
    fit.redo = true; // the result file is this stage's own
    fit.ownSignalGuard = false;
    FitProgress progress;
    std::ostringstream messages;
    FitHooks hooks(messages, messages);
    const FitOutcome outcome = runDescribedFit(fit, progress, hooks);
    if (outcome.status != 0) {
        error = messages.str();
        while (!error.empty() && error.back() == '\n') {
            error.pop_back();
        }
        if (error.empty()) {
            error = "the fit of " + std::string(m.name) + " failed";
        }
        return false;
    }
    return true;
}

bool readFittedPoint(const DataContext& data, int model, const std::string& resultPath,
                     std::vector<double>& point, double& value, std::string& error) {
    const ModelEntry& m = entry(model);
    StoredResult stored;
    if (!readResultFile(resultPath, m, stored, error)) {
        return false;
    }
    // The file holds 8 digits; the record, when it agrees, the full point.
    FitRecord record;
    std::string ignored;
    if (readFitRecord(recordFileName(resultPath), record, ignored) &&
        record.point.size() >= static_cast<std::size_t>(m.parameterCount)) {
        stored.point = record.point;
    }
    point.assign(stored.point.begin(), stored.point.begin() + m.parameterCount);
    std::ostream discard(nullptr);
    value = objectiveAt(data, m, point, ObjectiveKind::settled, nullptr, &discard);
    return true;
}

namespace {

// The settings of the analysis's profiles: the budget's, to `units`, under the settled
// objective.
ProfileSettings profileSettingsOf(const EffortBudget& budget, double units) {
    ProfileSettings settings;
    settings.units = units;
    settings.maxSteps = budget.profileSteps;
    settings.tolerance = budget.profileTolerance;
    settings.maxBisections = budget.profileBisections;
    settings.maxEvaluations = budget.profileEvaluations;
    settings.maxRestarts = budget.profileRestarts;
    settings.objective = ObjectiveKind::settled;
    return settings;
}

// The head of the journals of the profile of `model` about `point`: the whole profile's and
// its sides' alike, so that the sides' points are the whole profile's.
std::string profileHeadOf(const DataContext& data, int model, const ProfileSettings& settings,
                          const std::vector<double>& point) {
    std::string estimate;
    for (int j = 0; j < entry(model).parameterCount; j++) {
        estimate += (j == 0 ? "" : " ") + format17(point[static_cast<std::size_t>(j)]);
    }
    return profileJournalHead({
        {"model", std::to_string(model)},
        {"objective", objectiveName(settings.objective)},
        {"data", dataChecksum(data).empty() ? "built-in" : dataChecksum(data)},
        {"boxes", boxOptionsText(data).empty() ? "-" : boxOptionsText(data)},
        {"estimate", estimate},
        {"units", format17(settings.units)},
        {"steps", std::to_string(settings.maxSteps)},
        {"tolerance", format17(settings.tolerance)},
        {"bisections", std::to_string(settings.maxBisections)},
        {"evaluations", std::to_string(settings.maxEvaluations)},
        {"restarts", std::to_string(settings.maxRestarts)},
    });
}

// The settled objective of one model, a penalty once a simulation has failed, and the hooks
// that tell each point, recall it from a journal and journal each point computed. The
// objective's context and the hooks refer to this object: it stays where it is made.
class JournaledProfile {
  public:
    JournaledProfile(const DataContext& data, int model, ProfileJournal& journal,
                     const std::function<void(const std::string&)>& status)
        : names_(parameterNames(data, model)),
          context_(data.models(&failures_, simulationOf())), bound_{&context_, &entry(model),
                                                                    ObjectiveKind::settled} {
        objective = [this](const NRvector<double>& x) {
            return failures_.failed() ? std::numeric_limits<double>::max() : bound_(x);
        };
        hooks.before = [this, status](int index, int side, int number, double value) {
            if (status) {
                status(names_[static_cast<std::size_t>(index)] + (side < 0 ? " lower" : " upper") +
                       " point " + std::to_string(number) + " at " + formatNumber(value, 6));
            }
        };
        hooks.recall = [&journal](int at, double minimum, ProfilePoint& p) {
            return journal.recall(at, minimum, p);
        };
        hooks.computed = [this, &journal](int at, double minimum, const ProfilePoint& p) {
            if (journalFailed_ || failures_.failed()) {
                return;
            }
            if (!journal.append(at, minimum, p, journalError_)) {
                journalFailed_ = true;
                return;
            }
            stopForTests(++written_);
        };
    }
    JournaledProfile(const JournaledProfile&) = delete;
    JournaledProfile& operator=(const JournaledProfile&) = delete;

    // After the profile: false with the failed simulation's or the journal's reason.
    bool succeeded(std::string& error) const {
        if (failures_.failed()) {
            error = failures_.message();
            return false;
        }
        if (journalFailed_) {
            error = journalError_;
            return false;
        }
        return true;
    }

    ProfiledObjective objective;
    ProfileHooks hooks;

  private:
    SimulationContext simulationOf() {
        SimulationContext simulation;
        simulation.diagnostics = &discard_;
        return simulation;
    }

    std::ostream discard_{nullptr};
    FailureSink failures_;
    std::vector<std::string> names_;
    ModelContext context_;
    BoundObjective bound_;
    long written_ = 0;
    bool journalFailed_ = false;
    std::string journalError_;
};

} // namespace

bool runProfileSideStage(const DataContext& data, int model, const EffortBudget& budget,
                         const std::vector<double>& point, double units, int side,
                         const std::string& journalPath, bool redo,
                         const std::function<void(const std::string&)>& status,
                         std::string& error) {
    const ProfileSettings settings = profileSettingsOf(budget, units);
    ProfileJournal journal;
    if (!journal.open(journalPath, profileHeadOf(data, model, settings, point),
                      parameterNames(data, model), redo, error)) {
        return false;
    }
    JournaledProfile profile(data, model, journal, status);
    profileSide(profile.objective, point, boxesOf(data, model), (side - 1) / 2,
                (side - 1) % 2 == 0 ? -1 : +1, settings, profile.hooks);
    // The journal stays: the whole profile's stage absorbs it.
    return profile.succeeded(error);
}

bool runProfileStage(const DataContext& data, int model, const EffortBudget& budget,
                     const std::vector<double>& point, double units, const std::string& curvePath,
                     const std::string& limitsPath, const std::string& journalPath,
                     const std::vector<std::string>& sideJournals, bool redo,
                     const std::function<void(const std::string&)>& status, std::string& error) {
    const ModelEntry& m = entry(model);
    const std::vector<ParameterInfo> boxes = boxesOf(data, model);
    const std::vector<std::string> names = parameterNames(data, model);
    const ProfileSettings settings = profileSettingsOf(budget, units);
    std::vector<int> indices;
    for (int j = 0; j < m.parameterCount; j++) {
        indices.push_back(j);
    }
    ProfileJournal journal;
    if (!journal.open(journalPath, profileHeadOf(data, model, settings, point), names, redo,
                      error)) {
        return false;
    }
    // The points of sides computed apart (a cluster run's tasks) are this profile's own: a
    // redo starts over without them.
    for (const std::string& side : sideJournals) {
        if (!redo && !journal.absorb(side, error)) {
            return false;
        }
    }
    JournaledProfile profile(data, model, journal, status);
    ProfileOutcome outcome =
        profileLikelihood(profile.objective, point, boxes, indices, settings, profile.hooks);
    if (!profile.succeeded(error)) {
        return false;
    }
    std::ostream discard(nullptr);
    // The state of each point, so that the curve says which objective its values are of.
    objectiveAt(data, m, outcome.estimate, ObjectiveKind::settled, &outcome.estimateState,
                &discard);
    for (ProfilePoint& walked : outcome.walked) {
        objectiveAt(data, m, walked.point, ObjectiveKind::settled, &walked.state, &discard);
        walked.stateMeasured = true;
    }
    outcome.statesMeasured = true;

    ProfileLimits limits;
    limits.model = model;
    limits.units = units;
    limits.estimate = outcome.estimate;
    limits.minimum = outcome.minimum;
    for (const ParameterProfile& p : outcome.parameters) {
        ParameterLimits l;
        l.name = names[static_cast<std::size_t>(p.index)];
        l.estimate = p.estimate;
        l.lower = p.lower.value;
        l.upper = p.upper.value;
        l.lowerFound = p.lower.found;
        l.upperFound = p.upper.found;
        limits.parameters.push_back(l);
    }
    for (const ProfilePoint& walked : outcome.walked) {
        limits.points.push_back({walked.point, walked.value});
    }
    if (!writeResultFile(curvePath, profileCurveText(names, outcome.estimate, outcome), error) ||
        !writeResultFile(limitsPath, limitsJson(limits), error)) {
        return false;
    }
    std::string removeError;
    journal.remove(removeError); // every output is written: the journals have served
    for (const std::string& side : sideJournals) {
        std::remove(side.c_str());
    }
    return true;
}

ClineNumbers clineNumbersAt(const DataContext& data, int model, const std::vector<double>& point) {
    const ModelEntry& m = entry(model);
    ClineNumbers numbers;
    int fileBorders[2] = {0, 0};
    std::string error;
    bordersFor(data.data(), m, fileBorders, error);
    std::ostream discard(nullptr);
    double value = 0.0;
    const std::vector<Genotype> predicted =
        predictAt(data, m, point, ObjectiveKind::settled, nullptr, &value, &discard);
    const FitSummary s = summariseFit(data.data(), m, point, predicted, fileBorders);
    numbers.predicted = s.predicted;
    numbers.value = value;
    numbers.centre = s.centre;
    numbers.width = s.width;
    numbers.sigmaEffective = s.sigmaEffective;
    numbers.deficit = s.deficit;
    numbers.axis = axisName(s);
    return numbers;
}

std::string settlednessWords(const DataContext& data, int model, const std::vector<double>& point) {
    const ModelEntry& m = entry(model);
    std::ostream discard(nullptr);
    const Settledness s = measureSettledness(data, m, point, &discard);
    std::ostringstream words;
    if (s.generations == 0) {
        return "The point lies outside the model's box: nothing was simulated.";
    }
    words << "The simulation at the estimate ran " << s.generations << " generations and "
          << (s.converged ? "stopped once no frequency changed by 1e-8 in a generation"
                          : "reached the generation cap without settling")
          << ". ";
    if (std::isnan(s.lambda)) {
        words << "It ran too few generations to tell how fast it was approaching its "
                 "equilibrium. ";
    } else if (s.lambda >= 1.0) {
        words << "Its changes were not shrinking at the end (factor " << formatNumber(s.lambda, 4)
              << " per generation): it may still be far from equilibrium, and the fit should "
                 "not be trusted. ";
    } else {
        words << "Its changes were shrinking by a factor " << formatNumber(s.lambda, 4)
              << " per generation, so the frequencies lie within about "
              << formatNumber(s.remaining, 2) << " of the equilibrium: "
              << (s.remaining < 1e-4 ? "settled." : "close, but not fully settled.") << " ";
    }
    if (s.cliff.empty()) {
        words << "No parameter moved by a millionth of its value changes -lnL by 1 or more: "
                 "the estimate does not stand on a cliff.";
    } else {
        words << "Moving " << s.cliff << " by a millionth of its value changes -lnL by "
              << formatNumber(s.cliffChange, 3)
              << ": the estimate stands on a cliff, where the equilibrium changes abruptly.";
    }
    return words.str();
}

std::vector<CriteriaRow> informationCriteria(const DataContext& data,
                                             const std::vector<int>& models,
                                             const std::vector<std::vector<double>>& points,
                                             const std::vector<double>& values) {
    std::vector<StoredResult> results;
    for (std::size_t i = 0; i < models.size(); i++) {
        StoredResult r;
        r.model = models[i];
        r.path = std::to_string(i); // identifies the row after sorting
        r.point = points[i];
        r.value = values[i];
        r.objective = ObjectiveKind::settled;
        results.push_back(r);
    }
    const std::vector<ComparisonRow> rows = compareResults(data.data(), results);
    double best = std::numeric_limits<double>::infinity();
    for (const ComparisonRow& row : rows) {
        best = std::min(best, row.aicc);
    }
    double sum = 0.0;
    for (const ComparisonRow& row : rows) {
        sum += std::exp(-(row.aicc - best) / 2.0);
    }
    std::vector<CriteriaRow> criteria(models.size());
    for (const ComparisonRow& row : rows) {
        CriteriaRow& c = criteria[static_cast<std::size_t>(std::stoi(row.result.path))];
        c.aic = row.aic;
        c.aicc = row.aicc;
        c.deltaAicc = row.aicc - best;
        c.weight = std::exp(-c.deltaAicc / 2.0) / sum;
    }
    return criteria;
}

bool fitFigure(const DataContext& data, int model, const std::vector<double>& point,
               const std::string& curvePath, double units, std::string& svg, std::string& error) {
    const ModelEntry& m = entry(model);
    int fileBorders[2] = {0, 0};
    if (!bordersFor(data.data(), m, fileBorders, error)) {
        return false;
    }
    std::ostream discard(nullptr);
    ModelPrediction prediction;
    if (!predictForFigure(data, m, point, ObjectiveKind::settled, prediction, error, &discard)) {
        return false;
    }
    Envelope envelope;
    if (!prediction.sites.empty() &&
        !envelopeFromCurves(data, m, point, ObjectiveKind::settled, prediction, {curvePath}, units,
                            envelope, error, &discard)) {
        return false;
    }
    PlotInput input =
        plotInputFor(data.data(), m, point, prediction.value, prediction.sites, fileBorders);
    input.lines = prediction.lines;
    input.envelope = envelope;
    input.centre = summariseFit(data.data(), m, point, prediction.sites, fileBorders).centre;
    svg = renderSvg(input);
    return true;
}

bool profileFigure(const std::string& curvePath, const std::string& title, double units,
                   std::string& svg, std::string& error) {
    std::vector<CurveParameter> parameters;
    if (!readProfileCurve(curvePath, parameters, error)) {
        return false;
    }
    svg = renderProfileSvg(parameters, title, units);
    return true;
}

namespace {

// What a parameter of a descriptive cline means, in one line.
std::string clineMeaning(const std::string& name) {
    static const std::pair<const char*, const char*> meanings[] = {
        {"centre", "where the central sigmoid crosses 1/2"},
        {"width", "1 / the largest slope of the central sigmoid"},
        {"pmin", "allele frequency at the low end"},
        {"pmax", "allele frequency at the high end"},
        {"delta_left", "distance of the left tail's start from the centre"},
        {"tau_left", "decay of the left tail, a share of 4 / width"},
        {"delta_right", "distance of the right tail's start from the centre"},
        {"tau_right", "decay of the right tail, a share of 4 / width"},
        {"F", "heterozygote deficit"},
        {"F_peak", "heterozygote deficit at the centre"}};
    for (const auto& [parameter, meaning] : meanings) {
        if (name == parameter) {
            return meaning;
        }
    }
    return "";
}

} // namespace

bool readClineRecord(const std::string& recordPath, int individuals, DescriptiveCline& cline,
                     std::string& error) {
    Json record;
    if (!readJsonFile(recordPath, "cline record", record, error)) {
        return false;
    }
    const Json* fits = jsonMember(record, "fits");
    if (fits == nullptr || !fits->is_array() || fits->empty()) {
        error = recordPath + " holds no descriptive fit";
        return false;
    }
    const Json& fit = fits->front();
    cline.shape = jsonTextOr(jsonMember(fit, "shape"));
    cline.parameters = static_cast<int>(jsonNumberOr(jsonMember(fit, "k"), 0.0));
    cline.negLogL = jsonNumberOr(jsonMember(fit, "value"), std::nan(""));
    cline.aicc = clineAicc(cline.negLogL, cline.parameters, individuals);
    cline.axis = jsonTextOr(jsonMember(record, "axis"));
    cline.estimates.clear();
    const Json* parameters = jsonMember(fit, "parameters");
    if (parameters != nullptr && parameters->is_array()) {
        for (const Json& p : *parameters) {
            ParameterEstimate e;
            e.name = jsonTextOr(jsonMember(p, "name"));
            e.meaning = clineMeaning(e.name);
            e.estimate.value = jsonNumberOr(jsonMember(p, "estimate"), std::nan(""));
            e.estimate.lower = jsonNumberOr(jsonMember(p, "lower"), std::nan(""));
            e.estimate.upper = jsonNumberOr(jsonMember(p, "upper"), std::nan(""));
            e.estimate.lowerFound = !jsonTrue(jsonMember(p, "lower_open"));
            e.estimate.upperFound = !jsonTrue(jsonMember(p, "upper_open"));
            cline.estimates.push_back(e);
        }
    }
    return true;
}

bool writeFileAtomically(const std::string& path, const std::string& content, std::string& error) {
    return writeResultFile(path, content, error);
}

std::string fileChecksum(const std::string& path) {
    std::string text;
    return readWholeFile(path, text) ? textChecksum(text) : std::string();
}

std::string textChecksum(const std::string& text) {
    return "fnv1a64:" + fnv1a64(text);
}

bool borderFileUsable(const DataContext& data, int model, std::string& error) {
    int fileBorders[2] = {0, 0};
    return bordersFor(data.data(), entry(model), fileBorders, error);
}

std::string userStartFile(int model) {
    const std::string name = startFileName(std::to_string(model).c_str());
    return access(name.c_str(), F_OK) == 0 ? name : std::string();
}

std::string profileJournalPath(const std::string& resultPath) {
    return profileJournalName(resultPath);
}

std::string bestFitName(int model) {
    return optimumFitName(entry(model), 1, std::nullopt);
}

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
