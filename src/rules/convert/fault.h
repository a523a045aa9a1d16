#pragma once

#include <stdexcept>
#include <string>

// The one fault type of the program. Conversions, the socket control and the
// file readers raise it with a one-line description; the trap-and-report
// procedures catch it and show that description in the traffic window.
class Fault : public std::runtime_error
{
public:
    explicit Fault(const std::string &description)
        : std::runtime_error(description)
    {
    }

    static Fault overflow() { return Fault("Overflow"); }
    static Fault typeMismatch() { return Fault("Type mismatch"); }
    static Fault subscriptOutOfRange() { return Fault("Subscript out of range"); }
};
