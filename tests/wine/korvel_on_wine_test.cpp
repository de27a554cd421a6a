// The real Win32 probes and WMI query, run under Wine against its kernel32
// and WMI. Wine answers: C:\ and Z:\ as drive roots; \\.\C: is disk 0,
// partition 1, and refuses the hot-plug request; \\.\PhysicalDrive0 refuses
// the layout request; \\.\Z: does not open; two Win32_DiskPartition entries
// (DiskIndex 0 and 1, StartingOffset "0"), the one on disk 0 the boot partition.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include <windows.h>

#include "boot_query.h"
#include "com_owners.h"
#include "console.h"
#include "probes.h"
#include "support/capture.h"
#include "win32/win32_device_platform.h"
#include "win32/win32_wmi_platform.h"

namespace korvel {
namespace {

using CapturingConsole = Capturing<Console>;

// Forwards to the real kernel32 and counts the handles the logic still holds.
class CountingDevices : public Win32DevicePlatform {
public:
    DeviceHandle createFile(const std::string& path, uint32_t access) override {
        const DeviceHandle handle = Win32DevicePlatform::createFile(path, access);
        if (handle != invalidDeviceHandle()) ++open;
        return handle;
    }
    void closeHandle(DeviceHandle handle) override {
        --open;
        Win32DevicePlatform::closeHandle(handle);
    }
    bool deviceIoControl(DeviceHandle handle, uint32_t code, void* out, uint32_t outSize) override {
        if (code == kIoctlDiskGetDriveLayoutEx) ++layoutRequests;
        return Win32DevicePlatform::deviceIoControl(handle, code, out, outSize);
    }
    int open = 0;
    int layoutRequests = 0;
};

// Forwards to the real COM and counts the references and strings the logic holds.
class CountingWmi : public Win32WmiPlatform {
public:
    HResult createLocator(ComObject* object) override { return counted(Win32WmiPlatform::createLocator(object), object); }
    HResult connectServer(ComObject locator, Bstr ns, ComObject* object) override {
        ++connections;
        return counted(Win32WmiPlatform::connectServer(locator, ns, object), object);
    }
    HResult queryClientSecurity(ComObject services, ComObject* object) override {
        return counted(Win32WmiPlatform::queryClientSecurity(services, object), object);
    }
    HResult createInstanceEnum(ComObject services, Bstr className, ComObject* object) override {
        ++enumerations;
        return counted(Win32WmiPlatform::createInstanceEnum(services, className, object), object);
    }
    HResult next(ComObject enumerator, int32_t timeoutMs, ComObject* object, uint32_t* returned) override {
        return counted(Win32WmiPlatform::next(enumerator, timeoutMs, object, returned), object);
    }
    void release(ComObject object) override {
        --references;
        Win32WmiPlatform::release(object);
    }
    Bstr sysAllocString(const OleChar* text) override {
        Bstr result = Win32WmiPlatform::sysAllocString(text);
        if (result != nullptr) ++strings;
        return result;
    }
    void sysFreeString(Bstr text) override {
        if (text != nullptr) --strings;
        Win32WmiPlatform::sysFreeString(text);
    }
    int references = 0;
    int strings = 0;
    int connections = 0;
    int enumerations = 0;

private:
    HResult counted(HResult result, ComObject* object) {
        if (*object != nullptr) ++references;
        return result;
    }
};

TEST(WineProbes, VolumesAndDisksAsWineReportsThem) {
    CountingDevices devices;
    EXPECT_EQ(isExternalDrive(devices, "C:"), 2) << "Wine refuses the hot-plug request";
    EXPECT_EQ(isExternalDrive(devices, "Z:"), 2) << "\\\\.\\Z: does not open";
    EXPECT_EQ(isExternalDrive(devices, nullptr), 2);
    EXPECT_GE(countPhysicalDrives(devices), 1);
    EXPECT_EQ(countPartitions(devices, 0), -1) << "Wine refuses the layout request";
    EXPECT_EQ(devices.layoutRequests, 23);
    EXPECT_EQ(countPartitions(devices, 999), -1);
    EXPECT_EQ(devices.open, 0);
}

TEST(WineProbes, DriveRootsAndDeviceNumbers) {
    CountingDevices devices;
    const auto roots = listDriveRoots(devices);
    ASSERT_TRUE(roots);
    EXPECT_NE(std::find(roots->begin(), roots->end(), "C:\\"), roots->end());
    EXPECT_NE(std::find(roots->begin(), roots->end(), "Z:\\"), roots->end());
    EXPECT_EQ(findDriveLetter(devices, 0, 1), std::optional<std::string>("C:\\"));
    EXPECT_EQ(findDriveLetter(devices, 0, 2), std::nullopt);
    EXPECT_EQ(devices.open, 0);
    EXPECT_EQ(devices.getEnvironmentVariable("SystemDrive"), std::optional<std::string>("C:"));
    EXPECT_EQ(devices.getEnvironmentVariable("KORVEL_SURELY_UNSET_VARIABLE"), std::nullopt);
}

TEST(WineProbes, EnvironmentValuesAreReadWhole) {
    CountingDevices devices;
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

TEST(WineQuery, BootPartitionOfDiskZeroStartsAtZero) {
    CountingWmi wmi;
    CapturingConsole console;
    EXPECT_TRUE(isBootPartition(wmi, console, 0, 1));
    EXPECT_EQ(console.written, "Expected starting offset=0\nChecking entry at starting offset=0\nBoot Partition = 1\n");
    EXPECT_EQ(wmi.connections, 1);
    EXPECT_EQ(wmi.enumerations, 3);
    EXPECT_EQ(wmi.references, 0);
    EXPECT_EQ(wmi.strings, 0);
}

TEST(WineQuery, RepeatedQueriesAndPartitionsBeyondTheEntries) {
    CountingWmi wmi;
    for (int run = 0; run < 3; ++run) {
        CapturingConsole console;
        EXPECT_TRUE(isBootPartition(wmi, console, 0, 1));
        CapturingConsole beyond;
        EXPECT_FALSE(isBootPartition(wmi, beyond, 0, 2));
        EXPECT_EQ(beyond.written, "");
    }
    CapturingConsole second;
    EXPECT_FALSE(isBootPartition(wmi, second, 1, 1));
    EXPECT_EQ(second.written, "Expected starting offset=0\nChecking entry at starting offset=0\nBoot Partition = 0\n");
    CapturingConsole absent;
    EXPECT_FALSE(isBootPartition(wmi, absent, 7, 1));
    EXPECT_EQ(absent.written, "");
    EXPECT_EQ(wmi.references, 0);
    EXPECT_EQ(wmi.strings, 0);
}

TEST(WineQuery, ConnectionGivesAProxyTheCallerReleases) {
    CountingWmi wmi;
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
