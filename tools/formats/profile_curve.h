// The profile a search walked, as a table a user can read, plot or load elsewhere.
#pragma once

#include "tools/formats/profile_types.h"

#include <string>
#include <vector>

// The tab-separated text of the walked profile: with the points' states measured, first a
// line "# objective: settled"; a header line "parameter side fixed minus_lnL NAME...
// evaluations" (NAME each coordinate's name from `names`, x<j> past them; with the states a
// column "state" before "evaluations", as tables word them), then for
// each parameter of `outcome` a row "estimate" at `estimate` (-lnL the outcome's minimum, 0
// evaluations: the estimate is evaluated once for the whole profile), followed by its walked
// points in the order computed, side "lower" or "upper". Numbers with 17 significant digits.
std::string profileCurveText(const std::vector<std::string>& names,
                             const std::vector<double>& estimate, const ProfileOutcome& outcome);

// One parameter's profile read back: the fixed values and -lnL of its rows, in file order.
struct CurveParameter {
    std::string name;
    double estimate = 0.0;      // fixed value of its "estimate" row
    double minimum = 0.0;       // -lnL of that row
    std::vector<double> fixed;  // every row's fixed value, the estimate's included
    std::vector<double> values; // and -lnL
};

// Reads a file written by profileCurveText (lines starting with '#' before the header are
// comments): parameters in the order of their first row. False,
// with the file, the line and the reason in `error`, when the file cannot be read, its header
// is not such a header, a row has another number of fields, a side other than estimate, lower
// or upper, a number that does not read, or a parameter lacks its estimate row.
bool readProfileCurve(const std::string& path, std::vector<CurveParameter>& parameters,
                      std::string& error);
