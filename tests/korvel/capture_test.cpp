// korvel-capture on simulated machines: a capture loads again and korvel
// answers on it exactly as on the machine itself.
#include <functional>
#include <set>

#include "machine_capture.h"
#include "machine_fixture.h"
#include "text_match.h"

namespace korvel::test {
namespace {

using Prepare = std::function<void(InstrumentedMachine&)>;

MachineCapture capture(const sim::MachineDescription& description, const Prepare& prepare = {}) {
    InstrumentedMachine machine(description);
    if (prepare) prepare(machine);
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

// Korvel answers every letter on the replay as on the machine (prepared the
// same way), and a capture of the capture is the capture. Returns the replay.
sim::MachineDescription expectFaithfulCapture(const std::string& name, const sim::MachineDescription& original,
                                              const Prepare& prepare = {}) {
    const MachineCapture captured = capture(original, prepare);
    EXPECT_EQ(captured.failure, "") << name;
    const auto replayed = describe(captured.description);
    EXPECT_EQ(capture(replayed).description, captured.description) << name << ": a capture of the capture differs";
    for (const std::string& letter : lettersOf(original)) {
        InstrumentedMachine machine(original);
        if (prepare) prepare(machine);
        InstrumentedMachine replay(replayed);
        const RunResult expected = runKorvel(machine, {"/checkLetter", letter});
        const RunResult got = runKorvel(replay, {"/checkLetter", letter});
        EXPECT_EQ(got.output, expected.output) << name << " " << letter;
        EXPECT_EQ(got.exitCode, expected.exitCode) << name << " " << letter;
    }
    return replayed;
}

TEST(CaptureRoundTrip, KorvelAnswersOnTheCaptureAsOnTheMachine) {
    for (const Scenario& scenario : scenarioMachines()) expectFaithfulCapture(scenario.name, describe(scenario.machine));
}

TEST(CaptureRoundTrip, AVolumeThatOpensOnlyForReadingAndWriting) {
    expectFaithfulCapture("C: refuses the query open", describe(sim::defaultMachineJson()),
                          [](InstrumentedMachine& machine) {
                              machine.refuseOpen = [](const std::string& path, uint32_t access) {
                                  return path == "\\\\.\\C:" && access == 0;
                              };
                          });
}

TEST(CaptureRoundTrip, OnlyTheSystemDriveRefusingTheReadWriteOpenIsWarnedOf) {
    const auto refusing = [](char letter) {
        auto machine = describe(sim::defaultMachineJson());
        for (auto& volume : machine.volumes) volume.readWrite = volume.readWrite && volume.root[0] != letter;
        return capture(machine);
    };
    EXPECT_EQ(refusing('D').warning, "");
    const MachineCapture captured = refusing('C');
    EXPECT_NE(captured.warning.find("C:\\"), std::string::npos) << captured.warning;
    EXPECT_EQ(captured.warning.find('\n'), std::string::npos);
    EXPECT_NE(captured.description.find("\"readWrite\": false"), std::string::npos) << "the description stays whole";
}

TEST(CaptureRoundTrip, WmiTextBeyondAsciiLoadsAgainUnchanged) {
    const auto original = describe(R"({"wmi": [{"StartingOffset": "\u00e9"}, {"StartingOffset": "\ud83d\ude00"}]})");
    const auto replayed = expectFaithfulCapture("non-ASCII offsets", original);
    ASSERT_EQ(replayed.partitions.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(replayed.partitions[i].at("StartingOffset").text, original.partitions[i].at("StartingOffset").text);
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

    // Disk 1 is the first gap; the next disk that opens is `past` numbers beyond it.
    const auto disksKept = [](int past) {
        std::string disks = "{}";
        for (int number = 1; number < 1 + past; ++number) disks += R"(, {"opens": false})";
        return describe(capture(describe(R"({"disks": [)" + disks + "," + R"({}]})")).description).disks.size();
    };
    EXPECT_EQ(disksKept(16), 18u);
    EXPECT_EQ(disksKept(17), 1u);
}

TEST(CaptureFailures, NoPartialDescriptionAndOneReason) {
    using FailWhen = std::function<bool(const std::string&)>;
    const auto failing = [](const std::string& json, const FailWhen& when) {
        InstrumentedMachine machine(describe(json));
        machine.failWhen = when;
        const MachineCapture captured = captureMachine(machine, machine);
        expectNothingHeld(machine);
        return captured;
    };
    const auto named = [](const std::string& call) -> FailWhen {
        return [call](const std::string& name) { return name == call; };
    };
    // The Next that would end the list with S_FALSE fails instead: no shorter list.
    const FailWhen endOfList = [nexts = 0](const std::string& name) mutable { return name == "next" && ++nexts == 2; };
    const std::string entries = R"({"wmi": [{"DiskIndex": 0}]})";
    for (const auto& [json, when] : std::vector<std::pair<std::string, FailWhen>>{
             {entries, named("createInstanceEnum")}, {entries, named("next")}, {entries, endOfList},
             {R"({"systemDrive": "\u00c7:"})", named("")},
             {R"({"volumes": [{"root": "C:\\"}, {"root": "\u00c7:\\"}]})", named("")}}) {
        const MachineCapture captured = failing(json, when);
        EXPECT_EQ(captured.description, "") << json;
        EXPECT_NE(captured.failure, "") << json;
        EXPECT_EQ(captured.failure.find('\n'), std::string::npos);
    }
    EXPECT_NE(failing(R"({"wmi": null})", named("")).description.find(R"("wmi": null)"), std::string::npos);
}

TEST(CaptureFailures, EveryFailingCallGivesBackAllItObtained) {
    const auto description = describe(sim::defaultMachineJson());
    for (int k = 1;; ++k) {
        InstrumentedMachine machine(description);
        machine.failCall(k);
        captureMachine(machine, machine);
        expectNothingHeld(machine);
        if (machine.failableCalls() < k) break;
    }
}

}  // namespace
}  // namespace korvel::test
