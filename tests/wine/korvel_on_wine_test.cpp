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
#include "counting_platforms.h"
#include "probes.h"
#include "support/capture.h"
#include "win32/win32_device_platform.h"
#include "win32/win32_wmi_platform.h"

namespace korvel {
namespace {

using CapturingConsole = Capturing<Console>;

TEST(WineProbes, HotplugAndLayoutRequestsAreRefused) {
    Win32DevicePlatform win32;
    CountingDevices devices(win32);
    EXPECT_EQ(isExternalDrive(devices, "C:"), 2) << "Wine refuses the hot-plug request";
    EXPECT_EQ(isExternalDrive(devices, nullptr), 2);
    EXPECT_GE(countPhysicalDrives(devices), 1);
    EXPECT_EQ(countPartitions(devices, 0), -1) << "Wine refuses the layout request";
    EXPECT_EQ(devices.layoutRequests, 23);
    EXPECT_EQ(countPartitions(devices, 999), -1);
    EXPECT_EQ(devices.open, 0);
}

TEST(WineProbes, SystemDriveIsPartitionOneOfDiskZero) {
    Win32DevicePlatform win32;
    CountingDevices devices(win32);
    const auto roots = listDriveRoots(devices);
    ASSERT_TRUE(roots);
    EXPECT_NE(std::find(roots->begin(), roots->end(), "C:\\"), roots->end());
    EXPECT_EQ(findDriveLetter(devices, 0, 1), std::optional<std::string>("C:\\"));
    EXPECT_EQ(devices.open, 0);
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
    Win32WmiPlatform win32;
    CountingWmi wmi(win32);
    for (int run = 0; run < 3; ++run) {
        CapturingConsole first;
        isBootPartition(wmi, first, 0, 1);
        EXPECT_EQ(wmi.enumerations, first.written.empty() ? 2 : 3) << first.written;
        CapturingConsole beyond;
        EXPECT_FALSE(isBootPartition(wmi, beyond, 0, 99));
        EXPECT_EQ(beyond.written, "");
        EXPECT_EQ(wmi.enumerations - (first.written.empty() ? 2 : 3), 2) << "two passes when N is beyond the offsets";
        EXPECT_EQ(wmi.connections, 2);
        EXPECT_EQ(wmi.references, 0);
        EXPECT_EQ(wmi.strings, 0);
        wmi.connections = 0;
        wmi.enumerations = 0;
    }
}

TEST(WineQuery, ConnectionGivesAProxyTheCallerReleases) {
    Win32WmiPlatform win32;
    CountingWmi wmi(win32);
    wmi.coInitialize();
    initComSecurity(wmi);
    ComObject services = connectWmi(wmi);
    ASSERT_NE(services, nullptr);
    EXPECT_EQ(wmi.references, 1);
    wmi.release(services);
    EXPECT_EQ(wmi.references, 0);
}

}  // namespace
}  // namespace korvel
