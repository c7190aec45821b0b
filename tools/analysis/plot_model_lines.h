// A model's predicted frequencies for a figure, at the model's own resolution: every deme of
// the kernel models' grid, every deme (site) of the stepping-stone models.
#pragma once

#include "models/model_table.h"
#include "models/objective_kind.h"
#include "population/population.h"
#include "tools/formats/data_option.h"

#include <string>
#include <vector>

// Predicted genotype frequencies along the figure's axis, in deme order.
struct ModelLines {
    std::vector<double> x;           // non-decreasing positions on the figure's axis
    std::vector<Genotype> genotypes; // the adults of the deme at each position
};

// What one evaluation of a model at a point gives a figure.
struct ModelPrediction {
    double value = 0.0;          // -lnL at the point (a penalty outside the box)
    std::vector<Genotype> sites; // predicted frequencies at each site; empty for a penalty
    ModelLines lines;            // the same at the model's resolution; empty for a penalty
};

// The positions of `model`'s demes on the axis its figure uses: grid deme d of a kernel model
// at d times the grid spacing (the transect axis, from 0 to the largest site position); deme i
// of a stepping-stone model at the summed distance from site 0 to site i.
std::vector<double> demePositionsFor(const Transect& transect, const ModelEntry& model);

// Evaluates `model` (whose objective is available) once at `point` under `kind`, on the
// transect and boxes of `data`, keeping what a figure draws; diagnostics go to `diagnostics`
// (null: standard output). False, with the evaluation's one-line failure in
// `error`, when the evaluation failed.
bool predictForFigure(const DataContext& data, const ModelEntry& model,
                      const std::vector<double>& point, ObjectiveKind kind,
                      ModelPrediction& prediction, std::string& error,
                      std::ostream* diagnostics = nullptr);
