// Reading a finished fit back for a command: the result file, checked against its fit record
// or against the model itself, so that no command shows a value its point does not have.
#pragma once

#include "models/model_table.h"
#include "models/objective_kind.h"
#include "population/population.h"
#include "tools/formats/data_option.h"
#include "tools/formats/fit_record.h"
#include "tools/formats/results.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// A fit as the commands use it.
struct LoadedFit {
    StoredResult result;               // model, seed, path; point and value as used (see below)
    double fileValue = 0.0;            // the value written in the result file, 8 digits
    std::optional<FitRecord> record;   // the fit record, when present and agreeing
    bool evaluated = false;            // the point was evaluated while loading
    std::vector<Genotype> predictions; // predicted frequencies at the sites, when evaluated
                                       // and asked for (empty for a penalty)
    int generations = 0;               // of that evaluation's simulation (0 for none)
    SettledReport state;               // of that evaluation, when it was a settled one
};

// `value` rounded to the 8 significant digits of a result line.
double roundedToResultDigits(double value);

// Loads the fit in the result file `path` for `model`. With an agreeing record (RESULT.json
// whose point and value round to the file's numbers) the point and value are the record's,
// at full precision; a record that does not agree is ignored with a warning. Without a
// record the file's point is evaluated once, and when its value differs from the file's by
// more than the file's rounding a warning names the file and both values; the value at the
// point is the one kept. With `keepPredictions` the point is evaluated in any case and the
// predicted frequencies kept. The file is refused (false, with a reason naming it in
// `error`) when it cannot be read, its count of numbers is not the model's parameters plus
// one (or the record's point plus one), its record is malformed or names another model, or
// the model is not available; models 3 to 6 also need a good borders.txt. Warnings are
// appended to `warnings`, one line each, without a line end. The fit's objective is its
// record's (zonefit for a record without one); a result file without a record is taken as a
// fit of `withoutRecord`. Every evaluation is made under the fit's objective.
// The point is evaluated on the transect and boxes of `data`, its diagnostics going to
// `diagnostics` (null: standard output).
bool loadFit(const DataContext& data, const std::string& path, const ModelEntry& model,
             bool keepPredictions, LoadedFit& fit, std::string& error,
             std::vector<std::string>& warnings,
             ObjectiveKind withoutRecord = ObjectiveKind::zonefit,
             std::ostream* diagnostics = nullptr);

// A result file found by name in a directory.
struct FoundResult {
    std::string path;
    int model = 0;
    std::optional<std::uint64_t> seed;
};

// The result files in `dirs` (and, with `recursive`, in every directory below them; links to
// directories are not followed), by directory in the order given, then by name. Returns
// false, with one line per directory in `problems`, when a directory given cannot be read;
// unreadable directories below are reported in `problems` and skipped.
bool findResultFiles(const std::vector<std::string>& dirs, bool recursive,
                     std::vector<FoundResult>& found, std::vector<std::string>& problems);
