// Reading and writing the JSON files of zonetool (fit records, explore records and parts,
// comparisons and summaries) with the nlohmann JSON library. Values are nlohmann's; the text is
// this program's own: doubles with 17 significant digits, and each file's fixed layout.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// A JSON value; objects keep their members in the order they were added or read.
using Json = nlohmann::ordered_json;

// `text` as a JSON string, quotes included: quote, backslash and control characters escaped
// (newlines as \n, tabs as \t, others as \u00XX); UTF-8 is copied, and a byte that is not part
// of valid UTF-8 is written as the character of that code (\u00XX), so that the file stays
// JSON.
std::string jsonQuote(const std::string& text);

// `value` as a JSON number with 17 significant digits (%.17g), which reads back to the same
// double; null for infinities and NaN, which JSON cannot hold; -0.0 for negative zero (the
// "-0" of %.17g would read back as the whole number 0).
std::string jsonNumber(double value);

// How a value is laid out beyond the one-line form: which members' arrays list one element per
// line, and which members of a one-line object start a new line.
struct JsonLayout {
    std::vector<std::string> listed;
    std::vector<std::string> lineBefore;
};

// `value` on one line, as in {"low": 0.5, "high": 2, "log": false} and [1, 0.5]: members
// separated by ", ", names by ": ". Whole numbers are written as such, doubles by jsonNumber,
// strings by jsonQuote. A member named in layout.lineBefore starts a new line indented by
// `indent` + 2 blanks.
std::string jsonInline(const Json& value, const JsonLayout& layout = {}, int indent = 0);

// The object `object` as a file: "{", one member per line indented by two blanks, "}" and a
// line end. A member named in layout.listed holds an array written one element per line,
// indented by four blanks, its closing bracket on a line of its own.
std::string jsonDocument(const Json& object, const JsonLayout& layout = {});

// The array `array` with one element per line, indented by two blanks, and a line end;
// "[]" and a line end when empty.
std::string jsonLines(const Json& array);

// Parses the whole of `text` as one JSON value (surrounding white space allowed). Refuses, with
// a one-line reason in `error` that starts "not valid JSON", what is no JSON (naming the line),
// numbers beyond a double, an object naming one member twice and nesting deeper than 64.
bool parseJsonText(const std::string& text, Json& value, std::string& error);

// Reads the file `path` and parses it as one JSON value. On failure returns false with
// "cannot read the WHAT PATH" or "PATH: " and parseJsonText's reason in `error`.
bool readJsonFile(const std::string& path, const std::string& what, Json& value,
                  std::string& error);

// The member `key` of `object`, or null when it is missing or `object` is no object.
const Json* jsonMember(const Json& object, const char* key);

// Readers of members that may be missing (null `j`): the number, else `fallback`; whether it
// is the literal true; the text of a string, else ""; the numbers of an array of numbers into
// `out` (false when `j` is not one).
double jsonNumberOr(const Json* j, double fallback);
bool jsonTrue(const Json* j);
std::string jsonTextOr(const Json* j);
bool jsonNumbers(const Json* j, std::vector<double>& out);
