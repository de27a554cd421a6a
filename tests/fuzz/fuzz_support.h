// Shared by the fuzz targets: a failing check aborts, which libFuzzer reports.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/capture.h"

#define FUZZ_CHECK(condition)                                                            \
    do {                                                                                 \
        if (!(condition)) {                                                              \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            std::abort();                                                                \
        }                                                                                \
    } while (0)

template <class Machine>
void checkNothingHeld(const Machine& machine) {
    const std::vector<std::string> problems = machine.problems();
    for (const std::string& problem : problems) std::fprintf(stderr, "held or misused: %s\n", problem.c_str());
    FUZZ_CHECK(problems.empty());
}
