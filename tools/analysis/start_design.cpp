#include "tools/analysis/start_design.h"

#include "tools/formats/cli.h"

#include <algorithm>
#include <cmath>

std::vector<Region> defaultRegions(const DataContext& data, const ModelEntry& model) {
    const ModelBox& box = data.box(model.number);
    std::vector<Region> regions;
    for (int j = 0; j < box.parameterCount; j++) {
        const ExploreRegion r = regionInBox(box.parameters[j]);
        regions.push_back({r.low, r.high, r.log});
    }
    return regions;
}

bool applyRegionOption(const DataContext& data, const ModelEntry& model, const std::string& text,
                       std::vector<Region>& regions, std::string& problem) {
    const std::size_t equals = text.find('=');
    const std::size_t colon = text.find(':', equals == std::string::npos ? 0 : equals);
    if (equals == std::string::npos || colon == std::string::npos) {
        problem = "--region needs NAME=LO:HI, not '" + text + "'";
        return false;
    }
    const std::string name = text.substr(0, equals);
    const int j = findParameter(model, name);
    if (j < 0) {
        problem =
            "--region: model " + std::to_string(model.number) + " has no parameter '" + name + "'";
        return false;
    }
    double low = 0.0;
    double high = 0.0;
    if (!parseNumber(text.substr(equals + 1, colon - equals - 1), low) ||
        !parseNumber(text.substr(colon + 1), high) || !std::isfinite(low) || !std::isfinite(high)) {
        problem = "--region " + name + ": LO and HI must be finite numbers, not '" +
                  text.substr(equals + 1) + "'";
        return false;
    }
    ParameterInfo p = data.box(model.number).parameters[j];
    if (low > high) {
        problem = "--region " + name + ": LO must not exceed HI";
        return false;
    }
    if (low < p.lower || high > p.upper) {
        problem =
            "--region " + name + ": " + text.substr(equals + 1) + " leaves the box " + boxText(p);
        return false;
    }
    p.exploreLow = low;
    p.exploreHigh = high;
    const ExploreRegion r = regionInBox(p);
    regions[static_cast<std::size_t>(j)] = {r.low, r.high, r.log};
    return true;
}

std::uint64_t SplitMix64::next() {
    state += 0x9e3779b97f4a7c15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

double SplitMix64::open01() {
    return (static_cast<double>(next() >> 11) + 0.5) * 0x1p-53;
}

std::uint64_t SplitMix64::below(std::uint64_t n) {
    // The largest multiple of n that fits; words at or above it are drawn again.
    const std::uint64_t limit = n == 0 ? 0 : UINT64_MAX - UINT64_MAX % n;
    for (;;) {
        const std::uint64_t word = next();
        if (word < limit) {
            return word % n;
        }
    }
}

const char* designName(Design design) {
    return design == Design::box ? "box" : "strength";
}

bool parseDesign(const std::string& text, Design& design) {
    if (text == "box") {
        design = Design::box;
        return true;
    }
    if (text == "strength") {
        design = Design::strength;
        return true;
    }
    return false;
}

std::vector<std::vector<double>> latinHypercube(int points, int dimensions, std::uint64_t seed) {
    std::vector<std::vector<double>> unit(static_cast<std::size_t>(std::max(points, 0)),
                                          std::vector<double>(std::max(dimensions, 0)));
    SplitMix64 rng(seed);
    std::vector<std::size_t> slice(unit.size());
    for (int d = 0; d < dimensions; d++) {
        for (std::size_t i = 0; i < slice.size(); i++) {
            slice[i] = i;
        }
        // Fisher-Yates: every assignment of slices to points is as likely.
        for (std::size_t i = slice.size(); i > 1; i--) {
            std::swap(slice[i - 1], slice[rng.below(i)]);
        }
        for (std::size_t i = 0; i < unit.size(); i++) {
            unit[i][static_cast<std::size_t>(d)] =
                (static_cast<double>(slice[i]) + rng.open01()) / static_cast<double>(points);
        }
    }
    return unit;
}

double fromUnit(const Region& r, double u) {
    if (r.low == r.high) {
        return r.low;
    }
    if (r.log) {
        return std::exp(std::log(r.low) + u * (std::log(r.high) - std::log(r.low)));
    }
    return r.low + u * (r.high - r.low);
}

double toUnit(const Region& r, double x) {
    if (!(r.high > r.low)) {
        return 0.0;
    }
    double u = 0.0;
    if (r.log) {
        u = x > 0.0 ? (std::log(x) - std::log(r.low)) / (std::log(r.high) - std::log(r.low)) : 0.0;
    } else {
        u = (x - r.low) / (r.high - r.low);
    }
    // NaN fails both comparisons and ends at 0.
    return u >= 1.0 ? 1.0 : (u > 0.0 ? u : 0.0);
}

namespace {

// Whether parameters j and j + 1 form a pair of fitnesses drawn as strength and asymmetry.
bool fitnessPair(const ModelEntry& model, const std::vector<Region>& regions, int j) {
    if (j + 1 >= model.parameterCount) {
        return false;
    }
    for (int k = j; k <= j + 1; k++) {
        const Region& r = regions[static_cast<std::size_t>(k)];
        if (model.parameters[k].name[0] != 'w' || !r.log || !(r.high > r.low)) {
            return false;
        }
    }
    return true;
}

double clampLog(const Region& r, double logValue) {
    return std::exp(std::min(std::max(logValue, std::log(r.low)), std::log(r.high)));
}

} // namespace

std::vector<std::vector<double>> designStarts(const ModelEntry& model,
                                              const std::vector<Region>& regions, int points,
                                              std::uint64_t seed, Design design) {
    const int n = model.parameterCount;
    const std::vector<std::vector<double>> unit = latinHypercube(points, n, seed);
    std::vector<std::vector<double>> starts;
    for (const std::vector<double>& u : unit) {
        std::vector<double> x(static_cast<std::size_t>(n));
        for (int j = 0; j < n; j++) {
            const std::size_t k = static_cast<std::size_t>(j);
            if (design == Design::strength && fitnessPair(model, regions, j)) {
                const Region& r1 = regions[k];
                const Region& r2 = regions[k + 1];
                const double largest = std::max(std::fabs(std::log(r1.low)), std::log(r1.high));
                const double smallest = std::min(1e-4, largest);
                const double v = 2.0 * u[k] - 1.0;
                const double magnitude = std::exp(
                    std::log(smallest) + std::fabs(v) * (std::log(largest) - std::log(smallest)));
                const double s = v < 0.0 ? -magnitude : magnitude;
                const double a = 2.0 * u[k + 1] - 1.0;
                x[k] = clampLog(r1, s * (1.0 + a));
                x[k + 1] = clampLog(r2, s * (1.0 - a));
                j++;
                continue;
            }
            x[k] = fromUnit(regions[k], u[k]);
        }
        // exp(log(20)) is not 20: a start drawn on a log scale can round past the end of its
        // region, and so past a bound of the box.
        for (std::size_t k = 0; k < x.size() && k < regions.size(); k++) {
            x[k] = std::min(std::max(x[k], regions[k].low), regions[k].high);
        }
        starts.push_back(x);
    }
    return starts;
}

std::vector<double> regionSteps(const std::vector<Region>& regions,
                                const std::vector<double>& point) {
    std::vector<double> steps(point.size(), 0.0);
    for (std::size_t j = 0; j < point.size() && j < regions.size(); j++) {
        const Region& r = regions[j];
        if (r.low == r.high) {
            continue;
        }
        steps[j] =
            r.log ? point[j] * std::expm1(0.1 * std::log(r.high / r.low)) : 0.1 * (r.high - r.low);
    }
    return steps;
}

double regionDistance(const std::vector<Region>& regions, const std::vector<double>& a,
                      const std::vector<double>& b) {
    double largest = 0.0;
    for (std::size_t j = 0; j < regions.size() && j < a.size() && j < b.size(); j++) {
        const Region& r = regions[j];
        if (!(r.high > r.low)) {
            continue;
        }
        double d = 0.0;
        if (r.log && a[j] > 0.0 && b[j] > 0.0) {
            d = std::fabs(std::log(a[j] / b[j])) / std::log(r.high / r.low);
        } else {
            d = std::fabs(a[j] - b[j]) / (r.high - r.low);
        }
        // A difference that is not a number never counts as close.
        largest = d <= largest ? largest : (d == d ? d : HUGE_VAL);
    }
    return largest;
}
