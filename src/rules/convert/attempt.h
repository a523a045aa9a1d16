#pragma once

#include <exception>

// Skip-and-go-on: runs one step and swallows whatever it throws, so the next
// step of a procedure that must never stop still runs. Returns whether the
// step completed.
template <typename Step>
bool attempt(Step &&step) noexcept
{
    try {
        step();
        return true;
    } catch (...) {
        return false;
    }
}
