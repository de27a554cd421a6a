// korvel-capture on a simulated machine: describes the machine named by
// KORVEL_MACHINE (or the built-in one) as korvel's probes and query see it.
#include <cstdio>

#include "../machine_capture.h"
#include "../tool_command_line.h"
#include "sim_program.h"

int main(int argc, char** argv) {
    const korvel::sim::SimulatedProgram program(korvel::kCaptureSyntax.name, 1);
    const korvel::ToolArguments arguments = korvel::readToolArguments(korvel::kCaptureSyntax, argc, argv);
    if (arguments.exitCode) return *arguments.exitCode;
    return program.run([&](korvel::sim::SimulatedMachine& machine) {
        const korvel::MachineCapture capture = korvel::captureMachine(machine, machine);
        if (!capture.failure.empty()) {
            program.complain(capture.failure);
            return 1;
        }
        if (!capture.warning.empty()) program.complain(capture.warning);
        const std::string& text = capture.description;
        if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
            program.complain("the description could not be written");
            return 1;
        }
        return 0;
    });
}
