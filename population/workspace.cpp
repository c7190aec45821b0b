#include "population/workspace.h"

#include <cstdint>

#include "population/lanes.h"

namespace fast {

// One block of slack lets the first array start on a 64-byte line.
Workspace::Workspace(std::size_t doubles) : storage(doubles + lanes, 0.0) {
    const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(storage.data());
    next = storage.data() + ((64 - address % 64) % 64) / sizeof(double);
}

double* Workspace::take(std::size_t count) {
    double* start = next;
    next += roundUp(count);
    return start;
}

Stage takeStage(Workspace& space, std::size_t count) {
    Stage stage;
    stage.SS = space.take(count);
    stage.SI = space.take(count);
    stage.II = space.take(count);
    return stage;
}

std::size_t stageSize(std::size_t count) {
    return 3 * roundUp(count);
}

void spreadFitness(std::size_t n, const Stage& f, const std::vector<Genotype>& fitness,
                   const std::vector<int>& entry) {
    for (std::size_t i = 0; i < roundUp(n); ++i) {
        const Genotype w =
            i < n ? fitness[static_cast<std::size_t>(entry[i])] : Genotype{1.0, 1.0, 1.0};
        f.SS[i] = w.SS;
        f.SI[i] = w.SI;
        f.II[i] = w.II;
    }
}

void spreadLarvae(const std::vector<Population>& row, const Stage& L) {
    const std::size_t n = row.size();
    for (std::size_t i = 0; i < roundUp(n); ++i) {
        const Genotype g = i < n ? row[i].larvae : Genotype{1.0 / 3, 1.0 / 3, 1.0 / 3};
        L.SS[i] = g.SS;
        L.SI[i] = g.SI;
        L.II[i] = g.II;
    }
}

} // namespace fast
