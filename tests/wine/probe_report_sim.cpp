// The probe report on the simulated machine named by KORVEL_MACHINE.
#include <cstdio>

#include "probe_report.h"
#include "sim/sim_program.h"
#include "sim/simulated_machine.h"

int main(int argc, char** argv) {
    auto description = korvel::sim::machineFromEnvironment();
    if (const auto* reason = std::get_if<std::string>(&description)) {
        korvel::sim::complain("probe_report", *reason);
        return 1;
    }
    korvel::sim::SimulatedMachine machine(std::move(std::get<korvel::sim::MachineDescription>(description)));
    const std::string report = korvel::probeReport(machine, machine, std::vector<std::string>(argv + 1, argv + argc));
    (void)std::fwrite(report.data(), 1, report.size(), stdout);
    return 0;
}
