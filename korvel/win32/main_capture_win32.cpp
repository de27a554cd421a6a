// korvel-capture.exe [/? | --version]: describes the machine it runs on, for replay with the
// Linux korvel (KORVEL_MACHINE). Exit code 0 with the whole description on
// stdout, or 1 with one line on stderr and nothing on stdout.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "../machine_capture.h"
#include "../tool_command_line.h"
#include "allocation_failure.h"
#include "win32_device_platform.h"
#include "win32_wmi_platform.h"

extern const int kExitCodeOnTerminate = 1;

namespace {

void complain(const char* reason) { korvel::complainLine(korvel::kCaptureSyntax.name, reason); }

int fail(const char* reason) {
    complain(reason);
    return 1;
}

}  // namespace

// One line on stderr; nothing on stdout, since no buffer is flushed; exit code 1.
void endRunOutOfMemory() noexcept { complainAndTerminate("korvel-capture: out of memory\r\n", 1); }

int main(int argc, char** argv) {
    try {
        const korvel::ToolArguments arguments = korvel::readToolArguments(korvel::kCaptureSyntax, argc, argv);
        if (arguments.exitCode) return *arguments.exitCode;
        korvel::Win32DevicePlatform devices;
        korvel::Win32WmiPlatform wmi;
        const korvel::MachineCapture capture = korvel::captureMachine(devices, wmi);
        if (!capture.failure.empty()) return fail(capture.failure.c_str());
        if (!capture.warning.empty()) complain(capture.warning.c_str());
        // The same bytes as on every platform: no carriage returns added.
        (void)_setmode(_fileno(stdout), _O_BINARY);
        if (std::fwrite(capture.description.data(), 1, capture.description.size(), stdout) !=
                capture.description.size() ||
            std::fflush(stdout) != 0) {
            return fail("the description could not be written");
        }
        return 0;
    } catch (...) {
        return fail("out of memory");
    }
}
