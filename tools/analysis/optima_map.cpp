#include "tools/analysis/optima_map.h"

#include "tools/analysis/plot.h"
#include "tools/formats/cli.h"
#include "tools/formats/json_io.h"
#include "tools/formats/state_text.h"
#include "tools/formats/table.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <numeric>
#include <sstream>

std::vector<Optimum> mergeOptima(std::vector<StartOutcome>& outcomes,
                                 const std::vector<Region>& regions) {
    std::vector<std::size_t> order(outcomes.size());
    std::iota(order.begin(), order.end(), 0);
    // NaN values sort last, so that they never lead an optimum others join.
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const double va = outcomes[a].value;
        const double vb = outcomes[b].value;
        return std::isnan(vb) ? !std::isnan(va) : va < vb;
    });
    std::vector<Optimum> optima;
    for (std::size_t i : order) {
        StartOutcome& o = outcomes[i];
        int joined = -1;
        for (std::size_t k = 0; k < optima.size() && joined < 0; k++) {
            if (std::fabs(o.value - optima[k].value) <= mergeValueTolerance &&
                regionDistance(regions, o.point, optima[k].point) <= mergeDistance) {
                joined = static_cast<int>(k);
            }
        }
        if (joined < 0) {
            Optimum fresh;
            fresh.value = o.value;
            fresh.point = o.point;
            optima.push_back(fresh);
            joined = static_cast<int>(optima.size() - 1);
        }
        optima[static_cast<std::size_t>(joined)].starts += 1;
        optima[static_cast<std::size_t>(joined)].evaluations += o.evaluations;
        o.optimum = joined;
    }
    return optima;
}

namespace {

std::string orDash(double value, int digits) {
    return std::isnan(value) ? std::string("-") : formatNumber(value, digits);
}

// A table of the optima: `columns` then a column per parameter, all right-aligned, with the
// header row.
Table optimaColumns(const ModelEntry& model, std::vector<std::string> columns) {
    for (int j = 0; j < model.parameterCount; j++) {
        columns.push_back(model.parameters[j].name);
    }
    Table table(std::vector<Align>(columns.size(), Align::right));
    table.addRow(columns);
    return table;
}

} // namespace

std::string optimaTable(const ModelEntry& model, const ExploreMap& map) {
    Table table = optimaColumns(model, {"rank", "-lnL", "starts", "evaluations", "generations",
                                        "lambda", "remaining", "cliff", "state"});
    for (std::size_t k = 0; k < map.optima.size(); k++) {
        const Optimum& o = map.optima[k];
        const Settledness& s = o.settledness;
        std::vector<std::string> row = {std::to_string(k + 1),
                                        formatNumber(o.value, 10),
                                        std::to_string(o.starts),
                                        std::to_string(o.evaluations),
                                        std::to_string(s.generations) + (s.converged ? "" : "*"),
                                        orDash(s.lambda, 4),
                                        orDash(s.remaining, 2),
                                        s.cliff.empty() ? "-" : s.cliff,
                                        o.stateMeasured ? stateCell(o.state) : "-"};
        for (double x : o.point) {
            row.push_back(formatNumber(x, 10));
        }
        table.addRow(row);
    }
    return table.aligned();
}

std::string optimaTsv(const ModelEntry& model, const ExploreMap& map) {
    Table table =
        optimaColumns(model, {"rank", "value", "starts", "evaluations", "generations", "converged",
                              "lambda", "remaining", "cliff", "objective", "state"});
    for (std::size_t k = 0; k < map.optima.size(); k++) {
        const Optimum& o = map.optima[k];
        const Settledness& s = o.settledness;
        std::vector<std::string> row = {std::to_string(k + 1),
                                        format17(o.value),
                                        std::to_string(o.starts),
                                        std::to_string(o.evaluations),
                                        std::to_string(s.generations),
                                        s.converged ? "1" : "0",
                                        std::isnan(s.lambda) ? "NA" : format17(s.lambda),
                                        std::isnan(s.remaining) ? "NA" : format17(s.remaining),
                                        s.cliff.empty() ? "-" : s.cliff,
                                        objectiveName(map.objective),
                                        o.stateMeasured ? stateCell(o.state) : "-"};
        for (double x : o.point) {
            row.push_back(format17(x));
        }
        table.addRow(row);
    }
    return table.tabSeparated();
}

Json startOutcomeJson(const StartOutcome& o) {
    return {{"label", o.label},
            {"start", o.start},
            {"point", o.point},
            {"value", o.value},
            {"evaluations", o.evaluations},
            {"converged", o.converged}};
}

std::string exploreJson(const ModelEntry& model, const ExploreMap& map) {
    Json j = Json::object();
    j["format"] = "zonefit-explore-record";
    j["version"] = 1;
    j["model"] = model.number;
    j["name"] = model.name;
    j["parameters"] = Json::array();
    for (int p = 0; p < model.parameterCount; p++) {
        j["parameters"].push_back(model.parameters[p].name);
    }
    j["seed"] = map.seed;
    j["budget"] = map.budget;
    j["design"] = designName(map.design);
    j["objective"] = objectiveName(map.objective);
    // Only with a locus, so that the records of other fits keep their text.
    if (!map.locus.empty()) {
        j["locus"] = map.locus;
    }
    if (!map.method.empty()) {
        j["method"] = map.method;
    }
    j["regions"] = Json::array();
    for (const Region& r : map.regions) {
        j["regions"].push_back({{"low", r.low}, {"high", r.high}, {"log", r.log}});
    }
    j["searches"] = map.searches;
    j["confirmed"] = map.confirmed;
    j["optima"] = Json::array();
    for (const Optimum& o : map.optima) {
        const Settledness& s = o.settledness;
        Json item = {{"value", o.value},
                     {"point", o.point},
                     {"starts", o.starts},
                     {"evaluations", o.evaluations},
                     {"generations", s.generations},
                     {"converged", s.converged},
                     {"lambda", s.lambda},
                     {"remaining", s.remaining},
                     {"cliff", s.cliff.empty() ? Json(nullptr) : Json(s.cliff)},
                     {"cliff_change", s.cliffChange}};
        if (o.stateMeasured) {
            item["state"] = stateKindText(o.state.kind);
            item["state_generations"] = o.state.generations;
            item["last_change"] = o.state.lastChange;
        }
        j["optima"].push_back(item);
    }
    j["starts"] = Json::array();
    for (const StartOutcome& o : map.outcomes) {
        Json item = startOutcomeJson(o);
        item["optimum"] = o.optimum + 1;
        j["starts"].push_back(item);
    }
    j["cpu_seconds"] = map.cpuSeconds;
    j["wall_seconds"] = map.wallSeconds;
    JsonLayout layout;
    layout.listed = {"regions", "optima", "starts"};
    return jsonDocument(j, layout);
}

std::string startValuesSvg(const ModelEntry& model, const ExploreMap& map) {
    std::vector<double> values;
    for (const StartOutcome& o : map.outcomes) {
        values.push_back(o.value);
    }
    std::sort(values.begin(), values.end());
    const double best = map.optima.empty() ? 0.0 : map.optima.front().value;
    // Height: log10(1 + value - best), so that the best sits on the axis and optima tens or
    // thousands of units worse still fit; values that are not finite are drawn at the top.
    // Penalties (1e308 and the like) and anything past 1e12 above the best sit at the top.
    const double ceiling = 12.0;
    double top = 1.0;
    for (double v : values) {
        if (std::isfinite(v)) {
            top = std::max(top, std::min(ceiling, std::ceil(std::log10(1.0 + v - best))));
        }
    }
    const double width = 560.0;
    const double height = 340.0;
    const double left = 70.0;
    const double right = 20.0;
    const double upper = 50.0;
    const double lower = 50.0;
    const double plotWidth = width - left - right;
    const double plotHeight = height - upper - lower;
    const std::size_t n = values.size();
    auto num = [](double x) { return formatNumber(x, 6); };
    auto px = [&](std::size_t i) {
        return left + (n <= 1 ? plotWidth / 2
                              : plotWidth * static_cast<double>(i) / static_cast<double>(n - 1));
    };
    auto py = [&](double v) {
        const double h = std::isfinite(v) ? std::min(top, std::log10(1.0 + v - best)) : top;
        return upper + plotHeight * (1.0 - h / top);
    };
    std::ostringstream svg;
    const std::string title = "Model " + std::to_string(model.number) + " " + model.name + ": " +
                              std::to_string(n) + " starts, best -lnL " + formatNumber(best, 10) +
                              " reached by " +
                              std::to_string(map.optima.empty() ? 0 : map.optima.front().starts);
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << num(width) << "\" height=\""
        << num(height) << "\" viewBox=\"0 0 " << num(width) << " " << num(height)
        << "\" font-family=\"DejaVu Sans, Liberation Sans, Arial, sans-serif\" font-size=\"13\">\n"
        << "<title>" << xmlEscape(title) << "</title>\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n"
        << "<text x=\"" << num(width / 2) << "\" y=\"24\" text-anchor=\"middle\" "
        << "font-size=\"15\" font-weight=\"bold\">" << xmlEscape(title) << "</text>\n"
        << "<g id=\"axes\" stroke=\"#000000\" stroke-width=\"1\">\n";
    for (int t = 0; t <= static_cast<int>(top); t++) {
        const double y = py(best + std::pow(10.0, t) - 1.0);
        svg << "<line x1=\"" << num(left) << "\" y1=\"" << num(y) << "\" x2=\""
            << num(left + plotWidth) << "\" y2=\"" << num(y) << "\" stroke=\"#e6e6e6\"/>\n";
    }
    svg << "<line x1=\"" << num(left) << "\" y1=\"" << num(upper) << "\" x2=\"" << num(left)
        << "\" y2=\"" << num(upper + plotHeight) << "\"/>\n<line x1=\"" << num(left) << "\" y1=\""
        << num(upper + plotHeight) << "\" x2=\"" << num(left + plotWidth) << "\" y2=\""
        << num(upper + plotHeight) << "\"/>\n</g>\n<g id=\"tick-labels\" font-size=\"12\">\n";
    for (int t = 0; t <= static_cast<int>(top); t++) {
        const double above = std::pow(10.0, t) - 1.0;
        svg << "<text x=\"" << num(left - 6) << "\" y=\"" << num(py(best + above) + 4)
            << "\" text-anchor=\"end\">+" << formatNumber(above, 6) << "</text>\n";
    }
    svg << "</g>\n<text x=\"" << num(left + plotWidth / 2) << "\" y=\"" << num(height - 14)
        << "\" text-anchor=\"middle\">starts, sorted by the -lnL they reached</text>\n"
        << "<text x=\"16\" y=\"" << num(upper + plotHeight / 2)
        << "\" text-anchor=\"middle\" transform=\"rotate(-90 16 " << num(upper + plotHeight / 2)
        << ")\">-lnL above the best (log scale)</text>\n<g id=\"starts\" fill=\"#1f77b4\">\n";
    for (std::size_t i = 0; i < n; i++) {
        svg << "<circle cx=\"" << num(px(i)) << "\" cy=\"" << num(py(values[i]))
            << "\" r=\"4\"/>\n";
    }
    svg << "</g>\n</svg>\n";
    return svg.str();
}

// ---------------------------------------------------------------- reading the record

bool readExploreRecord(const std::string& path, ExploreMap& map, std::string& error) {
    Json root;
    if (!readJsonFile(path, "explore record", root, error)) {
        return false;
    }
    if (jsonTextOr(jsonMember(root, "format")) != "zonefit-explore-record") {
        error = path + ": not an explore record (no \"format\": \"zonefit-explore-record\")";
        return false;
    }
    const double modelNumber = jsonNumberOr(jsonMember(root, "model"), 0.0);
    const ModelEntry* model =
        modelNumber >= 1 && modelNumber <= modelCount && modelNumber == std::floor(modelNumber)
            ? findModel(static_cast<int>(modelNumber))
            : nullptr;
    if (model == nullptr) {
        error = path + ": \"model\" must be a model number from 1 to 10";
        return false;
    }
    map = ExploreMap();
    map.model = model->number;
    const Json* seed = jsonMember(root, "seed");
    map.seed = seed != nullptr && seed->is_number_unsigned() ? seed->get<std::uint64_t>() : 0;
    map.budget = static_cast<int>(jsonNumberOr(jsonMember(root, "budget"), 0.0));
    parseDesign(jsonTextOr(jsonMember(root, "design")), map.design);
    const Json* objective = jsonMember(root, "objective");
    if (objective != nullptr && !parseObjectiveKind(jsonTextOr(objective), map.objective)) {
        error = path + ": \"objective\" must be \"settled\" or \"zonefit\"";
        return false;
    }
    map.method = jsonTextOr(jsonMember(root, "method"));
    // Absent (or null) in records of no locus and in those written before it was recorded.
    const Json* locus = jsonMember(root, "locus");
    if (locus != nullptr && !locus->is_null() &&
        (!locus->is_string() || locus->get<std::string>().empty())) {
        error = path + ": \"locus\" must be a locus name or null";
        return false;
    }
    map.locus = jsonTextOr(locus);
    const std::size_t n = static_cast<std::size_t>(model->parameterCount);
    const Json* regions = jsonMember(root, "regions");
    if (regions == nullptr || !regions->is_array() || regions->size() != n) {
        error = path + ": \"regions\" must list " + std::to_string(n) + " regions";
        return false;
    }
    for (const Json& r : *regions) {
        map.regions.push_back({jsonNumberOr(jsonMember(r, "low"), NAN),
                               jsonNumberOr(jsonMember(r, "high"), NAN),
                               jsonTrue(jsonMember(r, "log"))});
        if (!std::isfinite(map.regions.back().low) || !std::isfinite(map.regions.back().high)) {
            error = path + ": every region needs finite \"low\" and \"high\"";
            return false;
        }
    }
    const Json* optima = jsonMember(root, "optima");
    if (optima == nullptr || !optima->is_array()) {
        error = path + ": no \"optima\" list";
        return false;
    }
    for (std::size_t k = 0; k < optima->size(); k++) {
        const Json& o = (*optima)[k];
        Optimum optimum;
        optimum.value = jsonNumberOr(jsonMember(o, "value"), NAN);
        if (!jsonNumbers(jsonMember(o, "point"), optimum.point) || optimum.point.size() != n) {
            error = path + ": optimum " + std::to_string(k + 1) + " needs a \"point\" of " +
                    std::to_string(n) + " numbers";
            return false;
        }
        optimum.starts = static_cast<int>(jsonNumberOr(jsonMember(o, "starts"), 0.0));
        optimum.evaluations = static_cast<long>(jsonNumberOr(jsonMember(o, "evaluations"), 0.0));
        Settledness& s = optimum.settledness;
        s.value = optimum.value;
        s.generations = static_cast<int>(jsonNumberOr(jsonMember(o, "generations"), 0.0));
        s.converged = jsonTrue(jsonMember(o, "converged"));
        s.lambda = jsonNumberOr(jsonMember(o, "lambda"), NAN);
        s.remaining = jsonNumberOr(jsonMember(o, "remaining"), NAN);
        s.cliff = jsonTextOr(jsonMember(o, "cliff"));
        s.cliffChange = jsonNumberOr(jsonMember(o, "cliff_change"), 0.0);
        const Json* state = jsonMember(o, "state");
        if (state != nullptr && state->is_string()) {
            optimum.stateMeasured = parseStateKind(state->get<std::string>(), optimum.state.kind);
            optimum.state.generations =
                static_cast<long long>(jsonNumberOr(jsonMember(o, "state_generations"), 0.0));
            optimum.state.lastChange = jsonNumberOr(jsonMember(o, "last_change"), NAN);
        }
        map.optima.push_back(optimum);
    }
    // Records made before searches confirmed their best count the starts that reached it.
    map.searches = static_cast<int>(jsonNumberOr(jsonMember(root, "searches"), 0.0));
    map.confirmed = static_cast<int>(jsonNumberOr(
        jsonMember(root, "confirmed"), map.optima.empty() ? 0.0 : map.optima.front().starts));
    map.cpuSeconds = jsonNumberOr(jsonMember(root, "cpu_seconds"), 0.0);
    map.wallSeconds = jsonNumberOr(jsonMember(root, "wall_seconds"), 0.0);
    return true;
}

std::string optimumStartText(const ExploreMap& map, const Optimum& optimum) {
    const std::vector<double> steps = regionSteps(map.regions, optimum.point);
    std::string text;
    for (std::size_t j = 0; j < optimum.point.size(); j++) {
        text += (j == 0 ? "" : " ") + format17(optimum.point[j]);
    }
    text += "\n";
    for (std::size_t j = 0; j < steps.size(); j++) {
        text += (j == 0 ? "" : " ") + format17(steps[j]);
    }
    return text + "\n";
}
