#include "tools/formats/results.h"

#include "tools/formats/cli.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>

std::string resultFileName(const ModelEntry& model, const std::optional<std::uint64_t>& seed) {
    std::string name = model.prefix;
    if (seed) {
        name += "seed" + std::to_string(*seed);
    }
    return name;
}

bool parseResultName(const std::string& name, int& model, std::optional<std::uint64_t>& seed) {
    for (const ModelEntry& entry : modelTable) {
        const std::string prefix = entry.prefix;
        if (name.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        std::string rest = name.substr(prefix.size());
        // Fits started from an explored optimum add "opt" and its rank (SS1_ML_opt2seed3).
        if (rest.compare(0, 3, "opt") == 0) {
            std::size_t digits = 3;
            while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') {
                digits++;
            }
            if (digits == 3 || rest[3] == '0') {
                continue;
            }
            rest = rest.substr(digits);
        }
        if (rest.empty()) {
            model = entry.number;
            seed.reset();
            return true;
        }
        std::uint64_t value = 0;
        // The seed is written in plain decimal, so a name with leading zeros is not ours.
        if (rest.compare(0, 4, "seed") == 0 && parseSeed(rest.substr(4), value) &&
            rest.substr(4) == std::to_string(value)) {
            model = entry.number;
            seed = value;
            return true;
        }
    }
    return false;
}

bool readResultNumbers(const std::string& path, std::vector<double>& numbers, std::string& error) {
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

bool readResultFile(const std::string& path, const ModelEntry& model, StoredResult& result,
                    std::string& error) {
    std::vector<double> numbers;
    if (!readResultNumbers(path, numbers, error)) {
        return false;
    }
    const std::size_t needed = static_cast<std::size_t>(model.parameterCount) + 1;
    if (numbers.size() < needed) {
        error = path + ": holds " + std::to_string(numbers.size()) + " numbers; model " +
                std::to_string(model.number) + " (" + model.name + ") needs " +
                std::to_string(model.parameterCount) + " coordinates and the value";
        return false;
    }
    result.model = model.number;
    result.path = path;
    result.value = numbers.back();
    numbers.pop_back();
    result.point = numbers;
    return true;
}

bool directoryNames(const std::string& dir, std::vector<std::string>& names,
                    std::vector<std::string>& problems) {
    DIR* listing = opendir(dir.c_str());
    if (listing == nullptr) {
        problems.push_back(dir + ": cannot read the directory: " + std::strerror(errno));
        return false;
    }
    names.clear();
    while (const dirent* entry = readdir(listing)) {
        names.push_back(entry->d_name);
    }
    closedir(listing);
    std::sort(names.begin(), names.end());
    return true;
}

bool findResults(const std::string& dir, std::vector<StoredResult>& found,
                 std::vector<std::string>& problems) {
    found.clear();
    std::vector<std::string> names;
    if (!directoryNames(dir, names, problems)) {
        return false;
    }
    for (const std::string& name : names) {
        int model = 0;
        std::optional<std::uint64_t> seed;
        if (!parseResultName(name, model, seed)) {
            continue;
        }
        StoredResult result;
        std::string error;
        const std::string path = dir == "." ? name : dir + "/" + name;
        if (!readResultFile(path, *findModel(model), result, error)) {
            problems.push_back(error);
            continue;
        }
        result.seed = seed;
        found.push_back(result);
    }
    std::stable_sort(found.begin(), found.end(), [](const StoredResult& a, const StoredResult& b) {
        if (a.model != b.model) {
            return a.model < b.model;
        }
        if (a.seed.has_value() != b.seed.has_value()) {
            return !a.seed.has_value();
        }
        return a.seed.value_or(0) < b.seed.value_or(0);
    });
    return true;
}
