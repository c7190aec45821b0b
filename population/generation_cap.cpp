#include "population/generation_cap.h"

#include <cstddef>

void reportCap(std::ostream& diagnostics, const std::vector<Genotype>& fitness) {
    diagnostics << "max number of generations exceeded\n";
    const std::size_t shown = fitness.size() < 3 ? fitness.size() : 3;
    for (std::size_t r = 0; r < shown; ++r) {
        if (r > 0) {
            diagnostics << ' ';
        }
        diagnostics << fitness[r].SI << ' ' << fitness[r].II;
    }
    diagnostics << '\n';
}
