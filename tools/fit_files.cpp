#include "tools/fit_files.h"

#include "data/failure_sink.h"

#include "data/borders.h"
#include "population/simulation_report.h"
#include "tools/cli.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace {

// The numbers of a result file's one line (trailing blank lines allowed).
bool readNumbers(const std::string& path, std::vector<double>& numbers, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    std::string line;
    std::getline(in, line);
    std::string rest;
    while (std::getline(in, rest)) {
        if (rest.find_first_not_of(" \t\r") != std::string::npos) {
            error = path + ": holds more than one line";
            return false;
        }
    }
    std::istringstream words(line);
    std::string word;
    numbers.clear();
    while (words >> word) {
        double value = 0.0;
        if (!parseNumber(word, value)) {
            error = path + ": '" + word + "' is not a number";
            return false;
        }
        numbers.push_back(value);
    }
    return true;
}

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

bool loadFit(const std::string& path, const ModelEntry& model, bool keepPredictions, LoadedFit& fit,
             std::string& error, std::vector<std::string>& warnings) {
    fit = LoadedFit();
    std::vector<double> numbers;
    if (!readNumbers(path, numbers, error)) {
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
        if (!readBorders(borderFileName, borders, error)) {
            return false;
        }
    }
    NRvector<double> x(static_cast<int>(fit.result.point.size()));
    for (std::size_t j = 0; j < fit.result.point.size(); j++) {
        x[static_cast<int>(j)] = fit.result.point[j];
    }
    SimulationReport report;
    report.keepPredictions = keepPredictions;
    FailureSink failures;
    double value = 0.0;
    {
        const ScopedSimulationReport recording(report);
        const FailureScope failureScope(failures);
        value = model.objective(x);
    }
    if (failures.failed()) {
        error = failures.message();
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
    DIR* listing = opendir(dir.c_str());
    if (listing == nullptr) {
        problems.push_back(dir + ": cannot read the directory: " + std::strerror(errno));
        return false;
    }
    std::vector<std::string> names;
    while (const dirent* entry = readdir(listing)) {
        names.push_back(entry->d_name);
    }
    closedir(listing);
    std::sort(names.begin(), names.end());
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
