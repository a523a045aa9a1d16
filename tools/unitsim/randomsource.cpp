#include "unitsim/randomsource.h"

std::uint64_t RandomSource::freshSeed()
{
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

RandomSource::RandomSource(std::uint64_t seed)
    : m_engine(seed)
{
}

std::uint64_t RandomSource::next()
{
    return m_engine();
}

double RandomSource::uniform()
{
    // 53 bits fill a double's mantissa exactly, so the result never rounds up to 1.
    return static_cast<double>(m_engine() >> 11) * (1.0 / 9007199254740992.0);
}

double RandomSource::between(double low, double high)
{
    return low + (high - low) * uniform();
}

int RandomSource::below(int count)
{
    if (count <= 0)
        return 0;
    return static_cast<int>(m_engine() % static_cast<std::uint64_t>(count));
}
