// The linker's --wrap sends every malloc, calloc and realloc of the
// executable here, from our code, libc++ and the C runtime's start-up
// alike (the start-up copies argv before main without checking). A null
// answer never reaches a caller: the run ends under the program's contract.
#include "allocation_failure.h"

#include <windows.h>

#include <cstddef>

void terminateNow(unsigned exitCode) noexcept {
    (void)TerminateProcess(GetCurrentProcess(), exitCode);
    ExitProcess(exitCode);  // not reached
}

void complainAndTerminate(const char* line, unsigned exitCode) noexcept {
    DWORD written = 0;
    (void)WriteFile(GetStdHandle(STD_ERROR_HANDLE), line, lstrlenA(line), &written, nullptr);
    terminateNow(exitCode);
}

// The names the linker's --wrap gives the C runtime's allocators and their replacements.
// NOLINTBEGIN(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" {

void* __real_malloc(std::size_t size);
void* __real_calloc(std::size_t count, std::size_t size);
void* __real_realloc(void* block, std::size_t size);

void* __wrap_malloc(std::size_t size) {
    void* block = __real_malloc(size);
    if (block == nullptr) endRunOutOfMemory();
    return block;
}

void* __wrap_calloc(std::size_t count, std::size_t size) {
    void* block = __real_calloc(count, size);
    if (block == nullptr) endRunOutOfMemory();
    return block;
}

// realloc(block, 0) frees the block and rightly answers null.
void* __wrap_realloc(void* block, std::size_t size) {
    void* moved = __real_realloc(block, size);
    if (moved == nullptr && size != 0) endRunOutOfMemory();
    return moved;
}

}  // extern "C"
// NOLINTEND(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
