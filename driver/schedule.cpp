#include "driver/schedule.h"

#include "data/failure_sink.h"
#include "driver/signals.h"
#include "optimiser/amebsa.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The objective, until it reports a failure to `failures`; from then on a constant, so that the
// annealer finishes its call at once instead of simulating on with undefined inputs.
class StopOnFailure {
  public:
    StopOnFailure(const FitObjective& objective, const FailureSink& failures)
        : objective_(objective), failures_(failures) {}
    double operator()(const NRvector<double>& x) {
        return failures_.failed() ? std::numeric_limits<double>::max() : objective_(x);
    }

  private:
    const FitObjective& objective_;
    const FailureSink& failures_;
};

using Annealer = Amebsa<StopOnFailure>;

std::uint64_t annealerSeed(const ScheduleOptions& options) {
    return options.seed ? *options.seed : clockSeed();
}

void traceCall(const ScheduleOptions& options, const AnnealCall& call) {
    if (options.trace != nullptr) {
        char number[32];
        std::ostream& trace = *options.trace;
        trace << call.stage << '\t' << call.cycle << '\t' << call.call << '\t';
        std::snprintf(number, sizeof number, "%.17g", call.temperature);
        trace << number << '\t' << call.evaluations << '\t' << (call.converged ? 1 : 0);
        std::snprintf(number, sizeof number, "%.17g", call.bestValue);
        trace << '\t' << number;
        for (double coordinate : call.bestPoint) {
            std::snprintf(number, sizeof number, "%.17g", coordinate);
            trace << '\t' << number;
        }
        trace << '\n' << std::flush;
    }
    if (options.onCall) {
        options.onCall(call);
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

// One annealer's part of the schedule: it anneals at first, first * factor, first * factor^2,
// ... (by successive multiplication) until it reports convergence; there is deliberately no cap
// on the number of calls. Each later annealer starts from the simplex of the one before.
struct Phase {
    int stage;
    int cycle;
    double firstTemperature;
    double coolingFactor;
    double tolerance;
    const char* heading; // report after convergence, or null
};

constexpr Phase phases[] = {
    {1, 1, 20.0, 0.65, 0.0001, nullptr},
    {2, 1, 1.0, 0.75, 1e-5, "Temporary Max::"},
    {2, 2, 1.0, 0.75, 1e-5, "Temporary Max::"},
    {2, 3, 1.0, 0.75, 1e-5, "Temporary Max::"},
    {3, 1, 1.0, 0.95, 0.0001, nullptr},
    {4, 1, 0.5, 0.9, 1e-5, "Refining has found:"},
    {4, 2, 0.5, 0.9, 1e-5, "Refining has found:"},
    {4, 3, 0.5, 0.9, 1e-5, "Refining has found:"},
    {4, 4, 0.5, 0.9, 1e-5, "Refining has found:"},
    {4, 5, 0.5, 0.9, 1e-5, "Refining has found:"},
};
constexpr int phaseCount = sizeof phases / sizeof phases[0];
constexpr int firstResultPhase = 5;

int phaseIndex(int stage, int cycle) {
    for (int p = 0; p < phaseCount; p++) {
        if (phases[p].stage == stage && phases[p].cycle == cycle) {
            return p;
        }
    }
    return -1;
}

} // namespace

bool validScheduleState(const ScheduleState& state, int dimension) {
    const AnnealerState& a = state.annealer;
    return phaseIndex(state.stage, state.cycle) >= 0 && state.call >= 1 &&
           a.dimension == dimension && a.vertexCount == dimension + 1 &&
           a.simplex.size() ==
               static_cast<std::size_t>(a.vertexCount) * static_cast<std::size_t>(a.dimension) &&
           a.vertexValues.size() == static_cast<std::size_t>(a.vertexCount) &&
           a.bestPoint.size() == static_cast<std::size_t>(a.dimension) && a.generator != 0;
}

FitResult runSchedule(const FitObjective& objective, FailureSink& failures,
                      const std::vector<double>& start, const std::vector<double>& deltas,
                      std::ostream& out, const ScheduleOptions& options) {
    const int n = static_cast<int>(start.size());
    failures.clear();
    StopOnFailure guarded(objective, failures);
    // After a failure nothing more is traced, reported or called.
    const auto failed = [&failures] {
        FitResult result;
        result.failure = failures.message();
        return result;
    };
    std::optional<Annealer> annealer;
    int p = 0;
    int call = 1;
    double temperature = phases[0].firstTemperature;
    bool converged = false;
    if (options.resumeFrom != nullptr) {
        const ScheduleState& state = *options.resumeFrom;
        p = phaseIndex(state.stage, state.cycle);
        annealer.emplace(state.annealer, guarded, phases[p].tolerance);
        call = state.call;
        temperature = state.temperature;
        converged = state.converged;
        if (!converged) {
            temperature *= phases[p].coolingFactor;
            call += 1;
        }
    } else {
        NRvector<double> point(n);
        NRvector<double> steps(n);
        for (int j = 0; j < n; j++) {
            point[j] = start[j];
            steps[j] = deltas[j];
        }
        annealer.emplace(point, steps, guarded, phases[0].tolerance, annealerSeed(options));
        if (failures.failed()) {
            return failed();
        }
    }

    FitResult result;
    for (;;) {
        if (!converged) {
            int budget = 1000;
            converged = annealer->anneal(budget, temperature);
            if (failures.failed()) {
                return failed();
            }
            if (options.stopRequested && options.stopRequested()) {
                result.stopped = true;
                return result;
            }
            const FitResult best = resultOf(*annealer);
            traceCall(options, {phases[p].stage, phases[p].cycle, call, temperature, 1000 - budget,
                                converged, best.bestValue, best.bestPoint});
            if (options.onState) {
                options.onState({phases[p].stage, phases[p].cycle, call, temperature, converged,
                                 annealer->saveState()});
            }
            if (!converged) {
                temperature *= phases[p].coolingFactor;
                call += 1;
                continue;
            }
        }
        if (phases[p].heading != nullptr) {
            report(out, phases[p].heading, *annealer);
        }
        if (p >= firstResultPhase) {
            result = resultOf(*annealer);
        }
        if (p + 1 == phaseCount) {
            return result;
        }
        const NRmatrix<double> simplexCarry(annealer->simplex);
        p += 1;
        annealer.reset();
        annealer.emplace(simplexCarry, guarded, phases[p].tolerance, annealerSeed(options));
        if (failures.failed()) {
            return failed();
        }
        temperature = phases[p].firstTemperature;
        call = 1;
        converged = false;
    }
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

namespace {

// Renames `from` to `to` unless `to` exists; fails with EEXIST if it does. Both steps are
// atomic: renameat2 where the file system supports it, a hard link otherwise (a link, too,
// fails when the name is taken).
// Whether the file `path` holds exactly `content`.
bool holdsExactly(const std::string& path, const std::string& content) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream held;
    held << in.rdbuf();
    return in && held.str() == content;
}

bool renameNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return false;
    }
    if (link(from.c_str(), to.c_str()) != 0) {
        return false;
    }
    unlink(from.c_str());
    return true;
}

} // namespace

bool writeResultFile(const std::string& name, const std::string& content, std::string& error,
                     const std::function<void()>& beforeRename, ExistingFile existing,
                     std::string* keptAs) {
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
    if (beforeRename) {
        beforeRename();
    }
    if (existing == ExistingFile::keep) {
        if (renameNoReplace(temporary, name)) {
            return true;
        }
        if (errno != EEXIST) {
            error = "cannot rename " + temporary + " to " + name + ": " + std::strerror(errno);
            std::remove(temporary.c_str());
            return false;
        }
        // The very same content (a resumed fit that had written its result before it was
        // killed, say) replaces nothing and loses nothing.
        if (holdsExactly(name, content)) {
            std::remove(temporary.c_str());
            return true;
        }
        const std::string side = name + ".new-" + std::to_string(static_cast<long>(getpid()));
        // The side name holds this process's id, so only an earlier process of the same id
        // can have left a file there; what this one made is kept under the temporary name then.
        const std::string& kept = renameNoReplace(temporary, side) ? side : temporary;
        error = name +
                " appeared in the meantime; nothing was replaced, and the new content is "
                "kept in " +
                kept;
        if (keptAs != nullptr) {
            *keptAs = kept;
        }
        return false;
    }
    if (std::rename(temporary.c_str(), name.c_str()) != 0) {
        error = "cannot rename " + temporary + " to " + name + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}
