#include "tools/formats/cli.h"

#include "models/model_table.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ostream>

int usageError(std::ostream& err, const std::string& command, const std::string& problem) {
    err << "zonetool" << (command.empty() ? "" : " " + command) << ": " << problem << "\n"
        << "Run 'zonetool " << (command.empty() ? "" : command + " ") << "--help' for usage.\n";
    return 2;
}

bool isHelp(const std::string& argument) {
    return argument == "--help" || argument == "-h";
}

bool parseModel(const std::string& text, int& number) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value < 1 || value > modelCount) {
        return false;
    }
    number = static_cast<int>(value);
    return true;
}

bool parseSeed(const std::string& text, std::uint64_t& seed) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0) {
        return false;
    }
    seed = value;
    return true;
}

bool parseNumber(const std::string& text, double& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return *end == '\0';
}

std::vector<std::string> splitAt(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        parts.push_back(
            text.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + 1;
    }
}

namespace {

// One item of a list: "A" or "A-B", with A <= B. Ranges are split at the last '-' that is not
// the first character, so that the reader of each end sees one number.
bool splitRange(const std::string& item, std::string& first, std::string& last) {
    const std::size_t dash = item.find('-', 1);
    if (dash == std::string::npos) {
        first = item;
        last = item;
        return true;
    }
    first = item.substr(0, dash);
    last = item.substr(dash + 1);
    return !first.empty() && !last.empty();
}

} // namespace

bool parseModelList(const std::string& text, std::vector<int>& models, std::string& problem) {
    std::vector<int> result;
    for (const std::string& item : splitAt(text, ',')) {
        std::string first;
        std::string last;
        int from = 0;
        int to = 0;
        if (!splitRange(item, first, last) || !parseModel(first, from) || !parseModel(last, to)) {
            problem = "'" + item + "' is not a model number from 1 to 10 or a range such as 1-10";
            return false;
        }
        if (from > to) {
            problem = "the range '" + item + "' runs backwards";
            return false;
        }
        for (int m = from; m <= to; m++) {
            bool seen = false;
            for (int earlier : result) {
                seen = seen || earlier == m;
            }
            if (!seen) {
                result.push_back(m);
            }
        }
    }
    models = result;
    return true;
}

bool parseSeedList(const std::string& text, std::size_t limit, std::vector<std::uint64_t>& seeds,
                   std::string& problem) {
    std::vector<std::uint64_t> result;
    for (const std::string& item : splitAt(text, ',')) {
        std::string first;
        std::string last;
        std::uint64_t from = 0;
        std::uint64_t to = 0;
        if (!splitRange(item, first, last) || !parseSeed(first, from) || !parseSeed(last, to)) {
            problem =
                "'" + item + "' is not a seed (0 to 18446744073709551615) or a range of seeds";
            return false;
        }
        if (from > to) {
            problem = "the range '" + item + "' runs backwards";
            return false;
        }
        for (std::uint64_t s = from;; s++) {
            bool seen = false;
            for (std::uint64_t earlier : result) {
                seen = seen || earlier == s;
            }
            if (!seen) {
                if (result.size() == limit) {
                    problem = "more than " + std::to_string(limit) + " seeds";
                    return false;
                }
                result.push_back(s);
            }
            if (s == to) {
                break;
            }
        }
    }
    seeds = result;
    return true;
}
