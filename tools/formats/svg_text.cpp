#include "tools/formats/svg_text.h"

#include <cmath>
#include <cstdio>

std::vector<double> niceTicks(double low, double high, int target) {
    if (!(high > low) || target < 1) {
        return {low};
    }
    const double rough = (high - low) / target;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (double factor : {1.0, 2.0, 5.0, 10.0}) {
        step = factor * power;
        if (step >= rough) {
            break;
        }
    }
    // Multiples of the step, formed from whole numbers so that 3 x 0.2 reads 0.6.
    const double whole = step / power;
    const double inverse = power < 1.0 ? std::round(1.0 / power) : 1.0;
    auto tickAt = [&](double k) { return power < 1.0 ? k * whole / inverse : k * whole * power; };
    std::vector<double> ticks;
    for (double k = std::floor(low / step + 1e-9);; k += 1.0) {
        const double tick = tickAt(k);
        ticks.push_back(tick == 0.0 ? 0.0 : tick);
        if (tick >= high - 1e-9 * step) {
            break;
        }
    }
    return ticks;
}

std::string svgNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    // Trim trailing zeros: shorter files, same drawing.
    std::string s = text;
    while (!s.empty() && s.back() == '0') {
        s.pop_back();
    }
    if (!s.empty() && s.back() == '.') {
        s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

std::string xmlEscape(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}
