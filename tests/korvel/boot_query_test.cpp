// The boot-partition query against a simulated WMI.
#include "boot_query.h"

#include <algorithm>
#include <cstring>

#include "machine_fixture.h"

namespace korvel::test {
namespace {

struct Answer {
    bool boot;
    std::string output;
};

Answer ask(InstrumentedMachine& machine, int disk, int partition) {
    CapturingConsole console;
    const bool boot = isBootPartition(machine, console, disk, partition);
    return {boot, console.written};
}

TEST(BootQuery, PartitionNumbersFollowNumericOffsetOrder) {
    InstrumentedMachine machine(describe(R"({"wmi": [
        {"DiskIndex": 0, "StartingOffset": "4294967296", "BootPartition": false},
        {"DiskIndex": 1, "StartingOffset": "512", "BootPartition": true},
        {"DiskIndex": 0, "StartingOffset": "65536", "BootPartition": false},
        {"DiskIndex": 0, "StartingOffset": "1048576", "BootPartition": true}]})"));
    EXPECT_EQ(ask(machine, 0, 1).output,
              "Expected starting offset=65536\nChecking entry at starting offset=65536\nBoot Partition = 0\n");
    const Answer second = ask(machine, 0, 2);
    EXPECT_TRUE(second.boot);
    EXPECT_EQ(second.output,
              "Expected starting offset=1048576\nChecking entry at starting offset=1048576\nBoot Partition = 1\n");
    EXPECT_EQ(ask(machine, 0, 3).output, "Expected starting offset=4294967296\n"
                                         "Checking entry at starting offset=4294967296\nBoot Partition = 0\n");
    EXPECT_TRUE(ask(machine, 1, 1).boot);
    expectNothingHeld(machine);
}

TEST(BootQuery, EachQueryIsOneConnectionAndThreeEnumerations) {
    InstrumentedMachine machine(describe(R"({"wmi": [{"DiskIndex": 0, "StartingOffset": "1048576", "BootPartition": true}]})"));
    EXPECT_TRUE(ask(machine, 0, 1).boot);
    EXPECT_TRUE(ask(machine, 0, 1).boot);
    const auto& counts = machine.counts();
    EXPECT_EQ(counts.coInitialize, 2);
    EXPECT_EQ(counts.createLocator, 2);
    EXPECT_EQ(counts.connectServer, 2);
    EXPECT_EQ(counts.setBlanket, 2);
    EXPECT_EQ(counts.createInstanceEnum, 6);
    EXPECT_EQ(counts.coInitializeSecurity, 2);  // the refused repeat changes nothing
    expectNothingHeld(machine);
}

TEST(BootQuery, MakesTheCallsWithTheirArguments) {
    InstrumentedMachine machine(describe(R"({"wmi": [{"DiskIndex": 0, "StartingOffset": "0", "BootPartition": true}]})"));
    machine.keepLog();
    ask(machine, 0, 1);
    const std::vector<std::string> head(machine.log().begin(), machine.log().begin() + 11);
    EXPECT_EQ(head, (std::vector<std::string>{"CoInitialize", "GetSystemDirectoryA 260", "lstrcatA \\ole32.dll",
                                              "LoadLibraryExA C:\\Windows\\system32\\ole32.dll",
                                              "GetProcAddress CoInitializeSecurity", "CoInitializeSecurity 2 2 0",
                                              "FreeLibrary", "CoCreateInstance WbemLocator", "ConnectServer root\\cimv2",
                                              "QueryInterface IClientSecurity", "SetBlanket 10 0 2 3 0"}));
    EXPECT_EQ(machine.log()[11], "CreateInstanceEnum Win32_DiskPartition");
    EXPECT_EQ(machine.log()[12], "Next 2000");
}

TEST(BootQuery, LongSystemDirectoryIsAskedForAgainWithItsSize) {
    auto description = describe(R"({"wmi": []})");
    description.systemDirectory = "C:\\" + std::string(300, 'w');
    InstrumentedMachine machine(description);
    machine.keepLog();
    ask(machine, 0, 1);
    EXPECT_EQ(machine.log()[1], "GetSystemDirectoryA 260");
    EXPECT_EQ(machine.log()[2], "GetSystemDirectoryA 304");
    EXPECT_EQ(machine.counts().coInitializeSecurity, 1);
    expectNothingHeld(machine);
}

TEST(BootQuery, SecuritySetUpIsSkippedForImplausibleSystemDirectoryAnswers) {
    // First answer, then what the second call (if any) answers; none of them
    // gives a path to load, and the query goes on without the set-up.
    const std::vector<std::pair<uint32_t, uint32_t>> answers = {
        {0, 0}, {32768, 0}, {0xFFFFFFF6u, 0}, {0xFFFFFFFFu, 0}, {300, 0}, {300, 300}, {300, 4000}};
    for (const auto& [first, second] : answers) {
        InstrumentedMachine machine(describe(R"({"wmi": [{"DiskIndex": 0, "StartingOffset": "0", "BootPartition": true}]})"));
        int calls = 0;
        machine.systemDirectoryAnswer = [&, first = first, second = second](char* buffer, uint32_t size) {
            std::memset(buffer, 'w', std::min<uint32_t>(size, 16));  // no terminator in sight
            return ++calls == 1 ? first : second;
        };
        EXPECT_TRUE(ask(machine, 0, 1).boot) << first << " " << second;
        EXPECT_EQ(machine.counts().loadLibrary, 0) << first << " " << second;
        EXPECT_EQ(calls, first > 260 && first <= 32767 ? 2 : 1) << first << " " << second;
    }
}

TEST(BootQuery, SystemDirectoryMustLeaveRoomForOle32AndItsTerminator) {
    const char* const wmi = R"({"wmi": [{"DiskIndex": 0, "StartingOffset": "0", "BootPartition": true}]})";
    for (const uint32_t reported : {1u, 259u, 260u}) {
        InstrumentedMachine machine(describe(wmi));
        machine.keepLog();
        machine.systemDirectoryAnswer = [reported](char* buffer, uint32_t size) {
            std::memset(buffer, 'w', size);  // every byte, no terminator
            return reported;
        };
        EXPECT_TRUE(ask(machine, 0, 1).boot) << reported;
        EXPECT_EQ(std::count_if(machine.log().begin(), machine.log().end(),
                                [](const std::string& line) { return line.rfind("lstrcatA", 0) == 0; }),
                  0)
            << reported;
    }
    auto longest = describe(wmi);
    longest.systemDirectory = "C:\\" + std::string(256, 'w');
    InstrumentedMachine machine(longest);
    ask(machine, 0, 1);
    EXPECT_EQ(machine.counts().coInitializeSecurity, 1) << "a directory of 259 characters still loads ole32.dll";
}

TEST(BootQuery, OnlyExactlySOkCountsForTheLocatorAndTheBlanket) {
    const char* const machine = R"({"wmi": [{"DiskIndex": 0, "StartingOffset": "0", "BootPartition": true}]})";
    InstrumentedMachine locator(describe(machine));
    locator.successCodeFor = [](const std::string& call) { return call == "createLocator" ? S_FALSE : S_OK; };
    EXPECT_FALSE(ask(locator, 0, 1).boot) << "a locator given with S_FALSE is no locator";
    EXPECT_EQ(locator.counts().connectServer, 0);
    expectNothingHeld(locator);

    InstrumentedMachine proxy(describe(machine));
    proxy.successCodeFor = [](const std::string& call) { return call == "connectServer" ? S_FALSE : S_OK; };
    EXPECT_TRUE(ask(proxy, 0, 1).boot) << "the query runs on a proxy given with S_FALSE";
    EXPECT_EQ(proxy.counts().setBlanket, 0) << "but it gets no blanket";
    expectNothingHeld(proxy);
}

TEST(BootQuery, DiskFilterTakesUnreadableAndOddlyTypedDiskIndexAsTheDisk) {
    InstrumentedMachine machine(describe(R"({"wmi": [
        {"StartingOffset": "100", "BootPartition": true},
        {"DiskIndex": "0", "StartingOffset": "200", "BootPartition": true},
        {"DiskIndex": 2, "StartingOffset": "50", "BootPartition": true}]})"));
    EXPECT_EQ(ask(machine, 0, 1).output,
              "Expected starting offset=100\nChecking entry at starting offset=100\nBoot Partition = 1\n");
    EXPECT_EQ(ask(machine, 5, 2).output,
              "Expected starting offset=200\nChecking entry at starting offset=200\nBoot Partition = 1\n");
    EXPECT_TRUE(ask(machine, 2, 1).boot);
}

// Only entries at the expected offset are read, and the last one read decides.
TEST(BootQuery, TheLastEntryAtTheExpectedOffsetDecides) {
    const std::string expected = "Expected starting offset=100\n";
    const std::string checking = "Checking entry at starting offset=100\n";
    const struct {
        const char* entries;
        bool boot;
        std::string output;
    } cases[] = {
        {R"({"DiskIndex": 0, "StartingOffset": "100", "BootPartition": false},
            {"DiskIndex": 0, "StartingOffset": "200", "BootPartition": true})",
         false, expected + checking + "Boot Partition = 0\n"},
        {R"({"DiskIndex": 0, "StartingOffset": "100", "BootPartition": false},
            {"DiskIndex": 0, "StartingOffset": "100", "BootPartition": true})",
         true, expected + checking + "Boot Partition = 0\n" + checking + "Boot Partition = 1\n"},
        {R"({"DiskIndex": 0, "StartingOffset": "100", "BootPartition": true},
            {"DiskIndex": 0, "StartingOffset": "100"})",
         false, expected + checking + "Boot Partition = 1\n" + checking},
    };
    for (const auto& [entries, boot, output] : cases) {
        InstrumentedMachine machine(describe(std::string(R"({"wmi": [)") + entries + "]}"));
        const Answer answer = ask(machine, 0, 1);
        EXPECT_EQ(answer.boot, boot) << entries;
        EXPECT_EQ(answer.output, output) << entries;
    }
}

TEST(BootQuery, OnlyVariantTrueTypedAsBoolCounts) {
    InstrumentedMachine machine(describe(R"({"wmi": [
        {"DiskIndex": 0, "StartingOffset": "100", "BootPartition": 1},
        {"DiskIndex": 1, "StartingOffset": "100", "BootPartition": null},
        {"DiskIndex": 2, "StartingOffset": "100", "BootPartition": true}]})"));
    const Answer integer = ask(machine, 0, 1);
    EXPECT_FALSE(integer.boot);
    EXPECT_EQ(integer.output, "Expected starting offset=100\nChecking entry at starting offset=100\n");
    EXPECT_FALSE(ask(machine, 1, 1).boot);
    EXPECT_EQ(ask(machine, 2, 1).output,
              "Expected starting offset=100\nChecking entry at starting offset=100\nBoot Partition = 1\n");
    expectNothingHeld(machine);
}

TEST(BootQuery, UnreadableOffsetIsCountedButNotStoredAndTakenAsExpected) {
    InstrumentedMachine machine(describe(R"({"wmi": [
        {"DiskIndex": 0, "BootPartition": true},
        {"DiskIndex": 0, "StartingOffset": 300, "BootPartition": true},
        {"DiskIndex": 0, "StartingOffset": "100", "BootPartition": false}]})"));
    // Three counted, one stored: partition 1 is offset 100; the unreadable
    // and the integer-typed offsets both take part in the checking pass.
    const Answer first = ask(machine, 0, 1);
    EXPECT_EQ(first.output, "Expected starting offset=100\nBoot Partition = 1\nBoot Partition = 1\n"
                            "Checking entry at starting offset=100\nBoot Partition = 0\n");
    EXPECT_FALSE(first.boot);
    // Partitions beyond the offsets actually stored: false, silent.
    EXPECT_EQ(ask(machine, 0, 2).output, "");
    EXPECT_FALSE(ask(machine, 0, 2).boot);
    EXPECT_EQ(machine.counts().createInstanceEnum, 9 - 2);  // no checking pass for partition 2
}

TEST(BootQuery, UnparsableOffsetsAreNeitherStoredNorChecked) {
    for (const char* text : {"", "12a", "-5", " 5", "+5", "18446744073709551616", "000000000000000000001",
                             "\u0661\u0662"}) {
        InstrumentedMachine machine(describe(std::string(R"({"wmi": [{"DiskIndex": 0, "StartingOffset": ")") + text +
                                          R"(", "BootPartition": true}, {"DiskIndex": 0, "StartingOffset": "7",
                                          "BootPartition": false}]})"));
        const Answer answer = ask(machine, 0, 1);
        EXPECT_FALSE(answer.boot) << text;
        EXPECT_EQ(answer.output, "Expected starting offset=7\nChecking entry at starting offset=7\nBoot Partition = 0\n")
            << text;
        EXPECT_EQ(ask(machine, 0, 2).output, "") << text;
        expectNothingHeld(machine);
    }
    InstrumentedMachine largest(describe(R"({"wmi": [{"DiskIndex": 0, "StartingOffset": "18446744073709551615",
                                          "BootPartition": true}]})"));
    EXPECT_EQ(ask(largest, 0, 1).output, "Expected starting offset=18446744073709551615\n"
                                         "Checking entry at starting offset=18446744073709551615\nBoot Partition = 1\n");
}

TEST(BootQuery, OutOfRangePartitionNumbersAnswerFalseSilently) {
    InstrumentedMachine machine(describe(R"({"wmi": [{"DiskIndex": 0, "StartingOffset": "0", "BootPartition": true}]})"));
    for (int partition : {0, -1, 2, 2147483647}) {
        const Answer answer = ask(machine, 0, partition);
        EXPECT_FALSE(answer.boot);
        EXPECT_EQ(answer.output, "");
    }
    EXPECT_EQ(ask(machine, 3, 1).output, "");  // no entry of the disk at all
    expectNothingHeld(machine);
}

TEST(BootQuery, CollectingNeverStoresMoreThanCounted) {
    InstrumentedMachine machine(describe(R"({"wmi": [{"DiskIndex": 0, "StartingOffset": "500", "BootPartition": false}]})"));
    machine.beforeEnumeration = [&description = machine.description()](int enumeration) {
        if (enumeration == 2) {  // two more partitions appear before the collecting pass
            auto extra = describe(R"({"wmi": [{"DiskIndex": 0, "StartingOffset": "100", "BootPartition": true},
                                              {"DiskIndex": 0, "StartingOffset": "50", "BootPartition": true}]})");
            description.partitions.insert(description.partitions.begin(), extra.partitions.begin(),
                                          extra.partitions.end());
        }
    };
    const Answer answer = ask(machine, 0, 1);
    EXPECT_EQ(answer.output, "Expected starting offset=100\nChecking entry at starting offset=100\nBoot Partition = 1\n");
    expectNothingHeld(machine);
}

TEST(BootQuery, FailuresOfEachPass) {
    const std::string wmi = R"({"wmi": [{"DiskIndex": 0, "StartingOffset": "0", "BootPartition": true}]})";
    InstrumentedMachine unreachable(describe(R"({"wmi": null})"));
    EXPECT_EQ(ask(unreachable, 0, 1).output, "");
    EXPECT_EQ(unreachable.counts().createInstanceEnum, 0);
    expectNothingHeld(unreachable);

    for (int pass = 1; pass <= 3; ++pass) {
        InstrumentedMachine machine(describe(wmi));
        machine.beforeEnumeration = [&machine, pass](int enumeration) {
            if (enumeration == pass) machine.failCall(1);  // the Next right after
        };
        const Answer answer = ask(machine, 0, 1);
        EXPECT_FALSE(answer.boot) << pass;
        expectNothingHeld(machine);
    }
}

TEST(BootQuery, EnumerationThatCannotBeOpened) {
    const std::string wmi = R"({"wmi": [{"DiskIndex": 0, "StartingOffset": "0", "BootPartition": true}]})";
    const char* outputs[] = {"", "", "Expected starting offset=0\n"};
    for (int failing = 1; failing <= 3; ++failing) {
        InstrumentedMachine machine(describe(wmi));
        int opened = 0;
        machine.failWhen = [&](const std::string& call) {
            return call == "createInstanceEnum" && ++opened == failing;
        };
        const Answer answer = ask(machine, 0, 1);
        EXPECT_FALSE(answer.boot);
        EXPECT_EQ(answer.output, outputs[failing - 1]);
        EXPECT_EQ(machine.counts().createInstanceEnum, failing) << "no pass after a failed one";
        expectNothingHeld(machine);
    }
}

}  // namespace
}  // namespace korvel::test
