#include "driver/schedule.h"

#include "data/failure_sink.h"
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <sys/stat.h>
#include <vector>

namespace {

// 1 + (x0 - 1)^2 + 2 (x1 - 2)^2, cheap enough for whole schedules.
double bowl(const NRvector<double>& x) {
    double value = 1.0;
    for (int j = 0; j < x.size(); j++) {
        const double d = x[j] - (j + 1);
        value += (j + 1) * d * d;
    }
    return value;
}

// The sink of objectives that never fail.
FailureSink unusedFailures;

// Far larger than the thermal noise of any stage, so every spread is below the tolerances.
double constant(const NRvector<double>&) {
    return 1e9;
}

// The bowl, counting its calls; the call numbered failAt reports a failure, as a model does
// whose border file stops reading.
long bowlCalls = 0;
long failAt = 0;
FailureSink bowlFailures; // the sink failingBowl reports to
double failingBowl(const NRvector<double>& x) {
    bowlCalls++;
    if (bowlCalls == failAt) {
        bowlFailures.report("Error in borders.txt: cannot open the file");
    }
    return bowl(x);
}

struct TraceLine {
    int stage, cycle, call;
    double temperature;
    int evaluations, converged;
    double best;
    std::vector<double> bestPoint;
};

std::vector<TraceLine> parseTrace(const std::string& text) {
    std::vector<TraceLine> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        TraceLine t;
        fields >> t.stage >> t.cycle >> t.call >> t.temperature >> t.evaluations >> t.converged >>
            t.best;
        double coordinate;
        while (fields >> coordinate) {
            t.bestPoint.push_back(coordinate);
        }
        lines.push_back(t);
    }
    return lines;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

struct BowlRun {
    std::string out;
    std::string trace;
    FitResult result;
};

BowlRun runBowl(std::uint64_t seed) {
    std::ostringstream out;
    std::ostringstream trace;
    ScheduleOptions options;
    options.seed = seed;
    options.trace = &trace;
    BowlRun run;
    run.result = runSchedule(bowl, unusedFailures, {0.1, 0.3}, {0.7, 0.9}, out, options);
    run.out = out.str();
    run.trace = trace.str();
    return run;
}

} // namespace

TEST(Schedule, ThreeTemporaryAndFiveRefiningReports) {
    const BowlRun run = runBowl(11);
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 16u);
    for (int r = 0; r < 8; r++) {
        EXPECT_EQ(lines[2 * r], r < 3 ? "Temporary Max::" : "Refining has found:");
        const std::string& values = lines[2 * r + 1];
        // Two coordinates each followed by a blank, then the value: three numbers, two blanks.
        EXPECT_EQ(std::count(values.begin(), values.end(), ' '), 2) << values;
        EXPECT_NE(values.back(), ' ');
    }
}

TEST(Schedule, TemperaturesFallBySuccessiveMultiplication) {
    const std::vector<TraceLine> trace = parseTrace(runBowl(11).trace);
    ASSERT_GE(trace.size(), 10u);
    const double firsts[] = {20.0, 1.0, 1.0, 0.5};
    const double factors[] = {0.65, 0.75, 0.95, 0.9};
    const int cycles[] = {1, 3, 1, 5};
    int seenCycles[4] = {0, 0, 0, 0};
    double expected = 0.0;
    for (const TraceLine& t : trace) {
        ASSERT_GE(t.stage, 1);
        ASSERT_LE(t.stage, 4);
        if (t.call == 1) {
            expected = firsts[t.stage - 1];
            seenCycles[t.stage - 1] = t.cycle;
        } else {
            expected *= factors[t.stage - 1];
        }
        EXPECT_EQ(t.temperature, expected);
        EXPECT_GE(t.evaluations, 0);
        EXPECT_LE(t.evaluations, 1000 + 2 + 2);
    }
    for (int s = 0; s < 4; s++) {
        EXPECT_EQ(seenCycles[s], cycles[s]);
    }
    // The stage-1 cycle runs at 20, 13, 8.45, ... : the bowl needs several calls at those
    // temperatures.
    EXPECT_EQ(trace[1].temperature, 20.0 * 0.65);
    EXPECT_EQ(trace[2].temperature, 20.0 * 0.65 * 0.65);
}

TEST(Schedule, EveryCycleEndsConvergedAndOnlyThere) {
    const std::vector<TraceLine> trace = parseTrace(runBowl(3).trace);
    for (std::size_t i = 0; i < trace.size(); i++) {
        const bool last = i + 1 == trace.size() || trace[i + 1].call == 1;
        EXPECT_EQ(trace[i].converged, last ? 1 : 0) << "line " << i;
    }
}

TEST(Schedule, SameSeedSameRunOtherSeedOtherRun) {
    const BowlRun a = runBowl(5);
    const BowlRun b = runBowl(5);
    const BowlRun c = runBowl(6);
    EXPECT_EQ(a.out, b.out);
    EXPECT_EQ(a.trace, b.trace);
    EXPECT_NE(a.trace, c.trace);
}

TEST(Schedule, FindsTheBowlMinimum) {
    const BowlRun run = runBowl(9);
    ASSERT_EQ(run.result.bestPoint.size(), 2u);
    EXPECT_NEAR(run.result.bestPoint[0], 1.0, 1e-2);
    EXPECT_NEAR(run.result.bestPoint[1], 2.0, 1e-2);
    EXPECT_NEAR(run.result.bestValue, 1.0, 1e-3);
}

TEST(Schedule, TraceCarriesTheBestPointOfEachCall) {
    const BowlRun run = runBowl(11);
    const std::vector<TraceLine> trace = parseTrace(run.trace);
    ASSERT_FALSE(trace.empty());
    for (const TraceLine& t : trace) {
        ASSERT_EQ(t.bestPoint.size(), 2u);
        if (t.best < 1e300) {
            NRvector<double> x(2);
            x[0] = t.bestPoint[0];
            x[1] = t.bestPoint[1];
            EXPECT_EQ(bowl(x), t.best);
        }
    }
    // Written at full precision: the last line holds the result's point exactly.
    EXPECT_EQ(trace.back().bestPoint, run.result.bestPoint);
    EXPECT_EQ(trace.back().best, run.result.bestValue);
}

// A schedule continued from the state saved after any call writes exactly the rest of the
// uninterrupted run: the same trace lines, the same reports, the same result.
TEST(Schedule, ResumedFromAnySavedStateFinishesTheSameRun) {
    std::vector<ScheduleState> states;
    std::vector<std::size_t> outLengths;
    std::vector<std::size_t> traceLengths;
    std::ostringstream out;
    std::ostringstream trace;
    ScheduleOptions options;
    options.seed = 7;
    options.trace = &trace;
    options.onState = [&](const ScheduleState& state) {
        EXPECT_TRUE(validScheduleState(state, 2));
        states.push_back(state);
        outLengths.push_back(out.str().size());
        traceLengths.push_back(trace.str().size());
    };
    const FitResult whole = runSchedule(bowl, unusedFailures, {0.1, 0.3}, {0.7, 0.9}, out, options);
    ASSERT_GT(states.size(), 10u);
    for (std::size_t k = 0; k < states.size(); k++) {
        std::ostringstream restOut;
        std::ostringstream restTrace;
        ScheduleOptions resumed;
        resumed.seed = 7;
        resumed.trace = &restTrace;
        resumed.resumeFrom = &states[k];
        const FitResult rest =
            runSchedule(bowl, unusedFailures, {0.1, 0.3}, {0.7, 0.9}, restOut, resumed);
        EXPECT_EQ(restTrace.str(), trace.str().substr(traceLengths[k])) << "state " << k;
        EXPECT_EQ(restOut.str(), out.str().substr(outLengths[k])) << "state " << k;
        EXPECT_EQ(rest.bestPoint, whole.bestPoint);
        EXPECT_EQ(rest.bestValue, whole.bestValue);
    }
}

TEST(Schedule, StopRequestEndsAtOnceWithoutWritingTheCall) {
    std::ostringstream out;
    std::ostringstream trace;
    int calls = 0;
    ScheduleOptions options;
    options.seed = 7;
    options.trace = &trace;
    options.stopRequested = [&calls] { return ++calls == 3; };
    const FitResult result =
        runSchedule(bowl, unusedFailures, {0.1, 0.3}, {0.7, 0.9}, out, options);
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(linesOf(trace.str()).size(), 2u);
}

TEST(Schedule, SavedStatesOfImpossibleShapeAreRejected) {
    ScheduleState state;
    state.annealer.vertexCount = 3;
    state.annealer.dimension = 2;
    state.annealer.simplex.assign(6, 0.0);
    state.annealer.vertexValues.assign(3, 0.0);
    state.annealer.bestPoint.assign(2, 0.0);
    EXPECT_TRUE(validScheduleState(state, 2));
    EXPECT_FALSE(validScheduleState(state, 3));
    ScheduleState bad = state;
    bad.stage = 2;
    bad.cycle = 4; // stage 2 has three cycles
    EXPECT_FALSE(validScheduleState(bad, 2));
    bad = state;
    bad.annealer.simplex.pop_back();
    EXPECT_FALSE(validScheduleState(bad, 2));
    bad = state;
    bad.annealer.generator = 0;
    EXPECT_FALSE(validScheduleState(bad, 2));
    bad = state;
    bad.call = 0;
    EXPECT_FALSE(validScheduleState(bad, 2));
}

TEST(Schedule, ResultLineIsTheLastReportAtEightDigits) {
    FitResult result;
    result.bestPoint = {1.0 / 3.0, 2.0};
    result.bestValue = 123.456789012;
    EXPECT_EQ(resultLine(result), "0.33333333 2 123.45679\n");
}

TEST(Schedule, ObjectThatNeverTriesAPointReportsTheLargestDouble) {
    std::ostringstream out;
    ScheduleOptions options;
    options.seed = 1;
    const FitResult result =
        runSchedule(constant, unusedFailures, {1.0, 2.0}, {0.0, 0.0}, out, options);
    EXPECT_EQ(result.bestValue, 1.7976931348623157e308);
    EXPECT_EQ(resultLine(result), "0 0 1.7976931e+308\n");
    EXPECT_EQ(linesOf(out.str())[1], "0 0 1.79769e+308");
}

// A failure reported by the objective stops the schedule at once: no further call of the
// objective, trace line or report, and the failure comes back in the result. Everything
// before it is the run without the failure.
TEST(Schedule, FailureOfTheObjectiveStopsTheFitWhereItHappens) {
    const auto run = [](long failingCall, BowlRun& run) {
        bowlCalls = 0;
        failAt = failingCall;
        std::ostringstream out;
        std::ostringstream trace;
        ScheduleOptions options;
        options.seed = 4;
        options.trace = &trace;
        run.result = runSchedule(failingBowl, bowlFailures, {0.1, 0.3}, {0.7, 0.9}, out, options);
        run.out = out.str();
        run.trace = trace.str();
        return bowlCalls;
    };
    BowlRun whole;
    const long total = run(0, whole);
    EXPECT_EQ(whole.result.failure, "");
    ASSERT_GT(total, 1000);

    // A stale failure in the sink does not stop a new fit: the schedule clears it first.
    for (long failingCall : {1L, 3L, total / 2, total - 1, total}) {
        BowlRun stopped;
        EXPECT_EQ(run(failingCall, stopped), failingCall);
        EXPECT_EQ(stopped.result.failure, "Error in borders.txt: cannot open the file");
        EXPECT_TRUE(stopped.result.bestPoint.empty());
        EXPECT_EQ(whole.out.rfind(stopped.out, 0), 0u) << failingCall;
        EXPECT_EQ(whole.trace.rfind(stopped.trace, 0), 0u) << failingCall;
        EXPECT_LT(stopped.trace.size(), whole.trace.size()) << failingCall;
        bowlFailures.report("stale");
    }

    // Failing while the first simplex is evaluated: not a single anneal call.
    BowlRun first;
    run(2, first);
    EXPECT_EQ(first.out, "");
    EXPECT_EQ(first.trace, "");
    // Failing in the last call of the last cycle: every report but the last one.
    BowlRun last;
    run(total, last);
    EXPECT_EQ(std::count(last.out.begin(), last.out.end(), '\n'), 14);
}

TEST(ResultFile, ReplacesTheFileWholeAndLeavesNoTemporary) {
    ScratchDir dir;
    dir.write("SS1_ML_", "old result\n");
    std::string error;
    ASSERT_TRUE(checkResultWritable(dir.file("SS1_ML_"), error)) << error;
    ASSERT_TRUE(writeResultFile(dir.file("SS1_ML_"), "1 2 3\n", error)) << error;
    EXPECT_EQ(dir.read("SS1_ML_"), "1 2 3\n");
    const ProgramResult listing = runProgram(dir.path(), "/bin/ls", "-A");
    EXPECT_EQ(listing.out, "SS1_ML_\n");
}

TEST(ResultFile, KeepingAnExistingFileWritesTheNewContentBesideIt) {
    ScratchDir dir;
    const std::string name = dir.file("SS1_ML_");
    const std::string side = name + ".new-" + std::to_string(static_cast<long>(getpid()));
    std::string error;
    std::string keptAs;
    // A free name is taken as by the plain rename.
    ASSERT_TRUE(writeResultFile(name, "1 2 3\n", error, nullptr, ExistingFile::keep, &keptAs))
        << error;
    EXPECT_EQ(dir.read("SS1_ML_"), "1 2 3\n");
    EXPECT_EQ(keptAs, "");
    // One that holds the same content already counts as written.
    ASSERT_TRUE(writeResultFile(name, "1 2 3\n", error, nullptr, ExistingFile::keep, &keptAs))
        << error;
    EXPECT_EQ(runProgram(dir.path(), "/bin/ls", "-A").out, "SS1_ML_\n");
    // A taken one is left alone; the new content goes to the side name.
    EXPECT_FALSE(writeResultFile(name, "4 5 6\n", error, nullptr, ExistingFile::keep, &keptAs));
    EXPECT_EQ(dir.read("SS1_ML_"), "1 2 3\n");
    EXPECT_EQ(keptAs, side);
    EXPECT_EQ(dir.read(side.substr(dir.path().size() + 1)), "4 5 6\n");
    EXPECT_EQ(error, name +
                         " appeared in the meantime; nothing was replaced, and the new content "
                         "is kept in " +
                         side);
    // With the side name taken too, the content stays under its temporary name.
    keptAs.clear();
    EXPECT_FALSE(writeResultFile(name, "7 8 9\n", error, nullptr, ExistingFile::keep, &keptAs));
    EXPECT_EQ(keptAs, name + ".tmp" + std::to_string(static_cast<long>(getpid())));
    EXPECT_EQ(dir.read(keptAs.substr(dir.path().size() + 1)), "7 8 9\n");
    EXPECT_EQ(dir.read("SS1_ML_"), "1 2 3\n");
}

TEST(ResultFile, RefusesADirectoryAndAMissingDirectory) {
    ScratchDir dir;
    ASSERT_EQ(mkdir(dir.file("SS1_ML_").c_str(), 0755), 0);
    std::string error;
    EXPECT_FALSE(checkResultWritable(dir.file("SS1_ML_"), error));
    EXPECT_EQ(error, dir.file("SS1_ML_") + " exists and is not a regular file");
    EXPECT_FALSE(checkResultWritable(dir.file("missing/SS1_ML_"), error));
    EXPECT_FALSE(writeResultFile(dir.file("missing/SS1_ML_"), "1\n", error));
}
