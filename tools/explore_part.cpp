#include "tools/explore_part.h"

#include "tools/cli.h"
#include "tools/json.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

BlockRange blockRange(std::size_t total, int block, int blocks) {
    const std::size_t k = static_cast<std::size_t>(block);
    const std::size_t b = static_cast<std::size_t>(blocks);
    return {total * (k - 1) / b, total * k / b};
}

bool parseBlock(const std::string& text, int& block, int& blocks) {
    const std::size_t slash = text.find('/');
    if (slash == std::string::npos) {
        return false;
    }
    const std::string k = text.substr(0, slash);
    const std::string b = text.substr(slash + 1);
    for (const std::string& digits : {k, b}) {
        if (digits.empty() || digits.size() > 6 ||
            digits.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
    }
    block = std::stoi(k);
    blocks = std::stoi(b);
    return block >= 1 && block <= blocks && blocks <= maxBlocks;
}

std::string explorePartName(const std::string& prefix, int block, int blocks) {
    return prefix + ".explore.part" + std::to_string(block) + "-of-" + std::to_string(blocks) +
           ".json";
}

namespace {

const char* const partFormat = "zonefit-explore-part";

std::string runJson(const ExploreRun& run) {
    std::ostringstream out;
    out << "{\"model\": " << run.model << ", \"seed\": " << run.seed
        << ", \"starts\": " << run.starts << ", \"budget\": " << run.budget
        << ", \"design\": " << jsonQuote(designName(run.design)) << ",\n    \"regions\": [";
    for (std::size_t j = 0; j < run.regions.size(); j++) {
        const Region& r = run.regions[j];
        out << (j == 0 ? "" : ", ") << "[" << jsonNumber(r.low) << ", " << jsonNumber(r.high)
            << ", " << (r.log ? "true" : "false") << "]";
    }
    out << "],\n    \"start_vector\": ";
    if (run.userStart) {
        out << "{\"start\": " << jsonNumberList(run.start)
            << ", \"steps\": " << jsonNumberList(run.steps) << "}";
    } else {
        out << "null";
    }
    out << ",\n    \"data_checksum\": "
        << (run.dataChecksum.empty() ? std::string("null") : jsonQuote(run.dataChecksum))
        << ", \"box\": [";
    for (std::size_t i = 0; i < run.boxes.size(); i++) {
        out << (i == 0 ? "" : ", ") << jsonQuote(run.boxes[i]);
    }
    out << "], \"objective\": " << jsonQuote(objectiveName(run.objective)) << "}";
    return out.str();
}

bool sameJson(const JsonValue& a, const JsonValue& b) {
    if (a.type != b.type) {
        return false;
    }
    switch (a.type) {
    case JsonValue::Type::null:
        return true;
    case JsonValue::Type::boolean:
        return a.boolean == b.boolean;
    case JsonValue::Type::number:
        return a.number == b.number;
    case JsonValue::Type::string:
        return a.text == b.text;
    case JsonValue::Type::array:
        if (a.items.size() != b.items.size()) {
            return false;
        }
        for (std::size_t i = 0; i < a.items.size(); i++) {
            if (!sameJson(a.items[i], b.items[i])) {
                return false;
            }
        }
        return true;
    case JsonValue::Type::object:
        if (a.fields.size() != b.fields.size()) {
            return false;
        }
        for (const auto& [key, value] : a.fields) {
            const JsonValue* other = b.find(key);
            if (other == nullptr || !sameJson(value, *other)) {
                return false;
            }
        }
        return true;
    }
    return false;
}

// A value as a short text for a message: numbers as written, strings quoted.
std::string shown(const JsonValue& value) {
    switch (value.type) {
    case JsonValue::Type::null:
        return "null";
    case JsonValue::Type::number:
        return value.text;
    case JsonValue::Type::string:
        return jsonQuote(value.text);
    default:
        return "";
    }
}

} // namespace

std::string explorePartJson(const ExploreRun& run, int block, int blocks,
                            const std::vector<StartOutcome>& outcomes, double cpuSeconds,
                            double wallSeconds) {
    std::ostringstream out;
    out << "{\n  \"format\": \"" << partFormat << "\",\n  \"version\": 1,\n  \"block\": " << block
        << ",\n  \"blocks\": " << blocks << ",\n  \"run\": " << runJson(run)
        << ",\n  \"outcomes\": [";
    for (std::size_t i = 0; i < outcomes.size(); i++) {
        const StartOutcome& o = outcomes[i];
        out << (i == 0 ? "\n" : ",\n") << "    {\"label\": " << jsonQuote(o.label)
            << ", \"start\": " << jsonNumberList(o.start)
            << ", \"point\": " << jsonNumberList(o.point) << ", \"value\": " << jsonNumber(o.value)
            << ", \"evaluations\": " << o.evaluations
            << ", \"converged\": " << (o.converged ? "true" : "false") << "}";
    }
    out << "\n  ],\n  \"cpu_seconds\": " << jsonNumber(cpuSeconds)
        << ",\n  \"wall_seconds\": " << jsonNumber(wallSeconds) << "\n}\n";
    return out.str();
}

bool readExplorePart(const std::string& path, const ExploreRun& run, int block, int blocks,
                     std::size_t count, std::vector<StartOutcome>& outcomes, double& cpuSeconds,
                     double& wallSeconds, std::string& error) {
    {
        std::ifstream probe(path);
        if (!probe) {
            error = path + ": cannot open: " + std::strerror(errno);
            return false;
        }
    }
    JsonValue root;
    if (!readJsonFile(path, "explore part", root, error)) {
        return false;
    }
    const JsonValue* format = root.find("format");
    if (format == nullptr || format->type != JsonValue::Type::string ||
        format->text != partFormat) {
        error = path + ": not a part of an explore run (no \"format\": \"" + partFormat + "\")";
        return false;
    }
    const double heldBlock = jsonNumberOr(root.find("block"), 0.0);
    const double heldBlocks = jsonNumberOr(root.find("blocks"), 0.0);
    if (heldBlock != block || heldBlocks != blocks) {
        error = path + " holds block " + formatNumber(heldBlock, 6) + " of " +
                formatNumber(heldBlocks, 6) + ", not block " + std::to_string(block) + " of " +
                std::to_string(blocks) + " as its name says";
        return false;
    }
    JsonValue expected;
    std::string problem;
    parseJson(runJson(run), expected, problem);
    const JsonValue* held = root.find("run");
    JsonValue olderObjective;
    olderObjective.type = JsonValue::Type::string;
    olderObjective.text = objectiveName(ObjectiveKind::zonefit);
    for (const auto& [key, value] : expected.fields) {
        const JsonValue* other = held != nullptr ? held->find(key) : nullptr;
        if (other == nullptr && held != nullptr && key == "objective") {
            other = &olderObjective;
        }
        if (other != nullptr && sameJson(value, *other)) {
            continue;
        }
        const std::string mine = other != nullptr ? shown(*other) : "";
        const std::string wanted = shown(value);
        error = path + " belongs to another run: its \"" + key + "\" " +
                (mine.empty() || wanted.empty() ? "differs from this run's"
                                                : "is " + mine + ", this run's " + wanted);
        return false;
    }
    const JsonValue* list = root.find("outcomes");
    if (list == nullptr || list->type != JsonValue::Type::array || list->items.size() != count) {
        error = path + ": block " + std::to_string(block) + " of " + std::to_string(blocks) +
                " needs the outcomes of " + std::to_string(count) +
                (count == 1 ? " start" : " starts");
        return false;
    }
    const std::size_t n = run.regions.size();
    for (std::size_t i = 0; i < count; i++) {
        const JsonValue& item = list->items[i];
        StartOutcome o;
        const JsonValue* label = item.find("label");
        o.label = label != nullptr && label->type == JsonValue::Type::string ? label->text : "";
        const double evaluations = jsonNumberOr(item.find("evaluations"), -1.0);
        if (!jsonNumbers(item.find("start"), o.start) || o.start.size() != n ||
            !jsonNumbers(item.find("point"), o.point) || o.point.size() != n || evaluations < 0.0) {
            error = path + ": outcome " + std::to_string(i + 1) + " needs a \"start\" and a " +
                    "\"point\" of " + std::to_string(n) + " numbers and its \"evaluations\"";
            return false;
        }
        // A value that JSON cannot hold (NaN) was written as null.
        o.value = jsonNumberOr(item.find("value"), NAN);
        o.evaluations = static_cast<long>(evaluations);
        o.converged = jsonTrue(item.find("converged"));
        outcomes.push_back(o);
    }
    cpuSeconds += jsonNumberOr(root.find("cpu_seconds"), 0.0);
    wallSeconds += jsonNumberOr(root.find("wall_seconds"), 0.0);
    return true;
}
