#include "tools/analysis/checkpointed_fit.h"

#include "driver/signals.h"
#include "driver/start_file.h"
#include "driver/zonefit_main.h"
#include "models/model_table.h"
#include "tools/analysis/checkpoint.h"
#include "tools/analysis/failed_fit.h"
#include "tools/analysis/fit_objective.h"
#include "tools/formats/fit_record.h"
#include "tools/formats/whole_file.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

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
bool belongsHere(const Checkpoint& c, const FitDescription& fit, int model,
                 const StartVector& startVector, std::string& error) {
    const std::string& path = fit.files.checkpoint;
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

namespace {

// What the checkpoint file of a fit says about its start.
enum class Restore {
    fresh,   // no checkpoint: the fit starts afresh
    resume,  // the checkpoint continues this fit
    refused, // the checkpoint cannot be used; the reason has been written
};

// Reads the checkpoint of `fit`, when there is one, into `restored` and checks that it continues
// this very fit (model `model`, start vector `startVector`); says on `err` why not otherwise.
Restore restoreCheckpoint(const FitDescription& fit, int model, const StartVector& startVector,
                          Checkpoint& restored, std::ostream& err) {
    const std::string& path = fit.files.checkpoint;
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        return Restore::fresh;
    }
    std::string text;
    if (!readWholeFile(path, text)) {
        err << "zonetool fit: cannot read the checkpoint " << path << ": " << std::strerror(errno)
            << "\n";
        return Restore::refused;
    }
    const std::string head = std::string(checkpointMagic) + " ";
    if (text.compare(0, head.size(), head) != 0) {
        err << "zonetool fit: " << path
            << " is not a zonetool checkpoint; it is left as it is (remove it or name "
               "another file)\n";
        return Restore::refused;
    }
    const int format = std::atoi(text.c_str() + head.size());
    if (format != checkpointFormat) {
        err << "zonetool fit: " << path << " is a checkpoint of format " << format
            << "; this zonetool reads format " << checkpointFormat
            << " only. It is left as it is\n";
        return Restore::refused;
    }
    std::string error;
    if (!parseCheckpoint(text, restored, error)) {
        err << "zonetool fit: " << path << " is truncated or damaged (" << error
            << "); it is left as it is. Remove it to start the fit afresh\n";
        return Restore::refused;
    }
    if (!belongsHere(restored, fit, model, startVector, error)) {
        err << "zonetool fit: " << error << ". It is left as it is\n";
        return Restore::refused;
    }
    if ((restored.traceBytes >= 0) != !fit.files.trace.empty()) {
        err << "zonetool fit: " << path << " is a checkpoint of a fit "
            << (fit.files.trace.empty() ? "with" : "without")
            << " --trace; give the same options to resume it\n";
        return Restore::refused;
    }
    return Restore::resume;
}

// Opens the log and the trace of `fit`: cut back to the lengths the checkpoint records when
// resuming (`restored` non-null), afresh otherwise, the log then starting with the seed line.
bool openLogAndTrace(const FitDescription& fit, const Checkpoint* restored, std::ofstream& log,
                     std::ofstream& trace, std::ostream& err) {
    std::string error;
    if (!openContinued(log, fit.files.log, restored ? restored->logBytes : -1, fit.files.checkpoint,
                       error) ||
        (!fit.files.trace.empty() &&
         !openContinued(trace, fit.files.trace, restored ? restored->traceBytes : -1,
                        fit.files.checkpoint, error))) {
        err << "zonetool fit: " << error << "\n";
        return false;
    }
    if (restored == nullptr) {
        log << seedLine(fit.seed) << objectiveLine(fit.objective);
    }
    return true;
}

// CPU and wall time of a fit over every part of it: those of the parts before the checkpoint
// it resumed from, plus those since this part started.
class FitClock {
  public:
    explicit FitClock(const Checkpoint* restored)
        : cpuBefore_(restored ? restored->cpuSeconds : 0.0),
          wallBefore_(restored ? restored->wallSeconds : 0.0) {}

    void totals(double& cpu, double& wall) const {
        cpu = cpuBefore_ + (cpuNow() - cpuStart_);
        wall = wallBefore_ + static_cast<double>(steadyNow() - wallStart_) * 1e-9;
    }

  private:
    double cpuStart_ = cpuNow();
    std::int64_t wallStart_ = steadyNow();
    double cpuBefore_;
    double wallBefore_;
};

// Saves the checkpoint of a fit after every anneal call, with the log and trace synced to the
// disk first, so that the lengths it records are there. After a failure the fit stops.
class CheckpointSaver {
  public:
    CheckpointSaver(const FitDescription& fit, int model, const StartVector& startVector,
                    const FitProgress& progress, const FitClock& clock, std::ofstream& log,
                    std::ofstream& trace)
        : fit_(fit), progress_(progress), clock_(clock), log_(log), trace_(trace) {
        current_.model = model;
        current_.seed = fit.seed;
        current_.objective = fit.objective;
        current_.start = startVector.start;
        current_.steps = startVector.deltas;
    }

    void save(const ScheduleState& state) {
        current_.state = state;
        current_.evaluations = progress_.evaluations;
        current_.progressBest = progress_.best;
        clock_.totals(current_.cpuSeconds, current_.wallSeconds);
        current_.logBytes = syncedLength(log_, fit_.files.log);
        current_.traceBytes =
            fit_.files.trace.empty() ? -1 : syncedLength(trace_, fit_.files.trace);
        if (current_.logBytes < 0 || (!fit_.files.trace.empty() && current_.traceBytes < 0)) {
            error_ = "cannot write the log or the trace";
            failed_ = true;
        } else if (!writeAtomically(fit_.files.checkpoint, formatCheckpoint(current_), error_)) {
            failed_ = true;
        }
    }

    bool failed() const { return failed_; }
    const std::string& error() const { return error_; }

  private:
    const FitDescription& fit_;
    const FitProgress& progress_;
    const FitClock& clock_;
    std::ofstream& log_;
    std::ofstream& trace_;
    Checkpoint current_;
    bool failed_ = false;
    std::string error_;
};

// Where the fit writes: reports to the log, messages to `err`, and the record of the whole fit,
// whose evaluations and times run over every part of it. It minimises `objective`, whose
// failures go to `failures`.
FitOutput checkpointedOutput(const FitDescription& fit, const ModelEntry& model,
                             const FitObjective& objective, FailureSink& failures,
                             const FitProgress& progress, const FitClock& clock, std::ofstream& log,
                             std::ostream& err) {
    FitOutput output;
    output.out = &log;
    output.err = &err;
    output.resultName = fit.files.result;
    output.existingResult = fit.redo ? ExistingFile::replace : ExistingFile::keep;
    output.startLabel = fit.startPath;
    output.objective = stoppingObjective(objective);
    output.failures = &failures;
    output.onResult = [&fit, &model, &progress, &clock](const FitResult& result,
                                                        const StartVector& startVector,
                                                        std::string& recordError) {
        FitRecord record =
            newFitRecord(model, startVector.start, startVector.deltas, &fitData(fit));
        record.point = result.bestPoint;
        record.value = result.bestValue;
        record.seed = fit.seed;
        record.objective = fit.objective;
        record.evaluations = progress.evaluations;
        clock.totals(record.cpuSeconds, record.wallSeconds);
        return writeFitRecord(fit.files.result, record, recordError);
    };
    output.acceptResult = penaltyRefusal(fitData(fit), model);
    return output;
}

// Says how the fit ended, requeues a stopped Slurm job when asked and removes the checkpoint of
// a finished fit; returns the exit status.
int finishCheckpointedFit(const FitDescription& fit, int status, const CheckpointSaver& saver,
                          std::ostream& err) {
    if (saver.failed()) {
        err << "zonetool fit: cannot save the checkpoint: " << saver.error() << ". Exiting (1)\n";
        return 1;
    }
    if (status == resumableStopStatus) {
        err << "zonetool fit: stopped by " << signalName(stopRequestSignal())
            << "; run the same command again to resume from " << fit.files.checkpoint
            << ". Exiting (75)\n";
        if (fit.requeue) {
            requeueStoppedJob(err);
        }
    } else if (status == 0) {
        std::remove(fit.files.checkpoint.c_str());
    }
    return status;
}

} // namespace

CheckpointedOutcome runCheckpointedFit(const FitDescription& fit, FitProgress& progress,
                                       std::ostream& err,
                                       const std::function<void(const AnnealCall&)>& onCall) {
    CheckpointedOutcome outcome;
    // From the start, so that a stop during the preparations, too, ends with the checkpoint
    // untouched and the resumable status.
    std::optional<StopSignalGuard> guard;
    if (fit.ownSignalGuard) {
        guard.emplace(StopMode::request);
    }
    StartVector startVector;
    const std::string argument = fit.modelText();
    const ModelEntry* model = findModel(parseModelNumber(argument.c_str()));
    if (readStartFile(fit.startPath, startVector) != StartFileStatus::ok || model == nullptr ||
        model->objective == nullptr) {
        // Not a fit that can run: the plain path says why, in zonefit's words.
        FitOutput output;
        output.err = &err;
        output.startLabel = fit.startPath;
        outcome.status = runFit(argument.c_str(), fit.startPath, ScheduleOptions(), output);
        return outcome;
    }

    Checkpoint restored;
    const Restore restore = restoreCheckpoint(fit, model->number, startVector, restored, err);
    if (restore == Restore::refused) {
        return outcome;
    }
    const Checkpoint* resumeFrom = restore == Restore::resume ? &restored : nullptr;
    std::ofstream log;
    std::ofstream trace;
    if (!openLogAndTrace(fit, resumeFrom, log, trace, err)) {
        return outcome;
    }
    const FitClock clock(resumeFrom);
    if (resumeFrom != nullptr) {
        progress.evaluations = restored.evaluations;
        progress.best = restored.progressBest;
    }

    CheckpointSaver saver(fit, model->number, startVector, progress, clock, log, trace);
    ScheduleOptions options;
    options.seed = fit.seed;
    options.trace = fit.files.trace.empty() ? nullptr : &trace;
    options.onCall = onCall;
    options.resumeFrom = resumeFrom != nullptr ? &restored.state : nullptr;
    options.stopRequested = [&saver] { return saver.failed() || stopRequestSignal() != 0; };
    options.onState = [&saver](const ScheduleState& state) { saver.save(state); };
    // The fit's own sink; the models' diagnostics go to its log.
    FailureSink failures;
    SimulationContext simulation;
    simulation.diagnostics = &log;
    const ModelContext context = fitData(fit).models(&failures, simulation);
    const FitOutput output =
        checkpointedOutput(fit, *model, fitObjective(fit, *model, context, progress), failures,
                           progress, clock, log, err);
    const int status = runFit(argument.c_str(), fit.startPath, options, output);
    log.flush();
    trace.flush();
    outcome.evaluations = progress.evaluations;
    clock.totals(outcome.cpuSeconds, outcome.wallSeconds);
    outcome.status = finishCheckpointedFit(fit, status, saver, err);
    return outcome;
}
