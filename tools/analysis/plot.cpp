#include "tools/analysis/plot.h"

#include "data/borders.h"
#include "data/builtin_transect.h"
#include "data/failure_sink.h"
#include "driver/schedule.h"
#include "tools/analysis/cline.h"
#include "tools/analysis/plot_frame.h"
#include "tools/analysis/plot_frequency_panel.h"
#include "tools/formats/cli.h"
#include "tools/formats/svg_text.h"
#include "tools/formats/transect_axes.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <sstream>

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
