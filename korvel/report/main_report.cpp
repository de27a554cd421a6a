// korvel-report [MACHINE.json | -] > report.html (or /?, --version): a picture of a machine
// description, and why korvel answers each of its letters as it does. It
// runs korvel's own rules on the simulated machine, on Windows too: it never
// asks the machine it runs on. Exit code 0 with the page on stdout, or 1 with
// one line on stderr and nothing on stdout.
#include <cstdio>
#include <string>
#include <vector>

#include "../sim/description_file.h"
#include "../sim/sim_program.h"
#include "../tool_command_line.h"
#include "machine_report.h"
#include "report_page.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "allocation_failure.h"

extern const int kExitCodeOnTerminate = 1;

// One line on stderr, nothing on stdout, exit code 1.
void endRunOutOfMemory() noexcept { complainAndTerminate("korvel-report: out of memory\r\n", 1); }
#endif

namespace {

using korvel::sim::MachineDescription;
using Described = std::variant<MachineDescription, std::string>;

// The file named on the command line ("-": standard input), or the machine of
// the environment when none is named.
Described machineOf(const std::vector<std::string>& operands) {
    if (operands.empty()) return korvel::sim::machineFromEnvironment();
    const std::string& name = operands.front();
    return korvel::sim::machineFromText(name, name == "-" ? korvel::sim::readDescriptionStdin()
                                                          : korvel::sim::readDescriptionFile(name.c_str()));
}

}  // namespace

int main(int argc, char** argv) {
    const korvel::sim::SimulatedProgram program(korvel::kReportSyntax.name, 1);
    const korvel::ToolArguments arguments = korvel::readToolArguments(korvel::kReportSyntax, argc, argv);
    if (arguments.exitCode) return *arguments.exitCode;
    return program.run([&] { return machineOf(arguments.operands); },
                       [&](korvel::sim::SimulatedMachine& machine) {
                           const std::string page = korvel::report::reportPage(korvel::report::reportMachine(machine));
#ifdef _WIN32
                           // The same bytes as on every platform: no carriage returns added.
                           (void)_setmode(_fileno(stdout), _O_BINARY);
#endif
                           if (std::fwrite(page.data(), 1, page.size(), stdout) != page.size() ||
                               std::fflush(stdout) != 0) {
                               program.complain("the page could not be written");
                               return 1;
                           }
                           return 0;
                       });
}
