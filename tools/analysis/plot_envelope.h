// The envelope of a model's predictions over the points of profile curves that lie within a
// support limit of the best: the "fuzzy cline" of the fits the data support.
#pragma once

#include "models/model_table.h"
#include "models/objective_kind.h"
#include "tools/analysis/plot_model_lines.h"

#include <string>
#include <vector>

// The points of one profile curve file ('zonetool profile --curve').
struct EnvelopeCurve {
    ObjectiveKind objective = ObjectiveKind::zonefit; // as a "# objective: NAME" line records;
                                                      // zonefit's when there is none
    std::vector<std::vector<double>> points;          // every row's coordinates, in file order
};

// Reads the points of `path` for `model`: comment lines starting with '#' before the header,
// the header "parameter side fixed minus_lnL", the model's parameter names, then any further
// columns ending with "evaluations"; one row per point. False, with the file, the line and
// the reason in `error`, when the file cannot be read, names an unknown objective, its header
// is not such a header or names other coordinates, a row has another number of fields or a
// coordinate that does not read as a number, or it has no rows.
bool readEnvelopeCurve(const std::string& path, const ModelEntry& model, EnvelopeCurve& curve,
                       std::string& error);

// The band between the lowest and highest predictions at each deme of the figure.
struct Envelope {
    int candidates = 0;         // distinct points evaluated, the fit included
    int within = 0;             // of them, those within the limit that make the band
    double units = 2.0;         // the limit, in log-likelihood units above the best -lnL
    std::vector<double> x;      // the demes' positions (those of the lines)
    std::vector<Genotype> low;  // lowest predicted SS, SI and II at each deme
    std::vector<Genotype> high; // and highest
    std::vector<double> lowP;   // lowest allele frequency SS + SI/2 at each deme
    std::vector<double> highP;  // and highest
};

// The envelope over `fit` and `points` (predictions at distinct points): those whose value
// lies within `units` of the least value among them and that carry lines of the fit's length
// (penalties carry none and never count). Empty x when none does.
Envelope envelopeOf(const ModelPrediction& fit, const std::vector<ModelPrediction>& points,
                    double units);

// Reads the curves in `paths`, evaluates each distinct point once (with the objective its curve
// records; a point equal to `fitPoint` under `fitObjective` is the fit) and forms the envelope
// with `fit`. False, with the message in `error` (a curve's reason, or an evaluation's failure
// naming the curve), when a curve cannot be used. The points are evaluated on the transect and
// boxes of `data`, their diagnostics going to `diagnostics` (null: standard output).
bool envelopeFromCurves(const DataContext& data, const ModelEntry& model,
                        const std::vector<double>& fitPoint, ObjectiveKind fitObjective,
                        const ModelPrediction& fit, const std::vector<std::string>& paths,
                        double units, Envelope& envelope, std::string& error,
                        std::ostream* diagnostics = nullptr);
