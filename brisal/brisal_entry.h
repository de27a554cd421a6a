// The tool's entry: one ostrum operation per run, chosen by the first argument.
#pragma once

#include "ostrum_library.h"
#include "output.h"

// Set by the debug switch; nothing clears it.
extern int debugPrinting;

namespace brisal {

constexpr unsigned long kMountPointCapacity = 260;  // MAX_PATH

// Returns the exit code: 0 when the operation succeeded, 1 otherwise.
int brisalMain(int argc, const char* const* argv, OstrumLibrary& ostrum, Output& out);

void printUsage(Output& out);

// The exit code the run has once an ostrum call has returned; 1 before.
int exitCodeSoFar();

}  // namespace brisal
