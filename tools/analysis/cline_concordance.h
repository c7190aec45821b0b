// Whether the loci of a transect share one cline centre and width: the likelihood-ratio test
// and AICc of shared against separate centre and width, the other parameters per locus.
#pragma once

#include "tools/analysis/descriptive_fit.h"

#include <vector>

struct ClineConcordance {
    ClineForm form;
    double sharedValue = 0.0;   // -ln L, centre and width shared, summed over the loci
    double separateValue = 0.0; // -ln L of the separate fits, summed
    int sharedK = 0;            // 2 + the other parameters of every locus
    int separateK = 0;          // every locus's k, summed
    double sharedAicc = 0.0;    // AICc on n = all individuals of all loci
    double separateAicc = 0.0;
    double lr = 0.0; // 2 (shared - separate), at least 0
    int df = 0;      // 2 (loci - 1)
    double p = 1.0;  // chi-squared upper tail of lr on df
};

// The test for the loci `data` (at least two), each already fitted alone in `separate` (same
// order, all of one form).
ClineConcordance testConcordance(const std::vector<ClineData>& data,
                                 const std::vector<DescriptiveFit>& separate);
