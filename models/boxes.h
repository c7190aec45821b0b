// Parameter boxes: the allowed range of each parameter of a model, and the penalty with which
// an objective answers a parameter vector outside them instead of simulating.
#pragma once

#include "optimiser/nr3.h"

#include <limits>
#include <string>

constexpr double unbounded = std::numeric_limits<double>::infinity();

// Upper bound of every fitness parameter of every model.
constexpr double fitnessMax = 10000.0;

// The exploration region of every fitness: selection of strength up to 100 either way, the
// fitness from 1/101 to 101 (log scale).
constexpr double fitnessRegionHigh = 101.0;
constexpr double fitnessRegionLow = 1.0 / fitnessRegionHigh;

// One entry of a model's parameter vector: its short name and its box. A value outside the
// box is answered by the objective with a penalty instead of a simulation.
struct ParameterInfo {
    const char* name;    // short name, as in wSS or sigma; unique within the model
    const char* meaning; // one line for listings
    double lower;        // lower bound, -infinity when there is none
    bool lowerOpen;      // the lower bound itself is refused
    double upper;        // upper bound, +infinity when there is none
    bool upperOpen;      // the upper bound itself is refused
    // A value outside the box costs one penalty unit whatever it is (border and contact
    // positions, SS_2's border deme), instead of (|v| + 1) units.
    bool flatPenalty = false;
    // Where a multi-start search draws its start points: low to high, on a log scale when
    // exploreLog (then 0 < low). A region of one value holds the parameter fixed.
    double exploreLow = 0.0;
    double exploreHigh = 0.0;
    bool exploreLog = false;
    // A fitness relative to a reference genotype (of fitness 1): how far it lies from neutral
    // is its selection strength |w - 1|, not |w|.
    bool fitness = false;
};

// The box of one model as its objective tests it.
struct ModelBox {
    const ParameterInfo* parameters = nullptr; // parameterCount entries, tested in vector order
    int parameterCount = 0;
    double penaltyUnit = 0.0; // the least penalty; the kernel models also floor a
                              // log-frequency at -penaltyUnit
    // How many leading parameters have their lower bounds tested together before any other
    // test (SS_1's two fitnesses): any of them NaN costs one unit; any below its lower bound
    // costs (|x0| + 1 + |x1| + ...) units, added in that order. 0 for most models.
    int jointLowerCount = 0;
};

// Where a search draws the start values of one parameter: low to high, on a log scale when
// `log` (then 0 < low); low == high holds the parameter fixed.
struct ExploreRegion {
    double low = 0.0;
    double high = 0.0;
    bool log = false;
};

// The exploration region of `parameter` as searches use it, always inside its box: the
// region's part within the bounds; an end on (or beyond) an open bound moves to the nearest
// value inside it. A region that misses the box altogether becomes the box itself, or its one
// finite bound when the other is infinite. The log scale is kept while low > 0. Only a box
// with no value inside, such as (5, 5), leaves the region outside.
ExploreRegion regionInBox(const ParameterInfo& parameter);

// The weakest selection strength stepSize() measures a fitness's steps against: that of the
// weakest selection a search draws.
constexpr double weakestStepStrength = 1e-4;

// The size of `value` of `parameter` against which steps away from it are measured: for a
// fitness its selection strength |value - 1|, at least weakestStepStrength (a step of 5% of
// |w| from w = 1.002 would turn selection of strength 0.002 into 0.048); else |value|, or 1
// at 0.
double stepSize(const ParameterInfo& parameter, double value);

// Whether `value` lies inside the box of `parameter` (NaN never does).
bool insideBox(const ParameterInfo& parameter, double value);

// A bound as listings print it: "inf", "-inf" or the shortest %g text.
std::string boundText(double bound);

// The box in interval notation, as in "[0, 10000]", "(30, 80)" or "(0, inf)".
std::string boxText(const ParameterInfo& parameter);

// 0 when every parameter of `x` (which holds at least box.parameterCount values) lies inside
// its box. Otherwise the penalty of the first failing test, in the order of the parameters
// after the joint lower-bound test: one unit for a NaN value or a parameter with a flat
// penalty, else (|v| + 1) units, which is infinite for an infinite v.
double boxPenalty(const ModelBox& box, const NRvector<double>& x);

// Whether `value`, the best value of a fit or one read from a result file, is a penalty
// rather than a negative log-likelihood: not finite, or at least the box's penalty unit.
// The objectives answer a point outside the box, a likelihood that is not a number and a run
// that did not settle with such values. A true -lnL reaches the unit (1e5 or 1e6) only when
// the simulated frequencies leave an observed genotype all but impossible: the kernel models
// floor each log-frequency at -unit, so one such individual costs the whole unit, and
// without that a sample needs about 1e5 / 23 = 4300 individuals each at a frequency of
// 1e-10. Such a point explains nothing of the data either, so it counts as no fit; any finite
// value below the unit counts as one.
bool isPenalty(const ModelBox& box, double value);
