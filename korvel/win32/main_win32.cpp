// korvel.exe: the search over the machine it runs on.
#include <cstdio>

#include "../korvel_entry.h"
#include "allocation_failure.h"
#include "win32_device_platform.h"
#include "win32_wmi_platform.h"

// korvel answers 0 for every failure.
extern const int kExitCodeOnTerminate = 0;

// Out of memory is one more failure: the narration so far, exit code 0.
void endRunOutOfMemory() noexcept {
    (void)std::fflush(stdout);
    terminateNow(0);
}

int main(int argc, char** argv) {
    // korvel answers 0 for every failure and never writes to stderr; running
    // out of memory is one more failure.
    try {
        korvel::Win32DevicePlatform devices;
        korvel::Win32WmiPlatform wmi;
        korvel::StdoutConsole console;
        korvel::Machine machine{devices, wmi, console};
        return korvel::korvelMain(argc, argv, machine);
    } catch (...) {
        return 0;
    }
}
