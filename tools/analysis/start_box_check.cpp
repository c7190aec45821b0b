#include "tools/analysis/start_box_check.h"

#include "driver/start_file.h"
#include "tools/formats/data_option.h"

#include <cstdio>
#include <cstdlib>

namespace {

// The value with 6 significant digits, as the boxes print their bounds, or with as many more
// as it takes to read back as the value, so that a value just outside a bound is never
// printed as the bound itself.
std::string valueText(double value) {
    char text[40];
    for (int digits = 6; digits <= 17; digits++) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) {
            break;
        }
    }
    return text;
}

std::string boxesInForce(const DataContext& data) {
    if (!data.path.empty()) {
        return " for this transect";
    }
    if (!data.boxOptions.empty()) {
        return " set by --box";
    }
    return "";
}

} // namespace

int firstOutsideBox(const DataContext& data, const ModelEntry& model,
                    const std::vector<double>& point) {
    const ModelBox& box = data.box(model.number);
    for (int j = 0; j < box.parameterCount && static_cast<std::size_t>(j) < point.size(); j++) {
        if (!insideBox(box.parameters[j], point[static_cast<std::size_t>(j)])) {
            return j;
        }
    }
    return -1;
}

std::string startBoxProblem(const DataContext& data, const std::string& file,
                            const ModelEntry& model, const std::vector<double>& point,
                            const std::string& advice) {
    const int j = firstOutsideBox(data, model, point);
    if (j < 0) {
        return "";
    }
    const ParameterInfo& p = data.box(model.number).parameters[j];
    return file + ": " + p.name + " = " + valueText(point[static_cast<std::size_t>(j)]) +
           " lies outside its box " + boxText(p) + boxesInForce(data) + "; " + advice;
}

std::string startFileAdvice(const ModelEntry& model, bool startGiven) {
    const std::string n = std::to_string(model.number);
    return "run 'zonetool explore " + n + "' (or 'zonetool start " + n +
           "') for a start inside it" + (startGiven ? "" : ", or give --start FILE");
}

std::string profileBoxAdvice(const ModelEntry& model) {
    return "profile a fit of model " + std::to_string(model.number) +
           " made with the same --data and --box";
}

std::string startFileBoxProblem(const DataContext& data, const std::string& path,
                                const ModelEntry& model, bool startGiven) {
    StartVector start;
    if (readStartFile(path, start) != StartFileStatus::ok) {
        return "";
    }
    return startBoxProblem(data, path, model, start.start, startFileAdvice(model, startGiven));
}
