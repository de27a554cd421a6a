// korvel on the simulated machine of KORVEL_MACHINE, as dist/linux/korvel,
// that also writes the record of the platform calls it made (and what the
// machine holds against it) to the file KORVEL_REPLAY_RECORD names: what the
// replay shim writes for korvel.exe under Wine.
#include <cstdio>
#include <cstdlib>

#include "replay/call_record.h"
#include "korvel_entry.h"
#include "sim/sim_program.h"

int main(int argc, char** argv) {
    const korvel::sim::SimulatedProgram program("korvel", 0);
    return program.run([&](korvel::sim::SimulatedMachine& machine) {
        machine.keepLog();
        korvel::StdoutConsole console;
        korvel::Machine platforms{machine, machine, console};
        const int code = korvel::korvelMain(argc, argv, platforms);
        if (const char* path = std::getenv("KORVEL_REPLAY_RECORD")) {
            const std::string text = korvel::replay::recordText(machine.log(), machine.problems());
            std::FILE* file = std::fopen(path, "wb");
            if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size()) std::abort();
            (void)std::fclose(file);
        }
        return code;
    });
}
