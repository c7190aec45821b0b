// Cline arithmetic on predicted genotype frequencies along a transect axis: allele frequency,
// centre and width of the cline, heterozygote deficit, and the spread of a discrete kernel.
#pragma once

#include "population/population.h"

#include <vector>

// Frequency of the S allele in a genotype-frequency triple: SS + SI / 2.
double alleleFrequency(const Genotype& g);

// Centre and width of a cline p(x).
struct ClineShape {
    double centre;   // where p crosses 1/2 (linear between neighbouring sites); NaN when it
                     // never does
    double width;    // 1 / the largest |slope| between neighbouring sites; infinite when p is flat
    double maxSlope; // that largest |slope|, per unit of x
};

// The shape of the cline through the points (x[i], p[i]), taken in the order of x (any input
// order; points sharing an x are averaged into one). Slopes are those of the straight lines
// between neighbouring points. When p crosses 1/2 more than once, the centre is the crossing
// nearest to the steepest stretch. Fewer than two distinct x give NaN centre and infinite
// width.
ClineShape clineShape(const std::vector<double>& x, const std::vector<double>& p);

// The heterozygote deficit F_IS = 1 - sum_i n_i Hobs_i / sum_i n_i Hexp_i over the sites
// given, with Hobs_i = the predicted SI frequency and Hexp_i = 2 p_i (1 - p_i) from the same
// prediction, weighted by the sample sizes n_i: a deficit within demes, without the Wahlund
// effect of pooling demes across the cline. NaN when every Hexp_i (or weight) is 0.
double heterozygoteDeficit(const std::vector<Genotype>& predicted,
                           const std::vector<double>& weights);

// The standard deviation of the discrete dispersal kernel with points `points` (distances
// from the focal deme) and densities `weights`: each point carries its density times its
// Simpson weight (1, 4, 2, ..., 4, 1), normalised to sum 1, as the dispersal step combines
// them. Both lists of the same odd length.
double kernelStandardDeviation(const std::vector<double>& points,
                               const std::vector<double>& weights);
