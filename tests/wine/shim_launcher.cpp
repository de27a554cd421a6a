// Starts a program suspended, loads the shims into it, resumes it and exits
// with its exit code; its standard handles are this process's.
// Usage: shim_launcher.exe <shim dll>[|<shim dll>...] <program> [arguments...]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

// One argument as the C runtime will split it again.
std::string quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    return out.append(backslashes * 2, '\\') + "\"";
}

int fail(const char* what, HANDLE process) {
    std::fprintf(stderr, "shim_launcher: %s (error %lu)\n", what, GetLastError());
    if (process != nullptr) TerminateProcess(process, 99);
    return 99;
}

// LoadLibraryA(shim) on a thread of the suspended process.
bool loadShim(HANDLE process, const std::string& shim) {
    void* remote = VirtualAllocEx(process, nullptr, shim.size() + 1, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (remote == nullptr || !WriteProcessMemory(process, remote, shim.c_str(), shim.size() + 1, nullptr)) return false;
    const auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, loadLibrary, remote, 0, nullptr);
    if (thread == nullptr) return false;
    WaitForSingleObject(thread, INFINITE);
    DWORD module = 0;
    const bool loaded = GetExitCodeThread(thread, &module) && module != 0;
    CloseHandle(thread);
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    return loaded;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: shim_launcher <shim dll>[|<shim dll>...] <program> [arguments...]\n");
        return 99;
    }
    std::string commandLine = quoted(argv[2]);
    for (int i = 3; i < argc; ++i) commandLine += " " + quoted(argv[i]);

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
    const std::string shims = argv[1];
    for (std::size_t start = 0, end; start <= shims.size(); start = end + 1) {
        end = std::min(shims.find('|', start), shims.size());
        if (!loadShim(started.hProcess, shims.substr(start, end - start))) {
            return fail("cannot load a shim", started.hProcess);
        }
    }
    ResumeThread(started.hThread);
    WaitForSingleObject(started.hProcess, INFINITE);
    DWORD code = 99;
    GetExitCodeProcess(started.hProcess, &code);
    CloseHandle(started.hThread);
    CloseHandle(started.hProcess);
    return static_cast<int>(code);
}
