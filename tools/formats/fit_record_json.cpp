#include "tools/formats/fit_record_json.h"

#include "models/model_table.h"
#include "tools/formats/json_io.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

const char* const formatName = "zonefit-fit-record";
constexpr int formatVersion = 1;

// Reading members: each returns false with `error` naming the member.
class Members {
  public:
    Members(const Json& object, std::string& error) : object_(object), error_(error) {}

    // The member `key` when it is there and `is` holds for it.
    const Json* get(const char* key, bool (Json::*is)() const noexcept, const char* what) {
        const Json* value = jsonMember(object_, key);
        if (value == nullptr) {
            error_ = std::string("member \"") + key + "\" is missing";
            return nullptr;
        }
        if (!(value->*is)()) {
            error_ = std::string("member \"") + key + "\" is not " + what;
            return nullptr;
        }
        return value;
    }
    bool number(const char* key, double& out) {
        const Json* v = get(key, &Json::is_number, "a number");
        if (v != nullptr) {
            out = v->get<double>();
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
        const Json* v = get(key, &Json::is_string, "a string");
        if (v != nullptr) {
            out = v->get<std::string>();
        }
        return v != nullptr;
    }
    // The elements of the list `key`, each of which must pass `is`, read by `read`.
    template <typename T, typename Read>
    bool list(const char* key, bool (Json::*is)() const noexcept, const char* what,
              std::vector<T>& out, Read read) {
        const Json* v = get(key, &Json::is_array, "a list");
        if (v == nullptr) {
            return false;
        }
        out.clear();
        for (const Json& item : *v) {
            if (!(item.*is)()) {
                error_ = std::string("member \"") + key + "\" holds something other than " + what;
                return false;
            }
            out.push_back(read(item));
        }
        return true;
    }
    bool numbers(const char* key, std::vector<double>& out) {
        return list(key, &Json::is_number, "numbers", out,
                    [](const Json& item) { return item.get<double>(); });
    }
    bool texts(const char* key, std::vector<std::string>& out) {
        return list(key, &Json::is_string, "strings", out,
                    [](const Json& item) { return item.get<std::string>(); });
    }
    bool flags(const char* key, std::vector<bool>& out) {
        return list(key, &Json::is_boolean, "true and false", out,
                    [](const Json& item) { return item.get<bool>(); });
    }

  private:
    const Json& object_;
    std::string& error_;
};

// A text member that is null for "none".
Json textOrNull(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

} // namespace

std::string fitRecordJson(const FitRecord& r) {
    Json j = Json::object();
    j["format"] = formatName;
    j["version"] = formatVersion;
    j["model"] = r.model;
    j["name"] = r.name;
    j["parameters"] = r.parameters;
    j["point"] = r.point;
    j["value"] = r.value;
    j["seed"] = r.seed ? Json(*r.seed) : Json(nullptr);
    j["evaluations"] = r.evaluations;
    j["start"] = r.start;
    j["steps"] = r.steps;
    j["free"] = r.free;
    j["cpu_seconds"] = r.cpuSeconds;
    j["wall_seconds"] = r.wallSeconds;
    j["program_version"] = r.programVersion;
    j["command_line"] = r.commandLine;
    j["data"] = textOrNull(r.data);
    j["data_checksum"] = textOrNull(r.dataChecksum);
    j["objective"] = objectiveName(r.objective);
    if (!r.locus.empty()) {
        j["locus"] = r.locus;
    }
    return jsonDocument(j);
}

bool parseFitRecord(const std::string& text, FitRecord& r, std::string& error) {
    Json root;
    if (!parseJsonText(text, root, error)) {
        return false;
    }
    if (!root.is_object()) {
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
        // Quoted as in JSON: a foreign file's text never breaks the message's line.
        error = "not a fit record (format " + jsonQuote(format) + ")";
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
    const Json* value = jsonMember(root, "value");
    if (!m.whole("model", 1, modelCount, model) || !m.text("name", r.name) ||
        !m.texts("parameters", r.parameters) || !m.numbers("point", r.point)) {
        return false;
    }
    if (value != nullptr && value->is_null()) {
        r.value = HUGE_VAL;
    } else if (!m.number("value", r.value)) {
        return false;
    }
    const Json* seed = jsonMember(root, "seed");
    if (seed == nullptr) {
        error = "member \"seed\" is missing";
        return false;
    }
    if (seed->is_null()) {
        r.seed.reset();
    } else if (seed->is_number_unsigned()) {
        // The library reads whole numbers up to 2^64 - 1 exactly; larger ones, signed ones and
        // fractions come as other kinds of number.
        r.seed = seed->get<std::uint64_t>();
    } else {
        error = "member \"seed\" is not a whole number from 0 to 18446744073709551615 or null";
        return false;
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
        const Json* v = jsonMember(root, member.first);
        if (v == nullptr || v->is_null()) {
            member.second->clear();
        } else if (!m.text(member.first, *member.second)) {
            return false;
        }
    }
    r.objective = ObjectiveKind::zonefit;
    std::string objective;
    if (jsonMember(root, "objective") != nullptr &&
        (!m.text("objective", objective) || !parseObjectiveKind(objective, r.objective))) {
        error = "member \"objective\" is not \"settled\" or \"zonefit\"";
        return false;
    }
    // Absent in records of no locus and in those written before it was recorded.
    const Json* locus = jsonMember(root, "locus");
    r.locus.clear();
    if (locus != nullptr && !locus->is_null() && (!m.text("locus", r.locus) || r.locus.empty())) {
        error = "member \"locus\" is not a locus name or null";
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
