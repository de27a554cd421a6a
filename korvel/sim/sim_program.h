// What the Linux programs on a simulated machine share: the machine they run
// on, and how they complain.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "machine_description.h"

namespace korvel::sim {

// The machine named by KORVEL_MACHINE, or the built-in one; otherwise one
// line naming the file and why it cannot be run on.
std::variant<MachineDescription, std::string> machineFromEnvironment();

// "<program>: <message>" as one clean line on stderr, whatever the message
// holds: line breaks fold to a space, other control bytes are written as
// \xNN. Allocates nothing, so it serves when memory ran out.
void complain(const char* program, std::string_view message) noexcept;

// From now on, a failing allocation anywhere (even in a destructor while an
// exception unwinds) ends the process with "<program>: out of memory" and the
// exit code given. SIGPIPE is ignored too: a reader that goes away early
// makes writes fail, as on Windows, and the exit code stays the answer.
void prepareProcess(const char* program, int exitCodeOnFailure);

}  // namespace korvel::sim
