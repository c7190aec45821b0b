#include "tools/formats/profile_part.h"

#include "driver/schedule.h"
#include "tools/formats/cli.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <unistd.h>

namespace {

const char* const partFormat = "zonefit-profile-side";

const char* sideName(int side) {
    return side < 0 ? "lower" : "upper";
}

} // namespace

std::string profilePartName(const std::string& resultPath, const std::string& parameter, int side) {
    const std::size_t slash = resultPath.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : resultPath.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? resultPath : resultPath.substr(slash + 1);
    return dir + "profile-" + base + "-" + parameter + "-" + sideName(side) + ".tsv";
}

std::string profilePartText(const ModelEntry& model, const std::string& resultPath,
                            const ProfileSettings& settings, const ProfileOutcome& outcome,
                            int side) {
    const ParameterProfile& p = outcome.parameters.front();
    const SupportLimit& limit = side < 0 ? p.lower : p.upper;
    std::ostringstream out;
    out << "format\t" << partFormat << "\n"
        << "version\t1\n"
        << "model\t" << model.number << "\n"
        << "result\t" << resultPath << "\n"
        << "parameter\t" << model.parameters[p.index].name << "\n"
        << "side\t" << sideName(side) << "\n"
        << "units\t" << format17(settings.units) << "\n"
        << "step\t" << format17(settings.firstStep) << "\n"
        << "estimate\t" << format17(p.estimate) << "\n"
        << "minimum\t" << format17(outcome.minimum) << "\n"
        << "lowest\t" << format17(outcome.lowest) << "\n"
        << "lowest_point";
    for (double x : outcome.lowestPoint) {
        out << "\t" << format17(x);
    }
    out << "\n"
        << "evaluations\t" << outcome.evaluations << "\n"
        << "limit\t" << format17(limit.value) << "\n"
        << "found\t" << (limit.found ? 1 : 0) << "\n"
        << "at_box\t" << (limit.atBox ? 1 : 0) << "\n"
        << "points\t" << limit.points << "\n"
        << "objective\t" << objectiveName(settings.objective) << "\n";
    return out.str();
}

bool writeProfilePart(const std::string& path, const std::string& text, std::string& error) {
    if (access(path.c_str(), F_OK) == 0) {
        error = path + " exists; remove it to compute this side again";
        return false;
    }
    return writeResultFile(path, text, error, nullptr, ExistingFile::keep);
}

namespace {

using Fields = std::map<std::string, std::vector<std::string>>;

bool readFields(const std::string& path, Fields& fields, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> words;
        std::istringstream split(line);
        std::string word;
        while (std::getline(split, word, '\t')) {
            words.push_back(word);
        }
        if (!words.empty()) {
            const std::string key = words.front();
            words.erase(words.begin());
            fields[key] = words;
        }
    }
    const char* const needed[] = {"format", "version",      "model",       "result",   "parameter",
                                  "side",   "units",        "step",        "estimate", "minimum",
                                  "lowest", "lowest_point", "evaluations", "limit",    "found",
                                  "at_box", "points"};
    for (const char* key : needed) {
        if (fields.count(key) == 0) {
            error = path + ": not a profile side file (no '" + key + "' line)";
            return false;
        }
    }
    if (fields["format"] != std::vector<std::string>{partFormat} ||
        fields["version"] != std::vector<std::string>{"1"}) {
        error = path + ": not a profile side file of this version";
        return false;
    }
    return true;
}

bool oneNumber(const Fields& fields, const std::string& key, double& value) {
    const std::vector<std::string>& words = fields.at(key);
    return words.size() == 1 && parseNumber(words[0], value);
}

bool oneWhole(const Fields& fields, const std::string& key, long& value) {
    std::uint64_t whole = 0;
    const std::vector<std::string>& words = fields.at(key);
    if (words.size() != 1 || !parseSeed(words[0], whole)) {
        return false;
    }
    value = static_cast<long>(whole);
    return true;
}

} // namespace

bool collectProfile(const ModelEntry& model, const std::string& resultPath,
                    const std::vector<int>& indices, const ProfileSettings& settings,
                    ProfileOutcome& outcome, std::string& error) {
    outcome = ProfileOutcome();
    bool first = true;
    for (int index : indices) {
        ParameterProfile profile;
        profile.index = index;
        for (int side : {-1, +1}) {
            const std::string path =
                profilePartName(resultPath, model.parameters[index].name, side);
            Fields fields;
            if (!readFields(path, fields, error)) {
                return false;
            }
            const std::string expected[][2] = {{"model", std::to_string(model.number)},
                                               {"result", resultPath},
                                               {"parameter", model.parameters[index].name},
                                               {"side", sideName(side)},
                                               {"units", format17(settings.units)},
                                               {"step", format17(settings.firstStep)},
                                               {"objective", objectiveName(settings.objective)}};
            // A side written before the objective was recorded is one of zonefit's.
            if (fields.count("objective") == 0) {
                fields["objective"] = {objectiveName(ObjectiveKind::zonefit)};
            }
            for (const auto& [key, value] : expected) {
                if (fields[key] != std::vector<std::string>{value}) {
                    error = path + ": computed for " + key + " '" +
                            (fields[key].empty() ? "" : fields[key][0]) + "', not '" + value + "'";
                    return false;
                }
            }
            double minimum = 0.0;
            double lowest = 0.0;
            double estimate = 0.0;
            double limitValue = 0.0;
            long evaluations = 0;
            long found = 0;
            long atBox = 0;
            long points = 0;
            std::vector<double> lowestPoint;
            bool good =
                oneNumber(fields, "minimum", minimum) && oneNumber(fields, "lowest", lowest) &&
                oneNumber(fields, "estimate", estimate) && oneNumber(fields, "limit", limitValue) &&
                oneWhole(fields, "evaluations", evaluations) && evaluations >= 1 &&
                oneWhole(fields, "found", found) && found <= 1 &&
                oneWhole(fields, "at_box", atBox) && atBox <= 1 &&
                oneWhole(fields, "points", points);
            for (const std::string& word : fields["lowest_point"]) {
                double x = 0.0;
                good = good && parseNumber(word, x);
                lowestPoint.push_back(x);
            }
            if (!good) {
                error = path + ": a value is not a number";
                return false;
            }
            // Every side starts from the same estimate; another value means another fit.
            if (first) {
                outcome.minimum = minimum;
                outcome.lowest = minimum;
                outcome.evaluations = 1;
                first = false;
            } else if (format17(minimum) != format17(outcome.minimum)) {
                error = path + ": -lnL at the estimate is " + format17(minimum) + ", not " +
                        format17(outcome.minimum) + " as in the other sides";
                return false;
            }
            outcome.evaluations += evaluations - 1;
            if (lowest < outcome.lowest) {
                outcome.lowest = lowest;
                outcome.lowestPoint = lowestPoint;
            } else if (outcome.lowestPoint.empty()) {
                outcome.lowestPoint = lowestPoint;
            }
            profile.estimate = estimate;
            SupportLimit& limit = side < 0 ? profile.lower : profile.upper;
            limit.value = limitValue;
            limit.found = found == 1;
            limit.atBox = atBox == 1;
            limit.points = static_cast<int>(points);
        }
        outcome.parameters.push_back(profile);
    }
    return true;
}
