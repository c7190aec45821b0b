#include "tools/plot.h"

#include "data/active_transect.h"
#include "data/borders.h"
#include "data/failure_sink.h"
#include "population/simulation_report.h"
#include "tools/cli.h"
#include "tools/cline.h"
#include "tools/failed_fit.h"
#include "tools/fit_files.h"
#include "tools/options.h"
#include "tools/profile_plot.h"
#include "tools/results.h"
#include "tools/summary.h"
#include "tools/transect_axes.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <numeric>
#include <sstream>

const char* const plotHelp =
    "Usage: zonetool plot MODEL [--result FILE] -o FILE.svg\n"
    "       zonetool plot --profile CURVE [--units U] -o FILE.svg\n"
    "\n"
    "Writes a standalone SVG figure of a fitted model: the observed frequencies of SS, SI and\n"
    "II at each site (symbol area proportional to the site's sample size), the model's\n"
    "predicted frequencies at the fitted point as lines, its region borders or contact\n"
    "position as dashed lines, and a title with the model and -lnL. The fitted point is read\n"
    "from the model's result file (SS1_ML_ for model 1) and evaluated once (models 3 to 6\n"
    "read borders.txt). The stepping-stone models (1 to 6) are drawn against the cumulative\n"
    "distance between neighbouring sites, their own spacing of demes; the kernel models (7 to\n"
    "10) against the position on the transect axis, on which their grid is laid; both in the\n"
    "data's length unit ('zonetool eval --sites' writes both coordinates of every site).\n"
    "\n"
    "Options:\n"
    "  --result FILE   read the fitted point from FILE instead\n"
    "  -o, --output FILE   the figure to write (required)\n"
    "  --profile CURVE     draw instead the profile in CURVE, as written by 'zonetool profile\n"
    "                      --curve': one panel per parameter, -lnL above its value at the\n"
    "                      estimate against the value the parameter was fixed at, each point\n"
    "                      a re-optimisation, the estimate in black, and a dashed line at U\n"
    "                      units where the support limits lie (points more than 4 U above\n"
    "                      are left out and counted)\n"
    "  --units U           log-likelihood units of that line (default 2; the value given to\n"
    "                      'zonetool profile --units')\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n";

std::vector<double> niceTicks(double low, double high, int target) {
    if (!(high > low) || target < 1) {
        return {low};
    }
    const double rough = (high - low) / target;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        step = factor * power;
        if (step >= rough) {
            break;
        }
    }
    // Multiples of the step, formed from whole numbers so that 3 x 0.2 reads 0.6.
    const double whole = step / power;
    const double inverse = power < 1.0 ? std::round(1.0 / power) : 1.0;
    auto tickAt = [&](double k) { return power < 1.0 ? k * whole / inverse : k * whole * power; };
    std::vector<double> ticks;
    for (double k = std::floor(low / step + 1e-9);; k += 1.0) {
        const double tick = tickAt(k);
        ticks.push_back(tick == 0.0 ? 0.0 : tick);
        if (tick >= high - 1e-9 * step) {
            break;
        }
    }
    return ticks;
}

std::string xmlEscape(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::vector<double> sitePositionsFor(const ModelEntry& model) {
    return model.geometry == Geometry::kernelGrid ? axisPositions() : summedSiteDistances();
}

namespace {

// U+2212 MINUS SIGN, in UTF-8.
const char* const minus = "\xE2\x88\x92";

// Where the border before deme `deme` of a stepping-stone model lies: halfway between the
// sites on either side. None for a border at either end.
void addDemeBorder(std::vector<double>& borders, const std::vector<double>& x, int deme) {
    if (deme > 0 && deme < activeTransect().siteCount()) {
        borders.push_back(
            0.5 * (x[static_cast<std::size_t>(deme) - 1] + x[static_cast<std::size_t>(deme)]));
    }
}

} // namespace

PlotInput plotInputFor(const ModelEntry& model, const std::vector<double>& point, double value,
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
    input.x = sitePositionsFor(model);
    input.countSS = activeTransect().countSS;
    input.countSI = activeTransect().countSI;
    input.countII = activeTransect().countII;
    if (predicted.size() == static_cast<std::size_t>(activeTransect().siteCount())) {
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
constexpr double height = 560;
constexpr double left = 80;
constexpr double top = 78;
constexpr double plotWidth = 660;
constexpr double plotHeight = 400;
constexpr double maxRadius = 8; // symbol of the largest sample
constexpr double pi = 3.14159265358979323846;

const char* const colours[3] = {"#0072B2", "#009E73", "#D55E00"}; // SS, SI, II
const char* const genotypeNames[3] = {"SS", "SI", "II"};

std::string num(double value) {
    return svgNumber(value);
}

} // namespace

std::string svgNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    // Trim trailing zeros: shorter files, same drawing.
    std::string s = text;
    while (!s.empty() && s.back() == '0') {
        s.pop_back();
    }
    if (!s.empty() && s.back() == '.') {
        s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

namespace {

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

// The allele frequency p = SS + SI/2 (the hybrid index) of the prediction, through the sites
// in the order of the axis.
template <typename Px, typename Py>
std::string alleleLine(const PlotInput& input, const std::vector<std::size_t>& byX, Px px, Py py) {
    std::string line = "<polyline id=\"predicted-p\" fill=\"none\" stroke=\"#000000\" "
                       "stroke-width=\"1.6\" stroke-dasharray=\"2 3\" points=\"";
    for (std::size_t k = 0; k < byX.size(); k++) {
        const double p = alleleFrequency(input.predicted[byX[k]]);
        line += (k == 0 ? "" : " ") + num(px(input.x[byX[k]])) + "," + num(py(p));
    }
    return line + "\"/>\n";
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

// Where data land on the page: the x range of the axis with its ticks, and the maps from
// data to pixels.
struct Frame {
    double x0 = 0.0; // data value at the left edge of the plot
    double x1 = 1.0; // and at the right edge
    std::vector<double> xTicks;
    int largest = 1; // the largest sample, which gets the largest symbol

    double px(double x) const { return left + (x - x0) / (x1 - x0) * plotWidth; }
    double py(double y) const { return top + (1.0 - y) * plotHeight; }
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

// Grid, ticks, tick labels and the titles of both axes.
void writeAxes(std::ostream& svg, const PlotInput& input, const Frame& f) {
    svg << "<g id=\"axes\" stroke=\"#000000\" stroke-width=\"1\">\n";
    for (double t : f.xTicks) {
        svg << "<line x1=\"" << num(f.px(t)) << "\" y1=\"" << num(top) << "\" x2=\"" << num(f.px(t))
            << "\" y2=\"" << num(top + plotHeight) << "\" stroke=\"#e6e6e6\"/>\n"
            << "<line x1=\"" << num(f.px(t)) << "\" y1=\"" << num(top + plotHeight) << "\" x2=\""
            << num(f.px(t)) << "\" y2=\"" << num(top + plotHeight + 6) << "\"/>\n";
    }
    const std::vector<double> yTicks = niceTicks(0.0, 1.0, 5);
    for (double t : yTicks) {
        svg << "<line x1=\"" << num(left) << "\" y1=\"" << num(f.py(t)) << "\" x2=\""
            << num(left + plotWidth) << "\" y2=\"" << num(f.py(t)) << "\" stroke=\"#e6e6e6\"/>\n"
            << "<line x1=\"" << num(left - 6) << "\" y1=\"" << num(f.py(t)) << "\" x2=\""
            << num(left) << "\" y2=\"" << num(f.py(t)) << "\"/>\n";
    }
    svg << "<rect x=\"" << num(left) << "\" y=\"" << num(top) << "\" width=\"" << num(plotWidth)
        << "\" height=\"" << num(plotHeight) << "\" fill=\"none\"/>\n"
        << "</g>\n<g id=\"tick-labels\" font-size=\"12\">\n";
    for (double t : f.xTicks) {
        svg << "<text x=\"" << num(f.px(t)) << "\" y=\"" << num(top + plotHeight + 21)
            << "\" text-anchor=\"middle\">" << formatNumber(t, 6) << "</text>\n";
    }
    for (double t : yTicks) {
        svg << "<text x=\"" << num(left - 10) << "\" y=\"" << num(f.py(t) + 4)
            << "\" text-anchor=\"end\">" << formatNumber(t, 6) << "</text>\n";
    }
    svg << "</g>\n"
        << "<text x=\"" << num(left + plotWidth / 2) << "\" y=\"" << num(top + plotHeight + 48)
        << "\" text-anchor=\"middle\">" << xmlEscape(input.xLabel) << "</text>\n"
        << "<text x=\"24\" y=\"" << num(top + plotHeight / 2)
        << "\" text-anchor=\"middle\" transform=\"rotate(-90 24 " << num(top + plotHeight / 2)
        << ")\">genotype frequency (proportion of the site's sample)</text>\n";
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

// Predicted frequencies, as lines through the sites in the order of the axis.
void writePredictedLines(std::ostream& svg, const PlotInput& input, const Frame& f) {
    const std::size_t n = input.x.size();
    std::vector<std::size_t> byX(n);
    std::iota(byX.begin(), byX.end(), 0);
    std::stable_sort(byX.begin(), byX.end(),
                     [&](std::size_t a, std::size_t b) { return input.x[a] < input.x[b]; });
    for (int g = 0; g < 3; g++) {
        svg << "<polyline id=\"predicted-" << genotypeNames[g] << "\" fill=\"none\" stroke=\""
            << colours[g] << "\" stroke-width=\"2.2\" stroke-linejoin=\"round\" points=\"";
        for (std::size_t k = 0; k < n; k++) {
            const Genotype& p = input.predicted[byX[k]];
            const double y = g == 0 ? p.SS : g == 1 ? p.SI : p.II;
            svg << (k == 0 ? "" : " ") << num(f.px(input.x[byX[k]])) << "," << num(f.py(y));
        }
        svg << "\"/>\n";
    }
    svg << alleleLine(
        input, byX, [&f](double x) { return f.px(x); }, [&f](double y) { return f.py(y); });
}

// The legend, right of the plot: symbols, lines, borders and sample sizes.
void writeLegend(std::ostream& svg, const PlotInput& input, const Frame& f) {
    const bool predicted = input.predicted.size() == input.x.size();
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
    std::ostringstream svg;
    writeHeading(svg, input);
    writeAxes(svg, input, frame);
    writeBorderMarks(svg, input, frame);
    writeObservedSymbols(svg, input, frame);
    if (input.predicted.size() == input.x.size()) {
        writePredictedLines(svg, input, frame);
    }
    if (std::isfinite(input.centre)) {
        svg << centreMark(input.centre, frame.px(input.centre));
    }
    writeLegend(svg, input, frame);
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
};

int readPlotOptions(const std::vector<std::string>& args, PlotOptions& o) {
    // No positional argument starts with '-', so "-x" is an unknown option.
    return OptionParser("plot", [] { return std::string(plotHelp); })
        .optionPrefix("-")
        .value({"--result"}, "a file name", storeText(o.resultPath))
        .value({"-o", "--output"}, "a file name", storeText(o.outputPath))
        .value({"--profile"}, "a file name", storeText(o.profilePath))
        .value({"--units"}, "a value", storePositive(o.units))
        .positional(takeOne(o.modelText))
        .check([&o]() -> Problem {
            if (o.profilePath.empty()) {
                return o.units > 0.0 ? "--units needs --profile"
                                     : requireModel(o.modelText, o.model)();
            }
            return o.modelText.empty() && o.resultPath.empty()
                       ? ""
                       : "--profile draws a profile file and takes no MODEL or --result";
        })
        .check(require(o.outputPath, "-o FILE.svg"))
        .parse(args);
}

} // namespace

int plotCommand(const std::vector<std::string>& args) {
    PlotOptions options;
    const int status = readPlotOptions(args, options);
    if (status >= 0) {
        return status;
    }
    if (!options.profilePath.empty()) {
        return plotProfileCommand(options.profilePath, options.outputPath,
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
    if (!bordersFor(model, fileBorders, error)) {
        std::cerr << error << "\n";
        return 1;
    }
    LoadedFit fit;
    std::vector<std::string> warnings;
    const bool loaded = loadFit(resultPath, model, true, fit, error, warnings);
    for (const std::string& warning : warnings) {
        std::cerr << "zonetool plot: " << warning << "\n";
    }
    if (!loaded) {
        std::cerr << "zonetool plot: " << error << "\n";
        return 1;
    }
    const StoredResult& stored = fit.result;
    const double value = stored.value;
    if (failedFitValue(model, value)) {
        // Lines of a point that scores a penalty would pass for a fitted cline.
        std::cerr << "zonetool plot: warning: " << failedFitText(resultPath, value)
                  << "; the figure shows the data only\n";
        fit.predictions.clear();
    } else if (fit.predictions.empty()) {
        std::cerr << "zonetool plot: the point in " << resultPath
                  << " lies outside the model's box (value " << format17(value)
                  << "); the figure shows no fitted lines\n";
    }

    PlotInput input = plotInputFor(model, stored.point, value, fit.predictions, fileBorders);
    input.centre = summariseFit(model, stored.point, fit.predictions, fileBorders).centre;
    const std::string svg = renderSvg(input);
    std::ofstream out(outputPath, std::ios::binary);
    out << svg;
    out.flush();
    if (!out) {
        std::cerr << "zonetool plot: cannot write " << outputPath << ": " << std::strerror(errno)
                  << "\n";
        return 1;
    }
    return 0;
}
