#include "data/decimal_comma.h"

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::string decimalCommaFixed(const std::string& text) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        i++;
    }
    const std::size_t digitsStart = i;
    while (i < text.size() && isDigit(text[i])) {
        i++;
    }
    if (i == digitsStart || i >= text.size() || text[i] != ',') {
        return "";
    }
    const std::size_t comma = i++;
    const std::size_t fractionStart = i;
    while (i < text.size() && isDigit(text[i])) {
        i++;
    }
    if (i == fractionStart || i != text.size()) {
        return "";
    }
    std::string fixed = text;
    fixed[comma] = '.';
    return fixed;
}
