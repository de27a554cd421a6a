// The entry and the search, narrated end to end on simulated machines.
#include <algorithm>

#include "machine_fixture.h"

namespace korvel::test {
namespace {


const char kHelp[] =
    "Options:\n\n"
    "/checkLetter <drive letter, ex. C:> - Checks if drive letter is active system partition\n"
    "\tReturns 1 if drive letter is active system partition\n"
    "\tReturns 0 if drive letter is not\n"
    "/h - Display these options\n";

// C: is partition 1 of disk 0 and the boot partition.
const char kSimpleMachine[] = R"({"systemDrive": "C:",
    "disks": [{"layout": {"mbr": [7, 7, 0, 0]}}],
    "volumes": [{"root": "C:\\", "disk": 0, "partition": 1}, {"root": "D:\\", "disk": 0, "partition": 2}],
    "wmi": [{"DiskIndex": 0, "StartingOffset": "1048576", "BootPartition": true},
            {"DiskIndex": 0, "StartingOffset": "2097152", "BootPartition": false}]})";

TEST(Entry, HelpForNoArgumentAndTheHelpWordsInAnyCase) {
    InstrumentedMachine machine(describe(kSimpleMachine));
    machine.keepLog();
    for (const auto& args : std::vector<std::vector<std::string>>{{}, {"/h"}, {"-H"}, {"/?"}, {"/H", "C:"}}) {
        const RunResult run = runKorvel(machine, args);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(run.output, kHelp);
    }
    EXPECT_EQ(machine.log().size(), 0u) << "help asks the machine nothing";
}

TEST(Entry, UnknownFirstArgumentsDoNothing) {
    InstrumentedMachine machine(describe(kSimpleMachine));
    machine.keepLog();
    for (const char* option : {"--checkLetter", "checkLetter", "/checkLetters", "/x", "", "C:", "/help", "?"}) {
        const RunResult run = runKorvel(machine, {option, "C:"});
        EXPECT_EQ(run.exitCode, 0) << option;
        EXPECT_EQ(run.output, "") << option;
    }
    EXPECT_EQ(machine.log().size(), 0u);
}

TEST(Entry, CheckLetterOptionInAnyCaseAndExitCodeFollowsTheAnswer) {
    InstrumentedMachine machine(describe(kSimpleMachine));
    for (const char* option : {"/checkLetter", "/CHECKLETTER", "-checkletter", "-checkLetter"}) {
        EXPECT_EQ(runKorvel(machine, {option, "C:"}).exitCode, 1) << option;
    }
    EXPECT_EQ(runKorvel(machine, {"/checkLetter", "c:", "ignored", "more"}).exitCode, 1);
    for (const char* operand : {"C", "C:\\", "D:", "c: ", "Z:"}) {
        EXPECT_EQ(runKorvel(machine, {"/checkLetter", operand}).exitCode, 0) << operand;
    }
    expectNothingHeld(machine);

    // Z, the last letter, folds as well.
    InstrumentedMachine last(describe(R"({"systemDrive": "Z:", "disks": [{"layout": {"mbr": [7]}}],
        "volumes": [{"root": "Z:\\", "disk": 0, "partition": 1}],
        "wmi": [{"DiskIndex": 0, "StartingOffset": "0", "BootPartition": true}]})"));
    EXPECT_EQ(runKorvel(last, {"/checkLetter", "z:"}).exitCode, 1);
}

TEST(Search, NarratesTheWholeWayToTheAnswer) {
    InstrumentedMachine machine(describe(kSimpleMachine));
    const RunResult run = runKorvel(machine, {"/checkLetter", "C:"});
    EXPECT_EQ(run.output,
              "\nChecking for active system partition\n"
              "Checking internal drives\n"
              "Checking drive 0\n"
              " Checking partition 1:\n"
              " drive letter=C:\\\n"
              "Found system drive=0\n"
              "\n"
              "Checking system drive, partition 1\n"
              "Expected starting offset=1048576\n"
              "Checking entry at starting offset=1048576\n"
              "Boot Partition = 1\n"
              "Found active system partition @ partition=1\n"
              "Found active system partition: drive letter=C:\\\n");
    EXPECT_EQ(run.exitCode, 1);
}

TEST(Search, RejectsLettersThatAreNotInternalVolumes) {
    InstrumentedMachine machine(describe(R"({"systemDrive": "C:", "volumes": [
        {"root": "C:\\", "disk": 0, "partition": 1},
        {"root": "E:\\", "hotplug": {"deviceHotplug": true}}]})"));
    const std::string rejected = "\nChecking for active system partition\nNot internal hdd or badly formatted drive letter\n";
    EXPECT_EQ(runKorvel(machine, {"/checkLetter"}).output, rejected);
    EXPECT_EQ(runKorvel(machine, {"/checkLetter", "E:"}).output, rejected);
    EXPECT_EQ(runKorvel(machine, {"/checkLetter", std::string(100000, '%') + "%s%n"}).output, rejected);
    EXPECT_EQ(runKorvel(machine, {"/checkLetter", "E:"}).exitCode, 0);
}

TEST(Search, UnsetSystemDriveIsNamedLiterally) {
    for (const char* value : {"", "null"}) {
        InstrumentedMachine machine(describe(std::string(R"({"systemDrive": )") +
                                          (*value ? value : "\"\"") + R"(, "volumes": [{"root": "C:\\"}]})"));
        const RunResult run = runKorvel(machine, {"/checkLetter", "C:"});
        EXPECT_EQ(run.output, "\nChecking for active system partition\nChecking internal drives\n"
                              "Couldn't get %SystemDrive%\n");
        EXPECT_EQ(run.exitCode, 0);
    }
}

TEST(Search, SystemDiskIsTheLowestDiskWithAMatchingPartition) {
    InstrumentedMachine machine(describe(R"({"systemDrive": "c:",
        "disks": [{"layout": {"mbr": [7, 7]}}, {"layout": null}, {"layout": {"mbr": [7, 7, 7]}},
                  {"layout": {"mbr": [7]}}],
        "volumes": [{"root": "D:\\", "disk": 0, "partition": 2}, {"root": "C:\\", "disk": 2, "partition": 2},
                    {"root": "C:\\", "disk": 3, "partition": 1}],
        "wmi": [{"DiskIndex": 2, "StartingOffset": "1", "BootPartition": false},
                {"DiskIndex": 2, "StartingOffset": "2", "BootPartition": false}]})"));
    const RunResult run = runKorvel(machine, {"/checkLetter", "C:"});
    EXPECT_EQ(run.output,
              "\nChecking for active system partition\nChecking internal drives\n"
              "Checking drive 0\n Checking partition 1:\n drive letter=\n Checking partition 2:\n drive letter=D:\\\n"
              "Checking drive 1\n"
              "Checking drive 2\n Checking partition 1:\n drive letter=\n Checking partition 2:\n drive letter=C:\\\n"
              "Found system drive=2\n\n"
              "Checking system drive, partition 1\nExpected starting offset=1\n"
              "Checking entry at starting offset=1\nBoot Partition = 0\nPartition=1 is not boot partition\n\n"
              "Checking system drive, partition 2\nExpected starting offset=2\n"
              "Checking entry at starting offset=2\nBoot Partition = 0\nPartition=2 is not boot partition\n\n"
              "Checking system drive, partition 3\nPartition=3 is not boot partition\n\n");
    EXPECT_EQ(run.exitCode, 0);
    expectNothingHeld(machine);
}

TEST(Search, NoSystemDiskEndsSilently) {
    InstrumentedMachine machine(describe(R"({"systemDrive": "X:", "disks": [{"layout": {"mbr": [7]}}],
        "volumes": [{"root": "C:\\", "disk": 0, "partition": 1}]})"));
    const RunResult run = runKorvel(machine, {"/checkLetter", "C:"});
    EXPECT_EQ(run.output, "\nChecking for active system partition\nChecking internal drives\n"
                          "Checking drive 0\n Checking partition 1:\n drive letter=C:\\\n");
    EXPECT_EQ(run.exitCode, 0);
}

TEST(Search, FirstConfirmedBootPartitionEndsTheSearchEvenForAnotherLetter) {
    InstrumentedMachine machine(describe(R"({"systemDrive": "C:", "disks": [{"layout": {"mbr": [7, 7, 7]}}],
        "volumes": [{"root": "C:\\", "disk": 0, "partition": 2}],
        "wmi": [{"DiskIndex": 0, "StartingOffset": "10", "BootPartition": true},
                {"DiskIndex": 0, "StartingOffset": "20", "BootPartition": true}]})"));
    const RunResult run = runKorvel(machine, {"/checkLetter", "C:"});
    EXPECT_EQ(run.exitCode, 0);
    const std::string tail = "Checking system drive, partition 1\nExpected starting offset=10\n"
                             "Checking entry at starting offset=10\nBoot Partition = 1\n"
                             "Found active system partition @ partition=1\n"
                             "Found active system partition: drive letter=\n";
    ASSERT_GE(run.output.size(), tail.size());
    EXPECT_EQ(run.output.substr(run.output.size() - tail.size()), tail);
    EXPECT_EQ(machine.counts().connectServer, 1);
}

TEST(Search, CountsAreAskedAnewBeforeEveryPass) {
    InstrumentedMachine machine(describe(R"({"systemDrive": "C:", "disks": [{"layout": {"mbr": [7, 7]}}, {}],
        "volumes": [{"root": "C:\\", "disk": 1, "partition": 1}]})"));
    machine.keepLog();
    runKorvel(machine, {"/checkLetter", "C:"});
    int driveCounts = 0;
    int layoutReads = 0;
    for (const auto& line : machine.log()) {
        driveCounts += line == "CreateFileA \\\\.\\PhysicalDrive0 0";
        layoutReads += line.rfind("DeviceIoControl 70050", 0) == 0;
    }
    // Disk walk: 3 disk counts (d = 0, 1, 2); partition passes on disk 0: 3 counts,
    // disk 1 (empty layout): 1 count. Every disk count opens PhysicalDrive0 once,
    // and so does every partition count of disk 0.
    EXPECT_EQ(driveCounts, 3 + 3);
    EXPECT_EQ(layoutReads, 3 + 1);

    // The boot walk too: one count finds C: on partition 1, then one before
    // each of p = 1, 2, 3 on the system disk, whose partitions are no boot partition.
    InstrumentedMachine walk(describe(R"({"systemDrive": "C:", "disks": [{"layout": {"mbr": [7, 7]}}],
        "volumes": [{"root": "C:\\", "disk": 0, "partition": 1}], "wmi": []})"));
    walk.keepLog();
    runKorvel(walk, {"/checkLetter", "C:"});
    EXPECT_EQ(std::count_if(walk.log().begin(), walk.log().end(),
                            [](const std::string& line) { return line.rfind("DeviceIoControl 70050", 0) == 0; }),
              1 + 3);
}

}  // namespace
}  // namespace korvel::test
