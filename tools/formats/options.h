// Declarative reading of a zonetool command line: a command lists its options and positional
// arguments, each with the code that stores and checks its value in the command's options
// struct, and the checks that concern the arguments together; one call reads the whole line.
#pragma once

#include "models/objective_kind.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

// A problem with the arguments, worded to follow "zonetool COMMAND: "; empty when there is
// none.
using Problem = std::string;

// The problem of a model argument that is not a model number.
Problem notAModel(const std::string& text);

// The command line of one zonetool command. Arguments are read from left to right: --help or
// -h prints the help and ends the reading (exit status 0); an option takes the next argument
// as its value; any other argument starting with the option prefix is an unknown option;
// everything else is positional. The first problem met is written as a usage error (exit
// status 2): those of the values as they are read, then the checks in the order declared.
class OptionParser {
  public:
    // Stores a value and says what is wrong with it: the option as typed, the value.
    using ValueSetter = std::function<Problem(const std::string& name, const std::string& value)>;

    // `command` as in "zonetool fit"; `help` gives the text that --help prints to `out`; usage
    // errors go to `err` (both the command's streams, not owned, outliving the parser).
    OptionParser(std::string command, std::function<std::string()> help, std::ostream& out,
                 std::ostream& err);

    // Options start with "--" unless set otherwise here ("-" makes "-x" unknown as well;
    // positional arguments then cannot start with '-'; "" makes every argument that is not a
    // declared option positional).
    OptionParser& optionPrefix(std::string prefix);
    // The problem of an argument that starts with the option prefix but is no declared option;
    // an empty problem takes it as positional instead. Without this: "unknown option 'X'".
    OptionParser& unknownOption(std::function<Problem(const std::string& argument)> problem);

    // An option without a value, under one or more names.
    OptionParser& flag(std::initializer_list<const char*> names, std::function<void()> set);

    // An option with a value. Without one, the problem is "NAME needs " + `needs`, NAME as
    // typed (for example "a value", "a file name").
    OptionParser& value(std::initializer_list<const char*> names, std::string needs,
                        ValueSetter set);

    // Where positional arguments go, one call each, in order.
    OptionParser& positional(std::function<Problem(const std::string& argument)> take);

    // A check made once every argument has been read.
    OptionParser& check(std::function<Problem()> validate);

    // Reads `args`. Returns -1 when the command should go on; otherwise the exit status after
    // the help or the usage error has been written.
    int parse(const std::vector<std::string>& args) const;

  private:
    struct Option {
        std::vector<std::string> names;
        bool takesValue = false;
        std::string needs;
        std::function<void()> setFlag;
        ValueSetter setValue;
    };
    const Option* find(const std::string& argument) const;

    std::ostream* out_; // the help
    std::ostream* err_; // usage errors

    std::string command_;
    std::function<std::string()> help_;
    std::string prefix_ = "--";
    std::vector<Option> options_;
    std::function<Problem(const std::string&)> unknown_;
    std::function<Problem(const std::string&)> positional_;
    std::vector<std::function<Problem()>> checks_;
};

// Setters for the usual kinds of value.

// Stores the text as given.
OptionParser::ValueSetter storeText(std::string& target);

// Stores a finite number above 0; otherwise "NAME needs a positive number, not 'VALUE'".
OptionParser::ValueSetter storePositive(double& target);

// Stores a whole number from `low` to `high`; otherwise "NAME needs a whole number from LOW to
// HIGH, not 'VALUE'".
OptionParser::ValueSetter storeWhole(int& target, int low, int high);

// Stores one seed, a whole number from 0 to 18446744073709551615, as the only entry of
// `seeds` and sets `given`; otherwise "NAME needs a whole number from 0 to ..., not 'VALUE'".
OptionParser::ValueSetter storeSeed(std::vector<std::uint64_t>& seeds, bool& given);

// Stores a list of at most `limit` seeds ("1-3", "7,11") and sets `given`; otherwise
// "NAME: " and what is wrong with the list.
OptionParser::ValueSetter storeSeedList(std::vector<std::uint64_t>& seeds, std::size_t limit,
                                        bool& given);

// Stores the value of the matching word; otherwise "NAME needs " + `listing` + ", not 'VALUE'".
template <typename T>
OptionParser::ValueSetter storeChoice(T& target, std::vector<std::pair<std::string, T>> words,
                                      std::string listing) {
    return [&target, words = std::move(words), listing = std::move(listing)](
               const std::string& name, const std::string& value) -> Problem {
        for (const auto& word : words) {
            if (word.first == value) {
                target = word.second;
                return "";
            }
        }
        return name + " needs " + listing + ", not '" + value + "'";
    };
}

// Stores the kind named "settled" or "zonefit"; otherwise "NAME needs settled or zonefit, not
// 'VALUE'".
OptionParser::ValueSetter storeObjective(ObjectiveKind& target);

// Positional takers: an argument into `target` while it is empty; any further one is
// "unexpected argument 'X'".
std::function<Problem(const std::string&)> takeOne(std::string& target);

// Checks: "missing WHAT" when `text` is empty.
std::function<Problem()> require(const std::string& text, std::string what);

// Checks: MODEL present and a model number, stored in `number`.
std::function<Problem()> requireModel(const std::string& text, int& number);
