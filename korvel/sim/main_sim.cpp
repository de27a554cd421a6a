// korvel on a simulated machine: the description named by KORVEL_MACHINE, or
// the built-in one. Whatever goes wrong before the search, the exit code is 0.
#include "../korvel_entry.h"
#include "sim_program.h"

int main(int argc, char** argv) {
    const korvel::sim::SimulatedProgram program("korvel", 0);
    return program.run([&](korvel::sim::SimulatedMachine& machine) {
        korvel::StdoutConsole console;
        korvel::Machine platforms{machine, machine, console};
        return korvel::korvelMain(argc, argv, platforms);
    });
}
