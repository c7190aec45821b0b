// Profile-likelihood support limits, checked on objectives whose profiles are known exactly.
#include "tools/analysis/profile.h"
#include "tools/formats/profile_curve.h"

#include "support/run_in_process.h"
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// f(x) = 10 + (x - mu)' A (x - mu) / 2 with mu = (1, -2, 5) and
// A = [[2, 0.5, 0], [0.5, 1, 0.3], [0, 0.3, 0.5]] (det 0.695). Minimising over the other
// coordinates leaves 10 + (x_i - mu_i)^2 / (2 (A^-1)_ii), with (A^-1)_ii = 0.41, 1 and 1.75
// over 0.695, so the limits at U units lie at mu_i -+ sqrt(2 U (A^-1)_ii).
double quadratic(const NRvector<double>& x) {
    const double d[3] = {x[0] - 1.0, x[1] + 2.0, x[2] - 5.0};
    const double A[3][3] = {{2.0, 0.5, 0.0}, {0.5, 1.0, 0.3}, {0.0, 0.3, 0.5}};
    double q = 0.0;
    for (int i = 0; i < 3; i++) {
        for (int j = 0; j < 3; j++) {
            q += d[i] * A[i][j] * d[j];
        }
    }
    return 10.0 + 0.5 * q;
}

// Minimising over y leaves (x - 1)^4: limits at 1 -+ U^(1/4).
double quartic(const NRvector<double>& x) {
    const double a = x[0] - 1.0;
    const double b = x[1] - x[0] * x[0];
    return a * a * a * a + b * b;
}

// No information about x[0] at all.
double flatInFirst(const NRvector<double>& x) {
    return x[1] * x[1];
}

// Two fitnesses of weak selection whose difference the data pin down closely, as on the
// one-region models' ridge: x0 near 1.002 within about 0.0005, x1 within 1e-5 of x0 - 0.0001.
// Profiling x0 leaves 10 + ((x0 - 1.002) / 0.0005)^2 / 2: limits at 1.002 -+ 0.001.
double weakSelection(const NRvector<double>& x) {
    const double a = (x[0] - 1.002) / 0.0005;
    const double b = (x[1] - x[0] + 0.0001) / 1e-5;
    return 10.0 + 0.5 * a * a + 0.5 * b * b;
}

// A profile that jumps: (x0 - 1)^2 down to x0 = 0.5, where the cline is lost and -ln L leaps
// by hundreds; x1 is free and quadratic.
double cliff(const NRvector<double>& x) {
    const double a = x[0] - 1.0;
    return (x[0] > 0.5 ? a * a : 500.0) + x[1] * x[1];
}

// The estimate at the edge of a cliff: the cline is lost a billionth above x0 = 1, as at a
// best point of the one-region models, which sit where the cline is only just kept.
double cliffAtTheEstimate(const NRvector<double>& x) {
    const double a = x[0] - 1.0;
    return (x[0] < 1.0 + 1e-9 ? a * a : 500.0) + x[1] * x[1];
}

ParameterInfo fitnessBox() {
    ParameterInfo w{"w", "", 0.0, false, 10000.0, false};
    w.fitness = true;
    return w;
}

ParameterInfo box(double lower, bool lowerOpen, double upper, bool upperOpen) {
    return {"p", "", lower, lowerOpen, upper, upperOpen};
}

const std::vector<ParameterInfo> noBoxes;

// The closed forms are exact, so the simplex can be asked for far more than the models allow.
ProfileSettings precise() {
    ProfileSettings s;
    s.tolerance = 1e-7;
    s.crossingTolerance = 1e-12;
    s.distancePrecision = 0.0;
    s.simplexTolerance = 1e-10;
    s.maxEvaluations = 200000;
    return s;
}

} // namespace

TEST(ProfileValue, MinimisesTheOtherCoordinates) {
    std::vector<double> point;
    long evaluations = 0;
    // x1 fixed at 0, two units from its optimum: 10 + 4 x 0.695 / 2.
    const double v =
        profileValue(quadratic, {1.0, -2.0, 5.0}, noBoxes, 1, 0.0, precise(), point, evaluations);
    EXPECT_NEAR(v, 11.39, 1e-9);
    EXPECT_EQ(point[1], 0.0);
    EXPECT_GT(evaluations, 10);
    // The others moved to their conditional optimum, not left at the estimate.
    EXPECT_LT(point[0], 1.0);
    EXPECT_LT(point[2], 5.0);
}

TEST(ProfileValue, KeepsToItsBudgetOfEvaluations) {
    // The precise simplex needs hundreds of evaluations here; allowed 30, it stops at 30 and
    // the few that one step of the simplex may take beyond (a shrink evaluates every vertex).
    ProfileSettings settings = precise();
    settings.maxEvaluations = 30;
    std::vector<double> point;
    long evaluations = 0;
    const double v =
        profileValue(quadratic, {1.0, -2.0, 5.0}, noBoxes, 1, 0.0, settings, point, evaluations);
    EXPECT_GE(evaluations, 30);
    EXPECT_LE(evaluations, 30 + 3);
    EXPECT_GE(v, 11.39 - 1e-9);
}

TEST(ProfileValue, ARestartLooksAroundThePointFound) {
    // Restarts a hundredth of a step size wide confirm the minimum as well as restarts as wide
    // as the first simplex, with fewer evaluations.
    ProfileSettings narrow = precise();
    ProfileSettings wide = precise();
    wide.restartStep = 0.1;
    std::vector<double> narrowPoint;
    std::vector<double> widePoint;
    long narrowEvaluations = 0;
    long wideEvaluations = 0;
    const double n = profileValue(quadratic, {1.0, -2.0, 5.0}, noBoxes, 1, 0.0, narrow, narrowPoint,
                                  narrowEvaluations);
    const double w = profileValue(quadratic, {1.0, -2.0, 5.0}, noBoxes, 1, 0.0, wide, widePoint,
                                  wideEvaluations);
    EXPECT_NEAR(n, 11.39, 1e-9);
    EXPECT_NEAR(w, 11.39, 1e-9);
    EXPECT_LT(narrowEvaluations, wideEvaluations);
}

// The quadratic with a rough floor of up to 1e-5 at every point, as where rows creep and each
// is scored where its creep was found: no simplex reaches a spread of 1e-10 there.
double roughQuadratic(const NRvector<double>& x) {
    // A mix of the coordinates' bits: no two points however close share their floor.
    std::uint64_t h = 0x9e3779b97f4a7c15ULL;
    for (int j = 0; j < 3; j++) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &x[j], sizeof bits);
        h = (h ^ bits) * 0xbf58476d1ce4e5b9ULL;
        h ^= h >> 31;
    }
    return quadratic(x) + 1e-5 * static_cast<double>(h >> 11) * 0x1.0p-53;
}

TEST(ProfileValue, ASimplexThatStallsStopsAndTheRestartsDecide) {
    // Minimising over x0 and x2 at x1 = 0 leaves 10 + 2^2 / (2 x 1 / 0.695) = 11.39, plus the
    // floor. Without the stall rule the simplex spends the whole budget of the point.
    ProfileSettings settings = precise();
    settings.maxEvaluations = 20000;
    std::vector<double> point;
    long evaluations = 0;
    const double v = profileValue(roughQuadratic, {1.0, -2.0, 5.0}, noBoxes, 1, 0.0, settings,
                                  point, evaluations);
    EXPECT_NEAR(v, 11.39, 2e-4);
    EXPECT_LT(evaluations, 2000);
    settings.stallWindow = 1000000;
    long unstopped = 0;
    profileValue(roughQuadratic, {1.0, -2.0, 5.0}, noBoxes, 1, 0.0, settings, point, unstopped);
    EXPECT_GE(unstopped, 20000);
}

TEST(ProfileLimits, CorrelatedQuadraticMatchesClosedForm) {
    const ProfileOutcome outcome =
        profileLikelihood(quadratic, {1.0, -2.0, 5.0}, noBoxes, {0, 1, 2}, precise());
    EXPECT_EQ(outcome.minimum, 10.0);
    ASSERT_EQ(outcome.parameters.size(), 3u);
    const double expected[3][2] = {{-0.5361354856313383, 2.5361354856313385},
                                   {-4.399040575616269, 0.3990405756162687},
                                   {1.8263676258830532, 8.173632374116947}};
    for (int i = 0; i < 3; i++) {
        const ParameterProfile& p = outcome.parameters[static_cast<std::size_t>(i)];
        EXPECT_EQ(p.index, i);
        EXPECT_TRUE(p.lower.found && p.upper.found) << i;
        EXPECT_FALSE(p.lower.atBox || p.upper.atBox) << i;
        EXPECT_NEAR(p.lower.value, expected[i][0], 1e-6) << i;
        EXPECT_NEAR(p.upper.value, expected[i][1], 1e-6) << i;
    }
    EXPECT_GE(outcome.lowest, 10.0 - 1e-12);
}

// The default settings place the steps where a parabola predicts the crossing and stop once
// a point lies within 0.005 of it: a handful of points per side, and limits as close to the
// closed form as the rounding of real models' values would allow anyway.
TEST(ProfileLimits, DefaultSettingsFindTheCrossingInAFewPoints) {
    ProfileSettings defaults;
    defaults.simplexTolerance = 1e-10;
    const ProfileOutcome outcome =
        profileLikelihood(quadratic, {1.0, -2.0, 5.0}, noBoxes, {0, 1, 2}, defaults);
    const double expected[3][2] = {{-0.5361354856313383, 2.5361354856313385},
                                   {-4.399040575616269, 0.3990405756162687},
                                   {1.8263676258830532, 8.173632374116947}};
    for (int i = 0; i < 3; i++) {
        const ParameterProfile& p = outcome.parameters[static_cast<std::size_t>(i)];
        EXPECT_NEAR(p.lower.value, expected[i][0], 1e-4) << i;
        EXPECT_NEAR(p.upper.value, expected[i][1], 1e-4) << i;
        EXPECT_LE(p.lower.points, 6) << i;
        EXPECT_LE(p.upper.points, 6) << i;
    }
    // Where the profile bends more sharply than a parabola the crossing is still found, in
    // half the 24 points that halving the bracket to the tolerance takes: (x - 1)^4 crosses 2
    // at 1 -+ 2^(1/4).
    const ProfileOutcome bent = profileLikelihood(quartic, {1.0, 1.0}, noBoxes, {0}, defaults);
    EXPECT_NEAR(bent.parameters[0].lower.value, -0.18920711500272103, 1e-3);
    EXPECT_NEAR(bent.parameters[0].upper.value, 2.189207115002721, 1e-3);
    EXPECT_LE(bent.parameters[0].upper.points, 12);
}

TEST(ProfileLimits, OtherUnitsAndNonQuadraticProfile) {
    ProfileSettings half = precise();
    half.units = 0.5;
    // sqrt(2 x 0.5 x 0.41 / 0.695)
    const ProfileOutcome q = profileLikelihood(quadratic, {1.0, -2.0, 5.0}, noBoxes, {0}, half);
    EXPECT_NEAR(q.parameters[0].upper.value - 1.0, 0.7680677428156691, 1e-6);
    const ProfileOutcome r = profileLikelihood(quartic, {1.0, 1.0}, noBoxes, {0}, precise());
    EXPECT_NEAR(r.parameters[0].lower.value, -0.18920711500272103, 1e-6);
    EXPECT_NEAR(r.parameters[0].upper.value, 2.189207115002721, 1e-6);
}

TEST(ProfileLimits, LimitsBeyondTheBoxStopAtTheBound) {
    // x0 in (0, 3): the lower limit -0.536 lies outside, so the limit is just inside 0.
    // x2 in [0, 6.5]: the upper limit 8.17 lies outside, so the limit is 6.5 itself.
    const std::vector<ParameterInfo> boxes = {
        box(0.0, true, 3.0, true), box(-10.0, false, 10.0, false), box(0.0, false, 6.5, false)};
    const ProfileOutcome outcome =
        profileLikelihood(quadratic, {1.0, -2.0, 5.0}, boxes, {0, 2}, precise());
    const ParameterProfile& p0 = outcome.parameters[0];
    EXPECT_TRUE(p0.lower.atBox);
    EXPECT_GT(p0.lower.value, 0.0);
    EXPECT_LT(p0.lower.value, 1e-8);
    EXPECT_FALSE(p0.upper.atBox);
    EXPECT_NEAR(p0.upper.value, 2.5361354856313385, 1e-6);
    const ParameterProfile& p2 = outcome.parameters[1];
    EXPECT_EQ(p2.index, 2);
    EXPECT_TRUE(p2.upper.atBox);
    EXPECT_EQ(p2.upper.value, 6.5);
    EXPECT_NEAR(p2.lower.value, 1.8263676258830532, 1e-6);

    // An estimate on its bound: the limit on that side is the bound, without a step.
    const std::vector<ParameterInfo> atZero = {box(1.0, false, 3.0, false)};
    const ProfileOutcome edge =
        profileLikelihood(quadratic, {1.0, -2.0, 5.0}, atZero, {0}, precise());
    EXPECT_TRUE(edge.parameters[0].lower.atBox);
    EXPECT_EQ(edge.parameters[0].lower.value, 1.0);
    EXPECT_EQ(edge.parameters[0].lower.points, 0);
}

TEST(ProfileLimits, FlatProfileIsNotReachedWithinTheSteps) {
    ProfileSettings few = precise();
    few.maxSteps = 5;
    const ProfileOutcome outcome = profileLikelihood(flatInFirst, {1.0, 0.0}, noBoxes, {0}, few);
    const ParameterProfile& p = outcome.parameters[0];
    EXPECT_FALSE(p.lower.found);
    EXPECT_FALSE(p.upper.found);
    // Steps of 0.05, 0.1, 0.2, 0.4, 0.8 from the estimate 1.
    EXPECT_DOUBLE_EQ(p.upper.value, 1.8);
    EXPECT_DOUBLE_EQ(p.lower.value, 0.2);
    EXPECT_EQ(p.upper.points, 5);
}

TEST(ProfileLimits, EstimateBelowTheMaximumIsNoticed) {
    // Started half a unit away from the optimum of x0: profiling x1 re-optimises x0 and finds
    // values below the one at the estimate. With no move of the estimate allowed, that is
    // all the profile can say.
    ProfileSettings fixedEstimate = precise();
    fixedEstimate.maxRestarts = 0;
    const ProfileOutcome outcome =
        profileLikelihood(quadratic, {1.5, -2.0, 5.0}, noBoxes, {1}, fixedEstimate);
    EXPECT_TRUE(outcome.movesExhausted);
    EXPECT_TRUE(outcome.moves.empty());
    EXPECT_GT(outcome.minimum, 10.0);
    EXPECT_LT(outcome.lowest, outcome.minimum - 0.1);
    EXPECT_NEAR(outcome.lowestPoint[0], 1.0, 0.05);
}

TEST(ProfileCommand, BadArgumentsAndInputs) {
    ScratchDir dir;
    ProgramResult r = runInProcess(dir.path(), "profile");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool profile: missing MODEL\nRun 'zonetool profile --help' for usage.\n");
    r = runInProcess(dir.path(), "profile 1 --parameters wSS,s");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool profile: model 1 has no parameter 's' (it has wSS wII F sigma)\n"
                     "Run 'zonetool profile --help' for usage.\n");
    r = runInProcess(dir.path(), "profile 1 --units -2");
    EXPECT_EQ(r.status, 2);
    r = runInProcess(dir.path(), "profile 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool profile: SS1_ML_: cannot open: No such file or directory\n");
    dir.write("SS1_ML_", "1 1 1.5 10 600000\n");
    r = runInProcess(dir.path(), "profile 1");
    EXPECT_EQ(r.status, 1);
    // The penalty of F = 1.5 is (1.5 + 1) x 100000, not what the file says.
    const std::string outside =
        "zonetool profile: warning: SS1_ML_ gives 600000, but its point evaluates to "
        "250000; the value at the point is used\n"
        "zonetool profile: SS1_ML_: F = 1.5 lies outside its box [0, 1]; profile a fit of model "
        "1 made with the same --data and --box\n";
    EXPECT_EQ(r.err, outside);
    // Names in a list may have blanks around them; an unknown one is named without them.
    r = runInProcess(dir.path(), "profile 1 --parameters 'wSS, F'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, outside);
    r = runInProcess(dir.path(), "profile 1 --parameters 'F,  sigma ,, wII'");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool profile: model 1 has no parameter '' (it has wSS wII F sigma)\n"
                     "Run 'zonetool profile --help' for usage.\n");
    dir.write("fit", "1 1 0.5 10 1000\n");
    r = runInProcess(dir.path(), "profile 3 --result fit");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool profile: fit: holds 5 numbers; model 3 (SS_3) needs 8 coordinates "
                     "and the value\n");
}

namespace {

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
        fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
    return fields;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

} // namespace

// Every walked point of the middle coordinate of the quadratic: the row holds the fixed value,
// the value at the re-optimised point exactly as the objective gives it there, and that point.
TEST(ProfileCurve, RowsHoldEveryWalkedPointAndReadBack) {
    const std::vector<double> estimate{1.0, -2.0, 5.0};
    const ProfileOutcome outcome = profileLikelihood(quadratic, estimate, noBoxes, {1}, precise());
    const ParameterProfile& p = outcome.parameters[0];
    ASSERT_EQ(outcome.walked.size(), static_cast<std::size_t>(p.lower.points + p.upper.points));
    const std::string text = profileCurveText({"a", "b"}, estimate, outcome);
    const std::vector<std::string> lines = splitLines(text);
    ASSERT_EQ(lines.size(), outcome.walked.size() + 2);
    // Names past those given are numbered.
    EXPECT_EQ(lines[0], "parameter\tside\tfixed\tminus_lnL\ta\tb\tx2\tevaluations");
    EXPECT_EQ(lines[1], "b\testimate\t-2\t10\t1\t-2\t5\t0");
    long evaluations = 1;
    int lower = 0;
    for (std::size_t k = 2; k < lines.size(); k++) {
        const std::vector<std::string> f = splitTabs(lines[k]);
        ASSERT_EQ(f.size(), 8u) << lines[k];
        EXPECT_EQ(f[0], "b");
        const double fixed = std::stod(f[2]);
        EXPECT_EQ(f[1], fixed < -2.0 ? "lower" : "upper") << lines[k];
        lower += f[1] == "lower";
        EXPECT_EQ(f[5], f[2]);
        NRvector<double> x(3);
        for (int j = 0; j < 3; j++) {
            x[j] = std::stod(f[4 + static_cast<std::size_t>(j)]);
        }
        EXPECT_EQ(std::stod(f[3]), quadratic(x)) << lines[k];
        // The closed-form profile, 10 + 0.695 (b + 2)^2 / 2.
        EXPECT_NEAR(std::stod(f[3]), 10.0 + 0.3475 * (fixed + 2.0) * (fixed + 2.0), 1e-8);
        evaluations += std::stol(f[7]);
    }
    EXPECT_EQ(lower, p.lower.points);
    EXPECT_EQ(evaluations, outcome.evaluations);

    ScratchDir dir;
    dir.write("curve.tsv", text);
    std::vector<CurveParameter> read;
    std::string error;
    ASSERT_TRUE(readProfileCurve(dir.file("curve.tsv"), read, error)) << error;
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].name, "b");
    EXPECT_EQ(read[0].estimate, -2.0);
    EXPECT_EQ(read[0].minimum, 10.0);
    ASSERT_EQ(read[0].fixed.size(), outcome.walked.size() + 1);
    EXPECT_EQ(read[0].fixed[1], outcome.walked[0].fixed);
    EXPECT_EQ(read[0].values.back(), outcome.walked.back().value);
}

// One side only: its points, and the estimate row.
TEST(ProfileCurve, OneSideHoldsThatSidesPoints) {
    const ProfileOutcome outcome =
        profileSide(quadratic, {1.0, -2.0, 5.0}, noBoxes, 2, +1, precise());
    ASSERT_FALSE(outcome.walked.empty());
    for (const ProfilePoint& point : outcome.walked) {
        EXPECT_EQ(point.side, +1);
        EXPECT_GT(point.fixed, 5.0);
        EXPECT_EQ(point.point[2], point.fixed);
    }
    const std::string text = profileCurveText({"a", "b", "c"}, {1.0, -2.0, 5.0}, outcome);
    EXPECT_EQ(splitLines(text).size(), outcome.walked.size() + 2);
    EXPECT_EQ(text.find("lower"), std::string::npos);
}

TEST(ProfileCurve, MalformedFilesAreRefusedWithTheLine) {
    ScratchDir dir;
    const std::string header = "parameter\tside\tfixed\tminus_lnL\ta\tevaluations\n";
    const std::pair<std::string, std::string> cases[] = {
        {"a\tb\n", "c:1: not a profile curve (its header must start 'parameter side fixed "
                   "minus_lnL' and end 'evaluations')"},
        {header, "c: no profile points"},
        {header + "a\testimate\t1\t10\t1\t0\na\tupper\t2\t11\t2\n",
         "c:3: 5 fields, the header has 6"},
        {header + "a\tleft\t1\t10\t1\t0\n", "c:2: side 'left' is not estimate, lower or upper"},
        {header + "a\tupper\t1\tx\t1\t0\n", "c:2: the fixed value and -lnL must be numbers"},
        {header + "a\tupper\t2\t11\t2\t9\n", "c: parameter 'a' has no estimate row"},
    };
    for (const auto& c : cases) {
        dir.write("c", c.first);
        std::vector<CurveParameter> read;
        std::string error;
        EXPECT_FALSE(readProfileCurve(dir.file("c"), read, error));
        EXPECT_EQ(error.substr(dir.path().size() + 1), c.second);
    }
}

TEST(ProfileCommand, CurveFileIsCheckedBeforeTheProfile) {
    ScratchDir dir;
    dir.write("curve.tsv", "mine\n");
    ProgramResult r = runInProcess(dir.path(), "profile 1 --curve curve.tsv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "zonetool profile: curve.tsv exists already; remove it or name another "
                     "--curve file\n");
    EXPECT_EQ(dir.read("curve.tsv"), "mine\n");
    r = runInProcess(dir.path(), "profile 1 --curve no/curve.tsv");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool profile: cannot write no/curve.tsv: no cannot take new files (No "
                     "such file or directory)\n");
    r = runInProcess(dir.path(), "profile 1 --collect --curve c.tsv");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool profile: --curve needs a profile computed here, not --collect\n"
                     "Run 'zonetool profile --help' for usage.\n");
}

// A side that reaches the box at once: one re-optimisation of model 1 with F fixed at 1. The
// row's coordinates, evaluated again, give its -lnL to the last digit.
TEST(ProfileCommand, CurveOfOneSideOfARealModel) {
    ScratchDir dir;
    dir.write("SS1_ML_", "1.2 0.8 0.3 15 11518.585\n");
    ProgramResult r =
        runInProcess(dir.path(), "profile 1 --parameters F --side upper --step 100 --curve "
                                 "'F curve.tsv' --quiet --objective zonefit");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "wrote profile-SS1_ML_-F-upper.tsv\n");
    const std::vector<std::string> lines = splitLines(dir.read("F curve.tsv"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "parameter\tside\tfixed\tminus_lnL\twSS\twII\tF\tsigma\tevaluations");
    EXPECT_EQ(lines[1], "F\testimate\t0.29999999999999999\t11518.584711626465\t1.2\t"
                        "0.80000000000000004\t0.29999999999999999\t15\t0");
    const std::vector<std::string> f = splitTabs(lines[2]);
    ASSERT_EQ(f.size(), 9u);
    EXPECT_EQ(f[1], "upper");
    EXPECT_EQ(f[2], "1");
    EXPECT_EQ(f[6], "1");
    // The evaluations of the point and the one at the estimate make the total.
    EXPECT_EQ(r.err, "profile: " + std::to_string(std::stol(f[8]) + 1) + " evaluations\n");
    r = runInProcess(dir.path(), "eval 1 " + f[4] + " " + f[5] + " " + f[6] + " " + f[7]);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, f[3] + "\n");
    // The walked side, drawn.
    r = runInProcess(dir.path(), "plot --profile 'F curve.tsv' -o F.svg");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("F.svg").rfind("<?xml", 0), 0u);
}

// Model 1 at zero fitnesses gives a NaN likelihood at every evaluation, and says so: those
// messages go to standard error, so the table on standard output stays one a program can read.
TEST(ProfileCommand, ModelMessagesGoToStandardErrorAndTheTsvStaysWhole) {
    ScratchDir dir;
    dir.write("SS1_ML_", "0 0 1 15 100000\n");
    const ProgramResult r =
        runInProcess(dir.path(), "profile 1 --parameters F --format tsv --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "# objective: settled\nparameter\testimate\tlower\tupper\tbox\nF\t1\t0\t1\tboth\n");
    EXPECT_EQ(r.err.rfind("likelihood=NaN\n", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("profile: 49 evaluations\n"), std::string::npos) << r.err;
}

// Under the settled objective (the default) the curve says so in a comment line and names the
// state of every point; the side file records the objective, and sides of another objective
// are not collected with these.
TEST(ProfileCommand, SettledCurvesAndSidesRecordTheObjective) {
    ScratchDir dir;
    dir.write("SS1_ML_", "1.2 0.8 0.3 15 11518.585\n");
    ProgramResult r =
        runInProcess(dir.path(), "profile 1 --parameters F --side upper --step 100 --curve "
                                 "c.tsv --quiet");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = splitLines(dir.read("c.tsv"));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "# objective: settled");
    EXPECT_EQ(lines[1],
              "parameter\tside\tfixed\tminus_lnL\twSS\twII\tF\tsigma\tstate\tevaluations");
    const std::vector<std::string> f = splitTabs(lines[3]);
    ASSERT_EQ(f.size(), 10u);
    EXPECT_EQ(f[1], "upper");
    // Its -lnL is the settled value of its point.
    r = runInProcess(dir.path(), "eval 1 " + f[4] + " " + f[5] + " " + f[6] + " " + f[7] +
                                     " --objective settled");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, f[3] + "\n");
    std::vector<CurveParameter> read;
    std::string error;
    ASSERT_TRUE(readProfileCurve(dir.file("c.tsv"), read, error)) << error;
    EXPECT_EQ(read[0].name, "F");
    EXPECT_NE(dir.read("profile-SS1_ML_-F-upper.tsv").find("\nobjective\tsettled\n"),
              std::string::npos);

    // A lower side made under zonefit's objective (here the upper one's text so marked: the
    // real lower side of this fit walks into a region that never settles) is not collected
    // with the settled upper one.
    std::string lower = dir.read("profile-SS1_ML_-F-upper.tsv");
    lower.replace(lower.find("side\tupper\n"), 11, "side\tlower\n");
    lower.replace(lower.find("objective\tsettled\n"), 18, "objective\tzonefit\n");
    dir.write("profile-SS1_ML_-F-lower.tsv", lower);
    r = runInProcess(dir.path(), "profile 1 --parameters F --step 100 --collect");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool profile: profile-SS1_ML_-F-lower.tsv: computed for objective "
                     "'zonefit', not 'settled'\n");
    // A side file from before the objective was recorded is one of zonefit's.
    std::string upper = dir.read("profile-SS1_ML_-F-upper.tsv");
    upper.erase(upper.find("objective\tsettled\n"));
    dir.write("profile-SS1_ML_-F-upper.tsv", upper);
    r = runInProcess(
        dir.path(),
        "profile 1 --parameters F --step 100 --collect --objective zonefit --format tsv");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("parameter\testimate\t", 0), 0u) << r.out;
    r = runInProcess(dir.path(), "profile 1 --objective fast");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool profile: --objective needs settled or zonefit, not 'fast'\n"
                     "Run 'zonetool profile --help' for usage.\n");
}

namespace {

// (x0 - 1)^2 + x1^2: the profile of x1 is x1^2 + the lowest value of the first term, 0.
double bowl(const NRvector<double>& x) {
    return (x[0] - 1.0) * (x[0] - 1.0) + x[1] * x[1];
}

} // namespace

// From (3, 0), -lnL 4, the first point of x1's profile (x1 = -0.05, x0 re-optimised to 1) lies
// 3.9975 below the estimate: the estimate moves there and the profile starts again. Its
// limits are then those of x1^2 crossing 0.0025 + 2.
TEST(ProfileRestart, ABetterPointBecomesTheEstimate) {
    std::vector<std::string> seen;
    ProfileHooks hooks;
    hooks.moved = [&seen](const EstimateMove& move) {
        seen.push_back(std::to_string(move.index) + " " + std::to_string(move.fixed));
    };
    const ProfileOutcome outcome =
        profileLikelihood(bowl, {3.0, 0.0}, noBoxes, {1}, precise(), hooks);
    ASSERT_EQ(outcome.moves.size(), 1u);
    EXPECT_EQ(seen, std::vector<std::string>{"1 -0.050000"});
    EXPECT_EQ(outcome.moves[0].from, 4.0);
    EXPECT_NEAR(outcome.moves[0].to, 0.0025, 1e-9);
    EXPECT_FALSE(outcome.movesExhausted);
    EXPECT_NEAR(outcome.estimate[0], 1.0, 1e-4);
    EXPECT_EQ(outcome.estimate[1], -0.05);
    EXPECT_EQ(outcome.minimum, outcome.moves[0].to);
    EXPECT_EQ(outcome.parameters[0].estimate, -0.05);
    EXPECT_NEAR(outcome.parameters[0].lower.value, -std::sqrt(2.0025), 1e-6);
    EXPECT_NEAR(outcome.parameters[0].upper.value, std::sqrt(2.0025), 1e-6);
    // What the table and standard error say of it.
    EXPECT_EQ(estimateMovesLine(outcome), "estimate moved 1 time; from -lnL 4 to 0.0025\n");
    EXPECT_EQ(estimateMoveMessage("b", outcome.moves[0]),
              "zonetool profile: a point with b = -0.05 has -lnL 0.0025, better than the "
              "estimate 4 by 3.9975; the profile starts again from there\n");
    ProfileOutcome twice = outcome;
    twice.moves.push_back(outcome.moves[0]);
    twice.moves.back().to = 0.00125;
    EXPECT_EQ(estimateMovesLine(twice), "estimate moved 2 times; from -lnL 4 to 0.00125\n");
    EXPECT_EQ(estimateMovesLine(ProfileOutcome()), "");
    // The walk from (3, 0) is counted, though its points are gone.
    long walked = 1;
    for (const ProfilePoint& point : outcome.walked) {
        EXPECT_EQ(point.point[1], point.fixed);
        walked += point.evaluations;
    }
    EXPECT_GT(outcome.evaluations, walked + 1);
}

// From (3, 0) the profile of x0 finds a better point at its first step every time: each move
// starts where the last one ended, until the moves allowed run out.
TEST(ProfileRestart, MovesAreBoundedAndNoWrittenPointLiesBelowTheMargin) {
    ProfileSettings three = precise();
    three.maxRestarts = 3;
    const ProfileOutcome capped = profileLikelihood(bowl, {3.0, 0.0}, noBoxes, {0}, three);
    ASSERT_EQ(capped.moves.size(), 3u);
    EXPECT_TRUE(capped.movesExhausted);
    // 3 x 0.95 = 2.85, then 2.7075, then 2.572125.
    EXPECT_NEAR(capped.moves[2].point[0], 2.572125, 1e-12);
    for (std::size_t k = 1; k < capped.moves.size(); k++) {
        EXPECT_EQ(capped.moves[k].from, capped.moves[k - 1].to);
        EXPECT_LT(capped.moves[k].to, capped.moves[k].from - 0.01);
    }
    EXPECT_LT(capped.lowest, capped.minimum - 0.01);

    // Allowed enough moves, the estimate reaches the bottom, and the guarantee holds for both
    // closed forms, whatever parameter found the better point.
    ProfileSettings many = precise();
    many.maxRestarts = 100;
    const ProfileOutcome bowlOutcome = profileLikelihood(bowl, {3.0, 0.0}, noBoxes, {0, 1}, many);
    const ProfileOutcome quadOutcome =
        profileLikelihood(quadratic, {1.5, -2.0, 5.0}, noBoxes, {0, 1, 2}, many);
    for (const ProfileOutcome* o : {&bowlOutcome, &quadOutcome}) {
        EXPECT_FALSE(o->movesExhausted);
        EXPECT_FALSE(o->moves.empty());
        EXPECT_GE(o->lowest, o->minimum - 0.01);
        for (const ProfilePoint& point : o->walked) {
            EXPECT_GE(point.value, o->minimum - 0.01);
        }
    }
    EXPECT_LT(bowlOutcome.minimum, 0.04);
    EXPECT_LT(quadOutcome.minimum, 10.04);
}

// Each point starts from its neighbour's re-optimised point: the first one of a side from the
// estimate, each step from the point before it, each bisection from a point already walked on
// that side (the inner end of the bracket). The simplex evaluates its start first.
TEST(ProfileWarmStart, PointsStartFromTheirNeighbour) {
    std::vector<std::vector<double>> starts;
    bool starting = false;
    const ProfiledObjective recording = [&](const NRvector<double>& x) {
        if (starting) {
            starts.push_back({x[0], x[1]});
            starting = false;
        }
        return quartic(x);
    };
    ProfileHooks hooks;
    hooks.before = [&starting](int, int, int, double) { starting = true; };
    const ProfileOutcome outcome =
        profileLikelihood(recording, {1.0, 1.0}, noBoxes, {0}, precise(), hooks);
    ASSERT_EQ(starts.size(), outcome.walked.size());
    int bisections = 0;
    for (std::size_t k = 0; k < starts.size(); k++) {
        const ProfilePoint& walked = outcome.walked[k];
        EXPECT_EQ(starts[k][0], walked.fixed);
        const bool first = k == 0 || outcome.walked[k - 1].side != walked.side;
        if (first) {
            EXPECT_EQ(starts[k][1], 1.0) << k;
            continue;
        }
        EXPECT_NE(starts[k][1], 1.0) << k;
        bool fromEarlier = false;
        for (std::size_t j = 0; j < k; j++) {
            fromEarlier = fromEarlier || (outcome.walked[j].side == walked.side &&
                                          outcome.walked[j].point[1] == starts[k][1]);
        }
        EXPECT_TRUE(fromEarlier) << k;
        bisections += starts[k][1] != outcome.walked[k - 1].point[1];
    }
    // Bisection points that follow a point beyond the crossing start from the inner end.
    EXPECT_GT(bisections, 0);
}

// A fitness is stepped on its selection strength |w - 1|: from 1.002 the first point lies at
// 1.002 -+ 0.05 x 0.002, not at 1.002 -+ 0.05 (selection of strength 0.05, far beyond the
// limit), and the other fitness's first simplex step is a tenth of 0.0019, not of 1.0019.
TEST(ProfileLimits, AFitnessIsSteppedOnItsSelectionStrength) {
    const std::vector<ParameterInfo> boxes = {fitnessBox(), fitnessBox()};
    std::vector<double> firstPoints;
    ProfileHooks hooks;
    hooks.before = [&firstPoints](int, int, int point, double value) {
        if (point == 1) {
            firstPoints.push_back(value);
        }
    };
    ProfileSettings defaults;
    defaults.simplexTolerance = 1e-10;
    const ProfileOutcome outcome =
        profileLikelihood(weakSelection, {1.002, 1.0019}, boxes, {0}, defaults, hooks);
    ASSERT_EQ(firstPoints.size(), 2u);
    EXPECT_NEAR(firstPoints[0], 1.0019, 1e-12);
    EXPECT_NEAR(firstPoints[1], 1.0021, 1e-12);
    const ParameterProfile& p = outcome.parameters[0];
    EXPECT_NEAR(p.lower.value, 1.001, 1e-6);
    EXPECT_NEAR(p.upper.value, 1.003, 1e-6);
    EXPECT_LE(p.lower.points, 6);
    EXPECT_LE(p.upper.points, 6);
    EXPECT_LT(outcome.evaluations, 3000);
}

// Where the profile jumps past the units no point lands near the crossing: the bracket is
// narrowed to a hundredth of its distance from the estimate, and the limit is its inner end's
// side of the jump.
TEST(ProfileLimits, AJumpIsNarrowedToAHundredthOfItsDistance) {
    const ProfileOutcome outcome =
        profileLikelihood(cliff, {1.0, 0.0}, noBoxes, {0}, ProfileSettings());
    const SupportLimit& lower = outcome.parameters[0].lower;
    EXPECT_TRUE(lower.found);
    EXPECT_GE(lower.value, 0.5);
    EXPECT_LT(lower.value, 0.5 + 0.01 * 0.5);
    EXPECT_LE(lower.points, 16);
}

// A cliff at the estimate itself has no distance to be a fraction of: the bracket is narrowed to
// a hundredth of the first step (5% of 1): three points, where narrowing to the step's
// ten-thousandth took five.
TEST(ProfileLimits, ACliffAtTheEstimateIsNarrowedToAHundredthOfTheFirstStep) {
    const ProfileOutcome outcome =
        profileLikelihood(cliffAtTheEstimate, {1.0, 0.0}, noBoxes, {0}, ProfileSettings());
    const SupportLimit& upper = outcome.parameters[0].upper;
    EXPECT_TRUE(upper.found);
    EXPECT_GE(upper.value, 1.0);
    EXPECT_LT(upper.value, 1.0 + 0.01 * 0.05);
    EXPECT_LE(upper.points, 3);
    const SupportLimit& lower = outcome.parameters[0].lower;
    EXPECT_NEAR(lower.value, 1.0 - std::sqrt(2.0), 1e-3);
}
