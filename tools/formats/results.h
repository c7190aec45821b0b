// Result files of fits: their names, their one line, and finding them in a directory.
#pragma once

#include "models/model_table.h"
#include "models/objective_kind.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What one result file holds.
struct StoredResult {
    int model = 0;                     // model number
    std::optional<std::uint64_t> seed; // from the file name, when it names one
    std::string path;                  // where it was read
    std::vector<double> point;         // the fitted coordinates (at least the model's count)
    double value = 0.0;                // the negative log-likelihood (or penalty) at the point
    std::vector<bool> free;            // per coordinate, whether it was fitted (its step not 0),
                                       // from the fit record; empty when unknown
    ObjectiveKind objective = ObjectiveKind::zonefit; // the value minimised (the record's)
};

// The result file of `model`: its prefix (the name zonefit writes), or, for one of several
// seeds, the prefix followed by "seed" and the seed, as in SS1_ML_seed3.
std::string resultFileName(const ModelEntry& model, const std::optional<std::uint64_t>& seed);

// Reads a file name back into model and seed; names of fits from an explored optimum
// (SS1_ML_opt2, SS1_ML_opt2seed3) count as fits of their model too. False for any other name
// (logs, temporary files and the like).
bool parseResultName(const std::string& name, int& model, std::optional<std::uint64_t>& seed);

// The numbers on the one line of the result file at `path` (trailing blank lines allowed). On
// failure returns false with a one-line reason in `error`.
bool readResultNumbers(const std::string& path, std::vector<double>& numbers, std::string& error);

// Reads the result file at `path` for `model`: one line of numbers, the coordinates then the
// value, at least parameterCount + 1 numbers; trailing blank lines are allowed. On failure
// returns false with a one-line reason in `error`.
bool readResultFile(const std::string& path, const ModelEntry& model, StoredResult& result,
                    std::string& error);

// The names in directory `dir` in byte order ("." and ".." included). False, with the reason
// in `problems`, when the directory cannot be listed.
bool directoryNames(const std::string& dir, std::vector<std::string>& names,
                    std::vector<std::string>& problems);

// Every result file in `dir`, in the order of model number, then unseeded before seeded, then
// seed. Files that cannot be read are left out, with one line each in `problems`. Returns
// false, with the reason in `problems`, when the directory cannot be listed.
bool findResults(const std::string& dir, std::vector<StoredResult>& found,
                 std::vector<std::string>& problems);
