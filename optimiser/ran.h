// The annealer's random generator: 64-bit xorshift with a multiplicative output step.
#pragma once

#include <cstdint>

// Uniform random numbers in (0, 1]. The state word never becomes 0.
class UniformRandom {
  public:
    static constexpr std::uint64_t seedConstant = 4101842887655102017ULL;
    static constexpr std::uint64_t multiplier = 2685821657736338717ULL;

    explicit UniformRandom(std::uint64_t seed) : state(seed ^ seedConstant) {
        step();
        state = state * multiplier;
    }

    // The next 64-bit output word; advances the state by one xorshift step.
    std::uint64_t nextWord() {
        step();
        return state * multiplier;
    }

    // The next output word scaled by 2^-64: a double in (0, 1].
    double uniform() { return static_cast<double>(nextWord()) * 0x1p-64; }

    // The current state word (for tests, reporting and checkpoints).
    std::uint64_t currentState() const { return state; }

    // Puts back a state word read from currentState(), so that the sequence continues exactly
    // where it was. The word must not be 0.
    void restoreState(std::uint64_t word) { state = word; }

  private:
    void step() {
        state ^= state >> 21;
        state ^= state << 35;
        state ^= state >> 4;
    }

    std::uint64_t state;
};
