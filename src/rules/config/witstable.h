#pragma once

#include <array>
#include <cstdint>

#include <QByteArray>

// The WITS item table: item codes and the names they are shown under.
// 251 slots, of which the settings file can fill the first 250; unfilled
// slots hold code 0 and an empty name, and lookups meet them as such.
struct WitsTable
{
    static constexpr int Slots = 251;
    static constexpr int Usable = 250;

    std::array<std::int16_t, Slots> codes{};
    std::array<QByteArray, Slots> names{};
};
