#include "tools/checkpoint.h"

#include "tools/failed_fit.h"
#include "tools/fit_record.h"
#include "tools/parallel.h"

#include "driver/signals.h"
#include "driver/start_file.h"
#include "driver/zonefit_main.h"
#include "models/model_context.h"
#include "models/model_table.h"
#include "models/settled_objective.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

extern char** environ;

#ifndef ZONEFIT_VERSION
#define ZONEFIT_VERSION "0.1"
#endif
// The same version as the fit records: a checkpoint continues only in the build that wrote it.
const char* const checkpointProgramVersion = "zonetool " ZONEFIT_VERSION;

namespace {

const char* const magic = "zonefit-checkpoint";

// FNV-1a over the text before the checksum line: a torn or edited file does not pass.
std::uint64_t checksum(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

std::string hexDouble(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%a", value);
    return text;
}

void writeList(std::ostringstream& out, const char* key, const std::vector<double>& values) {
    out << key << ' ' << values.size();
    for (double v : values) {
        out << ' ' << hexDouble(v);
    }
    out << '\n';
}

} // namespace

std::string formatCheckpoint(const Checkpoint& c) {
    std::ostringstream out;
    const Amebsa<ObjectiveFunction>::State& a = c.state.annealer;
    out << magic << ' ' << c.format << '\n';
    out << "program " << c.program << '\n';
    out << "model " << c.model << '\n';
    out << "seed " << (c.seed ? std::to_string(*c.seed) : std::string("clock")) << '\n';
    out << "objective " << objectiveName(c.objective) << '\n';
    writeList(out, "start", c.start);
    writeList(out, "steps", c.steps);
    out << "position " << c.state.stage << ' ' << c.state.cycle << ' ' << c.state.call << '\n';
    out << "temperature " << hexDouble(c.state.temperature) << '\n';
    out << "converged " << (c.state.converged ? 1 : 0) << '\n';
    out << "simplex " << a.vertexCount << ' ' << a.dimension << '\n';
    for (int i = 0; i < a.vertexCount; i++) {
        for (int j = 0; j < a.dimension; j++) {
            out << (j == 0 ? "" : " ")
                << hexDouble(a.simplex[static_cast<std::size_t>(i * a.dimension + j)]);
        }
        out << '\n';
    }
    writeList(out, "vertex-values", a.vertexValues);
    writeList(out, "best-point", a.bestPoint);
    out << "best-value " << hexDouble(a.bestValue) << '\n';
    out << "negative-temperature " << hexDouble(a.negTemperature) << '\n';
    out << "generator " << a.generator << '\n';
    out << "evaluations " << c.evaluations << '\n';
    out << "lowest-evaluation " << hexDouble(c.progressBest) << '\n';
    out << "cpu-seconds " << hexDouble(c.cpuSeconds) << '\n';
    out << "wall-seconds " << hexDouble(c.wallSeconds) << '\n';
    out << "log-bytes " << c.logBytes << '\n';
    out << "trace-bytes " << c.traceBytes << '\n';
    std::string text = out.str();
    char line[64];
    std::snprintf(line, sizeof line, "checksum %016" PRIx64 "\n", checksum(text));
    return text + line;
}

namespace {

// Reads the lines of a checkpoint in order, each led by its expected key.
class Reader {
  public:
    explicit Reader(const std::string& text) : in_(text) {}

    bool line(const char* key) {
        std::string text;
        if (!std::getline(in_, text)) {
            return fail(std::string("missing '") + key + "'");
        }
        lineNumber_++;
        fields_.clear();
        fields_.str(text);
        std::string word;
        fields_ >> word;
        if (word != key) {
            return fail(std::string("'") + key + "' expected");
        }
        return true;
    }
    // The next line when it is led by `key` (true); otherwise reads nothing (false).
    bool optionalLine(const char* key) {
        const std::streampos at = in_.tellg();
        std::string text;
        if (!std::getline(in_, text) ||
            text.compare(0, std::strlen(key) + 1, std::string(key) + " ") != 0) {
            in_.clear();
            in_.seekg(at);
            return false;
        }
        lineNumber_++;
        fields_.clear();
        fields_.str(text);
        std::string word;
        fields_ >> word;
        return true;
    }
    // A line of `count` numbers without a key, stored from values[k] on.
    bool row(int count, std::vector<double>& values, std::size_t& k) {
        std::string text;
        if (!std::getline(in_, text)) {
            return fail("simplex row missing");
        }
        lineNumber_++;
        fields_.clear();
        fields_.str(text);
        for (int j = 0; j < count; j++) {
            if (!real(values[k++])) {
                return false;
            }
        }
        return end();
    }
    bool word(std::string& value) { return (fields_ >> value) ? true : fail("value missing"); }
    bool real(double& value) {
        std::string text;
        if (!word(text)) {
            return false;
        }
        char* end = nullptr;
        value = std::strtod(text.c_str(), &end);
        return *end == '\0' ? true : fail("'" + text + "' is not a number");
    }
    template <class I> bool integer(I& value, long long low, long long high) {
        std::string text;
        if (!word(text)) {
            return false;
        }
        char* end = nullptr;
        errno = 0;
        const long long v = std::strtoll(text.c_str(), &end, 10);
        if (*end != '\0' || errno != 0 || v < low || v > high) {
            return fail("'" + text + "' is out of range");
        }
        value = static_cast<I>(v);
        return true;
    }
    bool unsigned64(std::uint64_t& value) {
        std::string text;
        if (!word(text)) {
            return false;
        }
        char* end = nullptr;
        errno = 0;
        value = std::strtoull(text.c_str(), &end, 10);
        return *end == '\0' && errno == 0 && text[0] != '-' ? true
                                                            : fail("'" + text + "' is no seed");
    }
    bool list(const char* key, std::vector<double>& values) {
        std::size_t count = 0;
        if (!line(key) || !integer(count, 0, maxStartValues + 1)) {
            return false;
        }
        values.resize(count);
        for (double& v : values) {
            if (!real(v)) {
                return false;
            }
        }
        return end();
    }
    bool end() {
        std::string extra;
        return (fields_ >> extra) ? fail("unexpected '" + extra + "'") : true;
    }
    bool fail(const std::string& what) {
        error = "line " + std::to_string(lineNumber_) + ": " + what;
        return false;
    }

    std::string error;

  private:
    std::istringstream in_;
    std::istringstream fields_;
    int lineNumber_ = 0;
};

} // namespace

bool parseCheckpoint(const std::string& text, Checkpoint& c, std::string& error) {
    const std::size_t mark = text.rfind("checksum ");
    if (mark == std::string::npos || (mark > 0 && text[mark - 1] != '\n')) {
        error = "no checksum line";
        return false;
    }
    unsigned long long stored = 0;
    char tail = 0;
    if (std::sscanf(text.c_str() + mark, "checksum %16llx%c", &stored, &tail) != 2 ||
        tail != '\n' || mark + 26 != text.size() || stored != checksum(text.substr(0, mark))) {
        error = "checksum does not match";
        return false;
    }
    Reader r(text.substr(0, mark));
    Amebsa<ObjectiveFunction>::State& a = c.state.annealer;
    std::string seed;
    int converged = 0;
    const bool ok =
        r.line(magic) && r.integer(c.format, 0, 1000000) && r.end() && r.line("program") &&
        r.word(c.program) &&
        [&] {
            std::string rest;
            if (r.word(rest)) {
                c.program += " " + rest;
            }
            return r.end();
        }() &&
        r.line("model") && r.integer(c.model, 1, 1000) && r.end() && r.line("seed") &&
        r.word(seed) && r.end() &&
        [&] {
            if (seed == "clock") {
                c.seed.reset();
                return true;
            }
            std::uint64_t value = 0;
            Reader one("seed " + seed);
            if (!one.line("seed") || !one.unsigned64(value)) {
                return r.fail("bad seed '" + seed + "'");
            }
            c.seed = value;
            return true;
        }() &&
        [&] {
            c.objective = ObjectiveKind::zonefit;
            if (!r.optionalLine("objective")) {
                return true;
            }
            std::string kind;
            if (!r.word(kind)) {
                return false;
            }
            return parseObjectiveKind(kind, c.objective) ? r.end()
                                                         : r.fail("bad objective '" + kind + "'");
        }() &&
        r.list("start", c.start) && r.list("steps", c.steps) && r.line("position") &&
        r.integer(c.state.stage, 1, 4) && r.integer(c.state.cycle, 1, 5) &&
        r.integer(c.state.call, 1, std::numeric_limits<int>::max()) && r.end() &&
        r.line("temperature") && r.real(c.state.temperature) && r.end() && r.line("converged") &&
        r.integer(converged, 0, 1) && r.end() && r.line("simplex") &&
        r.integer(a.vertexCount, 2, maxStartValues + 1) &&
        r.integer(a.dimension, 1, maxStartValues) && r.end() &&
        [&] {
            a.simplex.resize(static_cast<std::size_t>(a.vertexCount) *
                             static_cast<std::size_t>(a.dimension));
            std::size_t k = 0;
            for (int i = 0; i < a.vertexCount; i++) {
                if (!r.row(a.dimension, a.simplex, k)) {
                    return false;
                }
            }
            return true;
        }() &&
        r.list("vertex-values", a.vertexValues) && r.list("best-point", a.bestPoint) &&
        r.line("best-value") && r.real(a.bestValue) && r.end() && r.line("negative-temperature") &&
        r.real(a.negTemperature) && r.end() && r.line("generator") && r.unsigned64(a.generator) &&
        r.end() && r.line("evaluations") &&
        r.integer(c.evaluations, 0, std::numeric_limits<long>::max()) && r.end() &&
        r.line("lowest-evaluation") && r.real(c.progressBest) && r.end() && r.line("cpu-seconds") &&
        r.real(c.cpuSeconds) && r.end() && r.line("wall-seconds") && r.real(c.wallSeconds) &&
        r.end() && r.line("log-bytes") &&
        r.integer(c.logBytes, 0, std::numeric_limits<long long>::max()) && r.end() &&
        r.line("trace-bytes") &&
        r.integer(c.traceBytes, -1, std::numeric_limits<long long>::max()) && r.end();
    if (!ok) {
        error = r.error;
        return false;
    }
    c.state.converged = converged == 1;
    if (!validScheduleState(c.state, static_cast<int>(c.start.size())) ||
        c.steps.size() != c.start.size()) {
        error = "the saved state does not fit its start vector";
        return false;
    }
    return true;
}

namespace {

double cpuNow() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

const char* signalName(int signal) {
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    case SIGUSR1:
        return "SIGUSR1";
    default:
        return "a signal";
    }
}

// `objective`, until a stop is requested; from then on every evaluation returns +infinity at
// once: no trial is accepted, the simplex shrinks, and the budget runs out within microseconds,
// so the annealer returns without any exception and the schedule abandons the call.
FitObjective stoppingObjective(FitObjective objective) {
    return [objective = std::move(objective)](const NRvector<double>& x) {
        if (stopRequestSignal() != 0) {
            return std::numeric_limits<double>::infinity();
        }
        return objective(x);
    };
}

bool readWholeFile(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    content = text.str();
    return !in.bad();
}

// Flushes `stream` and its file to the disk, so that the length a checkpoint records is there
// even after a crash of the machine; returns the length, or -1 on failure.
long long syncedLength(std::ofstream& stream, const std::string& path) {
    stream.flush();
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) {
        return -1;
    }
    struct stat info;
    const bool ok = fsync(fd) == 0 && fstat(fd, &info) == 0;
    close(fd);
    return ok && stream ? static_cast<long long>(info.st_size) : -1;
}

// Writes `content` atomically: temporary file, flush, fsync, rename. The environment variable
// ZONETOOL_TEST_CHECKPOINT_STALL_MS (tests only) pauses before the rename, so that a test can
// kill the process in the middle of a write.
bool writeAtomically(const std::string& path, const std::string& content, std::string& error) {
    return writeResultFile(path, content, error, [] {
        if (const char* stall = std::getenv("ZONETOOL_TEST_CHECKPOINT_STALL_MS")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(stall)));
        }
    });
}

std::string seedText(const std::optional<std::uint64_t>& seed) {
    return seed ? "seed " + std::to_string(*seed) : std::string("the clock as seed");
}

// Checks that `c` continues this very fit; on failure returns false with the reason.
bool belongsHere(const Checkpoint& c, const CheckpointedFit& fit, int model,
                 const StartVector& startVector, std::string& error) {
    const std::string& path = fit.checkpointPath;
    if (c.program != checkpointProgramVersion) {
        error = path + " was written by " + c.program + ", not by this " +
                checkpointProgramVersion + "; finish the fit with that version or remove " + path;
        return false;
    }
    if (c.model != model) {
        error = path + " is a checkpoint of model " + std::to_string(c.model) + ", not of model " +
                std::to_string(model);
        return false;
    }
    if (c.seed != fit.seed) {
        error = path + " is a checkpoint of a fit with " + seedText(c.seed) + ", not with " +
                seedText(fit.seed);
        return false;
    }
    if (c.objective != fit.objective) {
        error = path + " is a checkpoint of a fit with objective " + objectiveName(c.objective) +
                ", not with objective " + objectiveName(fit.objective);
        return false;
    }
    // Compared bit for bit: a start vector that differs in the last digit is another fit.
    auto same = [](const std::vector<double>& a, const std::vector<double>& b) {
        return a.size() == b.size() &&
               (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
    };
    if (!same(c.start, startVector.start) || !same(c.steps, startVector.deltas)) {
        error = path + " is a checkpoint of a fit from another start vector or other steps than " +
                fit.startPath;
        return false;
    }
    return true;
}

// Opens `path` for appending after cutting it to `length` bytes (resume), or afresh.
bool openContinued(std::ofstream& stream, const std::string& path, long long length,
                   const std::string& checkpointPath, std::string& error) {
    if (length >= 0) {
        struct stat info;
        if (stat(path.c_str(), &info) != 0 || info.st_size < length) {
            error = path + " is missing or shorter than the " + std::to_string(length) + " bytes " +
                    checkpointPath + " records; the fit cannot be resumed";
            return false;
        }
        if (truncate(path.c_str(), static_cast<off_t>(length)) != 0) {
            error = "cannot truncate " + path + ": " + std::strerror(errno);
            return false;
        }
        stream.open(path, std::ios::binary | std::ios::app);
    } else {
        stream.open(path, std::ios::binary | std::ios::trunc);
    }
    if (!stream) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

void requeueStoppedJob(std::ostream& err) {
    const char* job = std::getenv("SLURM_JOB_ID");
    if (job == nullptr || *job == '\0') {
        err << "zonetool fit: --requeue: SLURM_JOB_ID is not set, so nothing was requeued\n";
        return;
    }
    // An array task's own id: the array's id alone would requeue every task of the array (the
    // last task shares it).
    std::string jobId = job;
    const char* arrayJob = std::getenv("SLURM_ARRAY_JOB_ID");
    const char* arrayTask = std::getenv("SLURM_ARRAY_TASK_ID");
    if (arrayJob != nullptr && *arrayJob != '\0' && arrayTask != nullptr && *arrayTask != '\0') {
        jobId = std::string(arrayJob) + "_" + arrayTask;
    }
    char program[] = "scontrol";
    char verb[] = "requeue";
    char* argv[] = {program, verb, &jobId[0], nullptr};
    pid_t child = 0;
    const int failed = posix_spawnp(&child, program, nullptr, nullptr, argv, environ);
    if (failed != 0) {
        err << "zonetool fit: could not run scontrol requeue " << jobId << ": "
            << std::strerror(failed) << "\n";
        return;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        err << "zonetool fit: requeued Slurm job " << jobId << "\n";
    } else {
        err << "zonetool fit: scontrol requeue " << jobId << " failed (status "
            << (WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status))
            << "); the job was not requeued\n";
    }
}

CheckpointedOutcome runCheckpointedFit(const DataContext& data, const CheckpointedFit& fit,
                                       FitProgress& progress, std::ostream& err,
                                       const std::function<void(const AnnealCall&)>& onCall) {
    CheckpointedOutcome outcome;
    // From the start, so that a stop during the preparations, too, ends with the checkpoint
    // untouched and the resumable status.
    std::optional<StopSignalGuard> guard;
    if (fit.ownSignalGuard) {
        guard.emplace(StopMode::request);
    }
    StartVector startVector;
    const ModelEntry* model = findModel(parseModelNumber(fit.modelArgument.c_str()));
    if (readStartFile(fit.startPath, startVector) != StartFileStatus::ok || model == nullptr ||
        model->objective == nullptr) {
        // Not a fit that can run: the plain path says why, in zonefit's words.
        FitOutput output;
        output.err = &err;
        output.startLabel = fit.startPath;
        outcome.status =
            runFit(fit.modelArgument.c_str(), fit.startPath, ScheduleOptions(), output);
        return outcome;
    }
    const std::string resultName = fit.resultName.empty() ? model->prefix : fit.resultName;
    const std::string logPath = resultName + ".log";

    Checkpoint restored;
    bool resuming = false;
    std::string error;
    struct stat info;
    if (stat(fit.checkpointPath.c_str(), &info) == 0) {
        std::string text;
        if (!readWholeFile(fit.checkpointPath, text)) {
            err << "zonetool fit: cannot read the checkpoint " << fit.checkpointPath << ": "
                << std::strerror(errno) << "\n";
            return outcome;
        }
        const std::string head = std::string(magic) + " ";
        if (text.compare(0, head.size(), head) != 0) {
            err << "zonetool fit: " << fit.checkpointPath
                << " is not a zonetool checkpoint; it is left as it is (remove it or name "
                   "another file)\n";
            return outcome;
        }
        const int format = std::atoi(text.c_str() + head.size());
        if (format != checkpointFormat) {
            err << "zonetool fit: " << fit.checkpointPath << " is a checkpoint of format " << format
                << "; this zonetool reads format " << checkpointFormat
                << " only. It is left as it is\n";
            return outcome;
        }
        if (!parseCheckpoint(text, restored, error)) {
            err << "zonetool fit: " << fit.checkpointPath << " is truncated or damaged (" << error
                << "); it is left as it is. Remove it to start the fit afresh\n";
            return outcome;
        }
        if (!belongsHere(restored, fit, model->number, startVector, error)) {
            err << "zonetool fit: " << error << ". It is left as it is\n";
            return outcome;
        }
        if ((restored.traceBytes >= 0) != !fit.tracePath.empty()) {
            err << "zonetool fit: " << fit.checkpointPath << " is a checkpoint of a fit "
                << (fit.tracePath.empty() ? "with" : "without")
                << " --trace; give the same options to resume it\n";
            return outcome;
        }
        resuming = true;
    }

    std::ofstream log;
    std::ofstream trace;
    if (!openContinued(log, logPath, resuming ? restored.logBytes : -1, fit.checkpointPath,
                       error) ||
        (!fit.tracePath.empty() &&
         !openContinued(trace, fit.tracePath, resuming ? restored.traceBytes : -1,
                        fit.checkpointPath, error))) {
        err << "zonetool fit: " << error << "\n";
        return outcome;
    }
    if (!resuming) {
        log << seedLine(fit.seed) << objectiveLine(fit.objective);
    }

    const double cpuStart = cpuNow();
    const std::int64_t wallStart = steadyNow();
    const double cpuBefore = resuming ? restored.cpuSeconds : 0.0;
    const double wallBefore = resuming ? restored.wallSeconds : 0.0;
    auto totals = [&](double& cpu, double& wall) {
        cpu = cpuBefore + (cpuNow() - cpuStart);
        wall = wallBefore + static_cast<double>(steadyNow() - wallStart) * 1e-9;
    };
    if (resuming) {
        progress.evaluations = restored.evaluations;
        progress.best = restored.progressBest;
    }

    Checkpoint current;
    current.model = model->number;
    current.seed = fit.seed;
    current.objective = fit.objective;
    current.start = startVector.start;
    current.steps = startVector.deltas;
    bool checkpointFailed = false;
    ScheduleOptions options;
    options.seed = fit.seed;
    options.trace = fit.tracePath.empty() ? nullptr : &trace;
    options.onCall = onCall;
    options.resumeFrom = resuming ? &restored.state : nullptr;
    options.stopRequested = [&checkpointFailed] {
        return checkpointFailed || stopRequestSignal() != 0;
    };
    options.onState = [&](const ScheduleState& state) {
        current.state = state;
        current.evaluations = progress.evaluations;
        current.progressBest = progress.best;
        totals(current.cpuSeconds, current.wallSeconds);
        current.logBytes = syncedLength(log, logPath);
        current.traceBytes = fit.tracePath.empty() ? -1 : syncedLength(trace, fit.tracePath);
        if (current.logBytes < 0 || (!fit.tracePath.empty() && current.traceBytes < 0)) {
            error = "cannot write the log or the trace";
            checkpointFailed = true;
        } else if (!writeAtomically(fit.checkpointPath, formatCheckpoint(current), error)) {
            checkpointFailed = true;
        }
    };

    FitOutput output;
    output.out = &log;
    output.err = &err;
    output.resultName = resultName;
    output.existingResult = fit.redo ? ExistingFile::replace : ExistingFile::keep;
    output.startLabel = fit.startPath;
    // The fit's own sink; the models' diagnostics go to its log.
    FailureSink failures;
    SimulationContext simulation;
    simulation.diagnostics = &log;
    const ModelContext context = data.models(&failures, simulation);
    const BoundObjective bound{&context, model, fit.objective};
    output.objective = stoppingObjective(countingObjective(bound, &progress));
    output.failures = &failures;
    // The record of the whole fit: evaluations and times run over every part of it.
    output.onResult = [&](const FitResult& result, const StartVector& startVector,
                          std::string& recordError) {
        FitRecord record = newFitRecord(*model, startVector.start, startVector.deltas, &data);
        record.point = result.bestPoint;
        record.value = result.bestValue;
        record.seed = fit.seed;
        record.objective = fit.objective;
        record.evaluations = progress.evaluations;
        totals(record.cpuSeconds, record.wallSeconds);
        return writeFitRecord(resultName, record, recordError);
    };
    output.acceptResult = penaltyRefusal(data, *model);
    int status = runFit(fit.modelArgument.c_str(), fit.startPath, options, output);
    log.flush();
    trace.flush();
    outcome.evaluations = progress.evaluations;
    totals(outcome.cpuSeconds, outcome.wallSeconds);

    if (checkpointFailed) {
        err << "zonetool fit: cannot save the checkpoint: " << error << ". Exiting (1)\n";
        status = 1;
    } else if (status == resumableStopStatus) {
        err << "zonetool fit: stopped by " << signalName(stopRequestSignal())
            << "; run the same command again to resume from " << fit.checkpointPath
            << ". Exiting (75)\n";
        if (fit.requeue) {
            requeueStoppedJob(err);
        }
    } else if (status == 0) {
        std::remove(fit.checkpointPath.c_str());
    }
    outcome.status = status;
    return outcome;
}
