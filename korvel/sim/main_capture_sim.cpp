// korvel-capture on a simulated machine: describes the machine named by
// KORVEL_MACHINE (or the built-in one) as korvel's probes and query see it.
#include <cstdio>
#include <exception>

#include "../machine_capture.h"
#include "sim_program.h"
#include "simulated_machine.h"

namespace {

int run() {
    auto description = korvel::sim::machineFromEnvironment();
    if (const auto* reason = std::get_if<std::string>(&description)) {
        korvel::sim::complain("korvel-capture", *reason);
        return 1;
    }
    korvel::sim::SimulatedMachine machine(std::move(std::get<korvel::sim::MachineDescription>(description)));
    const korvel::MachineCapture capture = korvel::captureMachine(machine, machine);
    if (!capture.failure.empty()) {
        korvel::sim::complain("korvel-capture", capture.failure);
        return 1;
    }
    if (std::fwrite(capture.description.data(), 1, capture.description.size(), stdout) != capture.description.size() ||
        std::fflush(stdout) != 0) {
        korvel::sim::complain("korvel-capture", "the description could not be written");
        return 1;
    }
    return 0;
}

}  // namespace

int main() {
    korvel::sim::prepareProcess("korvel-capture", 1);
    try {
        return run();
    } catch (const std::exception& error) {
        korvel::sim::complain("korvel-capture", error.what());
        return 1;
    }
}
