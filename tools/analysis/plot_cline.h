// zonetool plot --cline: the figure of a descriptive cline from its record, drawn like a
// model's figure.
#pragma once

#include "data/transect_file.h"
#include "tools/analysis/plot_input.h"

#include <string>

// The figure of the fit in the cline record at `recordPath` ('zonetool cline', cline_*.json) on
// `transect`, the transect in use: that of locus `locus` (empty: the record's only fit without a
// locus, or its first fit). Observed counts of `transect`, the cline's genotype frequencies as
// lines at 400 points across the sites, its centre marked. False with a one-line reason in
// `error` when the record cannot be read, holds no such fit, or was made on other data than
// that of checksum `checksum` (empty: the built-in transect).
bool clinePlotInput(const Transect& transect, const std::string& recordPath,
                    const std::string& locus, const std::string& checksum, PlotInput& input,
                    std::string& error);
