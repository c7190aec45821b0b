// A small JSON value with a writer and a reader, for the files zonetool writes and reads back.
#pragma once

#include "tools/json_io.h" // jsonQuote and jsonNumber

#include <map>
#include <string>
#include <vector>

// One JSON value. Numbers are doubles; an object keeps its members sorted by key (the reader
// refuses duplicate keys).
struct JsonValue {
    enum class Type { null, boolean, number, string, array, object };
    Type type = Type::null;
    bool boolean = false;
    double number = 0.0;
    std::string text; // the string, when type is string; a number as written, when number
    std::vector<JsonValue> items;            // the elements, when type is array
    std::map<std::string, JsonValue> fields; // the members, when type is object

    // The member `key` of an object, or null when there is none (or this is no object).
    const JsonValue* find(const std::string& key) const;
};

// Parses the whole of `text` as one JSON value (surrounding white space allowed). On failure
// returns false with the reason and the byte offset in `error`, and that offset (from 0) in
// `where` when given.
bool parseJson(const std::string& text, JsonValue& value, std::string& error,
               std::size_t* where = nullptr);

// `values` as a JSON array of numbers (jsonNumber each), as in [1, 0.5].
std::string jsonNumberList(const std::vector<double>& values);

// Readers of members that may be missing (null `j`): the number, else `fallback`; whether it
// is the literal true; the numbers of an array of numbers into `out` (false when `j` is not
// one).
double jsonNumberOr(const JsonValue* j, double fallback);
bool jsonTrue(const JsonValue* j);
bool jsonNumbers(const JsonValue* j, std::vector<double>& out);

// Reads the file `path` and parses it as one JSON value. On failure returns false with
// "cannot read the WHAT PATH" or "PATH: not valid JSON near line N" in `error`.
bool readJsonFile(const std::string& path, const std::string& what, JsonValue& value,
                  std::string& error);
