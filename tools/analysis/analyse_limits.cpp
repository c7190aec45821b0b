#include "tools/analysis/analyse_limits.h"

#include <nlohmann/json.hpp>

std::string limitsJson(const ProfileLimits& limits) {
    nlohmann::json j;
    j["model"] = limits.model;
    j["units"] = limits.units;
    j["estimate"] = limits.estimate;
    j["minimum"] = limits.minimum;
    j["parameters"] = nlohmann::json::array();
    for (const ParameterLimits& p : limits.parameters) {
        j["parameters"].push_back({{"name", p.name},
                                   {"estimate", p.estimate},
                                   {"lower", p.lower},
                                   {"lower_found", p.lowerFound},
                                   {"upper", p.upper},
                                   {"upper_found", p.upperFound}});
    }
    j["points"] = nlohmann::json::array();
    for (const EvaluatedPoint& p : limits.points) {
        j["points"].push_back({{"value", p.value}, {"point", p.point}});
    }
    return j.dump(1) + "\n";
}

bool parseLimitsJson(const std::string& text, const std::string& path, ProfileLimits& limits,
                     std::string& error) {
    // The library reports malformed text by exception; parse without them and check types.
    const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
    auto number = [](const nlohmann::json& o, const char* key, double& to) {
        if (!o.is_object() || !o.contains(key) || !o[key].is_number()) {
            return false;
        }
        to = o[key].get<double>();
        return true;
    };
    auto numbers = [](const nlohmann::json& o, const char* key, std::vector<double>& to) {
        if (!o.is_object() || !o.contains(key) || !o[key].is_array()) {
            return false;
        }
        to.clear();
        for (const nlohmann::json& x : o[key]) {
            if (!x.is_number()) {
                return false;
            }
            to.push_back(x.get<double>());
        }
        return true;
    };
    double model = 0.0;
    if (j.is_discarded() || !number(j, "model", model) || !number(j, "units", limits.units) ||
        !numbers(j, "estimate", limits.estimate) || !number(j, "minimum", limits.minimum) ||
        !j.contains("parameters") || !j["parameters"].is_array() || !j.contains("points") ||
        !j["points"].is_array()) {
        error = path + ": not a file of support limits";
        return false;
    }
    limits.model = static_cast<int>(model);
    limits.parameters.clear();
    for (const nlohmann::json& p : j["parameters"]) {
        ParameterLimits l;
        if (!p.contains("name") || !p["name"].is_string() || !number(p, "estimate", l.estimate) ||
            !number(p, "lower", l.lower) || !number(p, "upper", l.upper) ||
            !p.contains("lower_found") || !p["lower_found"].is_boolean() ||
            !p.contains("upper_found") || !p["upper_found"].is_boolean()) {
            error = path + ": a parameter's limits do not read";
            return false;
        }
        l.name = p["name"].get<std::string>();
        l.lowerFound = p["lower_found"].get<bool>();
        l.upperFound = p["upper_found"].get<bool>();
        limits.parameters.push_back(l);
    }
    limits.points.clear();
    for (const nlohmann::json& p : j["points"]) {
        EvaluatedPoint e;
        if (!number(p, "value", e.value) || !numbers(p, "point", e.point)) {
            error = path + ": a profile point does not read";
            return false;
        }
        limits.points.push_back(e);
    }
    return true;
}

std::vector<EvaluatedPoint> pointsWithinLimit(const ProfileLimits& limits) {
    std::vector<EvaluatedPoint> within{{limits.estimate, limits.minimum}};
    for (const EvaluatedPoint& p : limits.points) {
        if (p.value <= limits.minimum + limits.units) {
            within.push_back(p);
        }
    }
    return within;
}
