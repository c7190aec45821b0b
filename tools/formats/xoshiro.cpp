#include "tools/formats/xoshiro.h"

namespace {

std::uint64_t rotateLeft(std::uint64_t x, int k) {
    return (x << k) | (x >> (64 - k));
}

} // namespace

std::uint64_t splitmix64(std::uint64_t& state) {
    state += 0x9e3779b97f4a7c15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

Xoshiro256::Xoshiro256(std::uint64_t seed) {
    std::uint64_t state = seed;
    for (std::uint64_t& word : s_) {
        word = splitmix64(state);
    }
}

std::uint64_t Xoshiro256::next() {
    const std::uint64_t result = rotateLeft(s_[1] * 5, 7) * 9;
    const std::uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotateLeft(s_[3], 45);
    return result;
}

double Xoshiro256::uniform() {
    return static_cast<double>(next() >> 11) * 0x1.0p-53;
}
