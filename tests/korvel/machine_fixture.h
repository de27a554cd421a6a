// Builds simulated machines from JSON and runs korvel's logic on them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "console.h"
#include "korvel_entry.h"
#include "sim/machine_loader.h"
#include "sim/simulated_machine.h"
#include "support/capture.h"

namespace korvel::test {

inline sim::MachineDescription describe(const std::string& json) {
    auto parsed = sim::parseMachine(json);
    if (auto* reason = std::get_if<std::string>(&parsed)) {
        ADD_FAILURE() << "bad machine in test: " << *reason;
        return {};
    }
    return std::get<sim::MachineDescription>(parsed);
}

using CapturingConsole = Capturing<Console>;

struct RunResult {
    int exitCode;
    std::string output;
};

inline RunResult runKorvel(sim::SimulatedMachine& machine, std::vector<std::string> args) {
    args.insert(args.begin(), "korvel");
    const auto argv = argvOf(args);
    CapturingConsole console;
    Machine platforms{machine, machine, console};
    const int code = korvelMain(static_cast<int>(args.size()), argv.data(), platforms);
    return {code, console.written};
}

// Every handle closed, every reference, string and module given back, no misuse.
inline void expectNothingHeld(const sim::SimulatedMachine& machine) {
    const auto problems = machine.problems();
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
}

}  // namespace korvel::test
