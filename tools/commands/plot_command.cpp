#include "tools/commands/plot_command.h"
#include "driver/schedule.h"

#include "population/simulation_report.h"
#include "tools/analysis/failed_fit.h"
#include "tools/analysis/fit_files.h"
#include "tools/analysis/plot.h"
#include "tools/analysis/plot_cline.h"
#include "tools/analysis/plot_envelope.h"
#include "tools/analysis/point_evaluation.h"
#include "tools/analysis/profile_plot.h"
#include "tools/analysis/summary.h"
#include "tools/formats/cli.h"
#include "tools/formats/options.h"
#include "tools/formats/profile_curve.h"
#include "tools/formats/results.h"
#include "tools/formats/state_text.h"

#include <cerrno>
#include <cstring>
#include <fstream>

const char* const plotHelp =
    "Usage: zonetool plot MODEL [--result FILE] [--objective settled|zonefit]\n"
    "                        [--envelope CURVE...] [--units U] -o FILE.svg\n"
    "       zonetool plot --profile CURVE [--units U] -o FILE.svg\n"
    "       zonetool plot --cline RECORD [--data FILE [--locus NAME]] -o FILE.svg\n"
    "\n"
    "Writes a standalone SVG figure of a fitted model: the observed frequencies of SS, SI and\n"
    "II at each site (symbol area proportional to the site's sample size), the model's\n"
    "predicted frequencies at the fitted point as lines at the model's own resolution (every\n"
    "deme of the kernel models' grid, every deme of the stepping-stone models, in deme order),\n"
    "its region borders or contact position as dashed lines, and a title with the model and\n"
    "-lnL; below, the observed S allele frequency p = (2 SS + SI) / 2n of each site with its\n"
    "95% Wilson score interval on the 2n alleles, and the predicted p. The fitted point is read\n"
    "from the model's result file (SS1_ML_ for model 1) and evaluated (models 3 to 6\n"
    "read borders.txt). The stepping-stone models (1 to 6) are drawn against the cumulative\n"
    "distance between neighbouring sites, their own spacing of demes; the kernel models (7 to\n"
    "10) against the position on the transect axis, on which their grid is laid; both in the\n"
    "data's length unit ('zonetool eval --sites' writes both coordinates of every site).\n"
    "\n"
    "Options:\n"
    "  --result FILE   read the fitted point from FILE instead\n"
    "  --objective K   zonefit (default) or settled: whose state the lines and -lnL are of;\n"
    "                  the subtitle names it (and, under settled, the kind of state)\n"
    "  --envelope CURVE...  draw in both panels the band between the lowest and highest\n"
    "                  predictions over the points of these profile curves ('zonetool profile\n"
    "                  --curve'; repeatable) and the fit whose -lnL lies within U units of the\n"
    "                  best of them; each distinct point is evaluated once, with the objective\n"
    "                  its curve records (zonefit's when it records none)\n"
    "  -o, --output FILE   the figure to write (required)\n"
    "  --cline RECORD      draw instead a descriptive cline recorded by 'zonetool cline'\n"
    "                      (cline_SHAPE.json), of the --locus given, on its own axis\n"
    "  --profile CURVE     draw instead the profile in CURVE, as written by 'zonetool profile\n"
    "                      --curve': one panel per parameter, -lnL above its value at the\n"
    "                      estimate against the value the parameter was fixed at, each point\n"
    "                      a re-optimisation, the estimate in black, and a dashed line at U\n"
    "                      units where the support limits lie (points more than 4 U above\n"
    "                      are left out and counted)\n"
    "  --units U           log-likelihood units of that line, or of the envelope's limit\n"
    "                      (default 2; the value given to 'zonetool profile --units')\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n";

namespace {

// What the plot command line asks for.
struct PlotOptions {
    std::string modelText;
    int model = 0;
    std::string resultPath; // the model's result file when empty
    std::string outputPath;
    std::string profilePath; // --profile: a walked profile to draw instead of a fit
    double units = 0.0;      // --units; 0 when not given (2 then)
    ObjectiveKind objective = ObjectiveKind::zonefit; // whose state is drawn
    std::vector<std::string> envelopePaths;           // --envelope: profile curves of the model
    std::string clinePath; // --cline: a descriptive cline's record to draw instead of a fit
};

// MODEL, then, once --envelope has been given, its further curves.
Problem takeModelOrCurve(PlotOptions& o, const std::string& argument) {
    int number = 0;
    if (o.modelText.empty() && (o.envelopePaths.empty() || parseModel(argument, number))) {
        o.modelText = argument;
        return "";
    }
    if (!o.envelopePaths.empty()) {
        o.envelopePaths.push_back(argument);
        return "";
    }
    return "unexpected argument '" + argument + "'";
}

int readPlotOptions(const RunContext& ctx, const std::vector<std::string>& args, PlotOptions& o) {
    // No positional argument starts with '-', so "-x" is an unknown option.
    return OptionParser(
               "plot", [] { return std::string(plotHelp); }, *ctx.out, *ctx.err)
        .optionPrefix("-")
        .value({"--result"}, "a file name", storeText(o.resultPath))
        .value({"-o", "--output"}, "a file name", storeText(o.outputPath))
        .value({"--profile"}, "a file name", storeText(o.profilePath))
        .value({"--units"}, "a value", storePositive(o.units))
        .value({"--objective"}, "a value", storeObjective(o.objective))
        .value({"--envelope"}, "a file name",
               [&o](const std::string&, const std::string& value) -> Problem {
                   o.envelopePaths.push_back(value);
                   return "";
               })
        .positional([&o](const std::string& argument) { return takeModelOrCurve(o, argument); })
        .value({"--cline"}, "a file name", storeText(o.clinePath))
        .check([&o]() -> Problem {
            if (!o.clinePath.empty()) {
                return o.modelText.empty() && o.profilePath.empty()
                           ? ""
                           : "--cline draws a cline record and takes no MODEL or --profile";
            }
            if (o.profilePath.empty()) {
                return o.units > 0.0 && o.envelopePaths.empty()
                           ? "--units needs --profile or --envelope"
                           : requireModel(o.modelText, o.model)();
            }
            return o.modelText.empty() && o.resultPath.empty() && o.envelopePaths.empty()
                       ? ""
                       : "--profile draws a profile file and takes no MODEL, --result or "
                         "--envelope";
        })
        .check(require(o.outputPath, "-o FILE.svg"))
        .parse(args);
}

// plot --profile: reads the curve and writes its figure atomically. Returns the exit status
// after any message to `err`.
int plotProfileCommand(std::ostream& err, const std::string& curvePath,
                       const std::string& outputPath, double units) {
    std::vector<CurveParameter> parameters;
    std::string error;
    if (!readProfileCurve(curvePath, parameters, error)) {
        err << "zonetool plot: " << error << "\n";
        return 1;
    }
    if (!writeResultFile(outputPath, renderProfileSvg(parameters, curvePath, units), error)) {
        err << "zonetool plot: " << error << "\n";
        return 1;
    }
    return 0;
}

} // namespace

// plot --cline: the figure of a descriptive cline from its record, on the --data and --locus of
// `ctx`; returns the exit status after any message on the context's error stream.
static int plotClineCommand(const RunContext& ctx, const std::string& recordPath,
                            const std::string& outputPath) {
    PlotInput input;
    std::string error;
    if (!clinePlotInput(ctx.data.data(), recordPath, ctx.data.locus, ctx.data.checksum, input,
                        error)) {
        *ctx.err << "zonetool plot: " << error << "\n";
        return 1;
    }
    if (!writeResultFile(outputPath, renderSvg(input), error)) {
        *ctx.err << "zonetool plot: cannot write " << outputPath << ": " << error << "\n";
        return 1;
    }
    return 0;
}

namespace {

// The fit of `model` in `resultPath`, its value and state those of `objective` at its point (a
// fit of the other objective is evaluated there once more). False after the message.
bool loadFitToDraw(const RunContext& ctx, const ModelEntry& model, const std::string& resultPath,
                   ObjectiveKind objective, LoadedFit& fit) {
    const DataContext& data = ctx.data;
    std::string error;
    std::vector<std::string> warnings;
    const bool loaded =
        loadFit(data, resultPath, model, false, fit, error, warnings, objective, ctx.out);
    for (const std::string& warning : warnings) {
        *ctx.err << "zonetool plot: " << warning << "\n";
    }
    if (!loaded) {
        *ctx.err << "zonetool plot: " << error << "\n";
        return false;
    }
    if (fit.result.objective != objective) {
        // A fit of the other objective, drawn in the state this objective scores at its point.
        SimulationReport report;
        report.keepPredictions = true;
        double atPoint = 0.0;
        if (!evaluateRecorded(data, model, fit.result.point, objective, report, fit.state, atPoint,
                              error, ctx.out)) {
            *ctx.err << "zonetool plot: " << error << "\n";
            return false;
        }
        fit.result.value = atPoint;
    }
    return true;
}

// The figure in `svg` to `outputPath`, atomically: an earlier figure of that name stays whole
// until the new one is complete. False after the message.
bool writeFigure(const RunContext& ctx, const std::string& outputPath, const std::string& svg) {
    std::string error;
    if (!writeResultFile(outputPath, svg, error)) {
        *ctx.err << "zonetool plot: cannot write " << outputPath << " (" << error << ")\n";
        return false;
    }
    return true;
}

} // namespace

int plotCommand(RunContext& ctx, const std::vector<std::string>& args) {
    PlotOptions options;
    const int status = readPlotOptions(ctx, args, options);
    if (status >= 0) {
        return status;
    }
    if (!options.clinePath.empty()) {
        return plotClineCommand(ctx, options.clinePath, options.outputPath);
    }
    if (!options.profilePath.empty()) {
        return plotProfileCommand(*ctx.err, options.profilePath, options.outputPath,
                                  options.units > 0.0 ? options.units : 2.0);
    }
    const ModelEntry& model = *findModel(options.model);
    const std::string resultPath = options.resultPath.empty() ? model.prefix : options.resultPath;
    const DataContext& data = ctx.data;
    std::string error;
    int fileBorders[2] = {0, 0};
    if (!bordersFor(data.data(), model, fileBorders, error)) {
        *ctx.err << error << "\n";
        return 1;
    }
    LoadedFit fit;
    if (!loadFitToDraw(ctx, model, resultPath, options.objective, fit)) {
        return 1;
    }
    const StoredResult& stored = fit.result;
    const double value = stored.value;
    ModelPrediction prediction;
    if (failedFitValue(data, model, value)) {
        // Lines of a point that scores a penalty would pass for a fitted cline.
        *ctx.err << "zonetool plot: warning: " << failedFitText(resultPath, value)
                 << "; the figure shows the data only\n";
    } else if (!predictForFigure(data, model, stored.point, options.objective, prediction, error,
                                 ctx.out)) {
        *ctx.err << "zonetool plot: " << resultPath << ": " << error << "\n";
        return 1;
    }
    Envelope envelope;
    if (!options.envelopePaths.empty() && !prediction.sites.empty() &&
        !envelopeFromCurves(data, model, stored.point, options.objective, prediction,
                            options.envelopePaths, options.units > 0.0 ? options.units : 2.0,
                            envelope, error, ctx.out)) {
        *ctx.err << "zonetool plot: " << error << "\n";
        return 1;
    }
    if (prediction.sites.empty() && !failedFitValue(data, model, value)) {
        *ctx.err << "zonetool plot: the point in " << resultPath
                 << " lies outside the model's box (value " << format17(value)
                 << "); the figure shows no fitted lines\n";
    }

    PlotInput input =
        plotInputFor(data.data(), model, stored.point, value, prediction.sites, fileBorders);
    input.lines = prediction.lines;
    input.envelope = envelope;
    input.centre =
        summariseFit(data.data(), model, stored.point, prediction.sites, fileBorders).centre;
    input.subtitle += std::string("  (objective ") + objectiveName(options.objective) +
                      (options.objective == ObjectiveKind::settled ? ": " + stateCell(fit.state)
                                                                   : std::string()) +
                      ")";
    return writeFigure(ctx, options.outputPath, renderSvg(input)) ? 0 : 1;
}
