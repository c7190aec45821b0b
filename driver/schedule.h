// The fixed four-stage annealing schedule, its console reports and the result file.
#pragma once

#include "data/failure_sink.h"
#include "optimiser/amebsa.h"
#include "optimiser/nr3.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// The function a schedule minimises: a model's objective, or one bound to a tool's context.
using FitObjective = std::function<double(const NRvector<double>&)>;

// One finished call of anneal, as the trace and progress displays see it.
struct AnnealCall {
    int stage;                     // 1 to 4
    int cycle;                     // cycle within the stage, from 1
    int call;                      // anneal call within the cycle, from 1
    double temperature;            // temperature of the call
    int evaluations;               // objective evaluations made during the call
    bool converged;                // what anneal returned
    double bestValue;              // the annealer object's best value after the call
    std::vector<double> bestPoint; // and the trial that gave it
};

// Where the schedule stands after a finished anneal call: enough to continue it exactly, since
// every later call depends only on this annealer (each new annealer is built from the simplex
// of the one before it).
struct ScheduleState {
    int stage = 1;            // 1 to 4
    int cycle = 1;            // within the stage, from 1
    int call = 1;             // within the cycle, from 1
    double temperature = 0.0; // of that call
    bool converged = false;   // what that call returned
    Amebsa<ObjectiveFunction>::State annealer;
};

// Exit status of a fit that was stopped on request and can be resumed from its last saved state.
constexpr int resumableStopStatus = 75;

// How a schedule is run beyond its fixed settings.
struct ScheduleOptions {
    // Seed of every annealer's generator; the clock (as each annealer is built) when empty.
    std::optional<std::uint64_t> seed;
    // Receives one tab-separated line per anneal call when set.
    std::ostream* trace = nullptr;
    // Called after every anneal call when set.
    std::function<void(const AnnealCall&)> onCall;
    // Continue from this state instead of starting from the start vector when set.
    const ScheduleState* resumeFrom = nullptr;
    // Called after every anneal call (after its trace line and onCall) when set.
    std::function<void(const ScheduleState&)> onState;
    // Asked after every anneal call, before anything about it is written, when set: true ends
    // the schedule at once with FitResult::stopped, the unfinished call being abandoned.
    std::function<bool()> stopRequested;
};

// The best point and value of the last cycle of the last stage, or why the fit stopped.
struct FitResult {
    std::vector<double> bestPoint;
    double bestValue = 0.0;
    // The failure an objective reported (data/failure_sink.h), empty when the fit ran to its
    // end; the point and value are then unset.
    std::string failure;
    bool stopped = false; // ended by stopRequested; the point and value mean nothing then
};

// Runs stages 1 to 4 from the start vector and step sizes (equal lengths, at least 1), or
// the rest of them from options.resumeFrom (whose sizes must agree), writing the "Temporary
// Max::" and "Refining has found:" reports to `out`. `failures` is the sink the objective
// reports its failures to; the schedule clears it first. After the first failure the objective
// is not called again, the anneal call under way runs out on a constant value, and the schedule
// stops with the failure before any further trace line, report or call.
FitResult runSchedule(const FitObjective& objective, FailureSink& failures,
                      const std::vector<double>& start, const std::vector<double>& deltas,
                      std::ostream& out, const ScheduleOptions& options);

// Whether `state` can continue a schedule over `dimension` parameters: a stage and cycle the
// schedule has, a call from 1, sizes that agree and a generator state other than 0.
bool validScheduleState(const ScheduleState& state, int dimension);

// The result line: each coordinate followed by a blank, then the value and a line end, at 8
// significant digits.
std::string resultLine(const FitResult& result);

// Checks, before a fit, that the result file `name` in the working directory can be written:
// the directory takes new files and an existing file of that name is a writable regular file.
// On failure returns false with the reason in `error`.
bool checkResultWritable(const std::string& name, std::string& error);

// What the final rename of writeResultFile does when a file of that name exists by then.
enum class ExistingFile {
    replace, // replaces it
    keep     // leaves it alone: the new content goes to NAME.new-PID instead (PID this
             // process's id), and the write fails
};

// Writes `content` to a temporary file beside `name` and renames it over `name`, so that an
// earlier result stays whole until the new one is complete. On failure the temporary file is
// removed, `name` is untouched, and the reason is in `error`.
// `beforeRename`, when set, is called once the temporary file is complete and synced (a test
// pauses there to stop the process in the middle of a write).
// With ExistingFile::keep, a file that appeared at `name` in the meantime is not replaced (the
// rename that checks this is atomic): the content is kept under the side name, which is stored
// in `keptAs` when given, and `error` says where ("NAME appeared in the meantime; ..."). A file
// that holds exactly `content` already counts as written.
bool writeResultFile(const std::string& name, const std::string& content, std::string& error,
                     const std::function<void()>& beforeRename = nullptr,
                     ExistingFile existing = ExistingFile::replace, std::string* keptAs = nullptr);
