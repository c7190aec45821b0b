// A small seeded random generator whose stream is fixed by its definition, so that simulated
// data sets are the same on every platform and library version: xoshiro256** seeded through
// splitmix64.
#pragma once

#include <cstdint>

// The splitmix64 stream from `state`: advances `state` and returns the next output.
std::uint64_t splitmix64(std::uint64_t& state);

// xoshiro256**, its four words of state filled by four splitmix64 outputs from the seed.
class Xoshiro256 {
  public:
    explicit Xoshiro256(std::uint64_t seed);
    // The next 64 random bits.
    std::uint64_t next();
    // A uniform number in [0, 1): the top 53 bits of next() times 2^-53.
    double uniform();

  private:
    std::uint64_t s_[4];
};
