// The output of `zonetool cline`: the fits and the concordance test as an aligned table, as
// tab-separated values or as JSON, and the record file of one shape's fits.
#pragma once

#include "tools/analysis/cline_concordance.h"
#include "tools/analysis/descriptive_fit.h"

#include <optional>
#include <string>
#include <vector>

// Everything one run found: fits of one or more shapes, for each locus (or the one transect).
struct ClineRun {
    ClineAxis axis = ClineAxis::position;
    bool hasLoci = false;                        // the file has a locus column
    std::vector<DescriptiveFit> fits;            // by shape, then locus
    std::optional<ClineConcordance> concordance; // with two loci or more
};

// The aligned table: a line naming the axis and the allele whose frequency p is, then one row
// per fit: shape, locus, centre and its limits, width and its limits, F, -lnL, k, AICc; then the
// further parameters of fits that have any, and the concordance test.
std::string clineTable(const ClineRun& run);

// Tab-separated: a "# axis: A" line, then a header and one row per fit and parameter:
// shape, locus, allele, k, -lnL, AICc, parameter, estimate, lower, upper (numbers %.17g; the
// locus NA without loci); then, with several loci, a "# concordance" header line and one row:
// shape, shared_lnL, separate_lnL, shared_aicc, separate_aicc, lr, df, p.
std::string clineTsv(const ClineRun& run);

// The JSON object {"axis", "fits": [...], "concordance"?}: each fit has shape, fis, ends,
// locus (null without loci), allele, value (-lnL), k, n, aicc, seconds and parameters, a list
// of {name, estimate, lower, upper, lower_open, upper_open}; the concordance {shape,
// shared_aicc, separate_aicc, lr, df, p, shared_value, separate_value}. Numbers at %.17g,
// infinite ones null.
std::string clineJson(const ClineRun& run);

// A fit as one JSON object of the above.
std::string clineFitJson(const DescriptiveFit& fit, bool hasLoci);

// The record of one shape's fits: the JSON object above with, in front, "record":
// "zonetool cline", "version": 1, program_version, command_line, data (null: built in) and
// data_checksum; each member on its own line.
std::string clineRecordJson(const ClineRun& run, const std::vector<std::string>& commandLine,
                            const std::string& data, const std::string& checksum);

// The record's file name for `form`: "cline_" + shape, "_Fpeak" for a peaked deficit,
// "_free" with free ends, ".json".
std::string clineRecordName(const ClineForm& form);
