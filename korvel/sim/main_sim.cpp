// korvel on a simulated machine: the description named by KORVEL_MACHINE, or
// the built-in one. Whatever goes wrong before the search, the exit code is 0.
#include <exception>

#include "../korvel_entry.h"
#include "sim_program.h"
#include "simulated_machine.h"

namespace {

int run(int argc, char** argv) {
    auto description = korvel::sim::machineFromEnvironment();
    if (const auto* reason = std::get_if<std::string>(&description)) {
        korvel::sim::complain("korvel", *reason);
        return 0;
    }
    korvel::sim::SimulatedMachine machine(std::move(std::get<korvel::sim::MachineDescription>(description)));
    korvel::StdoutConsole console;
    korvel::Machine platforms{machine, machine, console};
    return korvel::korvelMain(argc, argv, platforms);
}

}  // namespace

int main(int argc, char** argv) {
    korvel::sim::prepareProcess("korvel", 0);
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        korvel::sim::complain("korvel", error.what());
        return 0;
    }
}
