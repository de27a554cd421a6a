// korvel-capture on simulated machines: a capture loads again and korvel
// answers on it exactly as on the machine itself.
#include <set>

#include "machine_capture.h"
#include "machine_fixture.h"
#include "text_match.h"

namespace korvel::test {
namespace {

MachineCapture capture(const sim::MachineDescription& description) {
    sim::SimulatedMachine machine(description);
    MachineCapture captured = captureMachine(machine, machine);
    expectNothingHeld(machine);
    return captured;
}

// Each root's letter and one letter that is no root.
std::vector<std::string> lettersOf(const sim::MachineDescription& description) {
    std::set<char> roots;
    for (const auto& volume : description.volumes) roots.insert(foldAscii(volume.root[0]));
    std::vector<std::string> letters;
    for (const char root : roots) letters.push_back(std::string(1, root) + ":");
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        if (roots.count(letter) == 0) {
            letters.push_back(std::string(1, letter) + ":");
            break;
        }
    }
    return letters;
}

TEST(CaptureRoundTrip, KorvelAnswersOnTheCaptureAsOnTheMachine) {
    for (const Scenario& scenario : scenarioMachines()) {
        const auto original = describe(scenario.machine);
        const MachineCapture captured = capture(original);
        ASSERT_EQ(captured.failure, "") << scenario.name;
        const auto replayed = describe(captured.description);
        EXPECT_EQ(capture(replayed).description, captured.description) << "a capture of the capture is the same";
        for (const std::string& letter : lettersOf(original)) {
            sim::SimulatedMachine machine(original);
            sim::SimulatedMachine replay(replayed);
            const RunResult expected = runKorvel(machine, {"/checkLetter", letter});
            const RunResult got = runKorvel(replay, {"/checkLetter", letter});
            EXPECT_EQ(got.output, expected.output) << scenario.name << " " << letter;
            EXPECT_EQ(got.exitCode, expected.exitCode) << scenario.name << " " << letter;
        }
    }
}

TEST(CaptureRoundTrip, DisksBehindTheFirstGapAreKeptWithTheGap) {
    const auto captured = capture(describe(R"({"disks": [{}, {"opens": false}, {"opens": false},
        {"layout": null}, {"opens": false}]})"));
    EXPECT_NE(captured.description.find(R"("disks": [
    {"opens": true, "layout": {"mbr": []}},
    {"opens": false},
    {"opens": false},
    {"opens": true, "layout": null}
  ],)"),
              std::string::npos)
        << captured.description;
}

TEST(CaptureFailures, NoPartialDescriptionAndOneReason) {
    const auto failing = [](const std::string& json, const char* call) {
        sim::SimulatedMachine machine(describe(json));
        machine.failWhen = [call](const std::string& name) { return name == call; };
        const MachineCapture captured = captureMachine(machine, machine);
        expectNothingHeld(machine);
        return captured;
    };
    const std::string entries = R"({"wmi": [{"DiskIndex": 0}]})";
    for (const auto& [json, call] : std::vector<std::pair<std::string, const char*>>{
             {entries, "createInstanceEnum"}, {entries, "next"}, {R"({"systemDrive": "\u00c7:"})", ""},
             {R"({"volumes": [{"root": "C:\\"}, {"root": "\u00c7:\\"}]})", ""}}) {
        const MachineCapture captured = failing(json, call);
        EXPECT_EQ(captured.description, "") << json << " " << call;
        EXPECT_NE(captured.failure, "") << json << " " << call;
        EXPECT_EQ(captured.failure.find('\n'), std::string::npos);
    }
    EXPECT_NE(failing(R"({"wmi": null})", "").description.find(R"("wmi": null)"), std::string::npos);
}

TEST(CaptureFailures, EveryFailingCallGivesBackAllItObtained) {
    const auto description = describe(sim::defaultMachineJson());
    for (int k = 1;; ++k) {
        sim::SimulatedMachine machine(description);
        machine.failCall(k);
        captureMachine(machine, machine);
        expectNothingHeld(machine);
        if (machine.failableCalls() < k) break;
    }
}

}  // namespace
}  // namespace korvel::test
