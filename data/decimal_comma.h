// Numbers written with a decimal comma, as spreadsheets in many locales write them, which the
// readers of this program do not take.
#pragma once

#include <string>

// The number `text` with its decimal comma turned into a point ("1,05" gives "1.05", "-0,3"
// gives "-0.3") when `text` is an optional sign, digits, one comma and digits (at least one
// digit on either side); otherwise the empty text.
std::string decimalCommaFixed(const std::string& text);
