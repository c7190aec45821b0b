// The working arrays of one fast simulation: one allocation per simulate call, carved into
// arrays of doubles in a structure-of-arrays layout (one array per stage and genotype), each
// padded to whole blocks of lanes.
#pragma once

#include <cstddef>
#include <vector>

#include "population/population.h"

namespace fast {

// Zero-filled arrays of doubles carved out of one allocation, each starting on a 64-byte line.
// The arrays live as long as the workspace.
class Workspace {
  public:
    // Room for arrays of `doubles` doubles in all, counted with their padding.
    explicit Workspace(std::size_t doubles);
    // An array of `count` doubles (its length rounded up to whole blocks).
    double* take(std::size_t count);

  private:
    std::vector<double> storage;
    double* next;
};

// One stage of a row: three arrays, one per genotype (not owned).
struct Stage {
    double* SS;
    double* SI;
    double* II;
};

// A stage of `count` demes from `space`.
Stage takeStage(Workspace& space, std::size_t count);

// Doubles that takeStage(count) uses.
std::size_t stageSize(std::size_t count);

// Fitness triples fitness[entry[i]] of demes 0 to n - 1 into `f`; the padding lanes get
// fitness 1.
void spreadFitness(std::size_t n, const Stage& f, const std::vector<Genotype>& fitness,
                   const std::vector<int>& entry);

// Larvae of the demes of `row` into `L`; the padding lanes get an even mixture, so that they
// stay ordinary numbers.
void spreadLarvae(const std::vector<Population>& row, const Stage& L);

} // namespace fast
