// Maximum-likelihood fits of the descriptive clines (tools/analysis/descriptive_cline.h), with
// support limits by profile likelihood, for one transect or one locus.
#pragma once

#include "data/transect_file.h"
#include "tools/analysis/descriptive_cline.h"

#include <string>
#include <vector>

// One parameter of a fit: its estimate and its 2-unit support limits, the values where the
// profile -ln L (the other parameters refitted) rises 2 above the minimum. A limit that the
// parameter's range reaches first is that end of the range, marked open.
struct ClineEstimate {
    std::string name;
    double estimate = 0.0;
    double lower = 0.0;
    double upper = 0.0;
    bool lowerOpen = false; // the profile stays within 2 units down to the range's lower end
    bool upperOpen = false; // likewise at the upper end
};

// The range a parameter of `form` may take on data whose coordinates span [xmin, xmax]:
// centre within a span beyond either end, width from 1e-4 to 10 spans, pmin to 1/2, pmax from
// 1/2, delta 0 to one span, tau, F and F_peak 0 to 1.
void clineRanges(const ClineForm& form, double xmin, double xmax, std::vector<double>& lower,
                 std::vector<double>& upper);

// One fitted descriptive cline.
struct DescriptiveFit {
    ClineForm form;
    ClineAxis axis = ClineAxis::position;
    std::string locus;                     // the locus, empty for a file without loci
    bool sRises = true;                    // p is the S allele's frequency, else I's
    std::vector<double> theta;             // the estimates, in parameterNames(form) order
    double value = 0.0;                    // -ln L at theta
    int k = 0;                             // free parameters
    int individuals = 0;                   // n of AICc
    double aicc = 0.0;                     // 2k + 2 value + 2k(k + 1) / (n - k - 1)
    std::vector<ClineEstimate> parameters; // with limits when asked for
    double seconds = 0.0;                  // CPU time of the fit and its limits
};

// AICc of a fit of k free parameters with -ln L `value` on n individuals.
double clineAicc(double value, int k, int n);

// The minimum of `objective` (of a vector of `lower.size()` values, within [lower, upper])
// from each of `starts` (searched roughly when there are several), then searched again from the
// best until a step changes the value by less than `tolerance`: the best point in `best` and
// its value returned. The library's failures end here: a start that fails keeps its own value.
double minimiseWithin(double (*objective)(const std::vector<double>& x, void* context),
                      void* context, const std::vector<double>& lower,
                      const std::vector<double>& upper,
                      const std::vector<std::vector<double>>& starts, std::vector<double>& best,
                      double tolerance = 1e-10);

// Fits `form` to `data` by maximum likelihood from several starts; with `limits` also the
// profile support limits of every parameter (else lower and upper equal the estimate).
DescriptiveFit fitCline(const ClineForm& form, const ClineData& data, bool limits = true);

// The descriptive fits a report makes first: the four shapes (sigmoid, stepped-left,
// stepped-right, stepped) with `deficit` and `freeEnds`, each with its limits, fitted to
// `transect` along `axis`; `locus` is copied into the fits.
std::vector<DescriptiveFit> fitAllShapes(const Transect& transect, ClineAxis axis,
                                         DeficitShape deficit = DeficitShape::constant,
                                         bool freeEnds = false, const std::string& locus = "");
