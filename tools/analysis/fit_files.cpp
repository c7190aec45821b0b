#include "tools/analysis/fit_files.h"

#include "data/borders.h"
#include "population/simulation_report.h"
#include "tools/analysis/point_evaluation.h"
#include "tools/formats/cli.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

bool fileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string modelText(const ModelEntry& model) {
    return "model " + std::to_string(model.number) + " (" + model.name + ")";
}

// Whether the record's point and value round to the file's numbers.
bool recordAgrees(const FitRecord& record, const std::vector<double>& numbers) {
    if (numbers.size() != record.point.size() + 1) {
        return false;
    }
    for (std::size_t j = 0; j < record.point.size(); j++) {
        if (roundedToResultDigits(record.point[j]) != numbers[j]) {
            return false;
        }
    }
    return roundedToResultDigits(record.value) == numbers.back();
}

} // namespace

double roundedToResultDigits(double value) {
    return std::strtod(formatNumber(value, 8).c_str(), nullptr);
}

bool loadFit(const DataContext& data, const std::string& path, const ModelEntry& model,
             bool keepPredictions, LoadedFit& fit, std::string& error,
             std::vector<std::string>& warnings, ObjectiveKind withoutRecord,
             std::ostream* diagnostics) {
    fit = LoadedFit();
    std::vector<double> numbers;
    if (!readResultNumbers(path, numbers, error)) {
        return false;
    }
    const std::string recordPath = recordFileName(path);
    if (fileExists(recordPath)) {
        FitRecord record;
        if (!readFitRecord(recordPath, record, error)) {
            return false;
        }
        if (record.model != model.number) {
            const ModelEntry* other = findModel(record.model);
            error = recordPath + ": the record is of " + modelText(*other) + ", but " + path +
                    " is read as a result of " + modelText(model);
            return false;
        }
        if (recordAgrees(record, numbers) &&
            record.point.size() >= static_cast<std::size_t>(model.parameterCount)) {
            fit.record = record;
        } else {
            warnings.push_back("warning: " + recordPath + " does not match " + path +
                               " (the record of another fit?); it is ignored");
        }
    }
    const std::size_t needed = fit.record ? fit.record->point.size() + 1
                                          : static_cast<std::size_t>(model.parameterCount) + 1;
    if (numbers.size() != needed) {
        error = path + ": holds " + std::to_string(numbers.size()) + " numbers; " +
                modelText(model) + " needs " + std::to_string(model.parameterCount) +
                " coordinates and the value";
        return false;
    }
    fit.result.model = model.number;
    fit.result.path = path;
    fit.fileValue = numbers.back();
    fit.result.objective = fit.record ? fit.record->objective : withoutRecord;
    if (fit.record) {
        fit.result.point = fit.record->point;
        fit.result.value = fit.record->value;
        fit.result.seed = fit.record->seed;
        // A step of 0 does not pin a coordinate for good: the rounding of the simplex moves
        // can give it width, which later steps widen. A coordinate counts as held fixed only
        // when its step was 0 and it ends where it started.
        for (std::size_t j = 0; j < fit.record->free.size(); j++) {
            fit.result.free.push_back(fit.record->free[j] ||
                                      fit.record->point[j] != fit.record->start[j]);
        }
        if (!keepPredictions) {
            return true;
        }
    } else {
        fit.result.value = numbers.back();
        numbers.pop_back();
        fit.result.point = numbers;
    }

    if (model.objective == nullptr) {
        error = path + ": " + modelText(model) + " is not available in this build";
        return false;
    }
    if (model.borders == BorderSource::borderFile) {
        Borders borders;
        if (!readBorders(borderFileName, data.data().siteCount(), borders, error)) {
            return false;
        }
    }
    SimulationReport report;
    report.keepPredictions = keepPredictions;
    double value = 0.0;
    if (!evaluateRecorded(data, model, fit.result.point, fit.result.objective, report, fit.state,
                          value, error, diagnostics)) {
        return false;
    }
    fit.evaluated = true;
    fit.generations = report.runs > 0 ? report.generations : 0;
    if (report.runs > 0) {
        fit.predictions = report.predictions;
    }
    if (fit.record) {
        // Same point, same program: the same value, unless the model itself has changed.
        if (value != fit.record->value) {
            warnings.push_back("warning: " + recordPath + " records " +
                               format17(fit.record->value) + ", but its point evaluates to " +
                               format17(value) + " in this build; the value at the point is used");
        }
    } else if (roundedToResultDigits(value) != fit.fileValue) {
        warnings.push_back("warning: " + path + " gives " + formatNumber(fit.fileValue, 8) +
                           ", but its point evaluates to " + format17(value) +
                           "; the value at the point is used");
    }
    fit.result.value = value;
    return true;
}

namespace {

bool listDirectory(const std::string& dir, bool recursive, std::vector<FoundResult>& found,
                   std::vector<std::string>& problems) {
    std::vector<std::string> names;
    if (!directoryNames(dir, names, problems)) {
        return false;
    }
    std::vector<std::string> below;
    for (const std::string& name : names) {
        if (name == "." || name == "..") {
            continue;
        }
        const std::string path = dir == "." ? name : dir + "/" + name;
        FoundResult result;
        if (parseResultName(name, result.model, result.seed)) {
            struct stat info;
            if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
                result.path = path;
                found.push_back(result);
            }
            continue;
        }
        struct stat info;
        if (recursive && lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            below.push_back(path);
        }
    }
    for (const std::string& path : below) {
        listDirectory(path, recursive, found, problems);
    }
    return true;
}

} // namespace

bool findResultFiles(const std::vector<std::string>& dirs, bool recursive,
                     std::vector<FoundResult>& found, std::vector<std::string>& problems) {
    found.clear();
    bool ok = true;
    for (const std::string& dir : dirs) {
        std::string trimmed = dir;
        while (trimmed.size() > 1 && trimmed.back() == '/') {
            trimmed.pop_back();
        }
        if (!listDirectory(trimmed, recursive, found, problems)) {
            ok = false;
        }
    }
    return ok;
}
