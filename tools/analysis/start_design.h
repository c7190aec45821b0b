// Start points of a multi-start search: a reproducible space-filling design over each
// parameter's exploration region.
#pragma once

#include "models/model_table.h"
#include "tools/formats/data_option.h"

#include <cstdint>
#include <string>
#include <vector>

// The exploration region of one parameter: low to high, on a log scale when `log`.
struct Region {
    double low = 0.0;
    double high = 0.0;
    bool log = false;
};

// The regions of `model` in the boxes of `data`, each inside its box (regionInBox), in
// parameter order.
std::vector<Region> defaultRegions(const DataContext& data, const ModelEntry& model);

// Reads "NAME=LO:HI" (a log scale is kept when the table's region has one and LO > 0) into
// `regions`. Checks that NAME is a parameter of `model`, LO <= HI, and both lie within the
// parameter's box in `data` (its bounds included; an end on an open bound is moved inside, as
// regionInBox does). On failure returns false with a one-line reason.
bool applyRegionOption(const DataContext& data, const ModelEntry& model, const std::string& text,
                       std::vector<Region>& regions, std::string& problem);

// SplitMix64: a 64-bit counter stepped by the golden-ratio increment and passed through two
// xor-shift-multiply rounds. Small, fast and with well-spread output even from seeds 0, 1, 2.
class SplitMix64 {
  public:
    explicit SplitMix64(std::uint64_t seed) : state(seed) {}
    std::uint64_t next();
    // A double in (0, 1): never exactly 0 or 1, so a start never lands on an open bound.
    double open01();
    // A whole number from 0 to n - 1 (n >= 1), by rejection so that every value is as likely.
    std::uint64_t below(std::uint64_t n);

  private:
    std::uint64_t state;
};

// How start points are drawn.
enum class Design {
    box,      // every parameter across its region, independently
    strength, // fitness pairs as strength and asymmetry, the rest as `box`
};

// The value at `u` (0 to 1) across `region`, on its scale; a fixed region gives its value.
double fromUnit(const Region& region, double u);
// The inverse: where `x` lies across `region`, clamped to [0, 1]; 0 for a fixed region or a
// value that is not a number.
double toUnit(const Region& region, double x);

// "box" or "strength".
const char* designName(Design design);
bool parseDesign(const std::string& text, Design& design);

// A Latin hypercube of `points` points in the unit cube of `dimensions` dimensions: along
// every axis each of the `points` equal slices holds exactly one point, placed at random
// within it. Coordinates lie in (0, 1). The same seed gives the same design.
std::vector<std::vector<double>> latinHypercube(int points, int dimensions, std::uint64_t seed);

// `points` start vectors of `model` over `regions`, from a Latin hypercube drawn with `seed`;
// every coordinate lies within its region, ends included.
// With Design::strength each pair of neighbouring fitnesses on log-scale regions (wSS, wII)
// is drawn as a strength s (|s| log-uniform from 1e-4 to the largest |ln w| of the first
// fitness's region, either sign) and an asymmetry a (-1 to 1), ln w1 = s (1 + a),
// ln w2 = s (1 - a), each held within its region: the homozygotes of the cline then have
// nearly equal fitnesses close to 1 as often as not.
std::vector<std::vector<double>> designStarts(const ModelEntry& model,
                                              const std::vector<Region>& regions, int points,
                                              std::uint64_t seed, Design design);

// The initial steps of a simplex at `point`: a tenth of the region's width, in the log scale
// for log-scale regions (then point x (e^(w/10) - 1)); 0 for a fixed parameter.
std::vector<double> regionSteps(const std::vector<Region>& regions,
                                const std::vector<double>& point);

// How far apart two points are: the largest, over the parameters that are not fixed, of the
// coordinate difference divided by the region's width (both on the log scale for log-scale
// regions).
double regionDistance(const std::vector<Region>& regions, const std::vector<double>& a,
                      const std::vector<double>& b);
