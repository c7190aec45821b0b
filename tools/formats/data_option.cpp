#include "tools/formats/data_option.h"

#include "data/builtin_transect.h"
#include "data/locus_transects.h"
#include "tools/formats/cli.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <sstream>

namespace {

struct BoxSetting {
    std::string name;
    double lower = 0.0;
    double upper = 0.0;
};

// "NAME=LO:HI" with LO and HI numbers (inf allowed), LO <= HI; false with `problem` set.
bool parseBox(const std::string& text, BoxSetting& setting, std::string& problem) {
    const std::size_t equals = text.find('=');
    const std::size_t colon = equals == std::string::npos ? equals : text.find(':', equals);
    if (equals == std::string::npos || equals == 0 || colon == std::string::npos) {
        problem = "--box needs NAME=LO:HI, not '" + text + "'";
        return false;
    }
    setting.name = text.substr(0, equals);
    const std::string lower = text.substr(equals + 1, colon - equals - 1);
    const std::string upper = text.substr(colon + 1);
    if (!parseNumber(lower, setting.lower) || !parseNumber(upper, setting.upper) ||
        std::isnan(setting.lower) || std::isnan(setting.upper)) {
        problem = "--box needs NAME=LO:HI with two numbers, not '" + text + "'";
        return false;
    }
    if (setting.lower > setting.upper) {
        problem = "--box " + text + ": the lower bound is above the upper one";
        return false;
    }
    bool known = false;
    for (const ModelEntry& model : modelTable) {
        known = known || findParameter(model, setting.name) >= 0;
    }
    if (!known) {
        problem =
            "--box: no model has a parameter '" + setting.name + "' ('zonetool models' lists them)";
        return false;
    }
    return true;
}

// Reads the file's bytes once, so that the checksum is that of the text the reader parsed.
bool loadTransect(const std::string& path, DataContext& context, std::string& error) {
    // C streams: a read error (a directory) is an error flag here, not an exception.
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::string bytes;
    bool readFailed = file == nullptr;
    if (file != nullptr) {
        char buffer[65536];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            bytes.append(buffer, got);
        }
        readFailed = std::ferror(file) != 0;
        std::fclose(file);
    }
    if (readFailed) {
        // The reader words the failure (cannot open, cannot read a directory).
        Transect unused;
        if (!readTransectFile(path, unused, error)) {
            return false;
        }
        error = "Error in " + path + ": cannot read the file";
        return false;
    }
    std::istringstream text(bytes);
    std::vector<LocusTransect> loci;
    if (!readLocusTransects(text, path, loci, error)) {
        return false;
    }
    if (!context.loci.empty()) {
        if (loci.size() == 1 && loci.front().locus.empty()) {
            error = "Error in " + path + ": the file has no locus column; --loci cannot be used";
            return false;
        }
        if (context.loci.front() == "all" && context.loci.size() == 1) {
            context.loci.clear();
            for (const LocusTransect& locus : loci) {
                context.loci.push_back(locus.locus);
            }
        }
        // Each listed locus must be there; the transect checked is the first's.
        for (auto name = context.loci.rbegin(); name != context.loci.rend(); ++name) {
            if (!selectLocus(loci, path, *name, context.transect, error)) {
                return false;
            }
        }
    } else if (!selectLocus(loci, path, context.locus, context.transect, error)) {
        return false;
    }
    if (!(largestPosition(context.transect) > 0.0)) {
        error = "Error in " + path + ": no site lies beyond position 0";
        return false;
    }
    context.path = path;
    context.checksum = "fnv1a64:" + fnv1a64(bytes);
    return true;
}

} // namespace

std::string fnv1a64(const std::string& bytes) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

int readDataOptions(const std::string& command, const std::vector<std::string>& args,
                    std::vector<std::string>& rest, DataContext& context, std::ostream& err) {
    std::string dataPath;
    bool dataGiven = false;
    std::vector<BoxSetting> settings;
    std::vector<std::string> boxOptions;
    std::string locusName;
    std::string lociList;
    bool lociGiven = false;
    rest.clear();
    for (std::size_t i = 0; i < args.size(); i++) {
        const std::string& arg = args[i];
        std::string value;
        const bool data = arg == "--data" || arg.rfind("--data=", 0) == 0;
        const bool box = arg == "--box" || arg.rfind("--box=", 0) == 0;
        const bool locus = arg == "--locus" || arg.rfind("--locus=", 0) == 0;
        const bool lociOption =
            command == "slurm" && (arg == "--loci" || arg.rfind("--loci=", 0) == 0);
        if (!data && !box && !locus && !lociOption) {
            rest.push_back(arg);
            continue;
        }
        const std::size_t equals = arg.find('=');
        if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return usageError(err, command,
                              arg + (data         ? " needs a file name"
                                     : locus      ? " needs a locus name"
                                     : lociOption ? " needs a list of loci"
                                                  : " needs NAME=LO:HI"));
        }
        if (lociOption) {
            if (lociGiven) {
                return usageError(err, command, "--loci is given twice");
            }
            lociGiven = true;
            lociList = value;
        } else if (locus) {
            if (!locusName.empty() || value.empty()) {
                return usageError(err, command,
                                  value.empty() ? "--locus needs a locus name"
                                                : "--locus is given twice");
            }
            locusName = value;
        } else if (data) {
            if (dataGiven) {
                return usageError(err, command, "--data is given twice");
            }
            if (value.empty()) {
                return usageError(err, command, "--data needs a file name");
            }
            dataPath = value;
            dataGiven = true;
        } else {
            BoxSetting setting;
            std::string problem;
            if (!parseBox(value, setting, problem)) {
                return usageError(err, command, problem);
            }
            settings.push_back(setting);
            boxOptions.push_back(value);
        }
    }
    // The options fill the context anew; the command line it was started with stays.
    std::vector<std::string> commandLine = std::move(context.commandLine);
    context = DataContext();
    context.commandLine = std::move(commandLine);
    context.transect = builtInTransectValue();
    context.locus = locusName;
    if (!dataGiven && !locusName.empty()) {
        return usageError(err, command, "--locus needs --data FILE, a file with a locus column");
    }
    if (lociGiven) {
        // Split by hand: "A,,B" and a trailing comma are empty names, refused.
        std::size_t from = 0;
        for (;;) {
            const std::size_t comma = lociList.find(',', from);
            const std::string name = lociList.substr(from, comma - from);
            if (name.empty()) {
                return usageError(err, command,
                                  "--loci needs locus names separated by commas, or all");
            }
            for (const std::string& earlier : context.loci) {
                if (earlier == name) {
                    return usageError(err, command, "--loci names locus '" + name + "' twice");
                }
            }
            context.loci.push_back(name);
            if (comma == std::string::npos) {
                break;
            }
            from = comma + 1;
        }
        if (!locusName.empty()) {
            return usageError(err, command, "--loci and --locus cannot be used together");
        }
        if (!dataGiven) {
            return usageError(err, command, "--loci needs --data FILE, a file with a locus column");
        }
    }
    if (dataGiven) {
        std::string error;
        if (!loadTransect(dataPath, context, error)) {
            err << error << "\n";
            return 1;
        }
        context.boxes.scale(transectScale(context.transect));
    }
    for (const BoxSetting& setting : settings) {
        context.boxes.override(setting.name, setting.lower, setting.upper);
    }
    context.customBoxes = dataGiven || !settings.empty();
    context.boxOptions = boxOptions;
    return -1;
}

const Transect& DataContext::data() const {
    return path.empty() ? builtInTransectValue() : transect;
}

const ModelBox& DataContext::box(int number) const {
    return (customBoxes ? boxes.boxes() : builtinBoxSet())[number - 1];
}

ModelContext DataContext::models(FailureSink* failures, const SimulationContext& simulation) const {
    ModelContext context;
    context.transect = path.empty() ? nullptr : &transect;
    context.boxes = customBoxes ? boxes.boxes() : nullptr;
    context.failures = failures;
    context.simulation = simulation;
    return context;
}
