// Machine descriptions: what they mean and what they refuse.
#include "machine_fixture.h"

namespace korvel::test {
namespace {

std::string refusal(const std::string& json) {
    auto parsed = sim::parseMachine(json);
    const auto* reason = std::get_if<std::string>(&parsed);
    return reason ? *reason : "(accepted)";
}

TEST(MachineLoader, RefusesUnknownKeysAndWrongTypesWithAReason) {
    EXPECT_EQ(refusal(R"({"disk": []})"), "unknown key \"disk\" in the machine");
    EXPECT_EQ(refusal(R"({"volumes": [{"root": "C:\\", "letter": "C"}]})"), "unknown key \"letter\" in volumes[0]");
    EXPECT_EQ(refusal(R"({"wmi": [{"Index": 0}]})"), "unknown key \"Index\" in wmi[0]");
    EXPECT_EQ(refusal(R"({"disks": [{"layout": {"mbr": [256]}}]})"), "disks[0].layout.mbr holds a type that is not a byte");
    EXPECT_EQ(refusal(R"({"disks": [{"layout": {"gpt": ["not-a-guid"]}}]})"), "disks[0].layout.gpt item is not a GUID");
    EXPECT_EQ(refusal(R"({"wmi": [{"DiskIndex": 2147483648}]})"), "wmi[0].DiskIndex must fit a 32-bit integer");
    EXPECT_EQ(refusal(R"({"wmi": [{"DiskIndex": 1.5}]})"),
              "wmi[0].DiskIndex must be an integer, a string, a boolean or null");
    EXPECT_EQ(refusal(R"({"volumes": [{"root": ""}]})"), "volumes[0].root must be a non-empty string without NUL");
    EXPECT_EQ(refusal(R"({"volumes": [{"root": "C:\\", "disk": 18446744073709551615}]})"),
              "volumes[0].disk must be an integer of 32 bits");
    EXPECT_NE(refusal("{"), "(accepted)");
    EXPECT_NE(refusal(""), "(accepted)");
    EXPECT_EQ(refusal(R"([])"), "the machine must be an object");
}

TEST(MachineLoader, DefaultsAndNulls) {
    const auto machine = describe(R"({"disks": [{}, {"layout": null}], "volumes": [{"root": "C:\\", "hotplug": null}],
                                      "wmi": null})");
    EXPECT_FALSE(machine.systemDrive);
    EXPECT_EQ(machine.disks[0].layout, sim::DiskDescription::Layout::kEmpty);
    EXPECT_TRUE(machine.disks[0].opens);
    EXPECT_EQ(machine.disks[1].layout, sim::DiskDescription::Layout::kFailing);
    EXPECT_FALSE(machine.volumes[0].hotplug);
    EXPECT_TRUE(machine.volumes[0].readWrite);
    EXPECT_FALSE(machine.wmiConnects);
    EXPECT_TRUE(describe("{}").wmiConnects);
}

TEST(MachineLoader, GuidsTakeTheirWindowsMemoryLayout) {
    const auto machine = describe(R"({"disks": [{"layout": {"gpt": ["C12A7328-F81F-11D2-BA4B-00A0C93EC93B"]}}]})");
    const std::array<uint8_t, 16> expected = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11,
                                              0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};
    EXPECT_EQ(machine.disks[0].gptTypes[0], expected);
}

TEST(MachineLoader, TheBuiltInMachineAnswersYesForItsSystemDrive) {
    InstrumentedMachine machine(describe(sim::defaultMachineJson()));
    EXPECT_EQ(runKorvel(machine, {"/checkLetter", "C:"}).exitCode, 1);
    EXPECT_EQ(runKorvel(machine, {"/checkLetter", "D:"}).exitCode, 0);
    EXPECT_EQ(runKorvel(machine, {"/checkLetter", "E:"}).output,
              "\nChecking for active system partition\nNot internal hdd or badly formatted drive letter\n");
    expectNothingHeld(machine);
}

}  // namespace
}  // namespace korvel::test
