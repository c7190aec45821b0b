// What a figure of observed and fitted genotype frequencies shows, in data units: the type
// that the figure's parts fill in and that zonetool plot renders.
#pragma once

#include "population/population.h"
#include "tools/analysis/plot_envelope.h"
#include "tools/analysis/plot_model_lines.h"

#include <limits>
#include <string>
#include <vector>

// Everything a figure shows, in data units.
struct PlotInput {
    std::string title;
    std::string subtitle;
    std::string xLabel;
    std::vector<double> x;    // position of each site on the figure's axis
    std::vector<int> countSS; // observed counts at each site
    std::vector<int> countSI;
    std::vector<int> countII;
    std::vector<Genotype> predicted; // fitted frequencies at each site; empty for none
    // The fitted frequencies at the model's own resolution, drawn as its lines; when empty the
    // lines join `predicted` at the sites in the order of x.
    ModelLines lines;
    Envelope envelope; // the band of the fits within the support limit; none without demes
    std::vector<double> borders; // positions of region borders or contacts
    std::string borderLabel;     // legend text of the borders
    double centre = std::numeric_limits<double>::quiet_NaN(); // cline centre on the axis; NaN
                                                              // for none
};
