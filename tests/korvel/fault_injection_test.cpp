// Every scenario machine, with each of its platform calls failing in turn:
// korvel answers 0 or 1 and gives back everything it obtained.
#include "machine_fixture.h"

namespace korvel::test {
namespace {

TEST(FaultInjection, EveryFailingCallOfEveryScenarioIsSurvivedWithoutLeaks) {
    const auto all = scenarioMachines();
    ASSERT_FALSE(all.empty());
    for (const Scenario& scenario : all) {
        const auto description = describe(scenario.machine);
        for (int k = 1;; ++k) {
            InstrumentedMachine machine(description);
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
