#include "tools/analysis/plot_cline.h"

#include "driver/schedule.h"
#include "tools/analysis/descriptive_cline.h"
#include "tools/formats/cli.h"
#include "tools/formats/data_option.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

std::string textOf(const nlohmann::json& object, const char* key) {
    return object.is_object() && object.contains(key) && object[key].is_string()
               ? object[key].get<std::string>()
               : std::string();
}

// The form and estimates of one recorded fit; false when the fit is not one of this program.
bool readFit(const nlohmann::json& fit, ClineForm& form, std::vector<double>& theta) {
    if (!parseTails(textOf(fit, "shape"), form.tails) ||
        !parseDeficit(textOf(fit, "fis"), form.deficit) || !fit.contains("parameters") ||
        !fit["parameters"].is_array()) {
        return false;
    }
    form.freeEnds = textOf(fit, "ends") == "free";
    theta.clear();
    for (const nlohmann::json& p : fit["parameters"]) {
        if (!p.is_object() || !p.contains("estimate") || !p["estimate"].is_number()) {
            return false;
        }
        theta.push_back(p["estimate"].get<double>());
    }
    return static_cast<int>(theta.size()) == clineLayout(form).count && theta[1] > 0.0;
}

} // namespace

bool clinePlotInput(const Transect& transect, const std::string& recordPath,
                    const std::string& locus, const std::string& checksum, PlotInput& input,
                    std::string& error) {
    std::ifstream in(recordPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        error = "cannot read the cline record " + recordPath;
        return false;
    }
    // The parser's failure is a discarded value, not an exception.
    const nlohmann::json doc = nlohmann::json::parse(text.str(), nullptr, false);
    if (!doc.is_object() || textOf(doc, "record") != "zonetool cline" || !doc.contains("fits") ||
        !doc["fits"].is_array()) {
        error = recordPath + " is no record of 'zonetool cline'";
        return false;
    }
    if (textOf(doc, "data_checksum") != checksum) {
        const std::string data = textOf(doc, "data");
        error = recordPath + " is a fit of " +
                (data.empty() ? std::string("the built-in transect") : data) +
                ", not of the data in use (give its --data)";
        return false;
    }
    const nlohmann::json* chosen = nullptr;
    for (const nlohmann::json& fit : doc["fits"]) {
        if (chosen == nullptr && (locus.empty() || textOf(fit, "locus") == locus)) {
            chosen = &fit;
        }
    }
    ClineForm form;
    std::vector<double> theta;
    if (chosen == nullptr) {
        error = recordPath + " holds no fit of locus '" + locus + "'";
        return false;
    }
    if (!readFit(*chosen, form, theta)) {
        error = recordPath + " holds a fit this program cannot draw";
        return false;
    }
    const ClineAxis axis =
        textOf(*chosen, "axis") == "distance" ? ClineAxis::distance : ClineAxis::position;
    const bool sRises = textOf(*chosen, "allele") != "I";
    const ClineData data = clineData(transect, axis);

    input = PlotInput();
    const std::string name = textOf(*chosen, "locus");
    input.title = std::string("descriptive cline, ") + tailsName(form.tails) +
                  (name.empty() ? std::string() : ", locus " + name);
    const double value = (*chosen).contains("value") && (*chosen)["value"].is_number()
                             ? (*chosen)["value"].get<double>()
                             : clineNegLogLikelihood(form, theta, data);
    input.subtitle = "-lnL " + formatNumber(value, 8) + ", k " + std::to_string(theta.size()) +
                     ", F " + deficitName(form.deficit) + ", ends " +
                     (form.freeEnds ? "free" : "fixed");
    input.xLabel = axis == ClineAxis::distance ? "distance summed from the first site"
                                               : "position on the transect axis";
    input.x = data.x;
    input.countSS = transect.countSS;
    input.countSI = transect.countSI;
    input.countII = transect.countII;
    for (double x : data.x) {
        input.predicted.push_back(clineGenotypes(form, theta, x, sRises));
    }
    const double low = *std::min_element(data.x.begin(), data.x.end());
    const double high = *std::max_element(data.x.begin(), data.x.end());
    const int points = 400;
    for (int i = 0; i <= points; i++) {
        const double x = low + (high - low) * i / points;
        input.lines.x.push_back(x);
        input.lines.genotypes.push_back(clineGenotypes(form, theta, x, sRises));
    }
    input.centre = theta[0];
    return true;
}
