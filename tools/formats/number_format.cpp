#include "tools/formats/number_format.h"

#include <cmath>
#include <cstdio>

std::string formatNumber(double value, int digits) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    return text;
}

std::string format17(double value) {
    return formatNumber(value, 17);
}

std::string fixedCell(double value, int decimals) {
    if (std::isnan(value)) {
        return "-";
    }
    if (std::isinf(value)) {
        return value > 0 ? "inf" : "-inf";
    }
    // Fixed notation would print a penalty-sized value with some 300 digits.
    char text[64];
    std::snprintf(text, sizeof text, std::fabs(value) < 1e12 ? "%.*f" : "%.*e", decimals, value);
    return text;
}
