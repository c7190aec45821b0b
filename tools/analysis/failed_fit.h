// Fits that found nothing: a best value that is a penalty (models/boxes.h isPenalty) is no
// -lnL. The fit commands refuse to write one; the commands that read results leave one out.
#pragma once

#include "driver/schedule.h"
#include "models/model_table.h"
#include "tools/formats/data_option.h"

#include <functional>
#include <string>

// What the fit commands give FitOutput::acceptResult for `model`: it refuses a result whose
// best value is a penalty in the box of `data` (which must outlive the function), with the reason
//   "zonetool fit: model N (NAME) found no fit: its best value, V, is a penalty (no point
//    tried was simulated inside the box, or every simulation failed); nothing written"
// (one line), V at 8 significant digits ("inf", "nan" when not finite).
std::function<bool(const FitResult& result, std::string& error)>
penaltyRefusal(const DataContext& data, const ModelEntry& model);

// Whether `value`, read for a fit of `model`, is a penalty in the box of `data`.
bool failedFitValue(const DataContext& data, const ModelEntry& model, double value);

// "PATH holds a failed fit (its value, V, is a penalty, not a -lnL)", V as above: the start of
// the warning or refusal of the commands that read results.
std::string failedFitText(const std::string& path, double value);
