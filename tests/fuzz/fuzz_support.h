// Shared by the fuzz targets: a failing check aborts, which libFuzzer reports.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                            \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)

// Collects what a tool writes, for either tool's output interface.
template <class Output>
class Capturing : public Output {
public:
    void write(const std::string& text) override { written += text; }
    std::string written;
};

// argv for an entry routine, null-terminated, borrowing the strings.
inline std::vector<const char*> argvOf(const std::vector<std::string>& args) {
    std::vector<const char*> argv;
    for (const auto& arg : args) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    return argv;
}

template <class Machine>
void checkNothingHeld(const Machine& machine) {
    const std::vector<std::string> problems = machine.problems();
    for (const std::string& problem : problems) std::fprintf(stderr, "held or misused: %s\n", problem.c_str());
    FUZZ_CHECK(problems.empty());
}
