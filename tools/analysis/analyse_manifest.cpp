#include "tools/analysis/analyse_manifest.h"

#include "tools/analysis/analyse_stages.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::string flat(std::string text) {
    for (char& c : text) {
        if (c == '\t' || c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

} // namespace

std::string manifestText(const StageManifest& manifest) {
    std::string text;
    for (const auto& input : manifest.inputs) {
        text += "input\t" + flat(input.first) + "\t" + flat(input.second) + "\n";
    }
    for (const auto& output : manifest.outputs) {
        text += "output\t" + flat(output.first) + "\t" + flat(output.second) + "\n";
    }
    char seconds[64];
    std::snprintf(seconds, sizeof seconds, "cpu\t%.3f\nwall\t%.3f\n", manifest.cpuSeconds,
                  manifest.wallSeconds);
    return text + seconds;
}

bool parseManifest(const std::string& text, StageManifest& manifest) {
    manifest = StageManifest();
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t first = line.find('\t');
        if (first == std::string::npos) {
            return false;
        }
        const std::string kind = line.substr(0, first);
        const std::string rest = line.substr(first + 1);
        if (kind == "cpu" || kind == "wall") {
            char* end = nullptr;
            const double seconds = std::strtod(rest.c_str(), &end);
            if (end == rest.c_str() || *end != '\0') {
                return false;
            }
            (kind == "cpu" ? manifest.cpuSeconds : manifest.wallSeconds) = seconds;
            continue;
        }
        const std::size_t second = rest.find('\t');
        if (second == std::string::npos || (kind != "input" && kind != "output")) {
            return false;
        }
        (kind == "input" ? manifest.inputs : manifest.outputs)
            .emplace_back(rest.substr(0, second), rest.substr(second + 1));
    }
    return true;
}

StageState stageState(const std::string& path, const std::string& dir,
                      const std::vector<std::pair<std::string, std::string>>& inputs,
                      std::string& difference) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return StageState::missing;
    }
    std::ostringstream content;
    content << in.rdbuf();
    StageManifest manifest;
    if (!parseManifest(content.str(), manifest)) {
        difference = path + " does not read";
        return StageState::other;
    }
    StageManifest expected;
    expected.inputs = inputs;
    std::string wanted = manifestText(expected);
    wanted.resize(wanted.find("cpu\t"));
    StageManifest had;
    had.inputs = manifest.inputs;
    std::string found = manifestText(had);
    found.resize(found.find("cpu\t"));
    if (found != wanted) {
        for (std::size_t i = 0; i < inputs.size(); i++) {
            if (i >= manifest.inputs.size() || manifest.inputs[i] != inputs[i]) {
                difference = inputs[i].first;
                return StageState::other;
            }
        }
        difference = manifest.inputs[inputs.size()].first;
        return StageState::other;
    }
    for (const auto& output : manifest.outputs) {
        if (fileChecksum(dir + "/" + output.first) != output.second) {
            return StageState::stale;
        }
    }
    return StageState::current;
}
