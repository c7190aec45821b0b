// zonetool plot: an SVG figure of observed and fitted genotype frequencies along the transect.
#pragma once

#include "models/model_table.h"
#include "population/population.h"
#include "tools/plot_envelope.h"
#include "tools/plot_model_lines.h"
#include "tools/run_context.h"

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

// Round tick values covering [low, high]: about `target` steps of 1, 2 or 5 times a power of
// ten, the first at or below `low` and the last at or above `high`.
std::vector<double> niceTicks(double low, double high, int target);

// A pixel coordinate for an SVG attribute: two decimals, trailing zeros dropped ("12.5").
std::string svgNumber(double value);

// `text` with &, <, >, " and ' written as XML entities.
std::string xmlEscape(const std::string& text);

// The site positions of a model's figure: summedSiteDistances for the stepping-stone models
// (their demes are the sites, the distances their spacing), axisPositions for the kernel
// models (their grid is laid over those).
std::vector<double> sitePositionsFor(const Transect& transect, const ModelEntry& model);

// The figure of `model` at `point` with value `value`: observed counts, `predicted` (one per
// site, or empty), the borders the model takes from `point` or, for models 3 to 6, from
// `fileBorders` (border1, border2), the sites and counts those of `transect`.
PlotInput plotInputFor(const Transect& transect, const ModelEntry& model,
                       const std::vector<double>& point, double value,
                       const std::vector<Genotype>& predicted, const int fileBorders[2]);

// The standalone SVG document of a figure.
std::string renderSvg(const PlotInput& input);

// The command: zonetool plot MODEL [--result FILE] -o FILE.svg. Returns the exit status.
int plotCommand(RunContext& ctx, const std::vector<std::string>& args);

extern const char* const plotHelp;
