// Starts a program suspended, loads the shims into it, resumes it and exits
// with its exit code; its standard handles are this process's.
// Usage: shim_launcher.exe <shim dll>[|<shim dll>...] <program> [arguments...]
#include <windows.h>

#include <cstdio>
#include <string>

#include "shim_loading.h"

namespace {

int fail(const char* what, HANDLE process) {
    std::fprintf(stderr, "shim_launcher: %s (error %lu)\n", what, GetLastError());
    if (process != nullptr) TerminateProcess(process, 99);
    return 99;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: shim_launcher <shim dll>[|<shim dll>...] <program> [arguments...]\n");
        return 99;
    }
    std::string commandLine = shim_loading::quoted(argv[2]);
    for (int i = 3; i < argc; ++i) commandLine += " " + shim_loading::quoted(argv[i]);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(argv[2], &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &started)) {
        return fail("cannot start the program", nullptr);
    }
    if (!shim_loading::loadShims(started.hProcess, argv[1])) return fail("cannot load a shim", started.hProcess);
    ResumeThread(started.hThread);
    WaitForSingleObject(started.hProcess, INFINITE);
    DWORD code = 99;
    GetExitCodeProcess(started.hProcess, &code);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return static_cast<int>(code);
}
