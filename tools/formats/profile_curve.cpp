#include "tools/formats/profile_curve.h"

#include "tools/formats/cli.h"
#include "tools/formats/state_text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

void appendRow(std::string& text, const std::string& name, const char* side, double fixed,
               double value, const std::vector<double>& point, const SettledReport* state,
               long evaluations) {
    text += name + "\t" + side + "\t" + format17(fixed) + "\t" + format17(value);
    for (double x : point) {
        text += "\t" + format17(x);
    }
    if (state != nullptr) {
        text += "\t" + stateCell(*state);
    }
    text += "\t" + std::to_string(evaluations) + "\n";
}

} // namespace

std::string profileCurveText(const std::vector<std::string>& names,
                             const std::vector<double>& estimate, const ProfileOutcome& outcome) {
    const bool states = outcome.statesMeasured;
    std::string text = states ? "# objective: settled\n" : "";
    text += "parameter\tside\tfixed\tminus_lnL";
    for (std::size_t j = 0; j < estimate.size(); j++) {
        text += "\t" + (j < names.size() ? names[j] : "x" + std::to_string(j));
    }
    text += states ? "\tstate\tevaluations\n" : "\tevaluations\n";
    auto nameOf = [&names](int index) {
        const std::size_t j = static_cast<std::size_t>(index);
        return j < names.size() ? names[j] : "x" + std::to_string(j);
    };
    for (const ParameterProfile& p : outcome.parameters) {
        appendRow(text, nameOf(p.index), "estimate", p.estimate, outcome.minimum, estimate,
                  states ? &outcome.estimateState : nullptr, 0);
        for (const ProfilePoint& walked : outcome.walked) {
            if (walked.index == p.index) {
                appendRow(text, nameOf(p.index), walked.side < 0 ? "lower" : "upper", walked.fixed,
                          walked.value, walked.point, states ? &walked.state : nullptr,
                          walked.evaluations);
            }
        }
    }
    return text;
}

bool readProfileCurve(const std::string& path, std::vector<CurveParameter>& parameters,
                      std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    std::vector<std::string> header;
    int number = 1;
    while (std::getline(in, line) && line.rfind("#", 0) == 0) {
        number++;
    }
    if (in || !line.empty()) {
        header = splitAt(line, '\t');
    }
    if (header.size() < 5 || header[0] != "parameter" || header[1] != "side" ||
        header[2] != "fixed" || header[3] != "minus_lnL" || header.back() != "evaluations") {
        error = path + ":" + std::to_string(number) +
                ": not a profile curve (its header must start 'parameter side fixed "
                "minus_lnL' and end 'evaluations')";
        return false;
    }
    std::vector<CurveParameter> read;
    std::vector<bool> hasEstimate;
    for (number++; std::getline(in, line); number++) {
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const std::vector<std::string> row = splitAt(line, '\t');
        if (row.size() != header.size()) {
            error = where + std::to_string(row.size()) + " fields, the header has " +
                    std::to_string(header.size());
            return false;
        }
        const std::string& side = row[1];
        if (side != "estimate" && side != "lower" && side != "upper") {
            error = where + "side '" + side + "' is not estimate, lower or upper";
            return false;
        }
        double fixed = 0.0;
        double value = 0.0;
        if (!parseNumber(row[2], fixed) || !parseNumber(row[3], value)) {
            error = where + "the fixed value and -lnL must be numbers";
            return false;
        }
        std::size_t k = 0;
        while (k < read.size() && read[k].name != row[0]) {
            k++;
        }
        if (k == read.size()) {
            read.push_back(CurveParameter());
            read.back().name = row[0];
            hasEstimate.push_back(false);
        }
        if (side == "estimate") {
            read[k].estimate = fixed;
            read[k].minimum = value;
            hasEstimate[k] = true;
        }
        read[k].fixed.push_back(fixed);
        read[k].values.push_back(value);
    }
    for (std::size_t k = 0; k < read.size(); k++) {
        if (!hasEstimate[k]) {
            error = path + ": parameter '" + read[k].name + "' has no estimate row";
            return false;
        }
    }
    if (read.empty()) {
        error = path + ": no profile points";
        return false;
    }
    parameters = read;
    return true;
}
