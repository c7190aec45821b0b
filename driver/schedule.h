// The fixed four-stage annealing schedule, its console reports and the result file.
#pragma once

#include "optimiser/nr3.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// One finished call of anneal, as the trace and progress displays see it.
struct AnnealCall {
    int stage;          // 1 to 4
    int cycle;          // cycle within the stage, from 1
    int call;           // anneal call within the cycle, from 1
    double temperature; // temperature of the call
    int evaluations;    // objective evaluations made during the call
    bool converged;     // what anneal returned
    double bestValue;   // the annealer object's best value after the call
};

// How a schedule is run beyond its fixed settings.
struct ScheduleOptions {
    // Seed of every annealer's generator; the clock (as each annealer is built) when empty.
    std::optional<std::uint64_t> seed;
    // Receives one tab-separated line per anneal call when set.
    std::ostream* trace = nullptr;
    // Called after every anneal call when set.
    std::function<void(const AnnealCall&)> onCall;
};

// The best point and value of the last cycle of the last stage, or why the fit stopped.
struct FitResult {
    std::vector<double> bestPoint;
    double bestValue = 0.0;
    // The failure an objective reported (data/failure_sink.h), empty when the fit ran to its
    // end; the point and value are then unset.
    std::string failure;
};

// Runs stages 1 to 4 from the start vector and step sizes (equal lengths, at least 1),
// writing the "Temporary Max::" and "Refining has found:" reports to `out`. The objective's
// failures go to a sink of the schedule's own: after the first one the objective is not
// called again, the anneal call under way runs out on a constant value, and the schedule
// stops with the failure before any further trace line, report or call.
FitResult runSchedule(ObjectiveFunction& objective, const std::vector<double>& start,
                      const std::vector<double>& deltas, std::ostream& out,
                      const ScheduleOptions& options);

// The result line: each coordinate followed by a blank, then the value and a line end, at 8
// significant digits.
std::string resultLine(const FitResult& result);

// Checks, before a fit, that the result file `name` in the working directory can be written:
// the directory takes new files and an existing file of that name is a writable regular file.
// On failure returns false with the reason in `error`.
bool checkResultWritable(const std::string& name, std::string& error);

// Writes `content` to a temporary file beside `name` and renames it over `name`, so that an
// earlier result stays whole until the new one is complete. On failure the temporary file is
// removed, `name` is untouched, and the reason is in `error`.
bool writeResultFile(const std::string& name, const std::string& content, std::string& error);
