// The fit record RESULT.json: everything about one finished fit at full precision, written
// beside its 8-digit result file.
#pragma once

#include "driver/zonefit_main.h"
#include "models/model_table.h"
#include "models/objective_kind.h"
#include "tools/formats/data_option.h"
#include "tools/formats/fit_record_json.h"

#include <atomic>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The record's file name: the result file's name followed by ".json".
std::string recordFileName(const std::string& resultName);

// The version this program was built from: `git describe --always --dirty` of the source tree
// at configure time, or a plain version number when the source is no git checkout.
std::string programVersion();

// The command line stored in new records; zonetool sets it once at start.

// A record for `model`, with names, start, steps and free flags filled in from the arguments,
// the program version and command line from this process, and the --data file and its
// checksum from `data` (null: the built-in transect, none named).
FitRecord newFitRecord(const ModelEntry& model, const std::vector<double>& start,
                       const std::vector<double>& steps, const DataContext* data = nullptr);

// Free parameters of a model of `parameterCount` parameters: those among its first
// `parameterCount` coordinates whose flag in `free` is set (all of them when `free` is empty).
int freeParameterCount(const std::vector<bool>& free, int parameterCount);

// Writes `record` to recordFileName(resultName) as the result file is written: a temporary
// file, flushed to disk, renamed over the old record. On failure returns false with the reason.
bool writeFitRecord(const std::string& resultName, const FitRecord& record, std::string& error);

// The result hook of a fit of `model` into `resultName` with `seed` under `objective`: it writes
// the record,
// with the evaluations counted in `evaluations` (which must outlive the fit) and the CPU time
// of the calling thread and wall time since this call, and the data of `data` (which must
// outlive the fit). Make it on the thread that runs the fit.
std::function<bool(const FitResult&, const StartVector&, std::string&)>
recordWriter(const DataContext& data, const ModelEntry& model, const std::string& resultName,
             const std::optional<std::uint64_t>& seed, const std::atomic<long>& evaluations,
             ObjectiveKind objective = ObjectiveKind::zonefit);

// Seconds of CPU time used by the calling thread so far.
double threadCpuSeconds();
