#include "tools/analysis/profile_plot.h"

#include "driver/schedule.h"
#include "tools/formats/cli.h"
#include "tools/formats/svg_text.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <ostream>
#include <sstream>

namespace {

// Figure geometry, in pixels.
constexpr double width = 760;
constexpr double left = 90;
constexpr double plotWidth = 600;
constexpr double headingHeight = 70;
constexpr double panelHeight = 270; // heading, plot, tick labels and axis title
constexpr double panelTop = 28;     // plot area below the panel's top
constexpr double plotHeight = 180;

// The part of a panel's data that is drawn, with the maps from data to pixels.
struct Panel {
    double top = 0.0; // of the plot area
    double x0 = 0.0, x1 = 1.0, y0 = 0.0, y1 = 1.0;
    std::vector<double> xTicks, yTicks;
    std::vector<std::size_t> shown; // rows drawn, by fixed value
    int above = 0;                  // rows left out above the axis

    double px(double x) const { return left + (x - x0) / (x1 - x0) * plotWidth; }
    double py(double y) const { return top + (1.0 - (y - y0) / (y1 - y0)) * plotHeight; }
};

Panel panelFor(const CurveParameter& p, double units, double top) {
    Panel panel;
    panel.top = top;
    const std::size_t n = p.fixed.size();
    double highest = 0.0;
    double lowest = 0.0;
    for (std::size_t i = 0; i < n; i++) {
        const double delta = p.values[i] - p.minimum;
        if (std::isfinite(delta) && delta <= 4.0 * units) {
            highest = std::max(highest, delta);
            lowest = std::min(lowest, delta);
        }
    }
    panel.yTicks = niceTicks(lowest, std::max(highest, 1.25 * units), 4);
    panel.y0 = panel.yTicks.front();
    panel.y1 = panel.yTicks.back();
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&p](std::size_t a, std::size_t b) { return p.fixed[a] < p.fixed[b]; });
    double xMin = p.estimate;
    double xMax = p.estimate;
    for (std::size_t i : order) {
        const double delta = p.values[i] - p.minimum;
        if (!(std::isfinite(delta) && delta <= panel.y1) || !std::isfinite(p.fixed[i])) {
            panel.above += 1;
            continue;
        }
        panel.shown.push_back(i);
        xMin = std::min(xMin, p.fixed[i]);
        xMax = std::max(xMax, p.fixed[i]);
    }
    if (!(xMax > xMin)) {
        const double pad = xMin != 0.0 ? 0.05 * std::fabs(xMin) : 1.0;
        xMin -= pad;
        xMax += pad;
    }
    panel.xTicks = niceTicks(xMin, xMax, 6);
    panel.x0 = panel.xTicks.front();
    panel.x1 = panel.xTicks.back();
    return panel;
}

void writePanel(std::ostream& svg, const CurveParameter& p, const Panel& f, double units,
                std::size_t number) {
    svg << "<g id=\"profile-" << number << "\">\n"
        << "<text x=\"" << svgNumber(left) << "\" y=\"" << svgNumber(f.top - 10)
        << "\" font-size=\"14\" font-weight=\"bold\">" << xmlEscape(p.name) << "</text>\n";
    svg << "<text x=\"" << svgNumber(left + plotWidth) << "\" y=\"" << svgNumber(f.top - 10)
        << "\" text-anchor=\"end\" font-size=\"11\" fill=\"#444444\">estimate "
        << xmlEscape(formatNumber(p.estimate, 8)) << ", -lnL "
        << xmlEscape(formatNumber(p.minimum, 10))
        << (f.above > 0 ? "; " + std::to_string(f.above) + " point" + (f.above == 1 ? "" : "s") +
                              " above the axis not drawn"
                        : "")
        << "</text>\n";
    // Grid, frame, ticks and their labels.
    svg << "<g stroke=\"#000000\" stroke-width=\"1\">\n";
    for (double t : f.xTicks) {
        svg << "<line x1=\"" << svgNumber(f.px(t)) << "\" y1=\"" << svgNumber(f.top) << "\" x2=\""
            << svgNumber(f.px(t)) << "\" y2=\"" << svgNumber(f.top + plotHeight)
            << "\" stroke=\"#e6e6e6\"/>\n";
    }
    for (double t : f.yTicks) {
        svg << "<line x1=\"" << svgNumber(left) << "\" y1=\"" << svgNumber(f.py(t)) << "\" x2=\""
            << svgNumber(left + plotWidth) << "\" y2=\"" << svgNumber(f.py(t))
            << "\" stroke=\"#e6e6e6\"/>\n";
    }
    svg << "<rect x=\"" << svgNumber(left) << "\" y=\"" << svgNumber(f.top) << "\" width=\""
        << svgNumber(plotWidth) << "\" height=\"" << svgNumber(plotHeight)
        << "\" fill=\"none\"/>\n</g>\n<g font-size=\"12\">\n";
    for (double t : f.xTicks) {
        svg << "<text x=\"" << svgNumber(f.px(t)) << "\" y=\"" << svgNumber(f.top + plotHeight + 18)
            << "\" text-anchor=\"middle\">" << formatNumber(t, 6) << "</text>\n";
    }
    for (double t : f.yTicks) {
        svg << "<text x=\"" << svgNumber(left - 8) << "\" y=\"" << svgNumber(f.py(t) + 4)
            << "\" text-anchor=\"end\">" << formatNumber(t, 6) << "</text>\n";
    }
    svg << "</g>\n<text x=\"" << svgNumber(left + plotWidth / 2) << "\" y=\""
        << svgNumber(f.top + plotHeight + 40) << "\" text-anchor=\"middle\">" << xmlEscape(p.name)
        << " (fixed; the other parameters re-optimised)</text>\n"
        << "<text x=\"30\" y=\"" << svgNumber(f.top + plotHeight / 2)
        << "\" text-anchor=\"middle\" transform=\"rotate(-90 30 "
        << svgNumber(f.top + plotHeight / 2) << ")\">-lnL above the estimate's</text>\n";
    // The support limits lie where the profile crosses this line (the axis always reaches it).
    {
        svg << "<g class=\"support-limit\"><line x1=\"" << svgNumber(left) << "\" y1=\""
            << svgNumber(f.py(units)) << "\" x2=\"" << svgNumber(left + plotWidth) << "\" y2=\""
            << svgNumber(f.py(units))
            << "\" stroke=\"#D55E00\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\"/>"
            << "<text x=\"" << svgNumber(left + plotWidth - 4) << "\" y=\""
            << svgNumber(f.py(units) - 5) << "\" text-anchor=\"end\" font-size=\"11\" "
            << "fill=\"#D55E00\">support limit: " << xmlEscape(formatNumber(units, 6))
            << " units</text></g>\n";
    }
    svg << "<polyline class=\"profile\" fill=\"none\" stroke=\"#0072B2\" stroke-width=\"1.6\" "
           "points=\"";
    for (std::size_t k = 0; k < f.shown.size(); k++) {
        const std::size_t i = f.shown[k];
        svg << (k == 0 ? "" : " ") << svgNumber(f.px(p.fixed[i])) << ","
            << svgNumber(f.py(p.values[i] - p.minimum));
    }
    svg << "\"/>\n";
    for (std::size_t i : f.shown) {
        const bool estimate = p.fixed[i] == p.estimate && p.values[i] == p.minimum;
        svg << "<circle class=\"" << (estimate ? "estimate" : "point") << "\" cx=\""
            << svgNumber(f.px(p.fixed[i])) << "\" cy=\"" << svgNumber(f.py(p.values[i] - p.minimum))
            << "\" r=\"" << (estimate ? "4.5" : "3") << "\" fill=\""
            << (estimate ? "#000000" : "#0072B2") << "\"/>\n";
    }
    svg << "</g>\n";
}

} // namespace

std::string renderProfileSvg(const std::vector<CurveParameter>& parameters,
                             const std::string& source, double units) {
    const double height = headingHeight + panelHeight * static_cast<double>(parameters.size());
    std::ostringstream svg;
    const std::string title = "Profile likelihood, " + source;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << svgNumber(width)
        << "\" height=\"" << svgNumber(height) << "\" viewBox=\"0 0 " << svgNumber(width) << " "
        << svgNumber(height)
        << "\" font-family=\"DejaVu Sans, Liberation Sans, Arial, sans-serif\" font-size=\"13\">\n"
        << "<title>" << xmlEscape(title) << "</title>\n"
        << "<rect x=\"0\" y=\"0\" width=\"" << svgNumber(width) << "\" height=\""
        << svgNumber(height) << "\" fill=\"white\"/>\n"
        << "<text x=\"" << svgNumber(left + plotWidth / 2)
        << "\" y=\"28\" text-anchor=\"middle\" font-size=\"18\" font-weight=\"bold\">"
        << xmlEscape(title) << "</text>\n"
        << "<text x=\"" << svgNumber(left + plotWidth / 2)
        << "\" y=\"50\" text-anchor=\"middle\" font-size=\"12\" fill=\"#444444\">each point a "
           "re-optimisation; the support limits lie where the profile crosses the dashed "
           "line</text>\n";
    for (std::size_t k = 0; k < parameters.size(); k++) {
        const double top = headingHeight + panelHeight * static_cast<double>(k) + panelTop;
        writePanel(svg, parameters[k], panelFor(parameters[k], units, top), units, k + 1);
    }
    svg << "</svg>\n";
    return svg.str();
}
