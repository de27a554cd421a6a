// Loaded into a program by replay_host.exe before the program runs: counts
// the allocations the program makes through its imports of the C runtime's
// malloc, calloc and realloc, from the C runtime's start-up on, and fails one.
//   ALLOCATION_SHIM_FAIL=k      the k-th answers null (unset or 0: none does)
//   ALLOCATION_SHIM_MARK=name   an import the program's main calls early:
//                               fwrite, getenv or GetEnvironmentVariableA
//   ALLOCATION_SHIM_REPORT=file gets "<allocations> <allocations before the
//                               first call of the mark>" when the program
//                               exits normally
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "replay/import_patch.h"

namespace {

// The DLLs a program built like the shim imports the C runtime from: msvcrt,
// or on the Universal CRT (the ARM64 build) its API sets.
#ifdef _UCRT
const char kHeapDll[] = "api-ms-win-crt-heap-l1-1-0.dll";
const char kStdioDll[] = "api-ms-win-crt-stdio-l1-1-0.dll";
const char kEnvironmentDll[] = "api-ms-win-crt-environment-l1-1-0.dll";
#else
const char kHeapDll[] = "msvcrt.dll";
const char kStdioDll[] = "msvcrt.dll";
const char kEnvironmentDll[] = "msvcrt.dll";
#endif

using Malloc = void*(__cdecl*)(size_t);
using Calloc = void*(__cdecl*)(size_t, size_t);
using Realloc = void*(__cdecl*)(void*, size_t);
using Fwrite = size_t(__cdecl*)(const void*, size_t, size_t, FILE*);
using GetEnvironment = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD);
using Getenv = char*(__cdecl*)(const char*);

Malloc realMalloc = nullptr;
Calloc realCalloc = nullptr;
Realloc realRealloc = nullptr;
Fwrite realFwrite = nullptr;
GetEnvironment realGetEnvironment = nullptr;
Getenv realGetenv = nullptr;

unsigned long allocations = 0;
unsigned long failAt = 0;
long mark = -1;
char report[MAX_PATH] = {};

// Counts one allocation; true when this one is to fail.
bool failing() { return ++allocations == failAt; }

void marked() {
    if (mark < 0) mark = static_cast<long>(allocations);
}

void* __cdecl countedMalloc(size_t size) { return failing() ? nullptr : realMalloc(size); }
void* __cdecl countedCalloc(size_t count, size_t size) { return failing() ? nullptr : realCalloc(count, size); }
void* __cdecl countedRealloc(void* block, size_t size) { return failing() ? nullptr : realRealloc(block, size); }

size_t __cdecl markedFwrite(const void* data, size_t size, size_t count, FILE* stream) {
    marked();
    return realFwrite(data, size, count, stream);
}

DWORD WINAPI markedGetEnvironment(LPCSTR name, LPSTR buffer, DWORD size) {
    marked();
    return realGetEnvironment(name, buffer, size);
}

char* __cdecl markedGetenv(const char* name) {
    marked();
    return realGetenv(name);
}

unsigned long numberFrom(const char* name) {
    char text[32] = {};
    const DWORD length = GetEnvironmentVariableA(name, text, sizeof text);
    return length > 0 && length < sizeof text ? std::strtoul(text, nullptr, 10) : 0;
}

template <class Function>
bool patch(const char* dll, const char* name, Function replacement, Function& real) {
    real = reinterpret_cast<Function>(patchImport(dll, name, reinterpret_cast<void*>(replacement)));
    return real != nullptr;
}

bool install() {
    failAt = numberFrom("ALLOCATION_SHIM_FAIL");
    const DWORD length = GetEnvironmentVariableA("ALLOCATION_SHIM_REPORT", report, sizeof report);
    if (length >= sizeof report) report[0] = '\0';
    char markName[64] = {};
    GetEnvironmentVariableA("ALLOCATION_SHIM_MARK", markName, sizeof markName);
    bool marking = false;
    if (lstrcmpA(markName, "fwrite") == 0) {
        marking = patch(kStdioDll, "fwrite", &markedFwrite, realFwrite);
    } else if (lstrcmpA(markName, "getenv") == 0) {
        marking = patch(kEnvironmentDll, "getenv", &markedGetenv, realGetenv);
    } else {
        marking = patch("kernel32.dll", "GetEnvironmentVariableA", &markedGetEnvironment, realGetEnvironment);
    }
    // Every program allocates through malloc; calloc and realloc only some import.
    patch(kHeapDll, "calloc", &countedCalloc, realCalloc);
    patch(kHeapDll, "realloc", &countedRealloc, realRealloc);
    return marking && patch(kHeapDll, "malloc", &countedMalloc, realMalloc);
}

void writeReport() {
    if (report[0] == '\0') return;
    char text[64];
    const int length = wsprintfA(text, "%lu %ld\n", allocations, mark);
    HANDLE file = CreateFileA(report, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

// Refusing to load tells the launcher that the patch did not take.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) return install();
    if (reason == DLL_PROCESS_DETACH) writeReport();
    return TRUE;
}
