// The zonefit program: one fit of one model, from the start-vector file to the result file.
#pragma once

#include "driver/schedule.h"

#include <string>

// Largest start vector the driver accepts: its simplex of (n + 1) x n doubles stays below
// about 1 GiB.
constexpr int maxStartValues = 11000;

// Runs one fit. `argument` is the model argument as typed (null when missing); `startPath` is
// the start-vector file to read. Returns the exit status: 0 after the result file is written,
// 1 after an input or output failure, whose message has been written.
int runFit(const char* argument, const std::string& startPath, const ScheduleOptions& options);

// The whole zonefit program: runFit on argument 1 and the start-vector file it names.
int zonefitMain(int argc, char** argv);
