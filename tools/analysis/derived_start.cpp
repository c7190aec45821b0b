#include "tools/analysis/derived_start.h"

#include "tools/formats/cli.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

// Observed cline widths per sigma of a start. A cline held by a heterozygote disadvantage s is
// sqrt(8 / s) sigma wide; 25 is that of s = 0.0128, a narrower start than the fitnesses' 5
// percent would hold: underdominant clines in a short row of demes drift off unless pinned,
// and a narrow one is pinned.
constexpr double widthsPerSigma = 25.0;

// ln 9 / 4: how far from the centre, in widths, the fitted cline passes 0.9 and 0.1.
constexpr double tailOffset = 0.5493061443340549;

// Share of a finite box kept free at each end, so that a start never sits on a bound.
constexpr double boxMargin = 0.05;

double logLikelihood(const std::vector<double>& x, const std::vector<double>& sAlleles,
                     const std::vector<double>& alleles, double centre, double width,
                     double direction) {
    double sum = 0.0;
    for (std::size_t i = 0; i < x.size(); i++) {
        double p = 1.0 / (1.0 + std::exp(direction * 4.0 * (x[i] - centre) / width));
        // A site beyond the cline's reach still costs something for an allele of the other side.
        p = std::min(std::max(p, 1e-9), 1.0 - 1e-9);
        sum += sAlleles[i] * std::log(p) + (alleles[i] - sAlleles[i]) * std::log(1.0 - p);
    }
    return sum;
}

bool named(const ParameterInfo& parameter, const char* name) {
    return std::strcmp(parameter.name, name) == 0;
}

bool startsWith(const ParameterInfo& parameter, const char* prefix) {
    return std::strncmp(parameter.name, prefix, std::strlen(prefix)) == 0;
}

bool finiteBox(const ParameterInfo& parameter) {
    return std::isfinite(parameter.lower) && std::isfinite(parameter.upper);
}

// `value` moved strictly inside the box, a margin away from each finite bound.
double inside(const ParameterInfo& parameter, double value) {
    const double lower = parameter.lower;
    const double upper = parameter.upper;
    if (finiteBox(parameter)) {
        if (std::isnan(value)) {
            return (lower + upper) / 2.0;
        }
        value = std::min(std::max(value, lower), upper);
        // A twentieth of the box, but no more than a twentieth of the value itself, so that
        // a fitness of 1.05 in the box [0, 10000] stays 1.05.
        double margin = boxMargin * (upper - lower);
        if (value != 0.0) {
            margin = std::min(margin, boxMargin * std::fabs(value));
        }
        return std::min(std::max(value, lower + margin), upper - margin);
    }
    const double slack = 0.05 * std::max(1.0, std::fabs(std::isfinite(lower) ? lower : upper));
    if (std::isnan(value)) {
        value = std::isfinite(lower) ? lower + 1.0 : (std::isfinite(upper) ? upper - 1.0 : 0.0);
    }
    if (std::isfinite(lower) && !(value > lower + slack)) {
        return lower + slack;
    }
    if (std::isfinite(upper) && !(value < upper - slack)) {
        return upper - slack;
    }
    return value;
}

// Region of a fitness or selfing parameter from its name's suffix: 0 at the low end of the
// axis, 2 at the high end, 1 in the middle or for a model of one region.
int regionOf(const ParameterInfo& parameter) {
    const std::string name = parameter.name;
    const auto ends = [&name](const char* suffix) {
        const std::size_t n = std::strlen(suffix);
        return name.size() >= n && name.compare(name.size() - n, n, suffix) == 0;
    };
    if (ends("_L") || ends("_1")) {
        return 0;
    }
    if (ends("_R") || ends("_3")) {
        return 2;
    }
    return 1;
}

// The fitness of a start. Fitnesses relative to SI (wSS, wII of models 1, 2, 7 to 10) or to
// SS (wSI, wII of models 3 to 6); `sRegion` is 0 for the region at the S end, 2 for the one
// at the II end, 1 for the middle or a single region.
double startFitness(const ParameterInfo& parameter, bool relativeToSS, int sRegion) {
    const bool ss = startsWith(parameter, "wSS");
    const bool si = startsWith(parameter, "wSI");
    if (relativeToSS) {
        // SS 1: the S end favours SS, the II end II, the middle has the heterozygote less fit.
        const double siByRegion[3] = {0.95, 0.95, 1.05};
        const double iiByRegion[3] = {0.9, 1.0, 1.1};
        return si ? siByRegion[sRegion] : iiByRegion[sRegion];
    }
    // SI 1: both homozygotes 5 percent fitter in the middle; at each end its own homozygote.
    const double ssByRegion[3] = {1.05, 1.05, 0.95};
    const double iiByRegion[3] = {0.95, 1.05, 1.05};
    return ss ? ssByRegion[sRegion] : iiByRegion[sRegion];
}

// The deme regions of the border file's rule: below border1 region 0, from border2 on
// region 2, between them region 1; returns [first, last) of `region`.
void regionRange(const Borders& borders, int sites, int region, int& first, int& last) {
    const int b1 = std::min(std::max(borders.border1, 0), sites);
    const int b2 = std::min(std::max(borders.border2, 0), sites);
    if (region == 0) {
        first = 0;
        last = std::min(b1, b2);
    } else if (region == 1) {
        first = b1;
        last = std::max(b1, b2);
    } else {
        first = b2;
        last = sites;
    }
}

double rounded(const ParameterInfo& parameter, double value) {
    const double four = std::strtod(formatNumber(value, 4).c_str(), nullptr);
    return strictlyInside(parameter, four) ? four : value;
}

// A step of `size` from `start`, turned inward or shortened until start + step lies strictly
// inside the box; 0 when nothing does.
double inwardStep(const ParameterInfo& parameter, double start, double size) {
    for (int halving = 0; halving < 40; halving++) {
        if (strictlyInside(parameter, start + size)) {
            return size;
        }
        if (strictlyInside(parameter, start - size)) {
            return -size;
        }
        size /= 2.0;
    }
    return 0.0;
}

} // namespace

bool strictlyInside(const ParameterInfo& parameter, double value) {
    return insideBox(parameter, value) && value != parameter.lower && value != parameter.upper;
}

std::vector<double> summedDistances(const Transect& transect) {
    std::vector<double> x(static_cast<std::size_t>(transect.siteCount()), 0.0);
    for (std::size_t i = 1; i < x.size(); i++) {
        x[i] = x[i - 1] + transect.distances[i - 1];
    }
    return x;
}

ObservedCline fitObservedCline(const Transect& transect, const std::vector<double>& x) {
    std::vector<double> sAlleles;
    std::vector<double> alleles;
    for (int i = 0; i < transect.siteCount(); i++) {
        sAlleles.push_back(2.0 * transect.countSS[i] + transect.countSI[i]);
        alleles.push_back(2.0 * (static_cast<double>(transect.countSS[i]) + transect.countSI[i] +
                                 transect.countII[i]));
    }
    ObservedCline cline;
    if (x.empty()) {
        cline.width = 1.0;
        return cline;
    }
    const double low = *std::min_element(x.begin(), x.end());
    const double high = *std::max_element(x.begin(), x.end());
    const double span = high - low;
    if (!(span > 0.0)) {
        cline.centre = low;
        cline.width = 1.0;
        return cline;
    }
    // A coarse grid over the whole axis, then a fine one around its best point.
    constexpr int centres = 100;
    constexpr int widths = 40;
    const double widthLow = span / 100.0;
    const double widthRatio = std::pow(200.0, 1.0 / widths); // up to twice the span
    double best = -std::numeric_limits<double>::infinity();
    int bestCentre = 0;
    int bestWidth = 0;
    for (double direction : {1.0, -1.0}) {
        for (int c = 0; c <= centres; c++) {
            for (int w = 0; w <= widths; w++) {
                const double value = logLikelihood(x, sAlleles, alleles, low + span * c / centres,
                                                   widthLow * std::pow(widthRatio, w), direction);
                if (value > best) {
                    best = value;
                    bestCentre = c;
                    bestWidth = w;
                    cline.sLeft = direction > 0.0;
                }
            }
        }
    }
    const double direction = cline.sLeft ? 1.0 : -1.0;
    cline.centre = low + span * bestCentre / centres;
    cline.width = widthLow * std::pow(widthRatio, bestWidth);
    const double coarseCentre = cline.centre;
    const double coarseWidth = cline.width;
    constexpr int fine = 20;
    for (int c = -fine; c <= fine; c++) {
        const double centre = coarseCentre + span / centres * c / fine;
        if (centre < low || centre > high) {
            continue;
        }
        for (int w = -fine; w <= fine; w++) {
            const double width = coarseWidth * std::pow(widthRatio, static_cast<double>(w) / fine);
            const double value = logLikelihood(x, sAlleles, alleles, centre, width, direction);
            if (value > best) {
                best = value;
                cline.centre = centre;
                cline.width = width;
            }
        }
    }
    return cline;
}

double observedDeficit(const Transect& transect, int first, int last) {
    double observed = 0.0;
    double expected = 0.0;
    for (int i = std::max(first, 0); i < std::min(last, transect.siteCount()); i++) {
        const double n =
            static_cast<double>(transect.countSS[i]) + transect.countSI[i] + transect.countII[i];
        const double p = (2.0 * transect.countSS[i] + transect.countSI[i]) / (2.0 * n);
        // Nei's sample-size correction: a single heterozygote shows no deficit.
        expected += n * 2.0 * p * (1.0 - p) * (2.0 * n / (2.0 * n - 1.0));
        observed += transect.countSI[i];
    }
    if (!(expected > 0.0)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return 1.0 - observed / expected;
}

double selfingFromDeficit(double deficit) {
    if (!(deficit > 0.0)) {
        return 0.02;
    }
    // At equilibrium under partial selfing F_IS = F / (2 - F), so F = 2 F_IS / (1 + F_IS).
    return std::min(std::max(2.0 * deficit / (1.0 + deficit), 0.02), 0.9);
}

Borders derivedBorders(const Transect& transect) {
    const std::vector<double> x = summedDistances(transect);
    const ObservedCline cline = fitObservedCline(transect, x);
    const int sites = transect.siteCount();
    const auto firstAtOrBeyond = [&x, sites](double at) {
        int i = 0;
        while (i < sites && x[static_cast<std::size_t>(i)] < at) {
            i++;
        }
        return i;
    };
    Borders borders;
    borders.border1 =
        std::min(std::max(firstAtOrBeyond(cline.centre - tailOffset * cline.width), 1), sites - 2);
    borders.border2 = std::min(
        std::max(firstAtOrBeyond(cline.centre + tailOffset * cline.width), borders.border1 + 1),
        sites - 1);
    return borders;
}

DerivedStart deriveStart(const ModelEntry& model, const ModelBox& box, const Transect& transect,
                         const Borders& borders, double sigmaFactor) {
    DerivedStart derived;
    const bool kernel = model.geometry == Geometry::kernelGrid;
    const std::vector<double> x = kernel ? transect.positions : summedDistances(transect);
    derived.cline = fitObservedCline(transect, x);
    const ObservedCline& cline = derived.cline;
    derived.regionsReversed = !cline.sLeft;
    const double sigma = cline.width / widthsPerSigma * sigmaFactor;
    const int sites = transect.siteCount();
    const double selfing = selfingFromDeficit(observedDeficit(transect, 0, sites));
    const bool relativeToSS = findParameter(model, "wSI_1") >= 0;

    for (int k = 0; k < box.parameterCount; k++) {
        const ParameterInfo& parameter = box.parameters[k];
        const double span = finiteBox(parameter) ? parameter.upper - parameter.lower : 0.0;
        double value = 0.0;
        double step = 0.0;
        if (startsWith(parameter, "w")) {
            int region = regionOf(parameter);
            if (derived.regionsReversed) {
                region = 2 - region;
            }
            value = startFitness(parameter, relativeToSS, region);
            step = 0.15;
        } else if (startsWith(parameter, "F")) {
            value = selfing;
            if (model.borders == BorderSource::borderFile &&
                (named(parameter, "F_1") || named(parameter, "F_2") || named(parameter, "F_3"))) {
                int first = 0;
                int last = 0;
                regionRange(borders, sites, parameter.name[2] - '1', first, last);
                const double deficit = observedDeficit(transect, first, last);
                if (!std::isnan(deficit)) {
                    value = selfingFromDeficit(deficit);
                }
            }
            step = 0.05;
        } else if (named(parameter, "sigma")) {
            value = sigma;
            step = 0.15;
        } else if (named(parameter, "border")) {
            // The deme index of the first site at or beyond the centre; the objective
            // truncates, so the half keeps rounding away from the next deme.
            int i = 0;
            while (i < sites && x[static_cast<std::size_t>(i)] < cline.centre) {
                i++;
            }
            value = i + 0.5;
            step = span / 6.0;
        } else if (named(parameter, "contact")) {
            value = cline.centre;
            step = span / 6.0;
        } else if (named(parameter, "border1") || named(parameter, "border2")) {
            value = cline.centre +
                    (named(parameter, "border1") ? -tailOffset : tailOffset) * cline.width;
            step = span / 5.0;
        }
        if (parameter.lower == parameter.upper) {
            // A box of one value (set by hand) holds the parameter fixed there.
            derived.start.push_back(parameter.lower);
            derived.steps.push_back(0.0);
            continue;
        }
        value = rounded(parameter, inside(parameter, value));
        if (named(parameter, "sigma")) {
            step *= value;
        }
        if (!(step > 0.0) || !std::isfinite(step)) {
            step = 0.15 * std::max(std::fabs(value), 1.0);
        }
        derived.start.push_back(value);
        step = std::strtod(formatNumber(step, 3).c_str(), nullptr);
        derived.steps.push_back(inwardStep(parameter, value, step));
    }
    return derived;
}

namespace {

// The shortest text that reads back to `value`, in plain decimals where a person would write
// them so (50, not 5e+01).
std::string plainText(double value) {
    std::string text = shortestText(value);
    const double magnitude = std::fabs(value);
    if (text.find('e') == std::string::npos || magnitude < 1e-4 || magnitude >= 1e15) {
        return text;
    }
    char buffer[64];
    for (int decimals = 0; decimals <= 20; decimals++) {
        std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
        if (std::strtod(buffer, nullptr) == value) {
            return buffer;
        }
    }
    return text;
}

} // namespace

std::string startFileText(const DerivedStart& derived) {
    std::string text;
    for (const std::vector<double>* row : {&derived.start, &derived.steps}) {
        for (std::size_t i = 0; i < row->size(); i++) {
            text += (i > 0 ? " " : "") + plainText((*row)[i]);
        }
        text += "\n";
    }
    return text;
}
