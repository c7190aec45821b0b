#include "driver/schedule.h"

#include "data/failure_sink.h"
#include "driver/signals.h"
#include "optimiser/amebsa.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The objective, until it reports a failure to `failures`; from then on a constant, so that the
// annealer finishes its call at once instead of simulating on with undefined inputs.
class StopOnFailure {
  public:
    StopOnFailure(ObjectiveFunction& objective, const FailureSink& failures)
        : objective_(objective), failures_(failures) {}
    double operator()(const NRvector<double>& x) {
        return failures_.failed() ? std::numeric_limits<double>::max() : objective_(x);
    }

  private:
    ObjectiveFunction& objective_;
    const FailureSink& failures_;
};

using Annealer = Amebsa<StopOnFailure>;

std::uint64_t annealerSeed(const ScheduleOptions& options) {
    return options.seed ? *options.seed : clockSeed();
}

void traceCall(const ScheduleOptions& options, const AnnealCall& call) {
    if (options.trace != nullptr) {
        char temperature[32];
        char best[32];
        std::snprintf(temperature, sizeof temperature, "%.17g", call.temperature);
        std::snprintf(best, sizeof best, "%.17g", call.bestValue);
        *options.trace << call.stage << '\t' << call.cycle << '\t' << call.call << '\t'
                       << temperature << '\t' << call.evaluations << '\t'
                       << (call.converged ? 1 : 0) << '\t' << best << '\n'
                       << std::flush;
    }
    if (options.onCall) {
        options.onCall(call);
    }
}

// Anneals at T0, T0 * factor, T0 * factor^2, ... (by successive multiplication) until the
// object reports convergence; there is deliberately no cap on the number of calls. Returns
// false, without tracing the call, when the objective failed during a call.
bool driveToConvergence(Annealer& annealer, int stage, int cycle, double firstTemperature,
                        double coolingFactor, const ScheduleOptions& options,
                        const FailureSink& failures) {
    double temperature = firstTemperature;
    int call = 1;
    for (;;) {
        int budget = 1000;
        const bool converged = annealer.anneal(budget, temperature);
        if (failures.failed()) {
            return false;
        }
        traceCall(options,
                  {stage, cycle, call, temperature, 1000 - budget, converged, annealer.bestValue});
        if (converged) {
            return true;
        }
        temperature *= coolingFactor;
        call += 1;
    }
}

void report(std::ostream& out, const char* heading, const Annealer& annealer) {
    out << heading << "\n";
    for (int j = 0; j < annealer.dimension; j++) {
        out << annealer.bestPoint[j] << " ";
    }
    out << annealer.bestValue << "\n";
    out.flush();
}

FitResult resultOf(const Annealer& annealer) {
    FitResult result;
    for (int j = 0; j < annealer.dimension; j++) {
        result.bestPoint.push_back(annealer.bestPoint[j]);
    }
    result.bestValue = annealer.bestValue;
    return result;
}

} // namespace

FitResult runSchedule(ObjectiveFunction& objective, const std::vector<double>& start,
                      const std::vector<double>& deltas, std::ostream& out,
                      const ScheduleOptions& options) {
    const int n = static_cast<int>(start.size());
    NRvector<double> point(n);
    NRvector<double> steps(n);
    for (int j = 0; j < n; j++) {
        point[j] = start[j];
        steps[j] = deltas[j];
    }
    FailureSink failures;
    const FailureScope failureScope(failures);
    StopOnFailure guarded(objective, failures);
    // An annealer that failed while evaluating its first simplex makes no call at all.
    const auto drive = [&](Annealer& annealer, int stage, int cycle, double firstTemperature,
                           double coolingFactor) {
        return !failures.failed() && driveToConvergence(annealer, stage, cycle, firstTemperature,
                                                        coolingFactor, options, failures);
    };
    const auto stopped = [&failures] {
        FitResult result;
        result.failure = failures.message();
        return result;
    };

    Annealer stage1(point, steps, guarded, 0.0001, annealerSeed(options));
    if (!drive(stage1, 1, 1, 20.0, 0.65)) {
        return stopped();
    }
    NRmatrix<double> simplexCarry(stage1.simplex);

    for (int cycle = 1; cycle <= 3; cycle++) {
        Annealer annealer(simplexCarry, guarded, 1e-5, annealerSeed(options));
        if (!drive(annealer, 2, cycle, 1.0, 0.75)) {
            return stopped();
        }
        simplexCarry = annealer.simplex;
        report(out, "Temporary Max::", annealer);
    }

    Annealer stage3(simplexCarry, guarded, 0.0001, annealerSeed(options));
    if (!drive(stage3, 3, 1, 1.0, 0.95)) {
        return stopped();
    }
    simplexCarry = stage3.simplex;

    FitResult result;
    for (int cycle = 1; cycle <= 5; cycle++) {
        Annealer annealer(simplexCarry, guarded, 1e-5, annealerSeed(options));
        if (!drive(annealer, 4, cycle, 0.5, 0.9)) {
            return stopped();
        }
        simplexCarry = annealer.simplex;
        report(out, "Refining has found:", annealer);
        result = resultOf(annealer);
    }
    return result;
}

std::string resultLine(const FitResult& result) {
    std::ostringstream line;
    line.precision(8);
    for (double coordinate : result.bestPoint) {
        line << coordinate << " ";
    }
    line << result.bestValue << "\n";
    return line.str();
}

namespace {

std::string temporaryName(const std::string& name) {
    return name + ".tmp" + std::to_string(static_cast<long>(getpid()));
}

} // namespace

bool checkResultWritable(const std::string& name, std::string& error) {
    struct stat info;
    if (stat(name.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode)) {
            error = name + " exists and is not a regular file";
            return false;
        }
        if (access(name.c_str(), W_OK) != 0) {
            error = name + " is not writable: " + std::strerror(errno);
            return false;
        }
    }
    // A probe file proves that the directory takes the temporary file written at the end.
    const std::string probe = temporaryName(name);
    const TemporaryFileArm arm(probe.c_str());
    std::FILE* file = std::fopen(probe.c_str(), "w");
    if (file == nullptr) {
        error = "cannot create files beside " + name + ": " + std::strerror(errno);
        return false;
    }
    std::fclose(file);
    std::remove(probe.c_str());
    return true;
}

bool writeResultFile(const std::string& name, const std::string& content, std::string& error) {
    const std::string temporary = temporaryName(name);
    // From here until the rename or the removal, a stop signal removes the temporary file.
    const TemporaryFileArm arm(temporary.c_str());
    std::FILE* file = std::fopen(temporary.c_str(), "w");
    if (file == nullptr) {
        error = "cannot create " + temporary + ": " + std::strerror(errno);
        return false;
    }
    errno = 0;
    const bool written = std::fwrite(content.data(), 1, content.size(), file) == content.size();
    const bool flushed = std::fflush(file) == 0 && fsync(fileno(file)) == 0;
    const int savedErrno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !flushed || !closed) {
        error = "cannot write " + temporary + ": " +
                std::strerror(savedErrno != 0 ? savedErrno : errno);
        std::remove(temporary.c_str());
        return false;
    }
    if (std::rename(temporary.c_str(), name.c_str()) != 0) {
        error = "cannot rename " + temporary + " to " + name + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
