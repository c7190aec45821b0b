#include "tools/analysis/checkpoint.h"

#include "driver/signals.h"
#include "driver/start_file.h"
#include "driver/zonefit_main.h"
#include "models/model_table.h"
#include "population/diagnostics.h"
#include "zonefit_version.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <spawn.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

// The same version as the fit records: a checkpoint continues only in the build that wrote it.
const char* const checkpointProgramVersion = "zonetool " ZONEFIT_VERSION;

const char* const checkpointMagic = "zonefit-checkpoint";

namespace {

// FNV-1a over the text before the checksum line: a torn or edited file does not pass.
std::uint64_t checksum(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

std::string hexDouble(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%a", value);
    return text;
}

void writeList(std::ostringstream& out, const char* key, const std::vector<double>& values) {
    out << key << ' ' << values.size();
    for (double v : values) {
        out << ' ' << hexDouble(v);
    }
    out << '\n';
}

} // namespace

std::string formatCheckpoint(const Checkpoint& c) {
    std::ostringstream out;
    const Amebsa<ObjectiveFunction>::State& a = c.state.annealer;
    out << checkpointMagic << ' ' << c.format << '\n';
    out << "program " << c.program << '\n';
    out << "model " << c.model << '\n';
    out << "seed " << (c.seed ? std::to_string(*c.seed) : std::string("clock")) << '\n';
    out << "objective " << objectiveName(c.objective) << '\n';
    writeList(out, "start", c.start);
    writeList(out, "steps", c.steps);
    out << "position " << c.state.stage << ' ' << c.state.cycle << ' ' << c.state.call << '\n';
    out << "temperature " << hexDouble(c.state.temperature) << '\n';
    out << "converged " << (c.state.converged ? 1 : 0) << '\n';
    out << "simplex " << a.vertexCount << ' ' << a.dimension << '\n';
    for (int i = 0; i < a.vertexCount; i++) {
        for (int j = 0; j < a.dimension; j++) {
            out << (j == 0 ? "" : " ")
                << hexDouble(a.simplex[static_cast<std::size_t>(i * a.dimension + j)]);
        }
        out << '\n';
    }
    writeList(out, "vertex-values", a.vertexValues);
    writeList(out, "best-point", a.bestPoint);
    out << "best-value " << hexDouble(a.bestValue) << '\n';
    out << "negative-temperature " << hexDouble(a.negTemperature) << '\n';
    out << "generator " << a.generator << '\n';
    out << "evaluations " << c.evaluations << '\n';
    out << "lowest-evaluation " << hexDouble(c.progressBest) << '\n';
    out << "cpu-seconds " << hexDouble(c.cpuSeconds) << '\n';
    out << "wall-seconds " << hexDouble(c.wallSeconds) << '\n';
    out << "log-bytes " << c.logBytes << '\n';
    out << "trace-bytes " << c.traceBytes << '\n';
    std::string text = out.str();
    char line[64];
    std::snprintf(line, sizeof line, "checksum %016" PRIx64 "\n", checksum(text));
    return text + line;
}

namespace {

// Reads the lines of a checkpoint in order, each led by its expected key.
class Reader {
  public:
    explicit Reader(const std::string& text) : in_(text) {}

    bool line(const char* key) {
        std::string text;
        if (!std::getline(in_, text)) {
            return fail(std::string("missing '") + key + "'");
        }
        lineNumber_++;
        fields_.clear();
        fields_.str(text);
        std::string word;
        fields_ >> word;
        if (word != key) {
            return fail(std::string("'") + key + "' expected");
        }
        return true;
    }
    // The next line when it is led by `key` (true); otherwise reads nothing (false).
    bool optionalLine(const char* key) {
        const std::streampos at = in_.tellg();
        std::string text;
        if (!std::getline(in_, text) ||
            text.compare(0, std::strlen(key) + 1, std::string(key) + " ") != 0) {
            in_.clear();
            in_.seekg(at);
            return false;
        }
        lineNumber_++;
        fields_.clear();
        fields_.str(text);
        std::string word;
        fields_ >> word;
        return true;
    }
    // A line of `count` numbers without a key, stored from values[k] on.
    bool row(int count, std::vector<double>& values, std::size_t& k) {
        std::string text;
        if (!std::getline(in_, text)) {
            return fail("simplex row missing");
        }
        lineNumber_++;
        fields_.clear();
        fields_.str(text);
        for (int j = 0; j < count; j++) {
            if (!real(values[k++])) {
                return false;
            }
        }
        return end();
    }
    bool word(std::string& value) { return (fields_ >> value) ? true : fail("value missing"); }
    bool real(double& value) {
        std::string text;
        if (!word(text)) {
            return false;
        }
        char* end = nullptr;
        value = std::strtod(text.c_str(), &end);
        return *end == '\0' ? true : fail("'" + text + "' is not a number");
    }
    template <class I> bool integer(I& value, long long low, long long high) {
        std::string text;
        if (!word(text)) {
            return false;
        }
        char* end = nullptr;
        errno = 0;
        const long long v = std::strtoll(text.c_str(), &end, 10);
        if (*end != '\0' || errno != 0 || v < low || v > high) {
            return fail("'" + text + "' is out of range");
        }
        value = static_cast<I>(v);
        return true;
    }
    bool unsigned64(std::uint64_t& value) {
        std::string text;
        if (!word(text)) {
            return false;
        }
        char* end = nullptr;
        errno = 0;
        value = std::strtoull(text.c_str(), &end, 10);
        return *end == '\0' && errno == 0 && text[0] != '-' ? true
                                                            : fail("'" + text + "' is no seed");
    }
    bool list(const char* key, std::vector<double>& values) {
        std::size_t count = 0;
        if (!line(key) || !integer(count, 0, maxStartValues + 1)) {
            return false;
        }
        values.resize(count);
        for (double& v : values) {
            if (!real(v)) {
                return false;
            }
        }
        return end();
    }
    bool end() {
        std::string extra;
        return (fields_ >> extra) ? fail("unexpected '" + extra + "'") : true;
    }
    bool fail(const std::string& what) {
        error = "line " + std::to_string(lineNumber_) + ": " + what;
        return false;
    }

    std::string error;

  private:
    std::istringstream in_;
    std::istringstream fields_;
    int lineNumber_ = 0;
};

} // namespace

bool parseCheckpoint(const std::string& text, Checkpoint& c, std::string& error) {
    const std::size_t mark = text.rfind("checksum ");
    if (mark == std::string::npos || (mark > 0 && text[mark - 1] != '\n')) {
        error = "no checksum line";
        return false;
    }
    unsigned long long stored = 0;
    char tail = 0;
    if (std::sscanf(text.c_str() + mark, "checksum %16llx%c", &stored, &tail) != 2 ||
        tail != '\n' || mark + 26 != text.size() || stored != checksum(text.substr(0, mark))) {
        error = "checksum does not match";
        return false;
    }
    Reader r(text.substr(0, mark));
    Amebsa<ObjectiveFunction>::State& a = c.state.annealer;
    std::string seed;
    int converged = 0;
    const bool ok =
        r.line(checkpointMagic) && r.integer(c.format, 0, 1000000) && r.end() &&
        r.line("program") && r.word(c.program) &&
        [&] {
            std::string rest;
            if (r.word(rest)) {
                c.program += " " + rest;
            }
            return r.end();
        }() &&
        r.line("model") && r.integer(c.model, 1, 1000) && r.end() && r.line("seed") &&
        r.word(seed) && r.end() &&
        [&] {
            if (seed == "clock") {
                c.seed.reset();
                return true;
            }
            std::uint64_t value = 0;
            Reader one("seed " + seed);
            if (!one.line("seed") || !one.unsigned64(value)) {
                return r.fail("bad seed '" + seed + "'");
            }
            c.seed = value;
            return true;
        }() &&
        [&] {
            c.objective = ObjectiveKind::zonefit;
            if (!r.optionalLine("objective")) {
                return true;
            }
            std::string kind;
            if (!r.word(kind)) {
                return false;
            }
            return parseObjectiveKind(kind, c.objective) ? r.end()
                                                         : r.fail("bad objective '" + kind + "'");
        }() &&
        r.list("start", c.start) && r.list("steps", c.steps) && r.line("position") &&
        r.integer(c.state.stage, 1, 4) && r.integer(c.state.cycle, 1, 5) &&
        r.integer(c.state.call, 1, std::numeric_limits<int>::max()) && r.end() &&
        r.line("temperature") && r.real(c.state.temperature) && r.end() && r.line("converged") &&
        r.integer(converged, 0, 1) && r.end() && r.line("simplex") &&
        r.integer(a.vertexCount, 2, maxStartValues + 1) &&
        r.integer(a.dimension, 1, maxStartValues) && r.end() &&
        [&] {
            a.simplex.resize(static_cast<std::size_t>(a.vertexCount) *
                             static_cast<std::size_t>(a.dimension));
            std::size_t k = 0;
            for (int i = 0; i < a.vertexCount; i++) {
                if (!r.row(a.dimension, a.simplex, k)) {
                    return false;
                }
            }
            return true;
        }() &&
        r.list("vertex-values", a.vertexValues) && r.list("best-point", a.bestPoint) &&
        r.line("best-value") && r.real(a.bestValue) && r.end() && r.line("negative-temperature") &&
        r.real(a.negTemperature) && r.end() && r.line("generator") && r.unsigned64(a.generator) &&
        r.end() && r.line("evaluations") &&
        r.integer(c.evaluations, 0, std::numeric_limits<long>::max()) && r.end() &&
        r.line("lowest-evaluation") && r.real(c.progressBest) && r.end() && r.line("cpu-seconds") &&
        r.real(c.cpuSeconds) && r.end() && r.line("wall-seconds") && r.real(c.wallSeconds) &&
        r.end() && r.line("log-bytes") &&
        r.integer(c.logBytes, 0, std::numeric_limits<long long>::max()) && r.end() &&
        r.line("trace-bytes") &&
        r.integer(c.traceBytes, -1, std::numeric_limits<long long>::max()) && r.end();
    if (!ok) {
        error = r.error;
        return false;
    }
    c.state.converged = converged == 1;
    if (!validScheduleState(c.state, static_cast<int>(c.start.size())) ||
        c.steps.size() != c.start.size()) {
        error = "the saved state does not fit its start vector";
        return false;
    }
    return true;
}

void requeueStoppedJob(std::ostream& err) {
    const char* job = std::getenv("SLURM_JOB_ID");
    if (job == nullptr || *job == '\0') {
        err << "zonetool fit: --requeue: SLURM_JOB_ID is not set, so nothing was requeued\n";
        return;
    }
    // An array task's own id: the array's id alone would requeue every task of the array (the
    // last task shares it).
    std::string jobId = job;
    const char* arrayJob = std::getenv("SLURM_ARRAY_JOB_ID");
    const char* arrayTask = std::getenv("SLURM_ARRAY_TASK_ID");
    if (arrayJob != nullptr && *arrayJob != '\0' && arrayTask != nullptr && *arrayTask != '\0') {
        jobId = std::string(arrayJob) + "_" + arrayTask;
    }
    char program[] = "scontrol";
    char verb[] = "requeue";
    char* argv[] = {program, verb, &jobId[0], nullptr};
    pid_t child = 0;
    const int failed = posix_spawnp(&child, program, nullptr, nullptr, argv, environ);
    if (failed != 0) {
        err << "zonetool fit: could not run scontrol requeue " << jobId << ": "
            << std::strerror(failed) << "\n";
        return;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        err << "zonetool fit: requeued Slurm job " << jobId << "\n";
    } else {
        err << "zonetool fit: scontrol requeue " << jobId << " failed (status "
            << (WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status))
            << "); the job was not requeued\n";
    }
}
