#pragma once

// The earlier tree keeps the fault type in convert/; the tests' support that
// the drivers take from this tree names it by the place it has here.
#include "convert/fault.h"
