// The allele-frequency panel of a fit's figure: the observed frequency of the S allele at each
// site with its 95% Wilson score interval, the model's predicted frequency, and the envelope.
#pragma once

#include "tools/analysis/plot_envelope.h"
#include "tools/analysis/plot_frame.h"
#include "tools/analysis/plot_model_lines.h"

#include <ostream>
#include <string>
#include <vector>

// The observed S-allele frequency of a site: (2 SS + SI) / (2 n), n = SS + SI + II.
double observedAlleleFrequency(int countSS, int countSI, int countII);

// Draws the panel in `frame`: its axes (x titled `xLabel`); the band of `envelope` (when it has
// any demes) in grey; a black line through the predicted S-allele frequency SS + SI/2 of
// `lines`; and, at each site x[i] with a sample, the observed frequency as a dot and its 95%
// Wilson interval on the 2n alleles as a vertical bar (group "observed-p", one bar per site
// with a sample).
void writeFrequencyPanel(std::ostream& svg, const PlotFrame& frame, const std::string& xLabel,
                         const std::vector<double>& x, const std::vector<int>& countSS,
                         const std::vector<int>& countSI, const std::vector<int>& countII,
                         const ModelLines& lines, const Envelope& envelope);
