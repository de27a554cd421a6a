// The real Win32 probes and WMI query under Wine, held only to what every
// Wine 8 answers, whatever host it runs on: C: is partition 1 of disk 0 and
// refuses the hot-plug request, disks refuse the layout request, and WMI
// connects. What a host's Wine answers beyond that is compared with the
// simulated machine by the differential suites (probe_report.exe).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include <windows.h>

#include "boot_query.h"
#include "console.h"
#include "probes.h"
#include "support/capture.h"
#include "support/instrumented_platforms.h"
#include "win32/win32_device_platform.h"
#include "win32/win32_wmi_platform.h"

namespace korvel {
namespace {

using CapturingConsole = Capturing<Console>;

// Win32 itself, counted.
struct CountedWin32 : test::InstrumentedPlatforms {
    CountedWin32() : InstrumentedPlatforms(devices, wmi) {}
    Win32DevicePlatform devices;
    Win32WmiPlatform wmi;
};

TEST(WineProbes, HotplugAndLayoutRequestsAreRefused) {
    CountedWin32 devices;
    EXPECT_EQ(isExternalDrive(devices, "C:"), 2) << "Wine refuses the hot-plug request";
    EXPECT_EQ(isExternalDrive(devices, nullptr), 2);
    EXPECT_GE(countPhysicalDrives(devices), 1);
    const int before = devices.counts().deviceIoControl;
    EXPECT_EQ(countPartitions(devices, 0), -1) << "Wine refuses the layout request";
    EXPECT_EQ(devices.counts().deviceIoControl - before, 23);
    EXPECT_EQ(countPartitions(devices, 999), -1);
    EXPECT_EQ(devices.held().handles, 0);
}

TEST(WineProbes, SystemDriveIsPartitionOneOfDiskZero) {
    CountedWin32 devices;
    const auto roots = listDriveRoots(devices);
    ASSERT_TRUE(roots);
    EXPECT_NE(std::find(roots->begin(), roots->end(), "C:\\"), roots->end());
    EXPECT_EQ(findDriveLetter(devices, 0, 1), std::optional<std::string>("C:\\"));
    EXPECT_EQ(devices.held().handles, 0);
    EXPECT_EQ(devices.getEnvironmentVariable("SystemDrive"), std::optional<std::string>("C:"));
    EXPECT_EQ(devices.getEnvironmentVariable("KORVEL_SURELY_UNSET_VARIABLE"), std::nullopt);
}

TEST(WineProbes, EnvironmentValuesAreReadWhole) {
    Win32DevicePlatform devices;
    // Far beyond the first buffer, within Windows' 32767-character limit.
    const std::string value = "C:" + std::string(30000, 'v');
    ASSERT_TRUE(SetEnvironmentVariableA("KORVEL_LONG_VALUE", value.c_str()));
    const auto read = devices.getEnvironmentVariable("KORVEL_LONG_VALUE");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->size(), value.size());
    EXPECT_TRUE(*read == value);
    ASSERT_TRUE(SetEnvironmentVariableA("KORVEL_LONG_VALUE", ""));
    EXPECT_EQ(devices.getEnvironmentVariable("KORVEL_LONG_VALUE"), std::nullopt) << "an empty value reads as unset";
}

TEST(WineQuery, EveryQueryIsOneConnectionAndGivesBackAllItObtained) {
    for (int run = 0; run < 3; ++run) {
        CountedWin32 wmi;
        CapturingConsole first;
        isBootPartition(wmi, first, 0, 1);
        EXPECT_EQ(wmi.counts().createInstanceEnum, first.written.empty() ? 2 : 3) << first.written;
        CapturingConsole beyond;
        EXPECT_FALSE(isBootPartition(wmi, beyond, 0, 99));
        EXPECT_EQ(beyond.written, "");
        EXPECT_EQ(wmi.counts().createInstanceEnum - (first.written.empty() ? 2 : 3), 2)
            << "two passes when N is beyond the offsets";
        EXPECT_EQ(wmi.counts().connectServer, 2);
        EXPECT_EQ(wmi.held().references, 0);
        EXPECT_EQ(wmi.held().strings, 0);
    }
}

TEST(WineQuery, ConnectionGivesAProxyTheCallerReleases) {
    CountedWin32 wmi;
    wmi.coInitialize();
    initComSecurity(wmi);
    ComObject services = connectWmi(wmi);
    ASSERT_NE(services, nullptr);
    EXPECT_EQ(wmi.held().references, 1);
    wmi.release(services);
    EXPECT_EQ(wmi.held().references, 0);
}

}  // namespace
}  // namespace korvel
