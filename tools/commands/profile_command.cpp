#include "tools/commands/profile_command.h"

#include "data/borders.h"
#include "data/failure_sink.h"
#include "driver/schedule.h"
#include "models/settled_objective.h"
#include "tools/analysis/fit_files.h"
#include "tools/analysis/point_evaluation.h"
#include "tools/analysis/profile.h"
#include "tools/analysis/progress.h"
#include "tools/analysis/start_box_check.h"
#include "tools/formats/cli.h"
#include "tools/formats/data_option.h"
#include "tools/formats/options.h"
#include "tools/formats/output_lock.h"
#include "tools/formats/profile_curve.h"
#include "tools/formats/profile_journal.h"
#include "tools/formats/profile_part.h"
#include "tools/formats/results.h"
#include "tools/formats/table.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <sstream>
#include <unistd.h>

const char* const profileHelp =
    "Usage: zonetool profile MODEL [--result FILE] [--units U] [--parameters NAMES]\n"
    "                              [--step F] [--format table|tsv] [--quiet]\n"
    "                              [--curve FILE] [--objective settled|zonefit] [--redo]\n"
    "\n"
    "Profile-likelihood support limits of the parameters of a fitted model. The fitted point\n"
    "is read from the model's result file (SS1_ML_ for model 1; see 'zonetool models'). For\n"
    "each parameter, on each side of its estimate, the parameter is fixed at values farther\n"
    "and farther away (a first step of F x |estimate|, or for a fitness F x its selection\n"
    "strength |w - 1| (at least 0.0001), then doubling, or up to four times as far where a\n"
    "parabola through the estimate and the last point predicts the crossing; up to the\n"
    "parameter's box); at each value the other parameters are re-optimised by the\n"
    "downhill simplex at temperature 0, starting from the re-optimised point of its\n"
    "neighbour (the fitted point for the first), and restarted until a restart gains less\n"
    "than 1e-4; a simplex that gains less than that over 100 evaluations per parameter\n"
    "has stalled and stops there, as if it had converged. Where -lnL has risen by U above\n"
    "its value at the estimate, the crossing is narrowed by interpolation until a point\n"
    "lies within 0.005 of it. Each point is a full re-optimisation, so on the real models\n"
    "a profile takes thousands of simulations per parameter.\n"
    "\n"
    "A point whose -lnL lies more than 0.01 below the estimate's becomes the estimate: the\n"
    "profile says so on standard error and starts again from there, for every parameter (at\n"
    "most 10 times). The table then says how often the estimate moved and from which -lnL to\n"
    "which; its estimates, the TSV and the curve are those of the last estimate, and no\n"
    "point of the curve lies more than 0.01 below it.\n"
    "\n"
    "Each point is written, as soon as it is computed, to the journal\n"
    "profile-RESULT.journal.tsv beside the result file. A profile that was stopped (a signal,\n"
    "a lost job) resumes from it when the same command runs again: the points done are not\n"
    "computed again, and the output is that of a run that was never stopped. A journal of\n"
    "another model, objective, transect, estimate or setting is refused; --redo starts over.\n"
    "The journal is removed once the output is written. One --side has no journal.\n"
    "\n"
    "Output: one row per parameter - name, estimate, lower and upper limit, and 'box' naming\n"
    "the limits that reached the parameter's box (the limit is then the bound itself). A\n"
    "limit written as <x or >x was not reached within the steps allowed; x is the farthest\n"
    "value examined. If a re-optimisation finds a lower -lnL than the estimate's that did\n"
    "not move it (less than 0.01 lower, or after the last move allowed), a warning names\n"
    "the better point.\n"
    "\n"
    "The profile is of the settled objective unless --objective zonefit is given: the value\n"
    "of the state each row settles in, an unsettled point counting as a penalty. The table's\n"
    "first line, the TSV's comment line '# objective: settled', the side files and the curve\n"
    "say which; under settled the curve names the state each point settled in, an unsettled\n"
    "one with its generations and last change.\n"
    "\n"
    "Options:\n"
    "  --result FILE      read the fitted point from FILE instead\n"
    "  --units U          log-likelihood units of the limits (default 2)\n"
    "  --parameters LIST  profile only these parameters (names, comma-separated; blanks\n"
    "                     around a name are ignored, as in \"contact, F\")\n"
    "  --step F           first step as a fraction of |estimate|, of |w - 1| for a fitness\n"
    "                     (default 0.05)\n"
    "  --format F         table (default) or tsv\n"
    "  --quiet            no progress line on standard error\n"
    "  --curve FILE       also write the profile walked, tab-separated, to FILE (never over\n"
    "                     an existing file): a header line, then per parameter a row 'estimate'\n"
    "                     and one row per profile point in the order computed - parameter,\n"
    "                     side (lower or upper), the value it was fixed at, -lnL, every\n"
    "                     coordinate of the re-optimised point, evaluations of that point.\n"
    "                     'zonetool plot --profile FILE' draws it. Works with --side too\n"
    "  --side SIDE        search one side (lower or upper) of one parameter only and write\n"
    "                     it to a file, profile-RESULT-PARAMETER-SIDE.tsv beside the result\n"
    "                     file, for a later --collect (as the jobs of 'zonetool slurm' do)\n"
    "  --part FILE        write the side to FILE instead\n"
    "  --collect          compute nothing: assemble the output from the files of both sides\n"
    "                     of each parameter (all of the same objective)\n"
    "  --objective K      settled (default) or zonefit: the value profiled\n"
    "  --redo             start over instead of resuming from the journal\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n";

namespace {

std::string limitText(const SupportLimit& limit, int side) {
    const std::string number = formatNumber(limit.value, 6);
    if (limit.found) {
        return number;
    }
    return (side < 0 ? "<" : ">") + number;
}

std::string boxFlag(const ParameterProfile& p) {
    if (p.lower.atBox && p.upper.atBox) {
        return "both";
    }
    if (p.lower.atBox) {
        return "lower";
    }
    if (p.upper.atBox) {
        return "upper";
    }
    return "-";
}

// The names of a comma-separated list, each without the blanks around it ("wSS, F").
std::vector<std::string> splitNames(const std::string& text) {
    std::vector<std::string> names;
    std::istringstream in(text);
    std::string name;
    while (std::getline(in, name, ',')) {
        const std::size_t first = name.find_first_not_of(" \t");
        const std::size_t last = name.find_last_not_of(" \t");
        names.push_back(first == std::string::npos ? "" : name.substr(first, last - first + 1));
    }
    return names;
}

// What the profile command line asks for.
struct ProfileOptions {
    std::string modelText;
    int model = 0;
    std::string resultPath; // the model's result file when empty
    std::string parameterList;
    std::vector<int> indices; // the parameters to profile, every one by default
    bool tsv = false;
    bool quiet = false;
    bool collect = false;    // assemble the files of both sides instead of computing
    int side = 0;            // -1 or +1: compute that side of one parameter only
    std::string partPath;    // where that side goes; named after the result file when empty
    std::string curvePath;   // where the walked profile goes; not written when empty
    std::string journalPath; // the journal of a whole profile; none for one side
    bool redo = false;       // start over instead of resuming from the journal
    ProfileSettings settings;
};

// Every parameter of the list, by index; a name the model does not have is a problem.
Problem resolveParameters(const ModelEntry& model, const std::string& list,
                          std::vector<int>& indices) {
    if (list.empty()) {
        for (int j = 0; j < model.parameterCount; j++) {
            indices.push_back(j);
        }
        return "";
    }
    for (const std::string& name : splitNames(list)) {
        const int index = findParameter(model, name);
        if (index < 0) {
            std::string known;
            for (int j = 0; j < model.parameterCount; j++) {
                known += std::string(j == 0 ? "" : " ") + model.parameters[j].name;
            }
            return "model " + std::to_string(model.number) + " has no parameter '" + name +
                   "' (it has " + known + ")";
        }
        indices.push_back(index);
    }
    return "";
}

int readProfileOptions(const RunContext& ctx, const std::vector<std::string>& args,
                       ProfileOptions& o) {
    return OptionParser(
               "profile", [] { return std::string(profileHelp); }, *ctx.out, *ctx.err)
        .flag({"--quiet"}, [&o] { o.quiet = true; })
        .flag({"--collect"}, [&o] { o.collect = true; })
        .flag({"--redo"}, [&o] { o.redo = true; })
        .value({"--side"}, "a value",
               storeChoice(o.side, {{"lower", -1}, {"upper", +1}}, "lower or upper"))
        .value({"--part"}, "a value", storeText(o.partPath))
        .value({"--curve"}, "a file name", storeText(o.curvePath))
        .value({"--result"}, "a value", storeText(o.resultPath))
        .value({"--units"}, "a value", storePositive(o.settings.units))
        .value({"--objective"}, "a value", storeObjective(o.settings.objective))
        .value({"--parameters"}, "a value", storeText(o.parameterList))
        .value({"--step"}, "a value", storePositive(o.settings.firstStep))
        .value({"--format"}, "a value",
               storeChoice(o.tsv, {{"table", false}, {"tsv", true}}, "table or tsv"))
        .positional(takeOne(o.modelText))
        .check(requireModel(o.modelText, o.model))
        .check([&o] { return resolveParameters(*findModel(o.model), o.parameterList, o.indices); })
        .check([&o]() -> Problem {
            if (o.side != 0 && (o.indices.size() != 1 || o.collect)) {
                return "--side needs one parameter (--parameters NAME) and no --collect";
            }
            if (!o.partPath.empty() && o.side == 0) {
                return "--part needs --side";
            }
            if (!o.curvePath.empty() && o.collect) {
                return "--curve needs a profile computed here, not --collect";
            }
            return "";
        })
        .parse(args);
}

// Reads the fitted point and checks what the profile needs: the model's objective, its
// border file, estimates inside their boxes. False after the message.
bool loadEstimate(const RunContext& ctx, const ModelEntry& model, const ProfileOptions& o,
                  StoredResult& stored) {
    std::string error;
    LoadedFit fit;
    std::vector<std::string> warnings;
    const bool loaded = loadFit(ctx.data, o.resultPath, model, false, fit, error, warnings,
                                o.settings.objective, ctx.err);
    for (const std::string& warning : warnings) {
        *ctx.err << "zonetool profile: " << warning << "\n";
    }
    if (!loaded) {
        *ctx.err << "zonetool profile: " << error << "\n";
        return false;
    }
    stored = fit.result;
    if (model.borders == BorderSource::borderFile) {
        Borders borders;
        if (!readBorders(borderFileName, ctx.data.data().siteCount(), borders, error)) {
            *ctx.err << error << "\n";
            return false;
        }
    }
    // Every coordinate, not only those profiled: the others are re-optimised from there.
    const std::string outside =
        startBoxProblem(ctx.data, o.resultPath, model, stored.point, profileBoxAdvice(model));
    if (!outside.empty()) {
        *ctx.err << "zonetool profile: " << outside << "\n";
        return false;
    }
    return true;
}

// The limits table on standard output, the evaluations and any better point on standard
// error.
void printProfile(const RunContext& ctx, const ModelEntry& model, const ProfileOptions& o,
                  const ProfileOutcome& outcome) {
    Table table({Align::left, Align::right, Align::right, Align::right, Align::left});
    table.addRow({"parameter", "estimate", "lower", "upper", "box"});
    for (const ParameterProfile& p : outcome.parameters) {
        table.addRow({ctx.data.box(model.number).parameters[p.index].name,
                      formatNumber(p.estimate, 8), limitText(p.lower, -1), limitText(p.upper, +1),
                      boxFlag(p)});
    }
    const bool settled = o.settings.objective == ObjectiveKind::settled;
    if (o.tsv) {
        const std::string moves = estimateMovesLine(outcome);
        *ctx.out << (settled ? "# objective: settled\n" : "") << (moves.empty() ? "" : "# ")
                 << moves << table.tabSeparated();
    } else {
        *ctx.out << "Model " << model.number << " (" << model.name << "), " << o.resultPath
                 << ": -lnL " << formatNumber(outcome.minimum, 10) << " at the estimate; "
                 << "support limits at " << formatNumber(o.settings.units, 6)
                 << " log-likelihood units; objective " << objectiveName(o.settings.objective)
                 << "\n"
                 << estimateMovesLine(outcome) << table.aligned();
    }
    ctx.out->flush();
    *ctx.err << "profile: " << outcome.evaluations << " evaluations\n";
    // Rounding of the re-optimised values aside, a lower value means the fit stopped short.
    if (outcome.movesExhausted) {
        *ctx.err << "zonetool profile: warning: the estimate moved " << o.settings.maxRestarts
                 << " times, the most allowed, and a point better still was found\n";
    }
    if (outcome.lowest < outcome.minimum - 1e-6) {
        *ctx.err << "zonetool profile: warning: a re-optimisation found -lnL "
                 << format17(outcome.lowest) << ", below the estimate's "
                 << format17(outcome.minimum) << ", at";
        for (double x : outcome.lowestPoint) {
            *ctx.err << " " << format17(x);
        }
        *ctx.err << "\nThe fit had not reached the maximum; refit from that point.\n";
    }
}

// Whether the --curve file may be written; if not, says so.
bool curveFileFree(std::ostream& err, const std::string& path) {
    if (access(path.c_str(), F_OK) == 0) {
        err << "zonetool profile: " << path
            << " exists already; remove it or name another --curve file\n";
        return false;
    }
    const std::size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : path.substr(0, slash);
    if (access(dir.c_str(), W_OK | X_OK) != 0) {
        err << "zonetool profile: cannot write " << path << ": " << dir
            << " cannot take new files (" << std::strerror(errno) << ")\n";
        return false;
    }
    return true;
}

// The walked profile to --curve, when asked for. False after the message.
bool writeCurve(std::ostream& err, const ProfileOptions& o, const std::vector<ParameterInfo>& boxes,
                const ProfileOutcome& outcome) {
    if (o.curvePath.empty()) {
        return true;
    }
    std::vector<std::string> names;
    for (const ParameterInfo& box : boxes) {
        names.push_back(box.name);
    }
    std::string error;
    if (!curveFileFree(err, o.curvePath) ||
        !writeResultFile(o.curvePath, profileCurveText(names, outcome.estimate, outcome), error,
                         nullptr, ExistingFile::keep)) {
        if (!error.empty()) {
            err << "zonetool profile: " << error << "\n";
        }
        return false;
    }
    return true;
}

// Under the settled objective, the state each profile point (and the estimate) settled in:
// one more evaluation each, so that an unsettled point is named in the curve.
void measureStates(const RunContext& ctx, const ModelEntry& model, const ProfileOptions& o,
                   ProfileOutcome& outcome) {
    if (o.settings.objective != ObjectiveKind::settled || o.curvePath.empty()) {
        return;
    }
    objectiveAt(ctx.data, model, outcome.estimate, ObjectiveKind::settled, &outcome.estimateState,
                ctx.err);
    for (ProfilePoint& walked : outcome.walked) {
        objectiveAt(ctx.data, model, walked.point, ObjectiveKind::settled, &walked.state, ctx.err);
        walked.stateMeasured = true;
    }
    outcome.statesMeasured = true;
}

// One side of one parameter, written to its file for a later --collect.
int writeSide(const RunContext& ctx, const ModelEntry& model, ProfileOptions& o,
              const std::vector<ParameterInfo>& boxes, const StoredResult& stored,
              const ProfiledObjective& objective, const ProfileObserver& observer, StatusLine& line,
              const FailureSink& failures) {
    const int index = o.indices[0];
    ProfileOutcome outcome =
        profileSide(objective, stored.point, boxes, index, o.side, o.settings, observer);
    line.clear();
    if (failures.failed()) {
        *ctx.err << failures.message() << "\n";
        return 1;
    }
    std::string error;
    if (!writeProfilePart(
            o.partPath, profilePartText(model, o.resultPath, o.settings, outcome, o.side), error)) {
        *ctx.err << "zonetool profile: " << error << "\n";
        return 1;
    }
    measureStates(ctx, model, o, outcome);
    if (!writeCurve(*ctx.err, o, boxes, outcome)) {
        return 1;
    }
    *ctx.out << "wrote " << o.partPath << "\n" << std::flush;
    *ctx.err << "profile: " << outcome.evaluations << " evaluations\n";
    return 0;
}

// What the points of a whole profile depend on, for the head of its journal: a journal of
// another model, objective, transect, box, estimate or setting is not resumed from.
std::string journalHead(const RunContext& ctx, const ModelEntry& model, const ProfileOptions& o,
                        const StoredResult& stored, const std::vector<std::string>& names) {
    const DataContext* data = &ctx.data;
    std::string boxOptions;
    std::string estimate;
    std::string parameters;
    if (data != nullptr) {
        for (const std::string& option : data->boxOptions) {
            boxOptions += (boxOptions.empty() ? "" : " ") + option;
        }
    }
    for (double x : stored.point) {
        estimate += (estimate.empty() ? "" : " ") + format17(x);
    }
    for (int index : o.indices) {
        parameters += (parameters.empty() ? "" : ",") + names[static_cast<std::size_t>(index)];
    }
    return profileJournalHead({
        {"model", std::to_string(model.number)},
        {"objective", objectiveName(o.settings.objective)},
        {"result", o.resultPath},
        {"data", data == nullptr || data->path.empty() ? "built-in" : data->checksum},
        {"boxes", boxOptions.empty() ? "-" : boxOptions},
        {"estimate", estimate},
        {"parameters", parameters},
        {"units", format17(o.settings.units)},
        {"step", format17(o.settings.firstStep)},
    });
}

// The progress of a whole profile, shown on a terminal as each point starts and, for a batch
// job's error file, once a minute. Points done counts those read from the journal apart.
class WholeProgress {
  public:
    WholeProgress(std::ostream& err, const ProfileOptions& o, const std::vector<std::string>& names)
        : names_(names), line_(err, progressWanted(o.quiet, STDERR_FILENO)),
          started_(std::chrono::steady_clock::now()),
          plain_(err, plainProgressWanted(o.quiet, STDERR_FILENO), [this] { return text(); }) {}

    void point(int index, int side, int number, double value) {
        {
            const std::lock_guard<std::mutex> hold(mutex_);
            where_ = names_[static_cast<std::size_t>(index)] + (side < 0 ? " lower" : " upper") +
                     " point " + std::to_string(number) + " at " + formatNumber(value, 8);
        }
        line_.show(text());
    }
    void done(bool recalled) {
        const std::lock_guard<std::mutex> hold(mutex_);
        (recalled ? recalled_ : computed_) += 1;
    }
    void moved() {
        const std::lock_guard<std::mutex> hold(mutex_);
        moves_ += 1;
    }
    void stop() {
        plain_.stop();
        line_.clear();
    }
    StatusLine& line() { return line_; }

  private:
    std::string text() {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        const std::lock_guard<std::mutex> hold(mutex_);
        std::string text = "profile " + where_ + "  points done " + std::to_string(computed_);
        if (recalled_ > 0) {
            text += " (and " + std::to_string(recalled_) + " from the journal)";
        }
        if (moves_ > 0) {
            text += "  estimate moved " + std::to_string(moves_);
        }
        return text + "  " + formatElapsed(seconds);
    }

    const std::vector<std::string>& names_;
    StatusLine line_;
    const std::chrono::steady_clock::time_point started_;
    std::mutex mutex_;
    std::string where_ = "at the estimate";
    long computed_ = 0;
    long recalled_ = 0;
    int moves_ = 0;
    PlainProgress plain_;
};

// Stops the process by its own stop signal after `ZONETOOL_TEST_PROFILE_STOP_AFTER` points
// written to the journal: how tests interrupt a profile at a chosen point.
void stopForTests(long written) {
    const char* after = std::getenv("ZONETOOL_TEST_PROFILE_STOP_AFTER");
    if (after != nullptr && std::atol(after) == written) {
        std::raise(SIGTERM);
    }
}

// The profile of every parameter asked for, with the estimate moved to any better point, its
// points journaled and resumed from the journal. Returns the exit status.
int profileWhole(const RunContext& ctx, const ModelEntry& model, const ProfileOptions& o,
                 const std::vector<ParameterInfo>& boxes, const StoredResult& stored,
                 const ProfiledObjective& objective, const FailureSink& failures) {
    std::vector<std::string> names;
    for (std::size_t j = 0; j < stored.point.size(); j++) {
        names.push_back(j < boxes.size() ? boxes[j].name : "x" + std::to_string(j));
    }
    ProfileJournal journal;
    std::string error;
    // A fit read from a directory that takes no new files is still profiled, without a journal.
    const std::size_t slash = o.journalPath.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : o.journalPath.substr(0, slash);
    bool journaling = access(dir.c_str(), W_OK | X_OK) == 0;
    if (!journaling) {
        *ctx.err << "zonetool profile: warning: no journal: " << dir
                 << " cannot take new files; a stopped profile will start over\n";
    } else if (!journal.open(o.journalPath, journalHead(ctx, model, o, stored, names), names,
                             o.redo, error)) {
        *ctx.err << "zonetool profile: " << error << "\n";
        return 1;
    }
    if (journal.kept() > 0) {
        *ctx.err << "zonetool profile: resuming from " << o.journalPath << ": " << journal.kept()
                 << " points computed before\n";
    }
    WholeProgress progress(*ctx.err, o, names);
    ProfileHooks hooks;
    hooks.before = [&progress](int index, int side, int point, double value) {
        progress.point(index, side, point, value);
    };
    hooks.recall = [&journal, &progress](int estimate, double minimum, ProfilePoint& point) {
        const bool known = journal.recall(estimate, minimum, point);
        if (known) {
            progress.done(true);
        }
        return known;
    };
    long written = 0;
    hooks.computed = [&](int estimate, double minimum, const ProfilePoint& point) {
        progress.done(false);
        // A point computed after the border file failed is no point of the profile.
        if (!journaling || failures.failed()) {
            return;
        }
        std::string why;
        if (!journal.append(estimate, minimum, point, why)) {
            progress.line().clear();
            *ctx.err << "zonetool profile: warning: " << why
                     << "; the profile goes on without its journal\n";
            journaling = false;
            return;
        }
        stopForTests(++written);
    };
    hooks.moved = [&](const EstimateMove& move) {
        progress.moved();
        progress.line().clear();
        *ctx.err << estimateMoveMessage(boxes[static_cast<std::size_t>(move.index)].name, move);
    };
    ProfileOutcome outcome =
        profileLikelihood(objective, stored.point, boxes, o.indices, o.settings, hooks);
    progress.stop();
    if (failures.failed()) {
        *ctx.err << failures.message() << "\n";
        return 1;
    }
    printProfile(ctx, model, o, outcome);
    measureStates(ctx, model, o, outcome);
    if (!writeCurve(*ctx.err, o, boxes, outcome)) {
        return 1;
    }
    // Every output is written: the journal has served.
    if (journaling && !journal.remove(error)) {
        *ctx.err << "zonetool profile: warning: " << error << "\n";
    }
    return 0;
}

} // namespace

int profileCommand(RunContext& ctx, const std::vector<std::string>& args) {
    ProfileOptions o;
    const int status = readProfileOptions(ctx, args, o);
    if (status >= 0) {
        return status;
    }
    const ModelEntry& model = *findModel(o.model);
    if (o.resultPath.empty()) {
        o.resultPath = model.prefix;
    }
    if (o.collect) {
        ProfileOutcome outcome;
        std::string error;
        if (!collectProfile(model, o.resultPath, o.indices, o.settings, outcome, error)) {
            *ctx.err << "zonetool profile: " << error << "\n";
            return 1;
        }
        printProfile(ctx, model, o, outcome);
        return 0;
    }
    if (o.side != 0 && o.partPath.empty()) {
        o.partPath = profilePartName(
            o.resultPath, ctx.data.box(model.number).parameters[o.indices[0]].name, o.side);
    }
    OutputLocks locks;
    if (o.side == 0) {
        o.journalPath = profileJournalName(o.resultPath);
    }
    if (!lockOutputs(*ctx.err, ctx.data.commandLine, locks, "profile",
                     {o.partPath, o.curvePath, o.journalPath})) {
        return 1;
    }
    // A stop signal removes the locks, and the temporary file of a write under way.
    const StopSignalGuard signalGuard;
    // Hours of profiling are not spent on a curve that could not be written.
    if (!o.curvePath.empty() && !curveFileFree(*ctx.err, o.curvePath)) {
        return 1;
    }
    StoredResult stored;
    if (!loadEstimate(ctx, model, o, stored)) {
        return 1;
    }
    // The coordinates past the model's own have no effect and stay as they are.
    const ModelBox& box = ctx.data.box(model.number);
    const std::vector<ParameterInfo> boxes(box.parameters, box.parameters + box.parameterCount);
    StatusLine line(*ctx.err, !o.quiet && isatty(STDERR_FILENO) != 0);
    ProfileObserver observer = [&](int index, int side, int point, double value) {
        line.show(std::string("profile ") + boxes[static_cast<std::size_t>(index)].name +
                  (side < 0 ? " lower" : " upper") + " point " + std::to_string(point) + " at " +
                  formatNumber(value, 8));
    };
    // Once the border file fails, the searches run out on a constant instead of simulating.
    FailureSink failures;
    // The models' messages about single evaluations (a generation cap reached deep in a
    // re-optimisation) would break the table or the TSV on standard output.
    SimulationContext simulation;
    simulation.diagnostics = ctx.err;
    const ModelContext context = ctx.data.models(&failures, simulation);
    const BoundObjective bound{&context, &model, o.settings.objective};
    const ProfiledObjective objective = [bound, &failures](const NRvector<double>& x) {
        return failures.failed() ? std::numeric_limits<double>::max() : bound(x);
    };
    if (o.side != 0) {
        return writeSide(ctx, model, o, boxes, stored, objective, observer, line, failures);
    }
    return profileWhole(ctx, model, o, boxes, stored, objective, failures);
}
