// Copies its argument into a 16-byte stack buffer. Built with the shipped
// flags, an argument that overruns the buffer must end the process with
// __fastfail when the function returns, before anything is printed.
#include <cstdio>
#include <cstring>

namespace {

__attribute__((noinline)) std::size_t copyToStack(const char* text) {
    char buffer[16];
    std::strcpy(buffer, text);
    return std::strlen(buffer);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    std::printf("returned %zu\n", copyToStack(argv[1]));
    return 0;
}
