#include "tools/analysis/plot_envelope.h"

#include "tools/analysis/cline.h"
#include "tools/formats/cli.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

// The objective a comment line records, if it records one. False for an unknown name.
bool readObjectiveComment(const std::string& line, EnvelopeCurve& curve) {
    const std::string tag = "# objective: ";
    if (line.compare(0, tag.size(), tag) != 0) {
        return true;
    }
    return parseObjectiveKind(line.substr(tag.size()), curve.objective);
}

bool headerFits(const std::vector<std::string>& header, const ModelEntry& model) {
    const std::size_t count = static_cast<std::size_t>(model.parameterCount);
    if (header.size() < 5 + count || header[0] != "parameter" || header[1] != "side" ||
        header[2] != "fixed" || header[3] != "minus_lnL" || header.back() != "evaluations") {
        return false;
    }
    for (std::size_t j = 0; j < count; j++) {
        if (header[4 + j] != model.parameters[j].name) {
            return false;
        }
    }
    return true;
}

} // namespace

bool readEnvelopeCurve(const std::string& path, const ModelEntry& model, EnvelopeCurve& curve,
                       std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    EnvelopeCurve read;
    std::string line;
    int number = 0;
    bool haveHeader = false;
    while (std::getline(in, line)) {
        number++;
        if (line.rfind("#", 0) != 0) {
            haveHeader = true;
            break;
        }
        if (!readObjectiveComment(line, read)) {
            error = path + ":" + std::to_string(number) + ": unknown objective in '" + line +
                    "' (zonefit or settled)";
            return false;
        }
    }
    const std::vector<std::string> header =
        haveHeader ? splitAt(line, '\t') : std::vector<std::string>();
    if (!headerFits(header, model)) {
        std::string names;
        for (int j = 0; j < model.parameterCount; j++) {
            names += std::string(" ") + model.parameters[j].name;
        }
        error = path + ":" + std::to_string(std::max(number, 1)) +
                ": not a profile curve of model " + std::to_string(model.number) +
                " (its header must read 'parameter side fixed minus_lnL" + names +
                "', then end 'evaluations')";
        return false;
    }
    const std::size_t count = static_cast<std::size_t>(model.parameterCount);
    while (std::getline(in, line)) {
        number++;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const std::vector<std::string> row = splitAt(line, '\t');
        if (row.size() != header.size()) {
            error = where + std::to_string(row.size()) + " fields, the header has " +
                    std::to_string(header.size());
            return false;
        }
        std::vector<double> point(count);
        for (std::size_t j = 0; j < count; j++) {
            if (!parseNumber(row[4 + j], point[j])) {
                error = where + header[4 + j] + " '" + row[4 + j] + "' is not a number";
                return false;
            }
        }
        read.points.push_back(point);
    }
    if (read.points.empty()) {
        error = path + ": no profile points";
        return false;
    }
    curve = read;
    return true;
}

Envelope envelopeOf(const ModelPrediction& fit, const std::vector<ModelPrediction>& points,
                    double units) {
    Envelope envelope;
    envelope.units = units;
    envelope.candidates = 1 + static_cast<int>(points.size());
    std::vector<const ModelPrediction*> all{&fit};
    for (const ModelPrediction& p : points) {
        all.push_back(&p);
    }
    double best = fit.value;
    for (const ModelPrediction* p : all) {
        best = std::min(best, p->value);
    }
    const std::size_t n = fit.lines.x.size();
    for (const ModelPrediction* p : all) {
        if (!(p->value <= best + units) || n == 0 || p->lines.genotypes.size() != n) {
            continue;
        }
        if (envelope.within == 0) {
            envelope.x = fit.lines.x;
            envelope.low = p->lines.genotypes;
            envelope.high = p->lines.genotypes;
            envelope.lowP.assign(n, 1.0);
            envelope.highP.assign(n, 0.0);
        }
        envelope.within++;
        for (std::size_t d = 0; d < n; d++) {
            const Genotype& g = p->lines.genotypes[d];
            Genotype& lo = envelope.low[d];
            Genotype& hi = envelope.high[d];
            lo = {std::min(lo.SS, g.SS), std::min(lo.SI, g.SI), std::min(lo.II, g.II)};
            hi = {std::max(hi.SS, g.SS), std::max(hi.SI, g.SI), std::max(hi.II, g.II)};
            envelope.lowP[d] = std::min(envelope.lowP[d], alleleFrequency(g));
            envelope.highP[d] = std::max(envelope.highP[d], alleleFrequency(g));
        }
    }
    return envelope;
}

bool envelopeFromCurves(const DataContext& data, const ModelEntry& model,
                        const std::vector<double>& fitPoint, ObjectiveKind fitObjective,
                        const ModelPrediction& fit, const std::vector<std::string>& paths,
                        double units, Envelope& envelope, std::string& error,
                        std::ostream* diagnostics) {
    // Each distinct point once: the estimate rows of every parameter repeat the fit's point.
    std::vector<std::pair<ObjectiveKind, std::vector<double>>> seen{{fitObjective, fitPoint}};
    std::vector<ModelPrediction> predictions;
    for (const std::string& path : paths) {
        EnvelopeCurve curve;
        if (!readEnvelopeCurve(path, model, curve, error)) {
            return false;
        }
        for (const std::vector<double>& point : curve.points) {
            const std::pair<ObjectiveKind, std::vector<double>> key{curve.objective, point};
            if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
                continue;
            }
            seen.push_back(key);
            ModelPrediction prediction;
            std::string failure;
            if (!predictForFigure(data, model, point, curve.objective, prediction, failure,
                                  diagnostics)) {
                error = path + ": a point failed to evaluate: " + failure;
                return false;
            }
            predictions.push_back(prediction);
        }
    }
    envelope = envelopeOf(fit, predictions, units);
    return true;
}
