// A start vector and simplex steps for one model, derived from a transect's own counts: the
// observed cline gives the contact or border positions and the dispersal scale, the observed
// heterozygote deficit the selfing rate.
#pragma once

#include "data/borders.h"
#include "data/transect_file.h"
#include "models/model_table.h"

#include <string>
#include <vector>

// The observed cline of the S allele, fitted as p(x) = 1 / (1 + exp(+-4 (x - centre) / width))
// to the allele counts (2 SS + SI of 2 n at each site) by maximum binomial likelihood over a
// grid of centres and widths.
struct ObservedCline {
    double centre = 0.0; // where the fitted S frequency is 1/2, on the axis given
    double width = 0.0;  // 1 / the largest slope of the fitted curve, in the axis' unit (> 0)
    bool sLeft = true;   // S dominates the low end of the axis (the built-in transect's way)
};

// The cline through the sites of `transect` at the axis values `x` (one per site). The centre
// lies between the smallest and largest x; the width from 1/100 of that span to twice it.
ObservedCline fitObservedCline(const Transect& transect, const std::vector<double>& x);

// The distance of each site of `transect` from site 0, summed over neighbouring sites: the
// stepping-stone models' axis.
std::vector<double> summedDistances(const Transect& transect);

// The pooled heterozygote deficit F_IS = 1 - sum SI / sum 2 n p (1 - p) of the sites
// first <= i < last, p the observed S frequency of each site. NaN when no site is polymorphic.
double observedDeficit(const Transect& transect, int first, int last);

// The selfing rate whose equilibrium deficit F / (2 - F) is `deficit`, kept within 0.02 to
// 0.9 (0.02 for a deficit that is NaN or not above 0).
double selfingFromDeficit(double deficit);

// The region borders (deme indices) that models 3 to 6 would be given for `transect`: the
// first sites at or beyond the points where the fitted cline on the summed-distance axis
// passes S frequencies 0.9 and 0.1, kept so that 1 <= border1 < border2 <= N - 1 (N sites).
Borders derivedBorders(const Transect& transect);

// A derived start and its steps, both with model.parameterCount entries.
struct DerivedStart {
    std::vector<double> start;
    std::vector<double> steps;
    ObservedCline cline;          // on the model's own axis
    bool regionsReversed = false; // S dominates the high end: region fitnesses mirrored
};

// The start of `model` for `transect`, strictly inside every bound of `box` (the box the model
// tests for this transect): fitnesses mildly underdominant (one region: 1.05 for both
// homozygotes against 1 for SI) or, with several regions, each outer region mildly favouring
// the homozygote that dominates its end; sigma = width / 25 times `sigmaFactor`; the selfing
// rate from the observed deficit
// (per region for model 5, within `borders`); contact positions at the centre, border
// positions at the 0.9 and 0.1 points of the cline. Every value is rounded to 4 significant
// digits where that keeps it strictly inside its box. Steps: 0.15 for a fitness, 0.05 for a
// selfing rate, 15 percent of sigma, a sixth of the box for a contact or border deme and a
// fifth for a border position; each step points inward where start + step would leave the box.
DerivedStart deriveStart(const ModelEntry& model, const ModelBox& box, const Transect& transect,
                         const Borders& borders, double sigmaFactor = 1.0);

// Whether `value` lies inside the box of `parameter` and on neither bound.
bool strictlyInside(const ParameterInfo& parameter, double value);

// The two rows of a start-vector file: the start, then the steps, each value in its shortest
// exact text, separated by blanks, each row ending in a newline.
std::string startFileText(const DerivedStart& derived);
