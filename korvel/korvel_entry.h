#pragma once

#include "search.h"

namespace korvel {

// The program's entry over a machine: help, the search, or nothing; the
// result is the exit code, 1 or 0.
int korvelMain(int argc, const char* const* argv, Machine& machine);

}  // namespace korvel
