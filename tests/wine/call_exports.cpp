// Loads brisal.exe, finds each exported copy assignment by its MSVC name and
// calls it as MSVC-compiled code would: on x64 with this in RCX and the source
// in RDX; on ARM64 with this in X0 and the source in X1, the result in X0; on
// x86 as __thiscall, this in ECX and the source on the stack for the callee
// to pop. Checks that the whole object is copied and nothing past
// it is touched, that the destination is returned, and that the stack is as
// it was. Usage: call_exports.exe <path of brisal.exe>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "system_classes.h"

namespace {

struct Export {
    const char* name;
    std::size_t size;
};

#if defined(__x86_64__) || defined(__aarch64__)
// MSVC decorates ARM64 names as it does x64's.
const Export kExports[] = {
    {"??4WMIinterface@@QEAAAEAV0@AEBV0@@Z", sizeof(WMIinterface)},
    {"??4Device@@QEAAAEAV0@AEBV0@@Z", sizeof(Device)},
    {"??4Partition@@QEAAAEAV0@AEBV0@@Z", sizeof(Partition)},
    {"??4HardDisk@@QEAAAEAV0@AEBV0@@Z", sizeof(HardDisk)},
    {"??4System@@QEAAAEAV0@AEBV0@@Z", sizeof(System)},
    {"??4OperatingSystem@@QEAAAEAV0@AEBV0@@Z", sizeof(OperatingSystem)},
};
#endif

#if defined(__x86_64__)
// RCX = destination, RDX = source, 32 bytes of shadow space, a 16-byte
// aligned stack at the call. Gives the result and how far RSP moved.
void* callAssignment(FARPROC entry, void* destination, const void* source, intptr_t& moved) {
    void* result = nullptr;
    intptr_t delta = 0;
    asm volatile(
        "movq %%rsp, %%r12\n\t"
        "andq $-16, %%rsp\n\t"
        "subq $32, %%rsp\n\t"
        "movq %%rsp, %%r13\n\t"
        "call *%%rbx\n\t"
        "movq %%rsp, %%rsi\n\t"
        "subq %%r13, %%rsi\n\t"
        "movq %%r12, %%rsp\n\t"
        : "=a"(result), "=S"(delta), "+c"(destination), "+d"(source)
        : "b"(entry)
        : "r8", "r9", "r10", "r11", "r12", "r13", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "memory", "cc");
    moved = delta;
    return result;
}
#elif defined(__aarch64__)
// X0 = destination, X1 = source, the result in X0; SP must come back where
// it was. Everything the callee may clobber is named, so nothing is assumed.
void* callAssignment(FARPROC entry, void* destination, const void* source, intptr_t& moved) {
    register void* x0 asm("x0") = destination;
    register const void* x1 asm("x1") = source;
    register FARPROC x16 asm("x16") = entry;
    intptr_t before = 0;
    intptr_t after = 0;
    asm volatile(
        "mov %2, sp\n\t"
        "blr x16\n\t"
        "mov %3, sp\n\t"
        : "+r"(x0), "+r"(x1), "=&r"(before), "=&r"(after), "+r"(x16)
        :
        : "x2", "x3", "x4", "x5", "x6", "x7", "x8", "x9", "x10", "x11", "x12", "x13", "x14", "x15", "x17", "x30",
          "v0", "v1", "v2", "v3", "v4", "v5", "v6", "v7", "v16", "v17", "v18", "v19", "v20", "v21", "v22", "v23",
          "v24", "v25", "v26", "v27", "v28", "v29", "v30", "v31", "memory", "cc");
    moved = after - before;
    return x0;
}
#elif defined(__i386__)
const Export kExports[] = {
    {"??4WMIinterface@@QAEAAV0@ABV0@@Z", sizeof(WMIinterface)},
    {"??4Device@@QAEAAV0@ABV0@@Z", sizeof(Device)},
    {"??4Partition@@QAEAAV0@ABV0@@Z", sizeof(Partition)},
    {"??4HardDisk@@QAEAAV0@ABV0@@Z", sizeof(HardDisk)},
    {"??4System@@QAEAAV0@ABV0@@Z", sizeof(System)},
    {"??4OperatingSystem@@QAEAAV0@ABV0@@Z", sizeof(OperatingSystem)},
};

// __thiscall: ECX = destination, the source pushed; the callee pops it, so
// ESP must be back where it was before the push.
void* callAssignment(FARPROC entry, void* destination, const void* source, intptr_t& moved) {
    void* result = nullptr;
    intptr_t delta = 0;
    asm volatile(
        "movl %%esp, %%esi\n\t"
        "pushl %%edi\n\t"
        "call *%%ebx\n\t"
        "movl %%esp, %%edx\n\t"
        "subl %%esi, %%edx\n\t"
        "movl %%esi, %%esp\n\t"
        : "=a"(result), "=d"(delta), "+c"(destination)
        : "b"(entry), "D"(source)
        : "esi", "memory", "cc");
    moved = delta;
    return result;
}
#endif

constexpr std::size_t kGuard = 64;
int passed = 0;
int failed = 0;

void check(bool condition, const char* what, const char* name) {
    if (condition) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL %s: %s\n", name, what);
    }
}

void callOne(FARPROC entry, const Export& exported) {
    // Guard bytes before and after both objects show any write past them.
    unsigned char destination[kGuard + 256 + kGuard];
    unsigned char source[kGuard + 256 + kGuard];
    std::memset(destination, 0xD5, sizeof destination);
    for (std::size_t i = 0; i < sizeof source; ++i) source[i] = static_cast<unsigned char>(i * 7 + 1);
    unsigned char sourceBefore[sizeof source];
    std::memcpy(sourceBefore, source, sizeof source);

    intptr_t moved = -1;
    void* returned = callAssignment(entry, destination + kGuard, source + kGuard, moved);

    bool untouched = true;
    for (std::size_t i = 0; i < sizeof destination; ++i) {
        if (i >= kGuard && i < kGuard + exported.size) continue;
        untouched = untouched && destination[i] == 0xD5;
    }
    check(std::memcmp(destination + kGuard, source + kGuard, exported.size) == 0, "whole object copied",
          exported.name);
    check(untouched, "nothing past the object touched", exported.name);
    check(std::memcmp(source, sourceBefore, sizeof source) == 0, "source left alone", exported.name);
    check(returned == destination + kGuard, "destination returned", exported.name);
    check(moved == 0, "stack balanced", exported.name);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: call_exports <brisal.exe>\n");
        return 2;
    }
    // brisal.exe's own folder is searched for its ostrum.dll.
    HMODULE brisal = LoadLibraryExA(argv[1], nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    check(brisal != nullptr, "brisal.exe loads", argv[1]);
    if (brisal != nullptr) {
        for (const Export& exported : kExports) {
            const FARPROC entry = GetProcAddress(brisal, exported.name);
            check(entry != nullptr, "exported", exported.name);
            if (entry != nullptr) callOne(entry, exported);
        }
        FreeLibrary(brisal);
    }
    std::printf("exports: %d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}
