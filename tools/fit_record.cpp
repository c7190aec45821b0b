#include "tools/fit_record.h"

#include "tools/data_option.h"

#include "tools/cli.h"
#include "tools/json.h"

#include <chrono>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#ifndef ZONEFIT_VERSION
#define ZONEFIT_VERSION "0.1"
#endif

namespace {

const char* const formatName = "zonefit-fit-record";
constexpr int formatVersion = 1;

std::string stringList(const std::vector<std::string>& values) {
    std::string text = "[";
    for (std::size_t i = 0; i < values.size(); i++) {
        text += (i == 0 ? "" : ", ") + jsonQuote(values[i]);
    }
    return text + "]";
}

// Reading members: each returns false with `error` naming the member.
class Members {
  public:
    Members(const JsonValue& object, std::string& error) : object_(object), error_(error) {}

    const JsonValue* get(const char* key, JsonValue::Type type, const char* what) {
        const JsonValue* value = object_.find(key);
        if (value == nullptr) {
            error_ = std::string("member \"") + key + "\" is missing";
            return nullptr;
        }
        if (value->type != type) {
            error_ = std::string("member \"") + key + "\" is not " + what;
            return nullptr;
        }
        return value;
    }
    bool number(const char* key, double& out) {
        const JsonValue* v = get(key, JsonValue::Type::number, "a number");
        if (v != nullptr) {
            out = v->number;
        }
        return v != nullptr;
    }
    bool whole(const char* key, double lowest, double highest, double& out) {
        if (!number(key, out)) {
            return false;
        }
        if (out != std::floor(out) || out < lowest || out > highest) {
            error_ = std::string("member \"") + key + "\" is not a whole number in range";
            return false;
        }
        return true;
    }
    bool text(const char* key, std::string& out) {
        const JsonValue* v = get(key, JsonValue::Type::string, "a string");
        if (v != nullptr) {
            out = v->text;
        }
        return v != nullptr;
    }
    bool numbers(const char* key, std::vector<double>& out) {
        const JsonValue* v = get(key, JsonValue::Type::array, "a list");
        if (v == nullptr) {
            return false;
        }
        out.clear();
        for (const JsonValue& item : v->items) {
            if (item.type != JsonValue::Type::number) {
                error_ = std::string("member \"") + key + "\" holds something other than numbers";
                return false;
            }
            out.push_back(item.number);
        }
        return true;
    }
    bool texts(const char* key, std::vector<std::string>& out) {
        const JsonValue* v = get(key, JsonValue::Type::array, "a list");
        if (v == nullptr) {
            return false;
        }
        out.clear();
        for (const JsonValue& item : v->items) {
            if (item.type != JsonValue::Type::string) {
                error_ = std::string("member \"") + key + "\" holds something other than strings";
                return false;
            }
            out.push_back(item.text);
        }
        return true;
    }
    bool flags(const char* key, std::vector<bool>& out) {
        const JsonValue* v = get(key, JsonValue::Type::array, "a list");
        if (v == nullptr) {
            return false;
        }
        out.clear();
        for (const JsonValue& item : v->items) {
            if (item.type != JsonValue::Type::boolean) {
                error_ = std::string("member \"") + key +
                         "\" holds something other than true "
                         "and false";
                return false;
            }
            out.push_back(item.boolean);
        }
        return true;
    }

  private:
    const JsonValue& object_;
    std::string& error_;
};

} // namespace

std::string recordFileName(const std::string& resultName) {
    return resultName + ".json";
}

std::string programVersion() {
    return ZONEFIT_VERSION;
}

std::vector<std::string>& recordedCommandLine() {
    static std::vector<std::string> line;
    return line;
}

FitRecord newFitRecord(const ModelEntry& model, const std::vector<double>& start,
                       const std::vector<double>& steps, const DataContext* data) {
    FitRecord record;
    record.model = model.number;
    record.name = model.name;
    for (int j = 0; j < model.parameterCount; j++) {
        record.parameters.push_back(model.parameters != nullptr ? model.parameters[j].name
                                                                : "x" + std::to_string(j));
    }
    record.start = start;
    record.steps = steps;
    for (double step : steps) {
        record.free.push_back(step != 0.0);
    }
    record.programVersion = programVersion();
    record.commandLine = recordedCommandLine();
    if (data != nullptr) {
        record.data = data->path;
        record.dataChecksum = data->checksum;
    }
    return record;
}

int freeParameterCount(const std::vector<bool>& free, int parameterCount) {
    if (free.empty()) {
        return parameterCount;
    }
    int count = 0;
    for (int j = 0; j < parameterCount && j < static_cast<int>(free.size()); j++) {
        count += free[static_cast<std::size_t>(j)] ? 1 : 0;
    }
    return count;
}

std::string fitRecordJson(const FitRecord& r) {
    std::string freeList = "[";
    for (std::size_t i = 0; i < r.free.size(); i++) {
        freeList += std::string(i == 0 ? "" : ", ") + (r.free[i] ? "true" : "false");
    }
    freeList += "]";
    std::ostringstream out;
    out << "{\n"
        << "  \"format\": " << jsonQuote(formatName) << ",\n"
        << "  \"version\": " << formatVersion << ",\n"
        << "  \"model\": " << r.model << ",\n"
        << "  \"name\": " << jsonQuote(r.name) << ",\n"
        << "  \"parameters\": " << stringList(r.parameters) << ",\n"
        << "  \"point\": " << jsonNumberList(r.point) << ",\n"
        << "  \"value\": " << jsonNumber(r.value) << ",\n"
        << "  \"seed\": " << (r.seed ? std::to_string(*r.seed) : "null") << ",\n"
        << "  \"evaluations\": " << r.evaluations << ",\n"
        << "  \"start\": " << jsonNumberList(r.start) << ",\n"
        << "  \"steps\": " << jsonNumberList(r.steps) << ",\n"
        << "  \"free\": " << freeList << ",\n"
        << "  \"cpu_seconds\": " << jsonNumber(r.cpuSeconds) << ",\n"
        << "  \"wall_seconds\": " << jsonNumber(r.wallSeconds) << ",\n"
        << "  \"program_version\": " << jsonQuote(r.programVersion) << ",\n"
        << "  \"command_line\": " << stringList(r.commandLine) << ",\n"
        << "  \"data\": " << (r.data.empty() ? "null" : jsonQuote(r.data)) << ",\n"
        << "  \"data_checksum\": " << (r.dataChecksum.empty() ? "null" : jsonQuote(r.dataChecksum))
        << ",\n"
        << "  \"objective\": " << jsonQuote(objectiveName(r.objective)) << "\n"
        << "}\n";
    return out.str();
}

bool parseFitRecord(const std::string& text, FitRecord& r, std::string& error) {
    JsonValue root;
    if (!parseJson(text, root, error)) {
        error = "not valid JSON: " + error;
        return false;
    }
    if (root.type != JsonValue::Type::object) {
        error = "not a fit record (no JSON object)";
        return false;
    }
    Members m(root, error);
    std::string format;
    double version = 0.0;
    if (!m.text("format", format)) {
        return false;
    }
    if (format != formatName) {
        error = "not a fit record (format \"" + format + "\")";
        return false;
    }
    if (!m.number("version", version)) {
        return false;
    }
    if (version != formatVersion) {
        error = "fit record version " + jsonNumber(version) + " is not supported (only 1)";
        return false;
    }
    double model = 0.0;
    double evaluations = 0.0;
    // The value is null in a record of a fit that ended on an infinite value.
    const JsonValue* value = root.find("value");
    if (!m.whole("model", 1, modelCount, model) || !m.text("name", r.name) ||
        !m.texts("parameters", r.parameters) || !m.numbers("point", r.point)) {
        return false;
    }
    if (value != nullptr && value->type == JsonValue::Type::null) {
        r.value = HUGE_VAL;
    } else if (!m.number("value", r.value)) {
        return false;
    }
    const JsonValue* seed = root.find("seed");
    if (seed == nullptr) {
        error = "member \"seed\" is missing";
        return false;
    }
    if (seed->type == JsonValue::Type::null) {
        r.seed.reset();
    } else {
        // Read from the digits as written: seeds beyond 2^53 do not survive a double.
        std::uint64_t s = 0;
        if (seed->type != JsonValue::Type::number || !parseSeed(seed->text, s)) {
            error = "member \"seed\" is not a whole number from 0 to 18446744073709551615 or "
                    "null";
            return false;
        }
        r.seed = s;
    }
    if (!m.whole("evaluations", 0, 9.2e18, evaluations) || !m.numbers("start", r.start) ||
        !m.numbers("steps", r.steps) || !m.flags("free", r.free) ||
        !m.number("cpu_seconds", r.cpuSeconds) || !m.number("wall_seconds", r.wallSeconds) ||
        !m.text("program_version", r.programVersion) || !m.texts("command_line", r.commandLine)) {
        return false;
    }
    // The transect: null (or absent, in records written before it was recorded) for the
    // built-in one.
    for (const auto& member :
         {std::make_pair("data", &r.data), std::make_pair("data_checksum", &r.dataChecksum)}) {
        const JsonValue* v = root.find(member.first);
        if (v == nullptr || v->type == JsonValue::Type::null) {
            member.second->clear();
        } else if (!m.text(member.first, *member.second)) {
            return false;
        }
    }
    r.objective = ObjectiveKind::zonefit;
    std::string objective;
    if (root.find("objective") != nullptr &&
        (!m.text("objective", objective) || !parseObjectiveKind(objective, r.objective))) {
        error = "member \"objective\" is not \"settled\" or \"zonefit\"";
        return false;
    }
    r.model = static_cast<int>(model);
    r.evaluations = static_cast<long>(evaluations);
    const std::size_t n = r.point.size();
    if (r.start.size() != n || r.steps.size() != n || r.free.size() != n) {
        error = "point, start, steps and free differ in length";
        return false;
    }
    if (r.parameters.size() > n) {
        error = "more parameter names than coordinates";
        return false;
    }
    return true;
}

bool readFitRecord(const std::string& path, FitRecord& record, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (!parseFitRecord(content.str(), record, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

double threadCpuSeconds() {
    timespec now{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) {
        return 0.0;
    }
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

bool writeFitRecord(const std::string& resultName, const FitRecord& record, std::string& error) {
    std::string reason;
    if (!writeResultFile(recordFileName(resultName), fitRecordJson(record), reason)) {
        error = "Cannot save the fit record: " + reason + ". Exiting (1)";
        return false;
    }
    return true;
}

std::function<bool(const FitResult&, const StartVector&, std::string&)>
recordWriter(const DataContext& data, const ModelEntry& model, const std::string& resultName,
             const std::optional<std::uint64_t>& seed, const std::atomic<long>& evaluations,
             ObjectiveKind objective) {
    const DataContext* in = &data;
    const double cpuStart = threadCpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    const ModelEntry* entry = &model;
    const std::atomic<long>* counted = &evaluations;
    return [=](const FitResult& result, const StartVector& startVector, std::string& error) {
        FitRecord record = newFitRecord(*entry, startVector.start, startVector.deltas, in);
        record.point = result.bestPoint;
        record.value = result.bestValue;
        record.seed = seed;
        record.objective = objective;
        record.evaluations = counted->load();
        record.cpuSeconds = threadCpuSeconds() - cpuStart;
        record.wallSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        return writeFitRecord(resultName, record, error);
    };
}
