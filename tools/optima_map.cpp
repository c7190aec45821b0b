#include "tools/optima_map.h"

#include "tools/cli.h"
#include "tools/json.h"
#include "tools/plot.h"
#include "tools/state_text.h"
#include "tools/table.h"

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

std::string exploreJson(const ModelEntry& model, const ExploreMap& map) {
    std::ostringstream out;
    out << "{\n  \"format\": \"zonefit-explore-record\",\n  \"version\": 1,\n  \"model\": "
        << model.number << ",\n  \"name\": " << jsonQuote(model.name) << ",\n  \"parameters\": [";
    for (int j = 0; j < model.parameterCount; j++) {
        out << (j == 0 ? "" : ", ") << jsonQuote(model.parameters[j].name);
    }
    out << "],\n  \"seed\": " << map.seed << ",\n  \"budget\": " << map.budget
        << ",\n  \"design\": " << jsonQuote(designName(map.design))
        << ",\n  \"objective\": " << jsonQuote(objectiveName(map.objective))
        << ",\n  \"regions\": [";
    for (std::size_t j = 0; j < map.regions.size(); j++) {
        const Region& r = map.regions[j];
        out << (j == 0 ? "\n" : ",\n") << "    {\"low\": " << jsonNumber(r.low)
            << ", \"high\": " << jsonNumber(r.high) << ", \"log\": " << (r.log ? "true" : "false")
            << "}";
    }
    out << "\n  ],\n  \"searches\": " << map.searches << ",\n  \"confirmed\": " << map.confirmed;
    out << ",\n  \"optima\": [";
    for (std::size_t k = 0; k < map.optima.size(); k++) {
        const Optimum& o = map.optima[k];
        const Settledness& s = o.settledness;
        out << (k == 0 ? "\n" : ",\n") << "    {\"value\": " << jsonNumber(o.value)
            << ", \"point\": " << jsonNumberList(o.point) << ", \"starts\": " << o.starts
            << ", \"evaluations\": " << o.evaluations << ", \"generations\": " << s.generations
            << ", \"converged\": " << (s.converged ? "true" : "false")
            << ", \"lambda\": " << jsonNumber(s.lambda)
            << ", \"remaining\": " << jsonNumber(s.remaining)
            << ", \"cliff\": " << (s.cliff.empty() ? std::string("null") : jsonQuote(s.cliff))
            << ", \"cliff_change\": " << jsonNumber(s.cliffChange);
        if (o.stateMeasured) {
            out << ", \"state\": " << jsonQuote(stateKindText(o.state.kind))
                << ", \"state_generations\": " << o.state.generations
                << ", \"last_change\": " << jsonNumber(o.state.lastChange);
        }
        out << "}";
    }
    out << "\n  ],\n  \"starts\": [";
    for (std::size_t i = 0; i < map.outcomes.size(); i++) {
        const StartOutcome& o = map.outcomes[i];
        out << (i == 0 ? "\n" : ",\n") << "    {\"label\": " << jsonQuote(o.label)
            << ", \"start\": " << jsonNumberList(o.start)
            << ", \"point\": " << jsonNumberList(o.point) << ", \"value\": " << jsonNumber(o.value)
            << ", \"evaluations\": " << o.evaluations
            << ", \"converged\": " << (o.converged ? "true" : "false")
            << ", \"optimum\": " << o.optimum + 1 << "}";
    }
    out << "\n  ],\n  \"cpu_seconds\": " << jsonNumber(map.cpuSeconds)
        << ",\n  \"wall_seconds\": " << jsonNumber(map.wallSeconds) << "\n}\n";
    return out.str();
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
    JsonValue root;
    if (!readJsonFile(path, "explore record", root, error)) {
        return false;
    }
    const JsonValue* format = root.find("format");
    if (root.type != JsonValue::Type::object || format == nullptr ||
        format->type != JsonValue::Type::string || format->text != "zonefit-explore-record") {
        error = path + ": not an explore record (no \"format\": \"zonefit-explore-record\")";
        return false;
    }
    const double modelNumber = jsonNumberOr(root.find("model"), 0.0);
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
    map.seed = static_cast<std::uint64_t>(jsonNumberOr(root.find("seed"), 0.0));
    map.budget = static_cast<int>(jsonNumberOr(root.find("budget"), 0.0));
    const JsonValue* design = root.find("design");
    if (design != nullptr && design->type == JsonValue::Type::string) {
        parseDesign(design->text, map.design);
    }
    const JsonValue* objective = root.find("objective");
    if (objective != nullptr && (objective->type != JsonValue::Type::string ||
                                 !parseObjectiveKind(objective->text, map.objective))) {
        error = path + ": \"objective\" must be \"settled\" or \"zonefit\"";
        return false;
    }
    const std::size_t n = static_cast<std::size_t>(model->parameterCount);
    const JsonValue* regions = root.find("regions");
    if (regions == nullptr || regions->type != JsonValue::Type::array ||
        regions->items.size() != n) {
        error = path + ": \"regions\" must list " + std::to_string(n) + " regions";
        return false;
    }
    for (const JsonValue& r : regions->items) {
        map.regions.push_back({jsonNumberOr(r.find("low"), NAN), jsonNumberOr(r.find("high"), NAN),
                               jsonTrue(r.find("log"))});
        if (!std::isfinite(map.regions.back().low) || !std::isfinite(map.regions.back().high)) {
            error = path + ": every region needs finite \"low\" and \"high\"";
            return false;
        }
    }
    const JsonValue* optima = root.find("optima");
    if (optima == nullptr || optima->type != JsonValue::Type::array) {
        error = path + ": no \"optima\" list";
        return false;
    }
    for (std::size_t k = 0; k < optima->items.size(); k++) {
        const JsonValue& o = optima->items[k];
        Optimum optimum;
        optimum.value = jsonNumberOr(o.find("value"), NAN);
        if (!jsonNumbers(o.find("point"), optimum.point) || optimum.point.size() != n) {
            error = path + ": optimum " + std::to_string(k + 1) + " needs a \"point\" of " +
                    std::to_string(n) + " numbers";
            return false;
        }
        optimum.starts = static_cast<int>(jsonNumberOr(o.find("starts"), 0.0));
        optimum.evaluations = static_cast<long>(jsonNumberOr(o.find("evaluations"), 0.0));
        Settledness& s = optimum.settledness;
        s.value = optimum.value;
        s.generations = static_cast<int>(jsonNumberOr(o.find("generations"), 0.0));
        s.converged = jsonTrue(o.find("converged"));
        s.lambda = jsonNumberOr(o.find("lambda"), NAN);
        s.remaining = jsonNumberOr(o.find("remaining"), NAN);
        const JsonValue* cliff = o.find("cliff");
        s.cliff = cliff != nullptr && cliff->type == JsonValue::Type::string ? cliff->text : "";
        s.cliffChange = jsonNumberOr(o.find("cliff_change"), 0.0);
        const JsonValue* state = o.find("state");
        if (state != nullptr && state->type == JsonValue::Type::string) {
            optimum.stateMeasured = parseStateKind(state->text, optimum.state.kind);
            optimum.state.generations =
                static_cast<long long>(jsonNumberOr(o.find("state_generations"), 0.0));
            optimum.state.lastChange = jsonNumberOr(o.find("last_change"), NAN);
        }
        map.optima.push_back(optimum);
    }
    // Records made before searches confirmed their best count the starts that reached it.
    map.searches = static_cast<int>(jsonNumberOr(root.find("searches"), 0.0));
    map.confirmed = static_cast<int>(
        jsonNumberOr(root.find("confirmed"), map.optima.empty() ? 0.0 : map.optima.front().starts));
    map.cpuSeconds = jsonNumberOr(root.find("cpu_seconds"), 0.0);
    map.wallSeconds = jsonNumberOr(root.find("wall_seconds"), 0.0);
    return true;
}
