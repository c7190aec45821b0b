// Text of SVG figures: tick values, pixel coordinates and escaped labels.
#pragma once

#include <string>
#include <vector>

// Round tick values covering [low, high]: about `target` steps of 1, 2 or 5 times a power of
// ten, the first at or below `low` and the last at or above `high`.
std::vector<double> niceTicks(double low, double high, int target);

// A pixel coordinate for an SVG attribute: two decimals, trailing zeros dropped ("12.5").
std::string svgNumber(double value);

// `text` with &, <, >, " and ' written as XML entities.
std::string xmlEscape(const std::string& text);
