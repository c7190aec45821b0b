// The zonefit program: one fit of one model, from the start-vector file to the result file.
#pragma once

#include "driver/schedule.h"
#include "driver/start_file.h"

#include <functional>

#include <ostream>
#include <string>

// Largest start vector the driver accepts: its simplex of (n + 1) x n doubles stays below
// about 1 GiB.
constexpr int maxStartValues = 11000;

// Where one fit writes, for tools that run several fits in one process, each on its own
// thread. The defaults are those of the zonefit program.
struct FitOutput {
    std::ostream* out = nullptr; // banner and reports; standard output when null
    std::ostream* err = nullptr; // messages; standard error when null
    std::string resultName;      // result file; the model's prefix when empty
    // Whether the result file replaces one of its name that appeared while the fit ran (the
    // zonefit program replaces it; a tool that checked the name beforehand keeps it).
    ExistingFile existingResult = ExistingFile::replace;
    // Put with ": " before each message about the start-vector file (a tool names the file
    // this way); zonefit's own messages name none.
    std::string startLabel;
    // Called in place of the model's objective when set, reporting its failures to `failures`
    // (which must then be set too); it must return the same values for the same data (a tool
    // binds its transect and boxes and counts evaluations this way).
    FitObjective objective;
    FailureSink* failures = nullptr;
    // Called right after the result file is written, with the fit's full-precision result and
    // the start vector and steps it began from: a tool writes its own files beside the result
    // this way. When it returns false, its reason (in `error`) is written and the fit ends
    // with status 1.
    std::function<bool(const FitResult& result, const StartVector& startVector, std::string& error)>
        onResult;
    // Called before the result file is written: when it returns false, its reason (in
    // `error`) is written and the fit ends with status 1, nothing written. zonefit writes
    // whatever its fit found; a tool may refuse a fit that found nothing.
    std::function<bool(const FitResult& result, std::string& error)> acceptResult;
};

// Runs one fit. `argument` is the model argument as typed (null when missing); `startPath` is
// the start-vector file to read. Returns the exit status: 0 after the result file is written,
// 1 after an input or output failure, whose message has been written, resumableStopStatus
// when options.stopRequested ended the schedule (no result file is written then).
int runFit(const char* argument, const std::string& startPath, const ScheduleOptions& options);
int runFit(const char* argument, const std::string& startPath, const ScheduleOptions& options,
           const FitOutput& output);

// The whole zonefit program: runFit on argument 1 and the start-vector file it names.
int zonefitMain(int argc, char** argv);
