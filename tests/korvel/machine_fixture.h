// Builds simulated machines from JSON and runs korvel's logic on them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "console.h"
#include "korvel_entry.h"
#include "sim/machine_loader.h"
#include "sim/simulated_machine.h"
#include "support/capture.h"
#include "support/instrumented_machine.h"

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

// machine: the platforms korvel runs on (an InstrumentedMachine, or the simulated machine itself).
template <class Platforms>
RunResult runKorvel(Platforms& machine, std::vector<std::string> args) {
    args.insert(args.begin(), "korvel");
    const auto argv = argvOf(args);
    CapturingConsole console;
    Machine platforms{machine, machine, console};
    const int code = korvelMain(static_cast<int>(args.size()), argv.data(), platforms);
    return {code, console.written};
}

// Every handle closed, every reference, string and module given back, no misuse.
template <class Books>
void expectNothingHeld(const Books& machine) {
    const auto problems = machine.problems();
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
}

struct Scenario {
    std::string name;
    std::string machine;  // JSON
    std::vector<std::string> args;
};

// Every scenario case whose machine the loader accepts, the built-in machine
// standing for the cases that name none.
inline std::vector<Scenario> scenarioMachines() {
    namespace fs = std::filesystem;
    const auto slurp = [](const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    std::vector<Scenario> found;
    for (const auto& entry : fs::directory_iterator(KORVEL_SCENARIO_DIR)) {
        if (fs::exists(entry.path() / "machine-path")) continue;
        const bool builtIn = !fs::exists(entry.path() / "machine.json");
        Scenario scenario{entry.path().filename().string(),
                          builtIn ? sim::defaultMachineJson() : slurp(entry.path() / "machine.json"), {}};
        if (std::holds_alternative<std::string>(sim::parseMachine(scenario.machine))) continue;
        std::ifstream args(entry.path() / "args");
        for (std::string line; std::getline(args, line);) scenario.args.push_back(line);
        found.push_back(scenario);
    }
    return found;
}

}  // namespace korvel::test
