#include "tools/commands/start_command.h"

#include "data/builtin_transect.h"
#include "driver/schedule.h"
#include "tools/analysis/derived_start.h"
#include "tools/analysis/point_evaluation.h"
#include "tools/formats/cli.h"
#include "tools/formats/data_option.h"
#include "tools/formats/options.h"

#include <cmath>
#include <sstream>

#include <iostream>
#include <sys/stat.h>

const char* const startHelp =
    "Usage: zonetool start MODEL [-o FILE] [--redo] [--borders] [--data FILE]\n"
    "                            [--box NAME=LO:HI]\n"
    "\n"
    "Derives a start vector and simplex steps for MODEL (1 to 10) from the transect in use\n"
    "and prints them as a start-vector file does: row 1 the start vector, row 2 the steps.\n"
    "The start lies strictly inside every bound of the model's box for that transect:\n"
    "  - fitnesses mildly underdominant (1.05 for both homozygotes against 1 for SI); with\n"
    "    several regions, the region at each end mildly favours the homozygote found there\n"
    "  - sigma a 25th of the width of the observed cline (a logistic curve fitted to the\n"
    "    allele counts by maximum likelihood; width = 1 / its steepest slope), halved while\n"
    "    the start evaluates to a penalty or does not reach equilibrium\n"
    "  - selfing rates from the observed heterozygote deficit F_IS: F = 2 F_IS / (1 + F_IS),\n"
    "    per region for model 5\n"
    "  - contact positions (models 7, 8) and the border deme of model 2 where the fitted\n"
    "    cline crosses 1/2, border positions (models 9, 10) where it passes 0.9 and 0.1\n"
    "Steps: 0.15 for a fitness, 0.05 for a selfing rate, 15 percent of sigma, a sixth of the\n"
    "box for a contact or border deme, a fifth for a border position.\n"
    "\n"
    "Models 3 to 6 read their region borders from borders.txt: the start uses that file when\n"
    "it exists; otherwise it assumes the borders that --borders would write and says so.\n"
    "\n"
    "Options:\n"
    "  -o FILE        write the two rows to FILE (for example startvec7.txt) instead of\n"
    "                 standard output\n"
    "  --borders      models 3 to 6: write borders.txt with the demes where the fitted cline\n"
    "                 passes S frequencies 0.9 and 0.1\n"
    "  --redo         let -o and --borders overwrite an existing file\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable); a box of one value\n"
    "                 fixes the parameter there with a step of 0\n";

namespace {

// How often the sigma of a start is halved at most while the start does not evaluate cleanly.
constexpr int maxSigmaHalvings = 6;

struct StartOptions {
    std::string modelText;
    int model = 0;
    std::string outputPath;
    bool borders = false;
    bool redo = false;
};

bool exists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

// "mine.tsv" or "the built-in transect".
std::string dataName(const DataContext& data) {
    return !data.path.empty() ? data.path : "the built-in transect";
}

std::string modelLabel(const ModelEntry& model) {
    return "model " + std::to_string(model.number) + " (" + model.name + ")";
}

} // namespace

bool startBorders(const DataContext& data, const ModelEntry& model, Borders& borders,
                  bool& fromFile, std::string& error) {
    fromFile = false;
    if (model.borders == BorderSource::borderFile && exists(borderFileName)) {
        fromFile = true;
        return readBorders(borderFileName, data.data().siteCount(), borders, error);
    }
    borders = derivedBorders(data.data());
    return true;
}

DerivedStart checkedStart(const DataContext& data, const ModelEntry& model, const Borders& borders,
                          int& halvings) {
    DerivedStart derived;
    std::ostringstream dropped;
    double factor = 1.0;
    for (halvings = 0;; halvings++) {
        derived = deriveStart(model, data.box(model.number), data.data(), borders, factor);
        if (halvings == maxSigmaHalvings || model.objective == nullptr) {
            return derived;
        }
        SimulationReport report;
        double value = 0.0;
        std::string error;
        // Models 3 to 6 cannot be evaluated before borders.txt is written; nothing to check.
        if (!evaluateRecorded(data, model, derived.start, report, value, error, &dropped)) {
            return derived;
        }
        if (std::isfinite(value) && value < data.box(model.number).penaltyUnit &&
            (report.runs == 0 || report.converged)) {
            return derived;
        }
        factor /= 2.0;
    }
}

std::string derivedStartText(const DataContext& data, const ModelEntry& model,
                             const Borders& borders) {
    int halvings = 0;
    return startFileText(checkedStart(data, model, borders, halvings));
}

int startCommand(RunContext& ctx, const std::vector<std::string>& args) {
    StartOptions o;
    const int status =
        OptionParser(
            "start", [] { return std::string(startHelp); }, *ctx.out, *ctx.err)
            .value({"-o"}, "a file name", storeText(o.outputPath))
            .flag({"--borders"}, [&o] { o.borders = true; })
            .flag({"--redo"}, [&o] { o.redo = true; })
            .positional(takeOne(o.modelText))
            .check(requireModel(o.modelText, o.model))
            .check([&o]() -> Problem {
                return o.borders && findModel(o.model)->borders != BorderSource::borderFile
                           ? "--borders is for models 3 to 6, which read "
                             "borders.txt"
                           : "";
            })
            .parse(args);
    if (status >= 0) {
        return status;
    }
    const ModelEntry& model = *findModel(o.model);
    // Nothing is written unless everything can be.
    std::vector<std::string> refused;
    if (!o.outputPath.empty() && exists(o.outputPath)) {
        refused.push_back(o.outputPath);
    }
    if (o.borders && exists(borderFileName)) {
        refused.push_back(borderFileName);
    }
    if (!o.redo && !refused.empty()) {
        for (const std::string& name : refused) {
            *ctx.err << "zonetool start: " << name
                     << " exists already; give --redo to overwrite it\n";
        }
        return 1;
    }

    Borders borders;
    bool fromFile = false;
    std::string error;
    if (o.borders) {
        borders = derivedBorders(ctx.data.data());
        const std::string text =
            std::to_string(borders.border1) + "\n" + std::to_string(borders.border2) + "\n";
        if (!writeResultFile(borderFileName, text, error)) {
            *ctx.err << "zonetool start: cannot write " << borderFileName << ": " << error << "\n";
            return 1;
        }
        *ctx.err << "zonetool start: wrote " << borderFileName << ": demes " << borders.border1
                 << " and " << borders.border2 << ", where the fitted cline of "
                 << dataName(ctx.data) << " passes S frequencies 0.9 and 0.1\n";
    } else if (!startBorders(ctx.data, model, borders, fromFile, error)) {
        *ctx.err << error << "\n";
        return 1;
    } else if (model.borders == BorderSource::borderFile) {
        if (fromFile) {
            *ctx.err << "zonetool start: " << modelLabel(model) << " uses the region borders of "
                     << borderFileName << ": demes " << borders.border1 << " and "
                     << borders.border2 << "\n";
        } else {
            *ctx.err << "zonetool start: no " << borderFileName << " here; " << modelLabel(model)
                     << " reads its region borders from it. This start assumes demes "
                     << borders.border1 << " and " << borders.border2
                     << "; write them with 'zonetool start " << o.modelText << " --borders'\n";
        }
    }

    int halvings = 0;
    const DerivedStart derived = checkedStart(ctx.data, model, borders, halvings);
    const int sigma = findParameter(model, "sigma");
    if (halvings > 0 && sigma >= 0) {
        *ctx.err << "zonetool start: sigma halved " << halvings
                 << (halvings == 1 ? " time" : " times") << " (to "
                 << derived.start[static_cast<std::size_t>(sigma)]
                 << "): with more, the start evaluated to a penalty or did not reach "
                    "equilibrium\n";
    }
    if (model.number == 7 && !derived.cline.sLeft) {
        *ctx.err << "zonetool start: the S allele dominates the high end of " << dataName(ctx.data)
                 << ", but " << modelLabel(model)
                 << " starts with SS below the contact and II above it\n";
    }
    const std::string text = startFileText(derived);
    if (o.outputPath.empty()) {
        *ctx.out << text << std::flush;
        return 0;
    }
    if (!writeResultFile(o.outputPath, text, error)) {
        *ctx.err << "zonetool start: cannot write " << o.outputPath << ": " << error << "\n";
        return 1;
    }
    return 0;
}
