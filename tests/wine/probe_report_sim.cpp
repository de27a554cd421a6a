// The probe report on the simulated machine named by KORVEL_MACHINE.
#include <cstdio>

#include "probe_report.h"
#include "sim/sim_program.h"

int main(int argc, char** argv) {
    const korvel::sim::SimulatedProgram program("probe_report", 1);
    return program.run([&](korvel::sim::SimulatedMachine& machine) {
        const std::string report = korvel::probeReport(machine, machine, std::vector<std::string>(argv + 1, argv + argc));
        (void)std::fwrite(report.data(), 1, report.size(), stdout);
        return 0;
    });
}
