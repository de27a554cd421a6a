// Every scenario machine, with each of its platform calls failing in turn:
// korvel answers 0 or 1 and gives back everything it obtained.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "machine_fixture.h"

namespace korvel::test {
namespace {

namespace fs = std::filesystem;

struct Scenario {
    std::string name;
    std::string machine;
    std::vector<std::string> args;
};

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<Scenario> scenarios() {
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

TEST(FaultInjection, EveryFailingCallOfEveryScenarioIsSurvivedWithoutLeaks) {
    const auto all = scenarios();
    ASSERT_FALSE(all.empty());
    for (const Scenario& scenario : all) {
        const auto description = describe(scenario.machine);
        for (int k = 1;; ++k) {
            sim::SimulatedMachine machine(description);
            machine.failCall(k);
            const RunResult run = runKorvel(machine, scenario.args);
            EXPECT_TRUE(run.exitCode == 0 || run.exitCode == 1) << scenario.name << " call " << k;
            const auto problems = machine.problems();
            EXPECT_TRUE(problems.empty()) << scenario.name << " call " << k << ": " << ::testing::PrintToString(problems);
            if (machine.failableCalls() < k) break;  // the run made fewer calls: all were covered
        }
    }
}

}  // namespace
}  // namespace korvel::test
