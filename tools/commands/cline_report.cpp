#include "tools/commands/cline_report.h"

#include "tools/formats/cli.h"
#include "tools/formats/fit_record.h"
#include "tools/formats/json_io.h"
#include "tools/formats/table.h"

#include <cmath>
#include <sstream>

namespace {

const char* alleleName(const DescriptiveFit& fit) {
    return fit.sRises ? "S" : "I";
}

std::string locusCell(const DescriptiveFit& fit, bool hasLoci) {
    return hasLoci ? fit.locus : "-";
}

// A limit as a table cell: '<' or '>' in front of one the range's end cut short.
std::string limitCell(double value, bool open, char mark) {
    return (open ? std::string(1, mark) : std::string()) + fixedCell(value, 3);
}

std::string number(double value) {
    return formatNumber(value, 17);
}

} // namespace

std::string clineTable(const ClineRun& run) {
    std::ostringstream out;
    out << "axis: " << axisName(run.axis);
    if (!run.fits.empty()) {
        out << "; p is the frequency of the " << alleleName(run.fits.front())
            << " allele, which rises along the axis";
    }
    out << "\n";
    Table main({Align::left, Align::left, Align::right, Align::right, Align::right, Align::right,
                Align::right, Align::right, Align::right, Align::right, Align::right,
                Align::right});
    main.addRow({"shape", "locus", "centre", "lower", "upper", "width", "lower", "upper", "F",
                 "-lnL", "k", "AICc"});
    for (const DescriptiveFit& fit : run.fits) {
        const ClineEstimate& c = fit.parameters[0];
        const ClineEstimate& w = fit.parameters[1];
        const ClineEstimate& f = fit.parameters.back();
        main.addRow({tailsName(fit.form.tails), locusCell(fit, run.hasLoci),
                     fixedCell(c.estimate, 3), limitCell(c.lower, c.lowerOpen, '<'),
                     limitCell(c.upper, c.upperOpen, '>'), fixedCell(w.estimate, 3),
                     limitCell(w.lower, w.lowerOpen, '<'), limitCell(w.upper, w.upperOpen, '>'),
                     fixedCell(f.estimate, 3), fixedCell(fit.value, 4), std::to_string(fit.k),
                     fixedCell(fit.aicc, 4)});
    }
    out << main.aligned();
    Table other({Align::left, Align::left, Align::left, Align::right, Align::right, Align::right});
    bool any = false;
    for (const DescriptiveFit& fit : run.fits) {
        for (std::size_t i = 2; i + 1 < fit.parameters.size(); i++) {
            if (!any) {
                other.addRow({"shape", "locus", "parameter", "estimate", "lower", "upper"});
                any = true;
            }
            const ClineEstimate& e = fit.parameters[i];
            other.addRow({tailsName(fit.form.tails), locusCell(fit, run.hasLoci), e.name,
                          fixedCell(e.estimate, 4), limitCell(e.lower, e.lowerOpen, '<'),
                          limitCell(e.upper, e.upperOpen, '>')});
        }
    }
    if (any) {
        out << "\n" << other.aligned();
    }
    if (run.concordance) {
        const ClineConcordance& c = *run.concordance;
        out << "\nconcordance (" << tailsName(c.form.tails)
            << "): one centre and width for all loci against one per locus\n"
            << "  shared:   -lnL " << fixedCell(c.sharedValue, 4) << ", k " << c.sharedK
            << ", AICc " << fixedCell(c.sharedAicc, 4) << "\n"
            << "  separate: -lnL " << fixedCell(c.separateValue, 4) << ", k " << c.separateK
            << ", AICc " << fixedCell(c.separateAicc, 4) << "\n"
            << "  LR " << fixedCell(c.lr, 4) << " on " << c.df
            << " df, p = " << formatNumber(c.p, 4) << "\n";
    }
    out << "limits: 2 log-likelihood units by profile; < or > marks the end of the "
           "parameter's range\n";
    return out.str();
}

std::string clineTsv(const ClineRun& run) {
    std::ostringstream out;
    out << "# axis: " << axisName(run.axis) << "\n";
    out << "shape\tlocus\tallele\tk\t-lnL\tAICc\tparameter\testimate\tlower\tupper\n";
    for (const DescriptiveFit& fit : run.fits) {
        for (const ClineEstimate& e : fit.parameters) {
            out << tailsName(fit.form.tails) << '\t' << (run.hasLoci ? fit.locus : "NA") << '\t'
                << alleleName(fit) << '\t' << fit.k << '\t' << number(fit.value) << '\t'
                << number(fit.aicc) << '\t' << e.name << '\t' << number(e.estimate) << '\t'
                << number(e.lower) << '\t' << number(e.upper) << '\n';
        }
    }
    if (run.concordance) {
        const ClineConcordance& c = *run.concordance;
        out << "# concordance\n"
            << "shape\tshared_lnL\tseparate_lnL\tshared_aicc\tseparate_aicc\tlr\tdf\tp\n"
            << tailsName(c.form.tails) << '\t' << number(c.sharedValue) << '\t'
            << number(c.separateValue) << '\t' << number(c.sharedAicc) << '\t'
            << number(c.separateAicc) << '\t' << number(c.lr) << '\t' << c.df << '\t' << number(c.p)
            << '\n';
    }
    return out.str();
}

std::string clineFitJson(const DescriptiveFit& fit, bool hasLoci) {
    std::ostringstream out;
    out << "{\"shape\": " << jsonQuote(tailsName(fit.form.tails))
        << ", \"fis\": " << jsonQuote(deficitName(fit.form.deficit))
        << ", \"ends\": " << jsonQuote(fit.form.freeEnds ? "free" : "fixed")
        << ", \"axis\": " << jsonQuote(axisName(fit.axis))
        << ", \"locus\": " << (hasLoci ? jsonQuote(fit.locus) : std::string("null"))
        << ", \"allele\": " << jsonQuote(alleleName(fit))
        << ", \"value\": " << jsonNumber(fit.value) << ", \"k\": " << fit.k
        << ", \"n\": " << fit.individuals << ", \"aicc\": " << jsonNumber(fit.aicc)
        << ", \"seconds\": " << jsonNumber(fit.seconds) << ", \"parameters\": [";
    for (std::size_t i = 0; i < fit.parameters.size(); i++) {
        const ClineEstimate& e = fit.parameters[i];
        out << (i > 0 ? ", " : "") << "{\"name\": " << jsonQuote(e.name)
            << ", \"estimate\": " << jsonNumber(e.estimate)
            << ", \"lower\": " << jsonNumber(e.lower) << ", \"upper\": " << jsonNumber(e.upper)
            << ", \"lower_open\": " << (e.lowerOpen ? "true" : "false")
            << ", \"upper_open\": " << (e.upperOpen ? "true" : "false") << "}";
    }
    out << "]}";
    return out.str();
}

namespace {

std::string concordanceJson(const ClineConcordance& c) {
    return "{\"shape\": " + jsonQuote(tailsName(c.form.tails)) +
           ", \"shared_aicc\": " + jsonNumber(c.sharedAicc) +
           ", \"separate_aicc\": " + jsonNumber(c.separateAicc) + ", \"lr\": " + jsonNumber(c.lr) +
           ", \"df\": " + std::to_string(c.df) + ", \"p\": " + jsonNumber(c.p) +
           ", \"shared_value\": " + jsonNumber(c.sharedValue) +
           ", \"separate_value\": " + jsonNumber(c.separateValue) + "}";
}

// The members of the run, each on its own line after `indent`, fits one per line.
std::string runMembers(const ClineRun& run) {
    std::string out = "  \"axis\": " + jsonQuote(axisName(run.axis)) + ",\n  \"fits\": [";
    for (std::size_t i = 0; i < run.fits.size(); i++) {
        out += (i > 0 ? ",\n    " : "\n    ") + clineFitJson(run.fits[i], run.hasLoci);
    }
    out += run.fits.empty() ? "]" : "\n  ]";
    if (run.concordance) {
        out += ",\n  \"concordance\": " + concordanceJson(*run.concordance);
    }
    return out + "\n";
}

} // namespace

std::string clineJson(const ClineRun& run) {
    return "{\n" + runMembers(run) + "}\n";
}

std::string clineRecordJson(const ClineRun& run, const std::vector<std::string>& commandLine,
                            const std::string& data, const std::string& checksum) {
    std::string out = "{\n  \"record\": \"zonetool cline\",\n  \"version\": 1,\n";
    out += "  \"program_version\": " + jsonQuote(programVersion()) + ",\n";
    out += "  \"command_line\": [";
    const std::vector<std::string>& words = commandLine;
    for (std::size_t i = 0; i < words.size(); i++) {
        out += (i > 0 ? ", " : "") + jsonQuote(words[i]);
    }
    out += "],\n  \"data\": " + (data.empty() ? std::string("null") : jsonQuote(data)) + ",\n";
    out +=
        "  \"data_checksum\": " + (checksum.empty() ? std::string("null") : jsonQuote(checksum)) +
        ",\n";
    return out + runMembers(run) + "}\n";
}

std::string clineRecordName(const ClineForm& form) {
    return std::string("cline_") + tailsName(form.tails) +
           (form.deficit == DeficitShape::peak ? "_Fpeak" : "") + (form.freeEnds ? "_free" : "") +
           ".json";
}
