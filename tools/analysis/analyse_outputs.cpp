#include "tools/analysis/analyse_outputs.h"

#include "tools/formats/json_io.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace {

using json = Json;

json number(double value) {
    return std::isfinite(value) ? json(value) : json(nullptr);
}

// The lists of a model on lines of their own: one element per line in its own file, each list
// on a line of its own in analysis.json.
const JsonLayout modelLayout{{"estimates", "selection", "derived"}, {}};
const JsonLayout analysisLayout{{"models", "descriptive"},
                                {"estimates", "selection", "derived", "settledness"}};

// Adds the value of `b` and its limits to the object `j`.
void addBounded(json& j, const Bounded& b, bool withFound) {
    j["value"] = number(b.value);
    j["lower"] = number(b.lower);
    j["upper"] = number(b.upper);
    if (withFound) {
        j["lower_found"] = b.lowerFound;
        j["upper_found"] = b.upperFound;
    }
}

double numberOf(const json& j, const char* key) {
    return j.is_object() && j.contains(key) && j[key].is_number()
               ? j[key].get<double>()
               : std::numeric_limits<double>::quiet_NaN();
}

std::string textOf(const json& j, const char* key) {
    return j.is_object() && j.contains(key) && j[key].is_string() ? j[key].get<std::string>()
                                                                  : std::string();
}

Bounded boundedOf(const json& j) {
    Bounded b{numberOf(j, "value"), numberOf(j, "lower"), numberOf(j, "upper")};
    if (j.contains("lower_found") && j["lower_found"].is_boolean()) {
        b.lowerFound = j["lower_found"].get<bool>();
    }
    if (j.contains("upper_found") && j["upper_found"].is_boolean()) {
        b.upperFound = j["upper_found"].get<bool>();
    }
    return b;
}

json estimatesJson(const std::vector<ParameterEstimate>& estimates) {
    json list = json::array();
    for (const ParameterEstimate& e : estimates) {
        json p = {{"name", e.name}, {"meaning", e.meaning}};
        addBounded(p, e.estimate, true);
        list.push_back(p);
    }
    return list;
}

json clineJson(const DescriptiveCline& c) {
    json j = {{"shape", c.shape},
              {"k", c.parameters},
              {"minus_lnL", number(c.negLogL)},
              {"AICc", number(c.aicc)},
              {"dAICc", number(c.deltaAicc)},
              {"axis", c.axis}};
    j["estimates"] = estimatesJson(c.estimates);
    return j;
}

json modelJson(const ModelAnalysis& m) {
    json j = {{"model", m.model},
              {"name", m.name},
              {"prefix", m.prefix},
              {"k", m.parameters},
              {"minus_lnL", number(m.negLogL)},
              {"AIC", number(m.aic)},
              {"AICc", number(m.aicc)},
              {"dAICc", number(m.deltaAicc)},
              {"weight", number(m.weight)},
              {"confirmations", m.confirmations},
              {"search_starts", m.searchStarts},
              {"axis", m.axis},
              {"settledness", m.settledness},
              {"limit_points", m.limitPoints}};
    j["estimates"] = estimatesJson(m.estimates);
    j["selection"] = json::array();
    for (const SelectionCoefficient& s : m.selection) {
        json p = {{"genotype", s.genotype}, {"region", s.region}};
        addBounded(p, s.s, false);
        j["selection"].push_back(p);
    }
    j["derived"] = json::array();
    for (const DerivedQuantity& d : m.derived) {
        json p = {{"name", d.name}, {"unit", d.unit}};
        addBounded(p, d.estimate, false);
        j["derived"].push_back(p);
    }
    return j;
}

// Text for a TSV cell: blanks for tabs and line ends.
std::string cell(std::string text) {
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

std::string tsvNumber(double value) {
    if (!std::isfinite(value)) {
        return "NA";
    }
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string tsvRow(const std::string& model, const char* kind, const std::string& name,
                   const std::string& region, const Bounded& b) {
    return cell(model) + "\t" + kind + "\t" + cell(name) + "\t" + cell(region) + "\t" +
           tsvNumber(b.value) + "\t" + tsvNumber(b.lower) + "\t" + tsvNumber(b.upper) + "\n";
}

} // namespace

std::string modelAnalysisJson(const ModelAnalysis& model) {
    json j = modelJson(model);
    j["fit_figure"] = model.fitFigure;
    j["profile_figure"] = model.profileFigure;
    return jsonDocument(j, modelLayout);
}

bool parseModelAnalysis(const std::string& text, const std::string& path, ModelAnalysis& m,
                        std::string& error) {
    json j;
    if (!parseJsonText(text, j, error)) {
        error = path + ": " + error;
        return false;
    }
    if (!j.is_object() || !j.contains("model") || !j["model"].is_number()) {
        error = path + ": not a model's analysis";
        return false;
    }
    m.model = j["model"].get<int>();
    m.name = textOf(j, "name");
    m.prefix = textOf(j, "prefix");
    m.axis = textOf(j, "axis");
    m.settledness = textOf(j, "settledness");
    m.fitFigure = textOf(j, "fit_figure");
    m.profileFigure = textOf(j, "profile_figure");
    m.limitPoints = static_cast<int>(jsonNumberOr(jsonMember(j, "limit_points"), 0.0));
    m.parameters = static_cast<int>(jsonNumberOr(jsonMember(j, "k"), 0.0));
    m.negLogL = numberOf(j, "minus_lnL");
    m.aic = numberOf(j, "AIC");
    m.aicc = numberOf(j, "AICc");
    m.deltaAicc = numberOf(j, "dAICc");
    m.weight = numberOf(j, "weight");
    m.confirmations = static_cast<int>(jsonNumberOr(jsonMember(j, "confirmations"), 0.0));
    m.searchStarts = static_cast<int>(jsonNumberOr(jsonMember(j, "search_starts"), 0.0));
    auto list = [&j](const char* key) {
        return j.contains(key) && j[key].is_array() ? j[key] : json::array();
    };
    m.estimates.clear();
    for (const json& e : list("estimates")) {
        m.estimates.push_back({textOf(e, "name"), textOf(e, "meaning"), boundedOf(e)});
    }
    m.selection.clear();
    for (const json& s : list("selection")) {
        m.selection.push_back({textOf(s, "genotype"), textOf(s, "region"), boundedOf(s)});
    }
    m.derived.clear();
    for (const json& d : list("derived")) {
        m.derived.push_back({textOf(d, "name"), textOf(d, "unit"), boundedOf(d)});
    }
    return true;
}

std::string analysisJson(const Analysis& analysis) {
    const RunFacts& r = analysis.run;
    json j = json::object();
    j["run"] = {{"version", r.version},
                {"command", r.command},
                {"effort", r.effort},
                {"seed", r.seed},
                {"data_file", r.dataFile},
                {"data_checksum", r.dataChecksum},
                {"units", r.units},
                {"n", r.sampled},
                {"cpu_seconds", number(r.cpuSeconds)},
                {"wall_seconds", number(r.wallSeconds)}};
    j["models"] = json::array();
    for (const ModelAnalysis& m : analysis.models) {
        j["models"].push_back(modelJson(m));
    }
    j["descriptive"] = json::array();
    for (const DescriptiveCline& c : analysis.clines) {
        j["descriptive"].push_back(clineJson(c));
    }
    return jsonDocument(j, analysisLayout);
}

std::string estimatesTsv(const Analysis& analysis) {
    std::string text = "model\tkind\tname\tregion\tvalue\tlower\tupper\n";
    for (const ModelAnalysis& m : analysis.models) {
        for (const ParameterEstimate& e : m.estimates) {
            text += tsvRow(m.name, "parameter", e.name, "", e.estimate);
        }
        for (const SelectionCoefficient& s : m.selection) {
            text += tsvRow(m.name, "selection", "s_" + s.genotype, s.region, s.s);
        }
        for (const DerivedQuantity& d : m.derived) {
            text += tsvRow(m.name, "derived", d.name, "", d.estimate);
        }
    }
    for (const DescriptiveCline& c : analysis.clines) {
        for (const ParameterEstimate& e : c.estimates) {
            text += tsvRow(c.shape, "descriptive", e.name, "", e.estimate);
        }
    }
    return text;
}
