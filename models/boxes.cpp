#include "models/boxes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

bool aboveLower(const ParameterInfo& parameter, double value) {
    return parameter.lowerOpen ? value > parameter.lower : value >= parameter.lower;
}

bool belowUpper(const ParameterInfo& parameter, double value) {
    return parameter.upperOpen ? value < parameter.upper : value <= parameter.upper;
}

} // namespace

bool insideBox(const ParameterInfo& parameter, double value) {
    return aboveLower(parameter, value) && belowUpper(parameter, value);
}

double stepSize(const ParameterInfo& parameter, double value) {
    if (parameter.fitness) {
        return std::fmax(std::fabs(value - 1.0), weakestStepStrength);
    }
    return value != 0.0 ? std::fabs(value) : 1.0;
}

std::string boxText(const ParameterInfo& parameter) {
    return std::string(parameter.lowerOpen ? "(" : "[") + boundText(parameter.lower) + ", " +
           boundText(parameter.upper) + (parameter.upperOpen ? ")" : "]");
}

double boxPenalty(const ModelBox& box, const NRvector<double>& x) {
    const double unit = box.penaltyUnit;
    if (box.jointLowerCount > 0) {
        bool below = false;
        for (int j = 0; j < box.jointLowerCount; j++) {
            if (std::isnan(x[j])) {
                return unit;
            }
            below = below || !aboveLower(box.parameters[j], x[j]);
        }
        if (below) {
            double distance = std::fabs(x[0]) + 1.0;
            for (int j = 1; j < box.jointLowerCount; j++) {
                distance = distance + std::fabs(x[j]);
            }
            return distance * unit;
        }
    }
    for (int j = 0; j < box.parameterCount; j++) {
        const ParameterInfo& parameter = box.parameters[j];
        const double v = x[j];
        if (!insideBox(parameter, v)) {
            // NaN fails every comparison, so it is caught here and priced as one unit.
            return parameter.flatPenalty || std::isnan(v) ? unit : (std::fabs(v) + 1.0) * unit;
        }
    }
    return 0.0;
}

ExploreRegion regionInBox(const ParameterInfo& parameter) {
    ExploreRegion region;
    region.low = std::max(parameter.exploreLow, parameter.lower);
    region.high = std::min(parameter.exploreHigh, parameter.upper);
    if (!(region.low <= region.high)) {
        const bool lowerFinite = std::isfinite(parameter.lower);
        const bool upperFinite = std::isfinite(parameter.upper);
        region.low = lowerFinite ? parameter.lower : parameter.upper;
        region.high = upperFinite ? parameter.upper : parameter.lower;
    }
    // The design never draws an end itself, but rounding can land on one: the ends are made
    // values the box takes.
    if (parameter.lowerOpen && region.low <= parameter.lower) {
        region.low = std::nextafter(parameter.lower, unbounded);
        region.high = std::max(region.high, region.low);
    }
    if (parameter.upperOpen && region.high >= parameter.upper) {
        region.high = std::nextafter(parameter.upper, -unbounded);
        region.low = std::min(region.low, region.high);
    }
    region.log = parameter.exploreLog && region.low > 0.0;
    return region;
}

bool isPenalty(const ModelBox& box, double value) {
    return !std::isfinite(value) || value >= box.penaltyUnit;
}

std::string boundText(double bound) {
    if (bound == unbounded) {
        return "inf";
    }
    if (bound == -unbounded) {
        return "-inf";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%g", bound);
    return text;
}
