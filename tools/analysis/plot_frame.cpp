#include "tools/analysis/plot_frame.h"

#include "tools/formats/cli.h"
#include "tools/formats/svg_text.h"

#include <algorithm>

void writePanelAxes(std::ostream& svg, const PlotFrame& f, const std::string& id,
                    const std::string& xLabel, const std::string& yLabel) {
    auto num = [](double v) { return svgNumber(v); };
    const double bottom = f.top + f.height;
    svg << "<g id=\"" << id << "\" stroke=\"#000000\" stroke-width=\"1\">\n";
    for (double t : f.xTicks) {
        svg << "<line x1=\"" << num(f.px(t)) << "\" y1=\"" << num(f.top) << "\" x2=\""
            << num(f.px(t)) << "\" y2=\"" << num(bottom) << "\" stroke=\"#e6e6e6\"/>\n"
            << "<line x1=\"" << num(f.px(t)) << "\" y1=\"" << num(bottom) << "\" x2=\""
            << num(f.px(t)) << "\" y2=\"" << num(bottom + 6) << "\"/>\n";
    }
    const std::vector<double> yTicks = niceTicks(0.0, 1.0, 5);
    for (double t : yTicks) {
        svg << "<line x1=\"" << num(f.left) << "\" y1=\"" << num(f.py(t)) << "\" x2=\""
            << num(f.left + f.width) << "\" y2=\"" << num(f.py(t)) << "\" stroke=\"#e6e6e6\"/>\n"
            << "<line x1=\"" << num(f.left - 6) << "\" y1=\"" << num(f.py(t)) << "\" x2=\""
            << num(f.left) << "\" y2=\"" << num(f.py(t)) << "\"/>\n";
    }
    svg << "<rect x=\"" << num(f.left) << "\" y=\"" << num(f.top) << "\" width=\"" << num(f.width)
        << "\" height=\"" << num(f.height) << "\" fill=\"none\"/>\n"
        << "</g>\n<g id=\"" << id << "-labels\" font-size=\"12\">\n";
    for (double t : f.xTicks) {
        svg << "<text x=\"" << num(f.px(t)) << "\" y=\"" << num(bottom + 21)
            << "\" text-anchor=\"middle\">" << formatNumber(t, 6) << "</text>\n";
    }
    for (double t : yTicks) {
        svg << "<text x=\"" << num(f.left - 10) << "\" y=\"" << num(f.py(t) + 4)
            << "\" text-anchor=\"end\">" << formatNumber(t, 6) << "</text>\n";
    }
    const double middle = f.top + f.height / 2;
    svg << "</g>\n"
        << "<text x=\"" << num(f.left + f.width / 2) << "\" y=\"" << num(bottom + 48)
        << "\" text-anchor=\"middle\">" << xmlEscape(xLabel) << "</text>\n"
        << "<text x=\"24\" y=\"" << num(middle)
        << "\" text-anchor=\"middle\" transform=\"rotate(-90 24 " << num(middle) << ")\">"
        << xmlEscape(yLabel) << "</text>\n";
}

std::string framePolyline(const PlotFrame& frame, const std::string& id, const std::string& style,
                          const std::vector<double>& x, const std::vector<double>& y) {
    std::string line = "<polyline id=\"" + id + "\" fill=\"none\" " + style + " points=\"";
    for (std::size_t k = 0; k < x.size() && k < y.size(); k++) {
        line += (k == 0 ? "" : " ") + svgNumber(frame.px(x[k])) + "," + svgNumber(frame.py(y[k]));
    }
    return line + "\"/>\n";
}

std::string frameBand(const PlotFrame& frame, const std::string& id, const std::string& style,
                      const std::vector<double>& x, const std::vector<double>& low,
                      const std::vector<double>& high) {
    const std::size_t n = std::min(x.size(), std::min(low.size(), high.size()));
    if (n == 0) {
        return "";
    }
    std::string band = "<polygon id=\"" + id + "\" " + style + " points=\"";
    for (std::size_t k = 0; k < n; k++) {
        band +=
            (k == 0 ? "" : " ") + svgNumber(frame.px(x[k])) + "," + svgNumber(frame.py(high[k]));
    }
    for (std::size_t k = n; k-- > 0;) {
        band += " " + svgNumber(frame.px(x[k])) + "," + svgNumber(frame.py(low[k]));
    }
    return band + "\"/>\n";
}
