// Inputs of fits that end within a fraction of a second, for tests of what the fit commands
// do around a fit rather than of the fit itself.
#pragma once

// Three sites with 3000 individuals of each genotype: -lnL near 3e4 (below the penalty unit),
// so that the annealer's thermal noise is small beside it and a simplex of zero steps
// converges within a few hundred evaluations. Each evaluation simulates three demes.
inline const char* const bigSampleTransect = "site position distance SS SI II\n"
                                             "a 0 100 3000 3000 3000\n"
                                             "b 100 326.644 3000 3000 3000\n"
                                             "c 426.644 NA 3000 3000 3000\n";

// Start vectors inside the boxes of models 1 and 2 on that transect, with zero steps.
inline const char* const quickStart1 = "1 1 0.5 15\n0 0 0 0\n";
inline const char* const quickStart2 = "1 1 1 1 0.5 10 2\n0 0 0 0 0 0 0\n";
