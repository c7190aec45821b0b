// The report of `zonetool analyse`: one self-contained HTML file (figures inline as SVG, no
// scripts, nothing fetched) that a biologist can read and quote from.
#pragma once

#include "tools/analysis/analyse_results.h"

#include <string>

// `text` with &, <, >, " and ' written as character references, for text and attribute
// values alike.
std::string htmlEscape(const std::string& text);

// A number for a report cell: 6 significant digits, "–" for one that does not exist.
std::string reportNumber(double value);

// The SVG element of a standalone SVG document, for inlining (its XML declaration dropped).
std::string inlineSvg(const std::string& document);

// The whole report. Tables: "model-table" (one row per model, best first, with its model
// number in data-model), per model "estimates-N", "selection-N" and "derived-N"; every
// number cell carries its full-precision value in data-value.
std::string renderReportHtml(const Analysis& analysis);
