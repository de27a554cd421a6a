// What the Linux programs on a simulated machine share: the machine they run
// on, how they complain, and how they end when something goes wrong.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <variant>

#include "description_file.h"
#include "machine_description.h"
#include "simulated_machine.h"

namespace korvel::sim {

// The machine named by KORVEL_MACHINE, or the built-in one; otherwise one
// line naming the file and why it cannot be run on.
std::variant<MachineDescription, std::string> machineFromEnvironment();
// The machine in a description as read, or "<name>: <reason>".
std::variant<MachineDescription, std::string> machineFromText(const std::string& name, const DescriptionText& read);

class SimulatedProgram {
public:
    // From here on a failing allocation anywhere (even in a destructor while
    // an exception unwinds) ends the process with "<name>: out of memory" and
    // the failure exit code. SIGPIPE is ignored: a reader that goes away early
    // makes writes fail, as on Windows, and the exit code stays the answer.
    SimulatedProgram(const char* name, int failureExitCode);

    // The body's exit code on the machine from the environment; the failure
    // exit code, after one line on stderr, when there is no machine to run
    // on or an exception ends the run.
    int run(const std::function<int(SimulatedMachine&)>& body) const noexcept;
    // The same on the machine that source gives.
    int run(const std::function<std::variant<MachineDescription, std::string>()>& source,
            const std::function<int(SimulatedMachine&)>& body) const noexcept;

    // "<name>: <message>" as one clean line on stderr, whatever the message
    // holds: line breaks fold to a space, other control bytes are written as
    // \xNN. Allocates nothing, so it serves when memory ran out.
    void complain(std::string_view message) const noexcept;

private:
    const char* name_;
    int failureExitCode_;
};

}  // namespace korvel::sim
