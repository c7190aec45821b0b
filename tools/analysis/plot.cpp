#include "tools/analysis/plot.h"

#include "data/borders.h"
#include "data/builtin_transect.h"
#include "data/failure_sink.h"
#include "driver/schedule.h"
#include "population/simulation_report.h"
#include "tools/analysis/cline.h"
#include "tools/analysis/failed_fit.h"
#include "tools/analysis/fit_files.h"
#include "tools/analysis/plot_cline.h"
#include "tools/analysis/plot_frame.h"
#include "tools/analysis/plot_frequency_panel.h"
#include "tools/analysis/point_evaluation.h"
#include "tools/analysis/profile_plot.h"
#include "tools/analysis/summary.h"
#include "tools/formats/cli.h"
#include "tools/formats/data_option.h"
#include "tools/formats/options.h"
#include "tools/formats/results.h"
#include "tools/formats/state_text.h"
#include "tools/formats/svg_text.h"
#include "tools/formats/transect_axes.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <numeric>
#include <sstream>

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

// U+2212 MINUS SIGN, in UTF-8.
const char* const minus = "\xE2\x88\x92";

// Where the border before deme `deme` of a stepping-stone model lies: halfway between the
// sites on either side. None for a border at either end.
void addDemeBorder(std::vector<double>& borders, const std::vector<double>& x, int deme) {
    if (deme > 0 && static_cast<std::size_t>(deme) < x.size()) {
        borders.push_back(
            0.5 * (x[static_cast<std::size_t>(deme) - 1] + x[static_cast<std::size_t>(deme)]));
    }
}

} // namespace

PlotInput plotInputFor(const Transect& transect, const ModelEntry& model,
                       const std::vector<double>& point, double value,
                       const std::vector<Genotype>& predicted, const int fileBorders[2]) {
    PlotInput input;
    input.title = "Model " + std::to_string(model.number) + " (" + model.name + "): " + minus +
                  "ln L = " + formatNumber(value, 8);
    for (int j = 0; j < model.parameterCount && j < static_cast<int>(point.size()); j++) {
        input.subtitle += std::string(j == 0 ? "" : ",  ") + model.parameters[j].name + " " +
                          formatNumber(point[static_cast<std::size_t>(j)], 4);
    }
    // The sites' coordinates carry the data's own length unit, and σ is measured in it.
    input.xLabel = model.geometry == Geometry::kernelGrid
                       ? "position on the transect axis (length unit of the data)"
                       : "distance along the transect, summed over neighbouring sites (length "
                         "unit of the data)";
    input.x = sitePositionsFor(transect, model);
    input.countSS = transect.countSS;
    input.countSI = transect.countSI;
    input.countII = transect.countII;
    if (predicted.size() == static_cast<std::size_t>(transect.siteCount())) {
        input.predicted = predicted;
    }
    input.borderLabel = model.borderLabel;
    switch (model.borders) {
    case BorderSource::none:
        break;
    case BorderSource::demeParameter:
        addDemeBorder(input.borders, input.x,
                      static_cast<int>(point[static_cast<std::size_t>(model.borderParameters[0])]));
        break;
    case BorderSource::borderFile:
        addDemeBorder(input.borders, input.x, fileBorders[0]);
        addDemeBorder(input.borders, input.x, fileBorders[1]);
        break;
    case BorderSource::positionParameters:
        for (int index : model.borderParameters) {
            if (index >= 0) {
                input.borders.push_back(point[static_cast<std::size_t>(index)]);
            }
        }
        break;
    }
    return input;
}

namespace {

// Figure geometry, in pixels.
constexpr double width = 980;
constexpr double height = 900;
constexpr double left = 80;
constexpr double top = 78;
constexpr double plotWidth = 660;
constexpr double plotHeight = 400;
constexpr double panelTop = 566; // the allele-frequency panel below
constexpr double panelHeight = 250;
constexpr double maxRadius = 8; // symbol of the largest sample
constexpr double pi = 3.14159265358979323846;

const char* const colours[3] = {"#0072B2", "#009E73", "#D55E00"}; // SS, SI, II
const char* const genotypeNames[3] = {"SS", "SI", "II"};

std::string num(double value) {
    return svgNumber(value);
}

// A symbol of area proportional to pi r^2 centred on (cx, cy): circle, square or diamond.
std::string symbol(int genotype, double cx, double cy, double r, const std::string& extra) {
    const std::string style = std::string(" fill=\"") + colours[genotype] +
                              "\" fill-opacity=\"0.45\" stroke=\"" + colours[genotype] +
                              "\" stroke-width=\"0.8\"" + extra;
    if (genotype == 0) {
        return "<circle cx=\"" + num(cx) + "\" cy=\"" + num(cy) + "\" r=\"" + num(r) + "\"" +
               style + "/>";
    }
    const double half = 0.5 * std::sqrt(pi) * r; // a square of the circle's area
    if (genotype == 1) {
        return "<rect x=\"" + num(cx - half) + "\" y=\"" + num(cy - half) + "\" width=\"" +
               num(2 * half) + "\" height=\"" + num(2 * half) + "\"" + style + "/>";
    }
    const double d = half * std::sqrt(2.0); // the same square turned by 45 degrees
    return "<polygon points=\"" + num(cx) + "," + num(cy - d) + " " + num(cx + d) + "," + num(cy) +
           " " + num(cx) + "," + num(cy + d) + " " + num(cx - d) + "," + num(cy) + "\"" + style +
           "/>";
}

std::string centreMark(double centre, double x) {
    return "<g id=\"cline-centre\"><line x1=\"" + num(x) + "\" y1=\"" + num(top) + "\" x2=\"" +
           num(x) + "\" y2=\"" + num(top + plotHeight) +
           "\" stroke=\"#000000\" stroke-width=\"1\"/><text x=\"" + num(x + 4) + "\" y=\"" +
           num(top + 14) + "\" font-size=\"11\">centre " + formatNumber(centre, 5) +
           "</text></g>\n";
}

std::string alleleLegend(double lx, double ly) {
    return "<line x1=\"" + num(lx) + "\" y1=\"" + num(ly - 4) + "\" x2=\"" + num(lx + 18) +
           "\" y2=\"" + num(ly - 4) +
           "\" stroke=\"#000000\" stroke-width=\"1.6\" stroke-dasharray=\"2 3\"/>\n<text x=\"" +
           num(lx + 24) + "\" y=\"" + num(ly) + "\">p = SS + SI/2</text>\n";
}

std::string centreLegend(double lx, double ly) {
    return "<line x1=\"" + num(lx) + "\" y1=\"" + num(ly - 4) + "\" x2=\"" + num(lx + 18) +
           "\" y2=\"" + num(ly - 4) + "\" stroke=\"#000000\" stroke-width=\"1\"/>\n<text x=\"" +
           num(lx + 24) + "\" y=\"" + num(ly) + "\">cline centre (p = 1/2)</text>\n";
}

} // namespace

namespace {

// Where data land in the genotype panel, and the largest sample, which gets the largest
// symbol.
struct Frame : PlotFrame {
    int largest = 1;
};

Frame frameFor(const PlotInput& input) {
    Frame frame;
    double xMax = 0.0;
    double xMin = 0.0;
    for (double x : input.x) {
        xMax = std::max(xMax, x);
        xMin = std::min(xMin, x);
    }
    for (double b : input.borders) {
        xMax = std::max(xMax, b);
    }
    for (double x : input.lines.x) {
        xMax = std::max(xMax, x);
        xMin = std::min(xMin, x);
    }
    // The axis starts at a round value and ends a little past the last site; ticks beyond
    // that end are not drawn.
    frame.xTicks = niceTicks(xMin, xMax > xMin ? xMax : xMin + 1.0, 10);
    frame.x0 = frame.xTicks.front();
    frame.x1 = std::max(xMax, frame.x0 + 1.0) + 0.03 * (std::max(xMax, frame.x0 + 1.0) - frame.x0);
    while (frame.xTicks.size() > 1 && frame.xTicks.back() > frame.x1) {
        frame.xTicks.pop_back();
    }
    for (std::size_t i = 0; i < input.x.size(); i++) {
        frame.largest =
            std::max(frame.largest, input.countSS[i] + input.countSI[i] + input.countII[i]);
    }
    return frame;
}

// The document's start: the svg element, title, background, heading and subtitle.
void writeHeading(std::ostream& svg, const PlotInput& input) {
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << num(width) << "\" height=\""
        << num(height) << "\" viewBox=\"0 0 " << num(width) << " " << num(height)
        << "\" font-family=\"DejaVu Sans, Liberation Sans, Arial, sans-serif\" font-size=\"13\">\n"
        << "<title>" << xmlEscape(input.title) << "</title>\n"
        << "<rect x=\"0\" y=\"0\" width=\"" << num(width) << "\" height=\"" << num(height)
        << "\" fill=\"white\"/>\n"
        << "<text x=\"" << num(left + plotWidth / 2) << "\" y=\"28\" text-anchor=\"middle\" "
        << "font-size=\"18\" font-weight=\"bold\">" << xmlEscape(input.title) << "</text>\n";
    if (!input.subtitle.empty()) {
        svg << "<text x=\"" << num(left + plotWidth / 2) << "\" y=\"50\" text-anchor=\"middle\" "
            << "font-size=\"12\" fill=\"#444444\">" << xmlEscape(input.subtitle) << "</text>\n";
    }
}

// The region borders or contacts as dashed lines, drawn under the data.
void writeBorderMarks(std::ostream& svg, const PlotInput& input, const Frame& f) {
    svg << "<g id=\"borders\" stroke=\"#555555\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\">\n";
    for (double b : input.borders) {
        svg << "<line x1=\"" << num(f.px(b)) << "\" y1=\"" << num(top) << "\" x2=\"" << num(f.px(b))
            << "\" y2=\"" << num(top + plotHeight) << "\"/>\n";
    }
    svg << "</g>\n";
}

// Observed frequencies, one group per genotype, largest samples first so that small symbols
// stay visible.
void writeObservedSymbols(std::ostream& svg, const PlotInput& input, const Frame& f) {
    std::vector<std::size_t> order(input.x.size());
    std::iota(order.begin(), order.end(), 0);
    auto sampleOf = [&](std::size_t i) {
        return input.countSS[i] + input.countSI[i] + input.countII[i];
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return sampleOf(a) > sampleOf(b); });
    for (int g = 0; g < 3; g++) {
        svg << "<g id=\"observed-" << genotypeNames[g] << "\">\n";
        for (std::size_t i : order) {
            const int total = sampleOf(i);
            if (total == 0) {
                continue;
            }
            const int count = g == 0   ? input.countSS[i]
                              : g == 1 ? input.countSI[i]
                                       : input.countII[i];
            const double r = maxRadius * std::sqrt(static_cast<double>(total) / f.largest);
            svg << symbol(g, f.px(input.x[i]), f.py(static_cast<double>(count) / total), r, "")
                << "\n";
        }
        svg << "</g>\n";
    }
}

// The lines a figure draws: the model's own, else the sites' predictions in the order of x.
ModelLines linesToDraw(const PlotInput& input) {
    if (!input.lines.x.empty()) {
        return input.lines;
    }
    ModelLines lines;
    if (input.predicted.size() != input.x.size()) {
        return lines;
    }
    std::vector<std::size_t> byX(input.x.size());
    std::iota(byX.begin(), byX.end(), 0);
    std::stable_sort(byX.begin(), byX.end(),
                     [&](std::size_t a, std::size_t b) { return input.x[a] < input.x[b]; });
    for (std::size_t i : byX) {
        lines.x.push_back(input.x[i]);
        lines.genotypes.push_back(input.predicted[i]);
    }
    return lines;
}

double genotypeShare(const Genotype& g, int genotype) {
    return genotype == 0 ? g.SS : genotype == 1 ? g.SI : g.II;
}

// The envelope's band of each genotype, under the lines.
void writeEnvelopeBands(std::ostream& svg, const Envelope& envelope, const Frame& f) {
    for (int g = 0; g < 3; g++) {
        std::vector<double> low;
        std::vector<double> high;
        for (std::size_t d = 0; d < envelope.x.size(); d++) {
            low.push_back(genotypeShare(envelope.low[d], g));
            high.push_back(genotypeShare(envelope.high[d], g));
        }
        svg << frameBand(f, std::string("envelope-") + genotypeNames[g],
                         std::string("fill=\"") + colours[g] +
                             "\" fill-opacity=\"0.2\" stroke=\"none\"",
                         envelope.x, low, high);
    }
}

// Predicted frequencies, as lines through the demes in order, and the allele frequency.
void writePredictedLines(std::ostream& svg, const ModelLines& lines, const Frame& f) {
    std::vector<double> p;
    for (int g = 0; g < 3; g++) {
        std::vector<double> y;
        for (const Genotype& genotype : lines.genotypes) {
            y.push_back(genotypeShare(genotype, g));
        }
        svg << framePolyline(f, std::string("predicted-") + genotypeNames[g],
                             std::string("stroke=\"") + colours[g] +
                                 "\" stroke-width=\"2.2\" stroke-linejoin=\"round\"",
                             lines.x, y);
    }
    for (const Genotype& genotype : lines.genotypes) {
        p.push_back(alleleFrequency(genotype));
    }
    svg << framePolyline(f, "predicted-p",
                         "stroke=\"#000000\" stroke-width=\"1.6\" stroke-dasharray=\"2 3\"",
                         lines.x, p);
}

// The legend, right of the plot: symbols, lines, borders and sample sizes.
void writeLegend(std::ostream& svg, const PlotInput& input, const Frame& f) {
    const bool predicted = !linesToDraw(input).x.empty();
    const double lx = left + plotWidth + 28;
    double ly = top + 6;
    svg << "<g id=\"legend\" font-size=\"12\">\n"
        << "<text x=\"" << num(lx) << "\" y=\"" << num(ly) << "\" font-weight=\"bold\">"
        << "Observed</text>\n";
    for (int g = 0; g < 3; g++) {
        ly += 22;
        svg << symbol(g, lx + 8, ly - 4, 6, "") << "\n"
            << "<text x=\"" << num(lx + 24) << "\" y=\"" << num(ly) << "\">" << genotypeNames[g]
            << "</text>\n";
    }
    ly += 30;
    svg << "<text x=\"" << num(lx) << "\" y=\"" << num(ly) << "\" font-weight=\"bold\">"
        << "Fitted model</text>\n";
    if (predicted) {
        for (int g = 0; g < 3; g++) {
            ly += 22;
            svg << "<line x1=\"" << num(lx) << "\" y1=\"" << num(ly - 4) << "\" x2=\""
                << num(lx + 18) << "\" y2=\"" << num(ly - 4) << "\" stroke=\"" << colours[g]
                << "\" stroke-width=\"2.2\"/>\n"
                << "<text x=\"" << num(lx + 24) << "\" y=\"" << num(ly) << "\">" << genotypeNames[g]
                << "</text>\n";
        }
    } else {
        ly += 22;
        svg << "<text x=\"" << num(lx) << "\" y=\"" << num(ly) << "\">no prediction (penalty)"
            << "</text>\n";
    }
    if (predicted) {
        ly += 22;
        svg << alleleLegend(lx, ly);
    }
    if (std::isfinite(input.centre)) {
        ly += 22;
        svg << centreLegend(lx, ly);
    }
    if (!input.envelope.x.empty()) {
        ly += 26;
        svg << "<rect x=\"" << num(lx) << "\" y=\"" << num(ly - 10) << "\" width=\"18\" "
            << "height=\"12\" fill=\"#000000\" fill-opacity=\"0.15\"/>\n<text x=\"" << num(lx + 24)
            << "\" y=\"" << num(ly) << "\">envelope: " << input.envelope.within << " of "
            << input.envelope.candidates << " points</text>\n<text x=\"" << num(lx + 24)
            << "\" y=\"" << num(ly + 15) << "\" font-size=\"11\" fill=\"#444444\">within "
            << formatNumber(input.envelope.units, 6) << " units of the best " << minus
            << "ln L</text>\n";
        ly += 15;
    }
    if (!input.borders.empty()) {
        ly += 26;
        svg << "<line x1=\"" << num(lx) << "\" y1=\"" << num(ly - 4) << "\" x2=\"" << num(lx + 18)
            << "\" y2=\"" << num(ly - 4)
            << "\" stroke=\"#555555\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"/>\n"
            << "<text x=\"" << num(lx + 24) << "\" y=\"" << num(ly) << "\">"
            << xmlEscape(input.borderLabel) << "</text>\n";
    }
    ly += 34;
    svg << "<text x=\"" << num(lx) << "\" y=\"" << num(ly) << "\" font-weight=\"bold\">"
        << "Sample size</text>\n"
        << "<text x=\"" << num(lx) << "\" y=\"" << num(ly + 15) << "\" font-size=\"11\" "
        << "fill=\"#444444\">(symbol area)</text>\n";
    ly += 22;
    for (int size : {1, 10, f.largest}) {
        if (size > f.largest || (size == 10 && f.largest <= 10)) {
            continue;
        }
        const double r = maxRadius * std::sqrt(static_cast<double>(size) / f.largest);
        ly += 22;
        svg << "<circle cx=\"" << num(lx + 8) << "\" cy=\"" << num(ly - 4) << "\" r=\"" << num(r)
            << "\" fill=\"#999999\" fill-opacity=\"0.45\" stroke=\"#666666\" "
            << "stroke-width=\"0.8\"/>\n"
            << "<text x=\"" << num(lx + 24) << "\" y=\"" << num(ly) << "\">n = " << size
            << "</text>\n";
    }
    svg << "</g>\n";
}

} // namespace

std::string renderSvg(const PlotInput& input) {
    const Frame frame = frameFor(input);
    const ModelLines lines = linesToDraw(input);
    std::ostringstream svg;
    writeHeading(svg, input);
    writePanelAxes(svg, frame, "axes", input.xLabel,
                   "genotype frequency (proportion of the site's sample)");
    writeBorderMarks(svg, input, frame);
    writeEnvelopeBands(svg, input.envelope, frame);
    writeObservedSymbols(svg, input, frame);
    if (!lines.x.empty()) {
        writePredictedLines(svg, lines, frame);
    }
    if (std::isfinite(input.centre)) {
        svg << centreMark(input.centre, frame.px(input.centre));
    }
    writeLegend(svg, input, frame);
    PlotFrame panel = frame;
    panel.top = panelTop;
    panel.height = panelHeight;
    writeFrequencyPanel(svg, panel, input.xLabel, input.x, input.countSS, input.countSI,
                        input.countII, lines, input.envelope);
    svg << "</svg>\n";
    return svg.str();
}

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
    const int number = options.model;
    std::string& resultPath = options.resultPath;
    const std::string& outputPath = options.outputPath;
    const ModelEntry& model = *findModel(number);
    if (resultPath.empty()) {
        resultPath = model.prefix;
    }
    std::string error;
    int fileBorders[2] = {0, 0};
    const DataContext& data = ctx.data;
    if (!bordersFor(data.data(), model, fileBorders, error)) {
        *ctx.err << error << "\n";
        return 1;
    }
    LoadedFit fit;
    std::vector<std::string> warnings;
    const bool loaded =
        loadFit(data, resultPath, model, false, fit, error, warnings, options.objective, ctx.out);
    for (const std::string& warning : warnings) {
        *ctx.err << "zonetool plot: " << warning << "\n";
    }
    if (!loaded) {
        *ctx.err << "zonetool plot: " << error << "\n";
        return 1;
    }
    if (fit.result.objective != options.objective) {
        // A fit of the other objective, drawn in the state this objective scores at its point.
        SimulationReport report;
        report.keepPredictions = true;
        double atPoint = 0.0;
        if (!evaluateRecorded(data, model, fit.result.point, options.objective, report, fit.state,
                              atPoint, error, ctx.out)) {
            *ctx.err << "zonetool plot: " << error << "\n";
            return 1;
        }
        fit.result.value = atPoint;
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
    const std::string svg = renderSvg(input);
    std::ofstream out(outputPath, std::ios::binary);
    out << svg;
    out.flush();
    if (!out) {
        *ctx.err << "zonetool plot: cannot write " << outputPath << ": " << std::strerror(errno)
                 << "\n";
        return 1;
    }
    return 0;
}
