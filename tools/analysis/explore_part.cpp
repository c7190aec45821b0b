#include "tools/analysis/explore_part.h"

#include "tools/formats/cli.h"
#include "tools/formats/json_io.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>

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

// What ties the parts of one run together, as the part's "run" member.
Json runJson(const ExploreRun& run) {
    Json j = Json::object();
    j["model"] = run.model;
    j["seed"] = run.seed;
    j["starts"] = run.starts;
    j["budget"] = run.budget;
    j["design"] = designName(run.design);
    j["regions"] = Json::array();
    for (const Region& r : run.regions) {
        j["regions"].push_back(Json::array({r.low, r.high, r.log}));
    }
    j["start_vector"] =
        run.userStart ? Json({{"start", run.start}, {"steps", run.steps}}) : Json(nullptr);
    j["data_checksum"] = run.dataChecksum.empty() ? Json(nullptr) : Json(run.dataChecksum);
    j["box"] = run.boxes;
    j["objective"] = objectiveName(run.objective);
    j["method"] = globalMethodName(run.method);
    if (!run.locus.empty()) {
        j["locus"] = run.locus;
    }
    return j;
}

// A value as a short text for a message: numbers and null as written, strings quoted; empty
// for lists and objects.
std::string shown(const Json& value) {
    return value.is_primitive() && !value.is_boolean() ? jsonInline(value) : "";
}

} // namespace

std::string explorePartJson(const ExploreRun& run, int block, int blocks,
                            const std::vector<StartOutcome>& outcomes, double cpuSeconds,
                            double wallSeconds) {
    Json j = Json::object();
    j["format"] = partFormat;
    j["version"] = 1;
    j["block"] = block;
    j["blocks"] = blocks;
    j["run"] = runJson(run);
    j["outcomes"] = Json::array();
    for (const StartOutcome& o : outcomes) {
        j["outcomes"].push_back(startOutcomeJson(o));
    }
    j["cpu_seconds"] = cpuSeconds;
    j["wall_seconds"] = wallSeconds;
    JsonLayout layout;
    layout.listed = {"outcomes"};
    layout.lineBefore = {"regions", "start_vector", "data_checksum"};
    return jsonDocument(j, layout);
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
    Json root;
    if (!readJsonFile(path, "explore part", root, error)) {
        return false;
    }
    if (jsonTextOr(jsonMember(root, "format")) != partFormat) {
        error = path + ": not a part of an explore run (no \"format\": \"" + partFormat + "\")";
        return false;
    }
    const double heldBlock = jsonNumberOr(jsonMember(root, "block"), 0.0);
    const double heldBlocks = jsonNumberOr(jsonMember(root, "blocks"), 0.0);
    if (heldBlock != block || heldBlocks != blocks) {
        error = path + " holds block " + formatNumber(heldBlock, 6) + " of " +
                formatNumber(heldBlocks, 6) + ", not block " + std::to_string(block) + " of " +
                std::to_string(blocks) + " as its name says";
        return false;
    }
    // The members of this run, taken in the order of their names.
    const Json thisRun = runJson(run);
    std::map<std::string, Json> expected;
    for (const auto& [key, value] : thisRun.items()) {
        expected.emplace(key, value);
    }
    const Json* held = jsonMember(root, "run");
    const Json olderObjective = objectiveName(ObjectiveKind::zonefit);
    // Parts written before the method was recorded searched with the default of then.
    const Json olderMethod = globalMethodName(GlobalMethod::cmaes);
    // A run of no locus has no "locus" member: a part that has one is of another run.
    expected.emplace("locus", nullptr);
    for (const auto& [key, value] : expected) {
        const Json* other = held != nullptr ? jsonMember(*held, key.c_str()) : nullptr;
        if (other == nullptr && held != nullptr && key == "objective") {
            other = &olderObjective;
        }
        if (other == nullptr && held != nullptr && key == "method") {
            other = &olderMethod;
        }
        if (other == nullptr && held != nullptr && key == "locus" && value.is_null()) {
            continue;
        }
        if (other != nullptr && *other == value) {
            continue;
        }
        const std::string mine = other != nullptr ? shown(*other) : "";
        const std::string wanted = shown(value);
        error = path + " belongs to another run: its \"" + key + "\" " +
                (mine.empty() || wanted.empty() ? "differs from this run's"
                                                : "is " + mine + ", this run's " + wanted);
        return false;
    }
    const Json* list = jsonMember(root, "outcomes");
    if (list == nullptr || !list->is_array() || list->size() != count) {
        error = path + ": block " + std::to_string(block) + " of " + std::to_string(blocks) +
                " needs the outcomes of " + std::to_string(count) +
                (count == 1 ? " start" : " starts");
        return false;
    }
    const std::size_t n = run.regions.size();
    for (std::size_t i = 0; i < count; i++) {
        const Json& item = (*list)[i];
        StartOutcome o;
        o.label = jsonTextOr(jsonMember(item, "label"));
        const double evaluations = jsonNumberOr(jsonMember(item, "evaluations"), -1.0);
        if (!jsonNumbers(jsonMember(item, "start"), o.start) || o.start.size() != n ||
            !jsonNumbers(jsonMember(item, "point"), o.point) || o.point.size() != n ||
            evaluations < 0.0) {
            error = path + ": outcome " + std::to_string(i + 1) + " needs a \"start\" and a " +
                    "\"point\" of " + std::to_string(n) + " numbers and its \"evaluations\"";
            return false;
        }
        // A value that JSON cannot hold (NaN) was written as null.
        o.value = jsonNumberOr(jsonMember(item, "value"), NAN);
        o.evaluations = static_cast<long>(evaluations);
        o.converged = jsonTrue(jsonMember(item, "converged"));
        outcomes.push_back(o);
    }
    cpuSeconds += jsonNumberOr(jsonMember(root, "cpu_seconds"), 0.0);
    wallSeconds += jsonNumberOr(jsonMember(root, "wall_seconds"), 0.0);
    return true;
}
