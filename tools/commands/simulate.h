// zonetool simulate: a transect file whose counts are drawn from a model's predicted genotype
// frequencies.
#pragma once

#include "data/transect_file.h"
#include "population/population.h"
#include "tools/formats/run_context.h"
#include "tools/formats/xoshiro.h"

#include <string>
#include <vector>

// Draws `sampleSize` individuals (>= 0) at genotype frequencies `frequencies` (each >= 0,
// scaled by their sum, which must be above 0): one uniform number per individual, SS below
// the SS share, SI below SS + SI, else II. Writes the three counts.
void drawCounts(const Genotype& frequencies, int sampleSize, Xoshiro256& random, int& countSS,
                int& countSI, int& countII);

// `like` with counts drawn at `predicted` (one entry per site), site by site in transect
// order; each site keeps its sample size, or takes `samplesPerSite` when that is above 0.
Transect simulatedTransect(const Transect& like, const std::vector<Genotype>& predicted,
                           int samplesPerSite, std::uint64_t seed);

// The command; `args` are the arguments after "simulate". Returns the exit status.
int simulateCommand(RunContext& ctx, const std::vector<std::string>& args);

extern const char* const simulateHelp;
