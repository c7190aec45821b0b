// Sample contents of zonetool's JSON files, with every kind of member filled in: strings that
// need escapes, whole numbers, doubles at full precision, nulls for NaN and infinity, lists
// empty and full. The tests pin the text each writer makes of them.
#pragma once

#include "tools/analysis/compare.h"
#include "tools/analysis/explore_part.h"
#include "tools/analysis/optima_map.h"
#include "tools/analysis/summary.h"
#include "tools/formats/fit_record.h"

#include <cmath>

namespace samples {

inline FitRecord fitRecord() {
    FitRecord r;
    r.model = 3;
    r.name = "SS_3";
    r.parameters = {"f1", "f2", "w"};
    r.point = {1.0027124000000001, 0.1, 7.0};
    r.value = 1157.6058123456789;
    r.seed = 18446744073709551615ull;
    r.evaluations = 179963;
    r.start = {1.2, 0.8, 15};
    r.steps = {0, 0.05, 2};
    r.free = {false, true, true};
    r.cpuSeconds = 2040.5;
    r.wallSeconds = 1e-300;
    r.programVersion = "v1-3-gabc-dirty";
    r.commandLine = {"zonetool", "fit", "3", "--start", "my \"dir\"/start\nfile\t\xCF\x83.txt"};
    r.data = "data/big.tsv";
    r.dataChecksum = "00ff00ff00ff00ff";
    r.objective = ObjectiveKind::settled;
    return r;
}

inline Optimum optimum(double value, std::vector<double> point, bool measured) {
    Optimum o;
    o.value = value;
    o.point = std::move(point);
    o.starts = 3;
    o.evaluations = 1234567;
    o.settledness.generations = 812;
    o.settledness.converged = measured;
    o.settledness.lambda = measured ? 0.93 : NAN;
    o.settledness.remaining = measured ? 1.3e-7 : HUGE_VAL;
    o.settledness.cliff = measured ? "" : "sigma";
    o.settledness.cliffChange = measured ? 0.0 : -12.5;
    o.stateMeasured = measured;
    o.state.kind = StateKind::transientThenEquilibrium;
    o.state.generations = 123456789012;
    o.state.lastChange = 4.9406564584124654e-324;
    return o;
}

inline StartOutcome outcome(const std::string& label, double value, int optimum) {
    StartOutcome o;
    o.label = label;
    o.start = {0.5, 1.0 / 3.0, 40};
    o.point = {0.25, 1e-5, 1.7976931348623157e308};
    o.value = value;
    o.evaluations = 400;
    o.converged = optimum == 0;
    o.optimum = optimum;
    return o;
}

inline ExploreMap exploreMap() {
    ExploreMap map;
    map.model = 1;
    map.seed = 18446744073709551615ull;
    map.budget = 4000;
    map.design = Design::strength;
    map.objective = ObjectiveKind::settled;
    map.method = "crs2";
    map.regions = {{0.8, 1.25, true}, {0.8, 1.25, true}, {0.1, 0.5, false}, {1, 100, true}};
    map.optima = {optimum(1141.2344, {1, 1.1, 0.3, 15}, true),
                  optimum(NAN, {1, 1.1, 0.3, 100}, false)};
    map.outcomes = {outcome("startvec", 1141.2344, 0), outcome("design 1", NAN, 1)};
    map.cpuSeconds = 12.75;
    map.wallSeconds = 6.5;
    return map;
}

inline ExploreRun exploreRun(bool userStart) {
    ExploreRun run;
    run.model = 1;
    run.seed = 7;
    run.starts = 16;
    run.budget = 300;
    run.design = Design::box;
    run.regions = {{0.8, 1.25, true}, {0.1, 0.5, false}};
    run.userStart = userStart;
    run.start = {1.2, 0.3};
    run.steps = {0, 0.05};
    run.dataChecksum = userStart ? "0123456789abcdef" : "";
    run.boxes =
        userStart ? std::vector<std::string>{"sigma=1:50", "w=\"x\""} : std::vector<std::string>{};
    run.objective = ObjectiveKind::zonefit;
    return run;
}

inline FitSummary fitSummary(bool settled) {
    FitSummary s;
    s.predicted = true;
    s.centre = 12.25;
    s.width = NAN;
    s.deficit = {0.1, -0.0125, 0};
    s.sigma = 8;
    s.sigmaEffective = NAN;
    if (settled) {
        Settledness t;
        t.generations = 5000;
        t.converged = false;
        t.lambda = 0.999;
        t.remaining = HUGE_VAL;
        t.cliff = "w";
        s.settled = t;
        SettledReport report;
        report.kind = StateKind::quasiStationary;
        report.generations = 20000;
        report.lastChange = 2.5e-9;
        s.state = report;
    }
    return s;
}

inline std::vector<ComparisonRow> comparisonRows() {
    ComparisonRow best;
    best.result.model = 7;
    best.result.seed = 3;
    best.result.path = "runs/C_1_ML_seed3";
    best.best = true;
    best.parameters = 6;
    best.negLogL = 1141.2344;
    best.aic = 2294.4688;
    best.aicc = 2294.58;
    best.weight = 0.73105857863000490;
    best.g = 1.5e12;
    best.df = 40;
    ComparisonRow other = best;
    other.result.seed.reset();
    other.result.path = "C_1_ML_\xCF\x83";
    other.result.objective = ObjectiveKind::settled;
    other.best = false;
    other.negLogL = HUGE_VAL;
    other.weight = NAN;
    return {best, other};
}

} // namespace samples
