#include "tools/formats/options.h"

#include "tools/formats/cli.h"

#include <cmath>

Problem notAModel(const std::string& text) {
    return "MODEL must be a model number from 1 to 10, not '" + text + "'";
}

OptionParser::OptionParser(std::string command, std::function<std::string()> help,
                           std::ostream& out, std::ostream& err)
    : out_(&out), err_(&err), command_(std::move(command)), help_(std::move(help)) {}

OptionParser& OptionParser::optionPrefix(std::string prefix) {
    prefix_ = std::move(prefix);
    return *this;
}

OptionParser& OptionParser::unknownOption(std::function<Problem(const std::string&)> problem) {
    unknown_ = std::move(problem);
    return *this;
}

OptionParser& OptionParser::flag(std::initializer_list<const char*> names,
                                 std::function<void()> set) {
    Option option;
    option.names.assign(names.begin(), names.end());
    option.setFlag = std::move(set);
    options_.push_back(std::move(option));
    return *this;
}

OptionParser& OptionParser::value(std::initializer_list<const char*> names, std::string needs,
                                  ValueSetter set) {
    Option option;
    option.names.assign(names.begin(), names.end());
    option.takesValue = true;
    option.needs = std::move(needs);
    option.setValue = std::move(set);
    options_.push_back(std::move(option));
    return *this;
}

OptionParser& OptionParser::positional(std::function<Problem(const std::string&)> take) {
    positional_ = std::move(take);
    return *this;
}

OptionParser& OptionParser::check(std::function<Problem()> validate) {
    checks_.push_back(std::move(validate));
    return *this;
}

const OptionParser::Option* OptionParser::find(const std::string& argument) const {
    for (const Option& option : options_) {
        for (const std::string& name : option.names) {
            if (name == argument) {
                return &option;
            }
        }
    }
    return nullptr;
}

int OptionParser::parse(const std::vector<std::string>& args) const {
    for (std::size_t i = 0; i < args.size(); i++) {
        const std::string& arg = args[i];
        if (isHelp(arg)) {
            *out_ << help_();
            return 0;
        }
        const Option* option = find(arg);
        Problem problem;
        if (option == nullptr && !prefix_.empty() && arg.rfind(prefix_, 0) == 0) {
            problem = unknown_ ? unknown_(arg) : "unknown option '" + arg + "'";
        }
        if (!problem.empty()) {
            // An unknown option.
        } else if (option != nullptr && !option->takesValue) {
            option->setFlag();
        } else if (option != nullptr && i + 1 >= args.size()) {
            problem = arg + " needs " + option->needs;
        } else if (option != nullptr) {
            problem = option->setValue(arg, args[++i]);
        } else if (positional_) {
            problem = positional_(arg);
        } else {
            problem = "unexpected argument '" + arg + "'";
        }
        if (!problem.empty()) {
            return usageError(*err_, command_, problem);
        }
    }
    for (const auto& validate : checks_) {
        const Problem problem = validate();
        if (!problem.empty()) {
            return usageError(*err_, command_, problem);
        }
    }
    return -1;
}

OptionParser::ValueSetter storeText(std::string& target) {
    return [&target](const std::string&, const std::string& value) -> Problem {
        target = value;
        return "";
    };
}

OptionParser::ValueSetter storePositive(double& target) {
    return [&target](const std::string& name, const std::string& value) -> Problem {
        double number = 0.0;
        if (!parseNumber(value, number) || !(number > 0.0) || !std::isfinite(number)) {
            return name + " needs a positive number, not '" + value + "'";
        }
        target = number;
        return "";
    };
}

OptionParser::ValueSetter storeWhole(int& target, int low, int high) {
    return [&target, low, high](const std::string& name, const std::string& value) -> Problem {
        std::uint64_t whole = 0;
        if (!parseSeed(value, whole) || whole < static_cast<std::uint64_t>(low) ||
            whole > static_cast<std::uint64_t>(high)) {
            return name + " needs a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high) + ", not '" + value + "'";
        }
        target = static_cast<int>(whole);
        return "";
    };
}

OptionParser::ValueSetter storeSeed(std::vector<std::uint64_t>& seeds, bool& given) {
    return [&seeds, &given](const std::string& name, const std::string& value) -> Problem {
        std::uint64_t seed = 0;
        if (!parseSeed(value, seed)) {
            return name + " needs a whole number from 0 to 18446744073709551615, not '" + value +
                   "'";
        }
        seeds = {seed};
        given = true;
        return "";
    };
}

OptionParser::ValueSetter storeSeedList(std::vector<std::uint64_t>& seeds, std::size_t limit,
                                        bool& given) {
    return [&seeds, limit, &given](const std::string& name, const std::string& value) -> Problem {
        std::string problem;
        if (!parseSeedList(value, limit, seeds, problem)) {
            return name + ": " + problem;
        }
        given = true;
        return "";
    };
}

OptionParser::ValueSetter storeObjective(ObjectiveKind& target) {
    return [&target](const std::string& name, const std::string& value) -> Problem {
        return parseObjectiveKind(value, target)
                   ? ""
                   : name + " needs settled or zonefit, not '" + value + "'";
    };
}

std::function<Problem(const std::string&)> takeOne(std::string& target) {
    return [&target](const std::string& argument) -> Problem {
        if (!target.empty()) {
            return "unexpected argument '" + argument + "'";
        }
        target = argument;
        return "";
    };
}

std::function<Problem()> require(const std::string& text, std::string what) {
    return [&text, what = std::move(what)]() -> Problem {
        return text.empty() ? "missing " + what : "";
    };
}

std::function<Problem()> requireModel(const std::string& text, int& number) {
    return [&text, &number]() -> Problem {
        if (text.empty()) {
            return "missing MODEL";
        }
        return parseModel(text, number) ? "" : notAModel(text);
    };
}
