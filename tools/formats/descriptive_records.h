// The records of `zonetool cline` (cline_*.json) found in directories, as rows that
// `zonetool compare` lists beside the mechanistic fits.
#pragma once

#include "tools/formats/table.h"

#include <string>
#include <vector>

// One descriptive fit of a record.
struct DescriptiveRow {
    std::string path;       // the record it came from
    std::string shape;      // sigmoid, stepped-left, stepped-right, stepped
    std::string fis;        // constant or peak
    std::string ends;       // fixed or free
    std::string axis;       // position or distance
    int k = 0;              // its free parameters, as the record lists them
    double value = 0.0;     // -ln L
    double aic = 0.0;       // 2k + 2 value
    double aicc = 0.0;      // with n = `individuals` of the transect compared
    double deltaAicc = 0.0; // AICc less the lowest AICc of the comparison
};

// The fits of every record named cline_*.json in `dirs` (and below with `recursive`) that were
// made on the data of checksum `checksum` (empty: the built-in transect) and, for a file with
// loci, of locus `locus` (empty: files without loci only). AIC and AICc are computed with
// `individuals` as n. Records that cannot be read, or are no cline records, are named in
// `warnings` and skipped.
std::vector<DescriptiveRow> findDescriptiveFits(const std::vector<std::string>& dirs,
                                                bool recursive, const std::string& checksum,
                                                const std::string& locus, int individuals,
                                                std::vector<std::string>& warnings);

// The rows as compare prints them after its own table, their dAICc from `lowestAicc` (that of
// the best mechanistic fit; NaN for none, then the rows' own lowest), sorted by AICc: a section
// headed "descriptive clines (zonetool cline):" (table) or "# descriptive" (tsv) with the
// columns shape, fis, ends, axis, k, -lnL, AIC, AICc, dAICc, file; for json the objects
// {"descriptive": SHAPE, "fis", "ends", "axis", "k", "negLogL", "AIC", "AICc", "dAICc",
// "file"}, one per text, to append to compare's array. Empty for no rows.
std::string descriptiveSection(std::vector<DescriptiveRow> rows, double lowestAicc,
                               TableFormat format);
std::vector<std::string> descriptiveJsonItems(std::vector<DescriptiveRow> rows, double lowestAicc);

// `items` (JSON values, one per text) added at the end of the JSON array `array` written by
// compare; `array` itself when there are none.
std::string appendToJsonArray(const std::string& array, const std::vector<std::string>& items);
