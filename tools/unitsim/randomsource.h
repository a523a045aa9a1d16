#pragma once

#include <cstdint>
#include <random>

// The one source of chance in the simulator. The engine's output is fixed by
// the C++ standard for a given seed, and the conversions below are our own, so
// a seeded run gives the same bytes on every platform and library.
class RandomSource
{
public:
    explicit RandomSource(std::uint64_t seed);

    // A seed from the system's entropy, for a run without --seed.
    static std::uint64_t freshSeed();

    std::uint64_t next();
    // Uniform in [0, 1).
    double uniform();
    // Uniform in [low, high).
    double between(double low, double high);
    // Uniform whole number in [0, count); 0 when count is not positive.
    int below(int count);

private:
    std::mt19937_64 m_engine;
};
