// The convergence measure of the latest generations of one simulation, kept in a fixed ring so
// that recording it allocates nothing per generation.
#pragma once

#include <cstddef>
#include <vector>

// The last (up to `capacity`) values pushed, in order.
class ChangeRing {
  public:
    static constexpr std::size_t capacity = 32;

    // Adds the largest larva change of one generation, dropping the oldest value when full.
    void push(double change) {
        values[next] = change;
        next = next + 1 == capacity ? 0 : next + 1;
        if (count < capacity) {
            ++count;
        }
    }

    // Number of values held (0 to capacity).
    std::size_t size() const { return count; }

    // Replaces `out` with the values held, oldest first.
    void copyOldestFirst(std::vector<double>& out) const {
        out.clear();
        const std::size_t oldest = count < capacity ? 0 : next;
        for (std::size_t k = 0; k < count; ++k) {
            out.push_back(values[(oldest + k) % capacity]);
        }
    }

  private:
    double values[capacity];
    std::size_t next = 0;
    std::size_t count = 0;
};
