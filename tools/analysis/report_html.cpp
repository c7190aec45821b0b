#include "tools/analysis/report_html.h"

#include "tools/formats/svg_text.h"

#include <cmath>
#include <cstdio>
#include <sstream>

std::string htmlEscape(const std::string& text) {
    // The five characters XML escapes, as HTML reads them too (&apos; included, since HTML5).
    return xmlEscape(text);
}

std::string reportNumber(double value) {
    if (!std::isfinite(value)) {
        return "\xe2\x80\x93"; // en dash
    }
    char text[40];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string inlineSvg(const std::string& document) {
    const std::size_t start = document.find("<svg");
    return start == std::string::npos ? std::string() : document.substr(start);
}

namespace {

const char* const style = R"(<style>
body { font-family: sans-serif; max-width: 70em; margin: 1em auto; padding: 0 1em; color: #222; }
table { border-collapse: collapse; margin: 0.5em 0 1em; }
th, td { border: 1px solid #bbb; padding: 0.2em 0.6em; text-align: right; }
th { background: #eee; }
td.text, th.text { text-align: left; }
.note { color: #555; font-size: 0.9em; }
figure { margin: 1em 0; }
svg { max-width: 100%; height: auto; }
</style>
)";

// A number cell with its full-precision value for checks.
std::string numberCell(double value) {
    char full[40];
    if (std::isfinite(value)) {
        std::snprintf(full, sizeof full, "%.17g", value);
    } else {
        std::snprintf(full, sizeof full, "NA");
    }
    return std::string("<td data-value=\"") + full + "\">" + reportNumber(value) + "</td>";
}

std::string textCell(const std::string& text) {
    return "<td class=\"text\">" + htmlEscape(text) + "</td>";
}

// A limit cell: its number, marked when the profile never reached the limit on that side.
std::string limitCell(double value, bool found) {
    std::string cell = numberCell(value);
    if (!found) {
        cell.insert(cell.size() - 5, " (not reached)");
    }
    return cell;
}

void modelTable(std::ostringstream& html, const Analysis& analysis) {
    html << "<h2>Models compared</h2>\n<table id=\"model-table\">\n<tr><th class=\"text\">model"
            "</th><th>k</th><th>&minus;lnL</th><th>AICc</th><th>&Delta;AICc</th><th>Akaike "
            "weight</th><th>confirmations</th></tr>\n";
    for (const ModelAnalysis& m : analysis.models) {
        html << "<tr data-model=\"" << m.model << "\">" << textCell(m.name)
             << numberCell(m.parameters) << numberCell(m.negLogL) << numberCell(m.aicc)
             << numberCell(m.deltaAicc) << numberCell(m.weight) << numberCell(m.confirmations)
             << "</tr>\n";
    }
    html << "</table>\n<p class=\"note\">k: parameters fitted; &minus;lnL: negative "
            "log-likelihood at the estimate (without the multinomial coefficients); AICc: "
            "Akaike's criterion corrected for n = "
         << analysis.run.sampled
         << " individuals; Akaike weight: exp(&minus;&Delta;AICc/2) over its sum across the "
            "models; confirmations: how many independent search starts ended at the best "
            "optimum (one is a warning that the best may not have been found).</p>\n";
}

// The descriptive clines' own section of the model table: the same columns, no weights.
void clineTable(std::ostringstream& html, const Analysis& analysis) {
    if (analysis.clines.empty()) {
        return;
    }
    html << "<h3>Descriptive clines</h3>\n<table id=\"descriptive-table\">\n<tr><th "
            "class=\"text\">cline</th><th>k</th><th>&minus;lnL</th><th>AICc</th><th>&Delta;AICc"
            "</th></tr>\n";
    for (const DescriptiveCline& c : analysis.clines) {
        html << "<tr>" << textCell(c.shape) << numberCell(c.parameters) << numberCell(c.negLogL)
             << numberCell(c.aicc) << numberCell(c.deltaAicc) << "</tr>\n";
    }
    html << "</table>\n<p class=\"note\">Curves fitted to the same counts with the same "
            "likelihood, without a mechanism: the sigmoid p(x) = 1 / (1 + exp(&minus;4 (x "
            "&minus; centre) / width)) and the stepped cline, a sigmoid with an exponential tail "
            "on each side; both with one heterozygote deficit F. k counts their free parameters; "
            "&Delta;AICc is against the best model above, so a mechanistic model that fits "
            "better than a curve has a negative &Delta;AICc here.</p>\n";
}

void clineSection(std::ostringstream& html, const DescriptiveCline& c, double units) {
    html << "<section id=\"cline-" << htmlEscape(c.shape)
         << "\">\n<h2>Descriptive cline: " << htmlEscape(c.shape)
         << "</h2>\n<table id=\"descriptive-" << htmlEscape(c.shape)
         << "\">\n<tr><th class=\"text\">parameter</th><th class=\"text\">meaning</th>"
            "<th>estimate</th><th>lower limit</th><th>upper limit</th></tr>\n";
    for (const ParameterEstimate& e : c.estimates) {
        html << "<tr>" << textCell(e.name) << textCell(e.meaning) << numberCell(e.estimate.value)
             << limitCell(e.estimate.lower, e.estimate.lowerFound)
             << limitCell(e.estimate.upper, e.estimate.upperFound) << "</tr>\n";
    }
    html << "</table>\n<p class=\"note\">Along the " << htmlEscape(c.axis)
         << " axis; limits where the profile likelihood rises " << reportNumber(units)
         << " units; &ldquo;not reached&rdquo;: the parameter's range ended first.</p>\n";
    if (!c.figure.empty()) {
        html << "<figure>" << inlineSvg(c.figure)
             << "<figcaption>Observed genotype frequencies and those of the fitted "
             << htmlEscape(c.shape) << " cline.</figcaption></figure>\n";
    }
    html << "</section>\n";
}

void modelSection(std::ostringstream& html, const ModelAnalysis& m, double units) {
    html << "<section id=\"model-" << m.model << "\">\n<h2>Model " << m.model << ": "
         << htmlEscape(m.name) << "</h2>\n";
    html << "<h3>Estimates</h3>\n<table id=\"estimates-" << m.model
         << "\">\n<tr><th class=\"text\">parameter</th><th class=\"text\">meaning</th>"
            "<th>estimate</th><th>lower limit</th><th>upper limit</th></tr>\n";
    for (const ParameterEstimate& e : m.estimates) {
        html << "<tr>" << textCell(e.name) << textCell(e.meaning) << numberCell(e.estimate.value)
             << limitCell(e.estimate.lower, e.estimate.lowerFound)
             << limitCell(e.estimate.upper, e.estimate.upperFound) << "</tr>\n";
    }
    html << "</table>\n";
    if (!m.selection.empty()) {
        html << "<h3>Selection coefficients</h3>\n<table id=\"selection-" << m.model
             << "\">\n<tr><th class=\"text\">region</th><th class=\"text\">genotype</th>"
                "<th>s</th><th>lower</th><th>upper</th></tr>\n";
        for (const SelectionCoefficient& s : m.selection) {
            html << "<tr>" << textCell(s.region) << textCell(s.genotype) << numberCell(s.s.value)
                 << numberCell(s.s.lower) << numberCell(s.s.upper) << "</tr>\n";
        }
        html << "</table>\n";
    }
    html << "<h3>Derived quantities</h3>\n<table id=\"derived-" << m.model
         << "\">\n<tr><th class=\"text\">quantity</th><th>estimate</th><th>lower</th>"
            "<th>upper</th></tr>\n";
    for (const DerivedQuantity& d : m.derived) {
        html << "<tr>" << textCell(d.name) << numberCell(d.estimate.value)
             << numberCell(d.estimate.lower) << numberCell(d.estimate.upper) << "</tr>\n";
    }
    html << "</table>\n<p class=\"note\">Centre and width along the " << htmlEscape(m.axis)
         << " axis, in the data's length unit; limits of derived quantities and selection "
            "coefficients are their range over the "
         << m.limitPoints << " evaluated points within " << reportNumber(units)
         << " log-likelihood units of the best (the estimate and the profile points).</p>\n";
    html << "<h3>Settledness of the equilibrium</h3>\n<p>" << htmlEscape(m.settledness) << "</p>\n";
    if (!m.fitFigure.empty()) {
        html << "<figure>" << inlineSvg(m.fitFigure)
             << "<figcaption>Observed and fitted genotype frequencies, the allele frequency with "
                "95% Wilson intervals, and the envelope of the fits within the support "
                "limit.</figcaption></figure>\n";
    }
    if (!m.profileFigure.empty()) {
        html << "<figure>" << inlineSvg(m.profileFigure)
             << "<figcaption>Profile likelihood of each parameter: &minus;lnL above its "
                "minimum, with the support limit dashed.</figcaption></figure>\n";
    }
    html << "</section>\n";
}

void runTable(std::ostringstream& html, const RunFacts& r) {
    auto row = [&html](const char* name, const std::string& value) {
        html << "<tr><th class=\"text\">" << name << "</th>" << textCell(value) << "</tr>\n";
    };
    char seconds[64];
    html << "<h2>What was run</h2>\n<table id=\"run-table\">\n";
    row("program version", r.version);
    row("command", r.command);
    row("effort", r.effort);
    row("seed", std::to_string(r.seed));
    row("data file", r.dataFile);
    row("data checksum", r.dataChecksum.empty() ? "(built-in data)" : r.dataChecksum);
    std::snprintf(seconds, sizeof seconds, "%.1f s", r.cpuSeconds);
    row("CPU time", seconds);
    std::snprintf(seconds, sizeof seconds, "%.1f s", r.wallSeconds);
    row("wall time", seconds);
    html << "</table>\n";
}

} // namespace

std::string renderReportHtml(const Analysis& analysis) {
    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
            "<title>Hybrid-zone analysis: "
         << htmlEscape(analysis.run.dataFile) << "</title>\n"
         << style << "</head>\n<body>\n<h1>Hybrid-zone analysis</h1>\n<p>Data: "
         << htmlEscape(analysis.run.dataFile) << ". Effort: " << htmlEscape(analysis.run.effort)
         << ".</p>\n";
    modelTable(html, analysis);
    clineTable(html, analysis);
    html << "<h2>Definitions</h2>\n<p>Support limits are where the profile likelihood of a "
            "parameter (the others re-optimised) rises "
         << reportNumber(analysis.run.units)
         << " log-likelihood units above its minimum; &ldquo;not reached&rdquo; marks a side "
            "where it never did within the parameter's box (the value shown is the farthest "
            "examined). Fitnesses w are relative to a reference genotype of fitness 1; the "
            "selection coefficient of a genotype is s = 1 &minus; w / w<sub>max</sub>, "
            "w<sub>max</sub> the largest fitness of the three genotypes in the same region, so "
            "that s = 0 for the fittest genotype and s = 1 for a lethal one. F_IS is the "
            "heterozygote deficit 1 &minus; H<sub>obs</sub>/H<sub>exp</sub> of the predicted "
            "frequencies within demes; &sigma;<sub>eff</sub> the standard deviation of the "
            "simulated dispersal kernel.</p>\n";
    for (const ModelAnalysis& m : analysis.models) {
        modelSection(html, m, analysis.run.units);
    }
    for (const DescriptiveCline& c : analysis.clines) {
        clineSection(html, c, 2.0);
    }
    runTable(html, analysis.run);
    html << "</body>\n</html>\n";
    return html.str();
}
