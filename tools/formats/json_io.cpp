#include "tools/formats/json_io.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

namespace {

// The length of the well-formed UTF-8 sequence at `at` (RFC 3629: no overlong forms, no
// surrogates, nothing past U+10FFFF), or 0 when the byte there starts none.
std::size_t utf8Length(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t k) {
        return at + k < text.size() ? static_cast<unsigned char>(text[at + k]) : 0u;
    };
    const unsigned lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    unsigned low = 0x80;
    unsigned high = 0xBF;
    std::size_t length = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; k++) {
        const unsigned b = byte(k);
        if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) {
            return 0;
        }
    }
    return length;
}

bool named(const std::vector<std::string>& names, const std::string& key) {
    return std::find(names.begin(), names.end(), key) != names.end();
}

std::string numberText(const Json& value) {
    if (value.is_number_unsigned()) {
        return std::to_string(value.get<std::uint64_t>());
    }
    if (value.is_number_integer()) {
        return std::to_string(value.get<std::int64_t>());
    }
    return jsonNumber(value.get<double>());
}

// Checks what nlohmann's parser lets through and this program refuses, and notes where a
// syntax error lies. Each callback returns false to stop at the first problem.
class Checker : public nlohmann::json_sax<Json> {
  public:
    std::string problem;
    std::size_t failedAt = 0; // bytes read when the syntax error was found, from 1

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override {
        keys_.emplace_back();
        return deeper();
    }
    bool key(string_t& name) override {
        return keys_.back().insert(name).second ||
               refuse("the member \"" + name + "\" appears twice in one object");
    }
    bool end_object() override {
        keys_.pop_back();
        depth_--;
        return true;
    }
    bool start_array(std::size_t) override { return deeper(); }
    bool end_array() override {
        depth_--;
        return true;
    }
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception&) override {
        failedAt = position;
        return false;
    }

  private:
    static constexpr int maxDepth = 64;

    bool refuse(const std::string& what) {
        problem = what;
        return false;
    }
    bool deeper() { return ++depth_ <= maxDepth || refuse("nested more than 64 deep"); }

    std::vector<std::set<std::string>> keys_;
    int depth_ = 0;
};

} // namespace

std::string jsonQuote(const std::string& text) {
    std::string quoted = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const char c = text[at];
        const unsigned char byte = static_cast<unsigned char>(c);
        const std::size_t length = utf8Length(text, at);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\t') {
            quoted += "\\t";
        } else if (byte < 0x20 || byte == 0x7f || length == 0) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            quoted += escaped;
        } else {
            quoted.append(text, at, length);
            at += length;
            continue;
        }
        at++;
    }
    return quoted + "\"";
}

std::string jsonNumber(double value) {
    if (!std::isfinite(value)) {
        return "null";
    }
    if (value == 0.0 && std::signbit(value)) {
        return "-0.0";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string jsonInline(const Json& value, const JsonLayout& layout, int indent) {
    switch (value.type()) {
    case Json::value_t::null:
        return "null";
    case Json::value_t::boolean:
        return value.get<bool>() ? "true" : "false";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
        return numberText(value);
    case Json::value_t::string:
        return jsonQuote(value.get_ref<const std::string&>());
    case Json::value_t::array: {
        std::string text = "[";
        for (std::size_t i = 0; i < value.size(); i++) {
            text += (i == 0 ? "" : ", ") + jsonInline(value[i], layout, indent);
        }
        return text + "]";
    }
    case Json::value_t::object: {
        std::string text = "{";
        bool first = true;
        for (const auto& [key, member] : value.items()) {
            if (!first) {
                text += named(layout.lineBefore, key)
                            ? ",\n" + std::string(static_cast<std::size_t>(indent) + 2, ' ')
                            : ", ";
            }
            first = false;
            text += jsonQuote(key) + ": " + jsonInline(member, layout, indent);
        }
        return text + "}";
    }
    default:
        // Binary values and discarded parses never reach a file of ours.
        return "null";
    }
}

std::string jsonDocument(const Json& object, const JsonLayout& layout) {
    std::string text = "{";
    bool first = true;
    for (const auto& [key, member] : object.items()) {
        text += first ? "\n  " : ",\n  ";
        first = false;
        text += jsonQuote(key) + ": ";
        if (named(layout.listed, key) && member.is_array()) {
            text += "[";
            for (std::size_t i = 0; i < member.size(); i++) {
                text += (i == 0 ? "\n    " : ",\n    ") + jsonInline(member[i], layout, 4);
            }
            text += "\n  ]";
        } else {
            text += jsonInline(member, layout, 2);
        }
    }
    return text + "\n}\n";
}

std::string jsonLines(const Json& array) {
    if (array.empty()) {
        return "[]\n";
    }
    std::string text = "[";
    for (std::size_t i = 0; i < array.size(); i++) {
        text += (i == 0 ? "\n  " : ",\n  ") + jsonInline(array[i], {}, 2);
    }
    return text + "\n]\n";
}

bool parseJsonText(const std::string& text, Json& value, std::string& error) {
    // First a pass that only checks, and finds the place of a syntax error (the parse that
    // builds the value reports none); then the value, without exceptions.
    Checker checker;
    if (!Json::sax_parse(text, &checker)) {
        if (!checker.problem.empty()) {
            error = "not valid JSON: " + checker.problem;
        } else {
            const std::size_t before = std::min(text.size(), checker.failedAt - 1);
            const auto lines =
                std::count(text.begin(), text.begin() + static_cast<long>(before), '\n');
            error = "not valid JSON near line " + std::to_string(lines + 1);
        }
        return false;
    }
    value = Json::parse(text, nullptr, false);
    if (value.is_discarded()) {
        error = "not valid JSON";
        return false;
    }
    return true;
}

bool readJsonFile(const std::string& path, const std::string& what, Json& value,
                  std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the " + what + " " + path;
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (!parseJsonText(content.str(), value, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

const Json* jsonMember(const Json& object, const char* key) {
    if (!object.is_object()) {
        return nullptr;
    }
    const auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

double jsonNumberOr(const Json* j, double fallback) {
    return j != nullptr && j->is_number() ? j->get<double>() : fallback;
}

bool jsonTrue(const Json* j) {
    return j != nullptr && j->is_boolean() && j->get<bool>();
}

std::string jsonTextOr(const Json* j) {
    return j != nullptr && j->is_string() ? j->get<std::string>() : std::string();
}

bool jsonNumbers(const Json* j, std::vector<double>& out) {
    if (j == nullptr || !j->is_array()) {
        return false;
    }
    out.clear();
    for (const Json& item : *j) {
        if (!item.is_number()) {
            return false;
        }
        out.push_back(item.get<double>());
    }
    return true;
}
