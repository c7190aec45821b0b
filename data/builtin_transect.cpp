#include "data/builtin_transect.h"

const Transect& builtInTransectValue() {
    static const Transect builtIn = builtInTransect();
    return builtIn;
}

double largestPosition(const Transect& transect) {
    // A running maximum from 0: the grid always starts at position 0.
    double largest = 0.0;
    for (double p : transect.positions) {
        if (p > largest) {
            largest = p;
        }
    }
    return largest;
}

double totalDistance(const Transect& transect) {
    double sum = 0.0;
    for (double d : transect.distances) {
        sum += d;
    }
    return sum;
}
