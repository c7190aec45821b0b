// One side of one parameter's profile kept in a file, so that the sides can be computed by
// separate jobs and assembled into the table of the whole profile afterwards.
#pragma once

#include "models/model_table.h"
#include "tools/formats/profile_types.h"

#include <string>
#include <vector>

// The file of one side of `parameter`, for the fit in result file `resultPath`: beside the
// result file, "profile-RESULT-PARAMETER-SIDE.tsv" (SIDE lower or upper).
std::string profilePartName(const std::string& resultPath, const std::string& parameter, int side);

// The text of a side's file: tab-separated "key value" lines holding the model, the result
// file, the settings the limit depends on, the value at the estimate, the lowest value met and
// its point, the evaluations and the limit itself, numbers with 17 digits. `outcome` holds one
// parameter, searched on `side` (-1 lower, +1 upper) only.
std::string profilePartText(const ModelEntry& model, const std::string& resultPath,
                            const ProfileSettings& settings, const ProfileOutcome& outcome,
                            int side);

// Writes `text` to `path` atomically. Refuses, with the reason in `error`, when `path` exists.
bool writeProfilePart(const std::string& path, const std::string& text, std::string& error);

// The profile of `indices` of `model` assembled from the files of both sides of each, as
// profileLikelihood would have returned it in one run: evaluations added (the estimate's
// counted once), the lowest value the first lowest met in the order of parameters and sides.
// Each file must have been computed for the same model, result file, estimate value, units
// and first step; otherwise returns false with the file and the reason in `error`.
bool collectProfile(const ModelEntry& model, const std::string& resultPath,
                    const std::vector<int>& indices, const ProfileSettings& settings,
                    ProfileOutcome& outcome, std::string& error);
