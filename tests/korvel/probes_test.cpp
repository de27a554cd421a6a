// The disk and volume probes against simulated storage.
#include <cstring>

#include "machine_fixture.h"
#include "probes.h"

namespace korvel::test {
namespace {


TEST(HotplugVerdict, FollowsMediaRemovableAndDeviceHotplugOnly) {
    InstrumentedMachine machine(describe(R"({"volumes": [
        {"root": "C:\\"},
        {"root": "E:\\", "hotplug": {"mediaRemovable": true}},
        {"root": "F:\\", "hotplug": {"deviceHotplug": true}},
        {"root": "G:\\", "hotplug": {"mediaHotplug": true}}]})"));
    EXPECT_EQ(isExternalDrive(machine, "C:"), 0);
    EXPECT_EQ(isExternalDrive(machine, "c:"), 0);
    EXPECT_EQ(isExternalDrive(machine, "E:"), 1);
    EXPECT_EQ(isExternalDrive(machine, "F:"), 1);
    EXPECT_EQ(isExternalDrive(machine, "G:"), 0);
    expectNothingHeld(machine);
}

TEST(HotplugVerdict, UndeterminedWhenTheVolumeCannotBeAsked) {
    InstrumentedMachine machine(describe(R"({"volumes": [
        {"root": "C:\\", "hotplug": null},
        {"root": "D:\\", "opens": false},
        {"root": "F:\\", "readWrite": false}]})"));
    EXPECT_EQ(isExternalDrive(machine, "C:"), 2);  // opens, refuses the request
    EXPECT_EQ(isExternalDrive(machine, "D:"), 2);
    EXPECT_EQ(isExternalDrive(machine, "F:"), 2);  // only a query open is allowed
    EXPECT_EQ(isExternalDrive(machine, "C"), 2);
    EXPECT_EQ(isExternalDrive(machine, "C:\\"), 2);
    expectNothingHeld(machine);
    const int opened = machine.counts().createFile;

    EXPECT_EQ(isExternalDrive(machine, nullptr), 2);
    EXPECT_EQ(machine.counts().createFile, opened) << "an absent operand opens nothing";
}

TEST(HotplugVerdict, OpensForReadingAndWritingByTheNameAsTyped) {
    InstrumentedMachine machine(describe(R"({"volumes": [{"root": "C:\\"}]})"));
    machine.keepLog();
    isExternalDrive(machine, "c:");
    EXPECT_EQ(machine.log().front(), "CreateFileA \\\\.\\c: c0000000");
    const std::string operand(5000, 'x');
    EXPECT_EQ(isExternalDrive(machine, operand.c_str()), 2);
    EXPECT_EQ(machine.log().back(), "CreateFileA \\\\.\\" + operand + " c0000000");
}

// The simulated machine and the tests' decorator know a disk by the path the probes open.
TEST(DevicePaths, ADiskIsKnownByExactlyThePathTheProbesOpen) {
    for (int disk : {0, 7, 12, 999999999}) EXPECT_EQ(diskOfPath(physicalDrivePath(disk)), std::size_t(disk));
    EXPECT_EQ(diskOfPath("\\\\.\\PHYSICALDRIVE3"), std::size_t(3));
    for (const char* other : {"\\\\.\\PhysicalDrive", "\\\\.\\PhysicalDrive01", "\\\\.\\PhysicalDrive1x",
                              "\\\\.\\PhysicalDrive-1", "\\\\.\\PhysicalDrive1000000000", "\\\\.\\C:"}) {
        EXPECT_EQ(diskOfPath(other), std::nullopt) << other;
    }
}

TEST(PhysicalDriveCount, StopsAtTheFirstDiskThatDoesNotOpen) {
    InstrumentedMachine machine(describe(R"({"disks": [{}, {}, {"opens": false}, {}]})"));
    machine.keepLog();
    EXPECT_EQ(countPhysicalDrives(machine), 2);
    EXPECT_EQ(machine.log()[0], "CreateFileA \\\\.\\PhysicalDrive0 0");
    InstrumentedMachine none(describe(R"({"disks": [{"opens": false}, {}]})"));
    EXPECT_EQ(countPhysicalDrives(none), 0);
    expectNothingHeld(machine);
}

TEST(PartitionCount, LeavesOutEmptyAndXint13ExtendedEntriesOnly) {
    InstrumentedMachine machine(describe(R"({"disks": [
        {"layout": {"mbr": [7, 0, 0, 0]}},
        {"layout": {"mbr": [7, 15, 0, 0, 7, 5, 0, 0]}},
        {"layout": {"mbr": []}},
        {},
        {"layout": {"gpt": ["EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "E3C9E316-0B5C-4DB8-817D-F92DF00215AE",
                            "0000000F-0000-0000-0000-000000000000", "00000100-0000-0000-0000-000000000000",
                            "{C12A7328-F81F-11D2-BA4B-00A0C93EC93B}"]}}]})"));
    EXPECT_EQ(countPartitions(machine, 0), 1);
    EXPECT_EQ(countPartitions(machine, 1), 3);
    EXPECT_EQ(countPartitions(machine, 2), 0);
    EXPECT_EQ(countPartitions(machine, 3), 0);
    // GPT: the first byte of the type GUID in memory is the one tested.
    EXPECT_EQ(countPartitions(machine, 4), 3);
    EXPECT_EQ(countPartitions(machine, 5), -1);
    EXPECT_EQ(countPartitions(machine, -1), -1);
    expectNothingHeld(machine);
}

std::string mbrOf(int entries) {
    std::string types;
    for (int i = 0; i < entries; ++i) types += std::string(i ? "," : "") + "7";
    return R"({"disks": [{"layout": {"mbr": [)" + types + "]}}]}";
}

TEST(PartitionCount, GrowsTheBufferBy576BytesUpTo23Requests) {
    InstrumentedMachine five(describe(mbrOf(5)));  // 48 + 5 * 144 = 768 bytes
    EXPECT_EQ(countPartitions(five, 0), 5);
    EXPECT_EQ(five.counts().deviceIoControl, 1);

    InstrumentedMachine six(describe(mbrOf(6)));
    six.keepLog();
    EXPECT_EQ(countPartitions(six, 0), 6);
    EXPECT_EQ(six.log()[1], "DeviceIoControl 70050 769");
    EXPECT_EQ(six.log()[2], "DeviceIoControl 70050 1345");
    EXPECT_EQ(six.counts().deviceIoControl, 2);

    InstrumentedMachine largest(describe(mbrOf(93)));
    largest.keepLog();
    EXPECT_EQ(countPartitions(largest, 0), 93);
    EXPECT_EQ(largest.log()[23], "DeviceIoControl 70050 13441");

    InstrumentedMachine tooLarge(describe(mbrOf(94)));
    EXPECT_EQ(countPartitions(tooLarge, 0), -1);
    EXPECT_EQ(tooLarge.counts().deviceIoControl, 23);

    InstrumentedMachine failing(describe(R"({"disks": [{"layout": null}]})"));
    EXPECT_EQ(countPartitions(failing, 0), -1);
    EXPECT_EQ(failing.counts().deviceIoControl, 23);
    expectNothingHeld(failing);
    expectNothingHeld(tooLarge);
}

TEST(PartitionCount, NeverReadsPastTheBufferWhateverPartitionCountClaims) {
    InstrumentedMachine machine(describe(R"({"disks": [{}]})"));
    machine.layoutAnswer = [](int, unsigned char* out, uint32_t size) {
        std::memset(out, 7, size);  // every byte a used type, count 0x07070707
        return true;
    };
    EXPECT_EQ(countPartitions(machine, 0), 5);  // what fits in 769 bytes
}

TEST(DriveRoots, TwoCallsSizedByTheFirst) {
    InstrumentedMachine machine(describe(R"({"volumes": [{"root": "A:\\"}, {"root": "C:\\"}, {"root": "D:\\"}]})"));
    machine.keepLog();
    const auto roots = listDriveRoots(machine);
    ASSERT_TRUE(roots);
    EXPECT_EQ(*roots, (std::vector<std::string>{"A:\\", "C:\\", "D:\\"}));
    EXPECT_EQ(machine.log()[0], "GetLogicalDriveStringsA 5");
    EXPECT_EQ(machine.log()[1], "GetLogicalDriveStringsA 15");  // needed 13, plus 2

    InstrumentedMachine single(describe(R"({"volumes": [{"root": "C:\\"}]})"));
    single.keepLog();
    EXPECT_EQ(*listDriveRoots(single), std::vector<std::string>{"C:\\"});
    EXPECT_EQ(single.log()[1], "GetLogicalDriveStringsA 6");
}

TEST(DriveRoots, NoListWhenTheSecondCallFails) {
    InstrumentedMachine machine(describe(R"({"volumes": [{"root": "C:\\"}]})"));
    machine.failCall(2);
    EXPECT_FALSE(listDriveRoots(machine));
    InstrumentedMachine empty(describe("{}"));
    EXPECT_FALSE(listDriveRoots(empty));  // no roots: the system answers 0
}

TEST(DriveRoots, LyingAnswersAreReadOnlyWithinTheBuffer) {
    InstrumentedMachine machine(describe("{}"));
    // A first answer of 2 and a second that fills its whole buffer with no terminator.
    machine.driveStringsAnswer = [](uint32_t length, char* buffer) {
        std::memset(buffer, 'Q', length);
        return length == 5 ? 2u : 99u;
    };
    const auto roots = listDriveRoots(machine);
    ASSERT_TRUE(roots);
    EXPECT_EQ(*roots, std::vector<std::string>{"QQQQ"});

    machine.driveStringsAnswer = [](uint32_t, char*) { return 0xFFFFFFFFu; };
    EXPECT_FALSE(listDriveRoots(machine));
}

TEST(DriveLetterOfPartition, FirstRootWhoseDeviceNumbersMatch) {
    InstrumentedMachine machine(describe(R"({"volumes": [
        {"root": "A:\\", "opens": false, "disk": 0, "partition": 1},
        {"root": "B:\\", "disk": 0},
        {"root": "C:\\", "disk": 0, "partition": 1},
        {"root": "D:\\", "disk": 0, "partition": 1},
        {"root": "E:\\", "disk": 4294967295, "partition": 2}]})"));
    EXPECT_EQ(findDriveLetter(machine, 0, 1), std::optional<std::string>("C:\\"));
    EXPECT_EQ(findDriveLetter(machine, 0, 2), std::nullopt);
    EXPECT_EQ(findDriveLetter(machine, 1, 1), std::nullopt);
    EXPECT_EQ(findDriveLetter(machine, -1, 2), std::optional<std::string>("E:\\"));  // bit for bit
    expectNothingHeld(machine);
}

TEST(DriveLetterOfPartition, OpensEachRootForQueriesByItsLetter) {
    InstrumentedMachine machine(describe(R"({"volumes": [{"root": "C:\\", "readWrite": false, "disk": 0, "partition": 1}]})"));
    machine.keepLog();
    EXPECT_EQ(findDriveLetter(machine, 0, 1), std::optional<std::string>("C:\\"));
    EXPECT_EQ(machine.log()[2], "CreateFileA \\\\.\\C: 0");
    machine.failCall(1);
    EXPECT_EQ(findDriveLetter(machine, 0, 1), std::nullopt);  // no root list
}

}  // namespace
}  // namespace korvel::test
