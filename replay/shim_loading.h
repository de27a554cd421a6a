// Loads shim DLLs into a program started suspended, before any of its code
// runs: what replay_host.exe does for each job.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>

namespace shim_loading {

// One argument as the C runtime will split it again.
inline std::string quoted(const std::string& argument) {
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

using MapView = LONG(NTAPI*)(HANDLE, HANDLE, void**, ULONG_PTR, SIZE_T, LARGE_INTEGER*, SIZE_T*, DWORD, ULONG, ULONG);
using UnmapView = LONG(NTAPI*)(HANDLE, void*);
constexpr DWORD kViewUnmap = 2;

inline FARPROC ntdll(const char* name) { return GetProcAddress(GetModuleHandleA("ntdll.dll"), name); }

// The shim's path, in a section mapped into the suspended process. Wine under
// qemu-user (the ARM64 suites) cannot write another process's memory, which
// takes ptrace, but maps a section into it as Windows does.
inline void* sharedPath(HANDLE process, const std::string& shim) {
    const auto mapView = reinterpret_cast<MapView>(reinterpret_cast<void*>(ntdll("NtMapViewOfSection")));
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        static_cast<DWORD>(shim.size() + 1), nullptr);
    if (section == nullptr || mapView == nullptr) return nullptr;
    void* remote = nullptr;
    if (void* local = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0)) {
        std::copy(shim.c_str(), shim.c_str() + shim.size() + 1, static_cast<char*>(local));
        UnmapViewOfFile(local);
        SIZE_T size = 0;
        if (mapView(section, process, &remote, 0, 0, nullptr, &size, kViewUnmap, 0, PAGE_READONLY) < 0) remote = nullptr;
    }
    CloseHandle(section);
    return remote;
}

// LoadLibraryA(shim) on a thread of the suspended process.
inline bool loadShim(HANDLE process, const std::string& shim) {
    void* remote = sharedPath(process, shim);
    if (remote == nullptr) return false;
    const auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "LoadLibraryA")));
    HANDLE thread = CreateRemoteThread(process, nullptr, 0, loadLibrary, remote, 0, nullptr);
    DWORD module = 0;
    if (thread != nullptr) {
        WaitForSingleObject(thread, INFINITE);
        if (!GetExitCodeThread(thread, &module)) module = 0;
        CloseHandle(thread);
    }
    reinterpret_cast<UnmapView>(reinterpret_cast<void*>(ntdll("NtUnmapViewOfSection")))(process, remote);
    return module != 0;
}

// Every shim of a "|"-separated list, in order; false at the first that does not load.
inline bool loadShims(HANDLE process, const std::string& shims) {
    for (std::size_t start = 0, end; start <= shims.size(); start = end + 1) {
        end = std::min(shims.find('|', start), shims.size());
        if (!loadShim(process, shims.substr(start, end - start))) return false;
    }
    return true;
}

}  // namespace shim_loading
