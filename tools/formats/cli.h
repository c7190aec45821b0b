// Argument reading and number formatting shared by the zonetool commands.
#pragma once

#include "tools/formats/number_format.h" // formatNumber and format17

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// Writes "zonetool COMMAND: PROBLEM" and the pointer to the command's help to `err` (the
// command's standard error), and returns the exit status of bad arguments, 2.
int usageError(std::ostream& err, const std::string& command, const std::string& problem);

// Whether `argument` asks for help (--help or -h).
bool isHelp(const std::string& argument);

// A model number as the driver reads it (decimal, 0 octal, 0x hexadecimal), but only when the
// whole text is that number and it lies in 1 to 10.
bool parseModel(const std::string& text, int& number);

// A whole decimal number from 0 to 2^64 - 1, without sign.
bool parseSeed(const std::string& text, std::uint64_t& seed);

// A number as strtod reads it (nan and inf included), but only when the whole text is read.
bool parseNumber(const std::string& text, double& value);

// The fields of `text` between each `separator`, empty ones included: "a\t\tb" gives "a", "",
// "b", and an empty text one empty field.
std::vector<std::string> splitAt(const std::string& text, char separator);

// A list of models such as "3", "1-10" or "1,4-6": items separated by commas, each a model or
// an ascending range of models. Duplicates are dropped; the order is that of first mention.
// On failure returns false with a one-line reason in `problem`.
bool parseModelList(const std::string& text, std::vector<int>& models, std::string& problem);

// A list of seeds, in the same form as a list of models ("1-3", "7,11"), at most `limit`.
bool parseSeedList(const std::string& text, std::size_t limit, std::vector<std::uint64_t>& seeds,
                   std::string& problem);
