#include "tools/analysis/plot_frequency_panel.h"

#include "tools/analysis/cline.h"
#include "tools/analysis/wilson_interval.h"
#include "tools/formats/svg_text.h"

namespace {

// The panel's key, right of it.
void writeFrequencyLegend(std::ostream& svg, const PlotFrame& f, bool predicted, bool band) {
    const double lx = f.left + f.width + 28;
    double ly = f.top + 6;
    auto at = [](double v) { return svgNumber(v); };
    svg << "<g id=\"p-legend\" font-size=\"12\">\n<text x=\"" << at(lx) << "\" y=\"" << at(ly)
        << "\" font-weight=\"bold\">S allele frequency</text>\n";
    ly += 22;
    svg << "<line x1=\"" << at(lx + 8) << "\" y1=\"" << at(ly - 12) << "\" x2=\"" << at(lx + 8)
        << "\" y2=\"" << at(ly + 4) << "\" stroke=\"#B2182B\"/><circle cx=\"" << at(lx + 8)
        << "\" cy=\"" << at(ly - 4) << "\" r=\"2.2\" fill=\"#B2182B\"/>\n<text x=\"" << at(lx + 24)
        << "\" y=\"" << at(ly) << "\">observed, 95% Wilson</text>\n<text x=\"" << at(lx + 24)
        << "\" y=\"" << at(ly + 15) << "\" font-size=\"11\" fill=\"#444444\">interval on 2n "
        << "alleles</text>\n";
    ly += 15;
    if (predicted) {
        ly += 22;
        svg << "<line x1=\"" << at(lx) << "\" y1=\"" << at(ly - 4) << "\" x2=\"" << at(lx + 18)
            << "\" y2=\"" << at(ly - 4) << "\" stroke=\"#000000\" stroke-width=\"2\"/>\n<text x=\""
            << at(lx + 24) << "\" y=\"" << at(ly) << "\">predicted</text>\n";
    }
    if (band) {
        ly += 22;
        svg << "<rect x=\"" << at(lx) << "\" y=\"" << at(ly - 10) << "\" width=\"18\" "
            << "height=\"12\" fill=\"#000000\" fill-opacity=\"0.15\"/>\n<text x=\"" << at(lx + 24)
            << "\" y=\"" << at(ly) << "\">envelope</text>\n";
    }
    svg << "</g>\n";
}

} // namespace

double observedAlleleFrequency(int countSS, int countSI, int countII) {
    const int alleles = 2 * (countSS + countSI + countII);
    return alleles == 0 ? 0.0 : static_cast<double>(2 * countSS + countSI) / alleles;
}

void writeFrequencyPanel(std::ostream& svg, const PlotFrame& f, const std::string& xLabel,
                         const std::vector<double>& x, const std::vector<int>& countSS,
                         const std::vector<int>& countSI, const std::vector<int>& countII,
                         const ModelLines& lines, const Envelope& envelope) {
    writePanelAxes(svg, f, "p-axes", xLabel,
                   "S allele frequency p (95% Wilson interval on 2n alleles)");
    svg << frameBand(f, "envelope-p", "fill=\"#000000\" fill-opacity=\"0.15\" stroke=\"none\"",
                     envelope.x, envelope.lowP, envelope.highP);
    std::vector<double> p;
    for (const Genotype& g : lines.genotypes) {
        p.push_back(alleleFrequency(g));
    }
    if (!p.empty()) {
        svg << framePolyline(f, "model-p",
                             "stroke=\"#000000\" stroke-width=\"2\" stroke-linejoin=\"round\"",
                             lines.x, p);
    }
    svg << "<g id=\"observed-p\" stroke=\"#B2182B\" fill=\"#B2182B\">\n";
    for (std::size_t i = 0; i < x.size(); i++) {
        const int n = countSS[i] + countSI[i] + countII[i];
        if (n == 0) {
            continue;
        }
        const ProportionInterval ci = wilsonInterval(2 * countSS[i] + countSI[i], 2 * n);
        const std::string cx = svgNumber(f.px(x[i]));
        svg << "<line class=\"wilson\" x1=\"" << cx << "\" y1=\"" << svgNumber(f.py(ci.low))
            << "\" x2=\"" << cx << "\" y2=\"" << svgNumber(f.py(ci.high))
            << "\" stroke-width=\"1\"/><circle cx=\"" << cx << "\" cy=\""
            << svgNumber(f.py(observedAlleleFrequency(countSS[i], countSI[i], countII[i])))
            << "\" r=\"2.2\" stroke=\"none\"/>\n";
    }
    svg << "</g>\n";
    writeFrequencyLegend(svg, f, !p.empty(), !envelope.x.empty());
}
