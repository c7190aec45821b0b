// The support limits of a profiled model and the points the profile evaluated: the file the
// profile stage of `zonetool analyse` leaves (MODEL.limits.json) for the later stages.
#pragma once

#include <string>
#include <vector>

// One parameter's limits: where -lnL rises by the limit's units above the minimum.
struct ParameterLimits {
    std::string name;
    double estimate = 0.0;
    double lower = 0.0; // when not found, the farthest value examined (the bound, atBox)
    double upper = 0.0;
    bool lowerFound = false;
    bool upperFound = false;
};

// One evaluated point: every coordinate, and -lnL there.
struct EvaluatedPoint {
    std::vector<double> point;
    double value = 0.0;
};

struct ProfileLimits {
    int model = 0;
    double units = 2.0;
    std::vector<double> estimate; // the point profiled (where the profile may have moved it)
    double minimum = 0.0;         // -lnL there
    std::vector<ParameterLimits> parameters;
    std::vector<EvaluatedPoint> points; // every profile point, in the order computed
};

// The limits as a JSON document (numbers round-trip exactly).
std::string limitsJson(const ProfileLimits& limits);

// Reads limitsJson's text; false with the reason (naming `path`) in `error`.
bool parseLimitsJson(const std::string& text, const std::string& path, ProfileLimits& limits,
                     std::string& error);

// The points within `units` of `minimum`, the estimate first.
std::vector<EvaluatedPoint> pointsWithinLimit(const ProfileLimits& limits);
