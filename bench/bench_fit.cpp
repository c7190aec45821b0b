// Time of the whole fixed-seed fit of model 1 (seed 1, examples/startvec1.txt), with the
// library's simulation and with the plain simulation of tests/reference in the same frame.
// Both must find the same point, value and trace. The plain fit takes hours: run one with
// --benchmark_filter=fast or =plain. Each run writes its result line and trace to
// fit1-<version>.txt and fit1-<version>.trace.tsv in the working directory, and, as it goes,
// the processor time at the end of every anneal call to fit1-<version>.progress.tsv, so that
// an unfinished plain run can be set against the fast one call by call.
#include <benchmark/benchmark.h>

#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/schedule.h"
#include "driver/start_file.h"
#include "models/model_context.h"
#include "models/model_table.h"
#include "models/ss.h"
#include "models/ss_frame.h"
#include "population/simulation_report.h"
#include "reference/plain_population.h"

namespace {

// Generations summed over the evaluations that simulated.
struct GenerationCount {
    long long generations = 0;
    long long simulations = 0;
    long long evaluations = 0;
};
GenerationCount counted;

// The objective under test and the context that records its runs, wrapped so that every
// evaluation's generations are counted.
ModelObjective* measured = nullptr;
SimulationReport measuredRuns;
ModelContext measuredContext;

double counting(const NRvector<double>& x) {
    SimulationReport* report = &measuredRuns;
    const int runsBefore = report->runs;
    const double value = measured(measuredContext, x);
    counted.evaluations += 1;
    if (report->runs != runsBefore) {
        counted.simulations += 1;
        counted.generations += report->generations;
    }
    return value;
}

double plainSsone(const ModelContext& context, const NRvector<double>& x) {
    return ssframe::modelOne(context, x, plain::simulate);
}

void FitModelOne(benchmark::State& state, ModelObjective* objective, std::string version) {
    StartVector startVector;
    if (readStartFile(ZONEFIT_SOURCE_DIR "/examples/startvec1.txt", startVector) !=
        StartFileStatus::ok) {
        state.SkipWithError("cannot read examples/startvec1.txt");
        return;
    }
    measured = objective;
    measuredRuns = SimulationReport{};
    FailureSink failures;
    measuredContext = ModelContext{};
    measuredContext.failures = &failures;
    measuredContext.simulation.report = &measuredRuns;
    std::string result;
    std::ostringstream trace;
    for (auto _ : state) {
        counted = GenerationCount{};
        trace.str("");
        std::ostringstream reports;
        std::ofstream progress("fit1-" + version + ".progress.tsv");
        progress << "stage\tcycle\tcall\tevaluations\tgenerations\tcpu_seconds\n";
        const std::clock_t started = std::clock();
        ScheduleOptions options;
        options.seed = 1;
        options.trace = &trace;
        options.onCall = [&](const AnnealCall& call) {
            progress << call.stage << '\t' << call.cycle << '\t' << call.call << '\t'
                     << counted.evaluations << '\t' << counted.generations << '\t'
                     << static_cast<double>(std::clock() - started) / CLOCKS_PER_SEC << std::endl;
        };
        result = resultLine(runSchedule(counting, failures, startVector.start, startVector.deltas,
                                        reports, options));
    }
    std::ofstream("fit1-" + version + ".txt") << result;
    std::ofstream("fit1-" + version + ".trace.tsv") << trace.str();
    state.SetLabel(result.substr(0, result.size() - 1));
    state.counters["evaluations"] = static_cast<double>(counted.evaluations);
    state.counters["generations_per_simulation"] =
        static_cast<double>(counted.generations) / static_cast<double>(counted.simulations);
    state.counters["generation"] = benchmark::Counter(
        static_cast<double>(counted.generations),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

} // namespace

BENCHMARK_CAPTURE(FitModelOne, fast, ssone, "fast")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(FitModelOne, plain, plainSsone, "plain")
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

BENCHMARK_MAIN();
