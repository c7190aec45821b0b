#include "tools/json.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

const JsonValue* JsonValue::find(const std::string& key) const {
    if (type != Type::object) {
        return nullptr;
    }
    const auto it = fields.find(key);
    return it == fields.end() ? nullptr : &it->second;
}

namespace {

// A recursive-descent reader; depth is limited so that hostile input cannot exhaust the stack.
class Reader {
  public:
    explicit Reader(const std::string& text) : text_(text) {}

    bool document(JsonValue& value, std::string& error) {
        skipBlanks();
        if (!parse(value, 0)) {
            error = error_;
            return false;
        }
        skipBlanks();
        if (at_ != text_.size()) {
            error = failure("unexpected text after the value");
            return false;
        }
        return true;
    }

    // Where reading stopped, from 0.
    std::size_t offset() const { return at_; }

  private:
    static constexpr int maxDepth = 64;

    std::string failure(const std::string& what) const {
        return what + " at byte " + std::to_string(at_ + 1);
    }
    bool fail(const std::string& what) {
        error_ = failure(what);
        return false;
    }
    void skipBlanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r')) {
            at_++;
        }
    }
    bool literal(const char* word) {
        const std::string w = word;
        if (text_.compare(at_, w.size(), w) != 0) {
            return false;
        }
        at_ += w.size();
        return true;
    }

    bool parse(JsonValue& value, int depth) {
        if (depth > maxDepth) {
            return fail("nesting too deep");
        }
        if (at_ >= text_.size()) {
            return fail("unexpected end of input");
        }
        const char c = text_[at_];
        if (c == '{') {
            return object(value, depth);
        }
        if (c == '[') {
            return array(value, depth);
        }
        if (c == '"') {
            value.type = JsonValue::Type::string;
            return string(value.text);
        }
        if (literal("null")) {
            value.type = JsonValue::Type::null;
            return true;
        }
        if (literal("true") || literal("false")) {
            value.type = JsonValue::Type::boolean;
            value.boolean = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u';
            return true;
        }
        if (c == '-' || (c >= '0' && c <= '9')) {
            return number(value);
        }
        return fail(std::string("unexpected character '") + c + "'");
    }

    bool number(JsonValue& value) {
        // The JSON grammar: -? (0 | [1-9][0-9]*) (. [0-9]+)? ([eE] [+-]? [0-9]+)?
        const std::size_t start = at_;
        auto digits = [&] {
            const std::size_t from = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
                at_++;
            }
            return at_ > from;
        };
        if (text_[at_] == '-') {
            at_++;
        }
        if (at_ < text_.size() && text_[at_] == '0') {
            at_++;
        } else if (!digits()) {
            return fail("malformed number");
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            at_++;
            if (!digits()) {
                return fail("malformed number");
            }
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            at_++;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) {
                at_++;
            }
            if (!digits()) {
                return fail("malformed number");
            }
        }
        const std::string written = text_.substr(start, at_ - start);
        errno = 0;
        value.type = JsonValue::Type::number;
        value.text = written;
        value.number = std::strtod(written.c_str(), nullptr);
        if (errno == ERANGE && std::isinf(value.number)) {
            at_ = start;
            return fail("number out of range");
        }
        return true;
    }

    static int hexDigit(char c) {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    }

    static void appendUtf8(std::string& out, unsigned long code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool hex4(unsigned long& code) {
        if (at_ + 4 > text_.size()) {
            return fail("malformed \\u escape");
        }
        code = 0;
        for (int k = 0; k < 4; k++) {
            const int d = hexDigit(text_[at_ + static_cast<std::size_t>(k)]);
            if (d < 0) {
                return fail("malformed \\u escape");
            }
            code = code * 16 + static_cast<unsigned long>(d);
        }
        at_ += 4;
        return true;
    }

    bool string(std::string& out) {
        at_++; // the opening quote
        out.clear();
        while (at_ < text_.size()) {
            const char c = text_[at_];
            if (c == '"') {
                at_++;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return fail("control character in a string");
            }
            if (c != '\\') {
                out += c;
                at_++;
                continue;
            }
            at_++;
            if (at_ >= text_.size()) {
                break;
            }
            const char e = text_[at_++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                unsigned long code = 0;
                if (!hex4(code)) {
                    return false;
                }
                if (code >= 0xD800 && code < 0xDC00) {
                    unsigned long low = 0;
                    if (!literal("\\u") || !hex4(low) || low < 0xDC00 || low >= 0xE000) {
                        return fail("unpaired surrogate in a \\u escape");
                    }
                    code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                } else if (code >= 0xDC00 && code < 0xE000) {
                    return fail("unpaired surrogate in a \\u escape");
                }
                appendUtf8(out, code);
                break;
            }
            default:
                at_--;
                return fail(std::string("unknown escape '\\") + e + "'");
            }
        }
        return fail("unterminated string");
    }

    bool array(JsonValue& value, int depth) {
        at_++;
        value.type = JsonValue::Type::array;
        skipBlanks();
        if (at_ < text_.size() && text_[at_] == ']') {
            at_++;
            return true;
        }
        for (;;) {
            skipBlanks();
            value.items.emplace_back();
            if (!parse(value.items.back(), depth + 1)) {
                return false;
            }
            skipBlanks();
            if (at_ < text_.size() && text_[at_] == ',') {
                at_++;
            } else if (at_ < text_.size() && text_[at_] == ']') {
                at_++;
                return true;
            } else {
                return fail("expected ',' or ']'");
            }
        }
    }

    bool object(JsonValue& value, int depth) {
        at_++;
        value.type = JsonValue::Type::object;
        skipBlanks();
        if (at_ < text_.size() && text_[at_] == '}') {
            at_++;
            return true;
        }
        for (;;) {
            skipBlanks();
            if (at_ >= text_.size() || text_[at_] != '"') {
                return fail("expected a member name");
            }
            const std::size_t keyAt = at_;
            std::string key;
            if (!string(key)) {
                return false;
            }
            if (value.fields.count(key) != 0) {
                at_ = keyAt;
                return fail("duplicate member '" + key + "'");
            }
            skipBlanks();
            if (at_ >= text_.size() || text_[at_] != ':') {
                return fail("expected ':'");
            }
            at_++;
            skipBlanks();
            if (!parse(value.fields[key], depth + 1)) {
                return false;
            }
            skipBlanks();
            if (at_ < text_.size() && text_[at_] == ',') {
                at_++;
            } else if (at_ < text_.size() && text_[at_] == '}') {
                at_++;
                return true;
            } else {
                return fail("expected ',' or '}'");
            }
        }
    }

    const std::string& text_;
    std::size_t at_ = 0;
    std::string error_;
};

} // namespace

bool parseJson(const std::string& text, JsonValue& value, std::string& error, std::size_t* where) {
    value = JsonValue();
    Reader reader(text);
    const bool parsed = reader.document(value, error);
    if (!parsed && where != nullptr) {
        *where = reader.offset();
    }
    return parsed;
}

std::string jsonNumberList(const std::vector<double>& values) {
    std::string text = "[";
    for (std::size_t i = 0; i < values.size(); i++) {
        text += (i == 0 ? "" : ", ") + jsonNumber(values[i]);
    }
    return text + "]";
}

double jsonNumberOr(const JsonValue* j, double fallback) {
    return j != nullptr && j->type == JsonValue::Type::number ? j->number : fallback;
}

bool jsonTrue(const JsonValue* j) {
    return j != nullptr && j->type == JsonValue::Type::boolean && j->boolean;
}

bool jsonNumbers(const JsonValue* j, std::vector<double>& out) {
    if (j == nullptr || j->type != JsonValue::Type::array) {
        return false;
    }
    out.clear();
    for (const JsonValue& item : j->items) {
        if (item.type != JsonValue::Type::number) {
            return false;
        }
        out.push_back(item.number);
    }
    return true;
}

bool readJsonFile(const std::string& path, const std::string& what, JsonValue& value,
                  std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the " + what + " " + path;
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    const std::string text = content.str();
    std::string problem;
    std::size_t where = 0;
    if (!parseJson(text, value, problem, &where)) {
        const long line =
            1 + std::count(text.begin(), text.begin() + static_cast<long>(where), '\n');
        error = path + ": not valid JSON near line " + std::to_string(line);
        return false;
    }
    return true;
}
