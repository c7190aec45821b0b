#include "tools/analysis/failed_fit.h"

#include "tools/formats/cli.h"

#include <cmath>

namespace {

// 8 significant digits; "nan" whatever the sign bit of a NaN.
std::string valueText(double value) {
    return std::isnan(value) ? "nan" : formatNumber(value, 8);
}

} // namespace

std::function<bool(const FitResult& result, std::string& error)>
penaltyRefusal(const DataContext& data, const ModelEntry& model) {
    const ModelEntry* entry = &model; // a row of the model table, which lives for good
    const DataContext* boxes = &data;
    return [entry, boxes](const FitResult& result, std::string& error) {
        if (!failedFitValue(*boxes, *entry, result.bestValue)) {
            return true;
        }
        error = "zonetool fit: model " + std::to_string(entry->number) + " (" + entry->name +
                ") found no fit: its best value, " + valueText(result.bestValue) +
                ", is a penalty (no point tried was simulated inside the box, or every "
                "simulation failed); nothing written";
        return false;
    };
}

bool failedFitValue(const DataContext& data, const ModelEntry& model, double value) {
    return isPenalty(data.box(model.number), value);
}

std::string failedFitText(const std::string& path, double value) {
    return path + " holds a failed fit (its value, " + valueText(value) +
           ", is a penalty, not a -lnL)";
}
