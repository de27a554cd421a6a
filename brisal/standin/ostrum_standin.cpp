// A stand-in for the maker's ostrum library, for tests and demonstrations.
// Its answers come from the environment:
//   OSTRUM_RESULT       what every call returns (default 1); a value that is
//                       not a whole int makes every call return 0
//   OSTRUM_MOUNT_POINT  the text mountSP and findMountedSP leave in the buffer
//                       on success (default "S:\"); as much of it as fits, so a
//                       text of the buffer's size or more leaves no terminator
//   OSTRUM_LOG          a file that gets one line per call: the name, and the
//                       capacity for the two calls that take a buffer
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../ostrum.h"

namespace {

// OSTRUM_RESULT must be a whole int in decimal; anything else is refused
// with one line on stderr, and the call fails.
int configuredResult() {
    const char* value = std::getenv("OSTRUM_RESULT");
    if (value == nullptr) return 1;
    errno = 0;
    char* end = nullptr;
    const long long result = std::strtoll(value, &end, 10);
    const bool whole = *value != '\0' && std::isspace(static_cast<unsigned char>(*value)) == 0 && *end == '\0' &&
                       errno == 0 && result >= INT_MIN && result <= INT_MAX;
    if (!whole) {
        (void)std::fprintf(stderr, "ostrum stand-in: OSTRUM_RESULT is not a whole int; the call fails\n");
        return 0;
    }
    return static_cast<int>(result);
}

void logCall(const char* name, const unsigned long* capacity) {
    const char* path = std::getenv("OSTRUM_LOG");
    if (path == nullptr) return;
    if (std::FILE* log = std::fopen(path, "ab")) {
        if (capacity != nullptr) {
            (void)std::fprintf(log, "%s %lu\n", name, *capacity);
        } else {
            (void)std::fprintf(log, "%s\n", name);
        }
        (void)std::fclose(log);
    }
}

int answerWithBuffer(const char* name, char* buffer, unsigned long capacity) {
    logCall(name, &capacity);
    const int result = configuredResult();
    if (result != 0 && buffer != nullptr && capacity > 0) {
        const char* text = std::getenv("OSTRUM_MOUNT_POINT");
        if (text == nullptr) text = "S:\\";
        std::size_t length = std::strlen(text) + 1;
        if (length > capacity) length = capacity;
        std::memcpy(buffer, text, length);
    }
    return result;
}

int answer(const char* name) {
    logCall(name, nullptr);
    return configuredResult();
}

}  // namespace

int mountSP(char* buffer, unsigned long capacity) { return answerWithBuffer("mountSP", buffer, capacity); }
int findMountedSP(char* buffer, unsigned long capacity) { return answerWithBuffer("findMountedSP", buffer, capacity); }
int umountSP() { return answer("umountSP"); }
int lockVirP() { return answer("lockVirP"); }
int unlockVirP() { return answer("unlockVirP"); }
