// The field data set: genotype counts at 105 sites along the transect, the distances between
// neighbouring sites and the position of each site on the transect axis.
#pragma once

constexpr int siteCount = 105; // sites, and demes of the stepping-stone models
constexpr int gapCount = 104;  // pairs of neighbouring sites

extern const int countSS[siteCount];         // sampled SS individuals at site i
extern const int countSI[siteCount];         // sampled SI individuals at site i
extern const int countII[siteCount];         // sampled II individuals at site i
extern const double siteDistance[gapCount];  // distance between site i and site i + 1
extern const double sitePosition[siteCount]; // position of site i (not monotone)
