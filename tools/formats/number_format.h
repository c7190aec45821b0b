// The number formats of zonetool's tables, files and messages, in one place: every table cell,
// TSV column and message number is written by one of these.
#pragma once

#include <string>

// `value` in C's %.*g notation with `digits` significant digits (1 to 17).
std::string formatNumber(double value, int digits);

// `value` with 17 significant digits: enough to read back the same double.
std::string format17(double value);

// A number as a table cell: `decimals` fixed decimals below 1e12 in magnitude, else exponent
// notation with as many ("1.7977e+308"), so that no cell is wider than about 20 characters;
// "inf" and "-inf" for infinities, "-" for NaN (what does not exist).
std::string fixedCell(double value, int decimals);
