#include "win32_device_platform.h"

#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <vector>

namespace korvel {

static_assert(IOCTL_STORAGE_GET_HOTPLUG_INFO == kIoctlStorageGetHotplugInfo, "hot-plug request code");
static_assert(IOCTL_DISK_GET_DRIVE_LAYOUT_EX == kIoctlDiskGetDriveLayoutEx, "layout request code");
static_assert(IOCTL_STORAGE_GET_DEVICE_NUMBER == kIoctlStorageGetDeviceNumber, "device number request code");
static_assert(sizeof(STORAGE_HOTPLUG_INFO) == kHotplugInfoSize, "STORAGE_HOTPLUG_INFO");
static_assert(offsetof(STORAGE_HOTPLUG_INFO, MediaRemovable) == kHotplugMediaRemovable, "MediaRemovable");
static_assert(offsetof(STORAGE_HOTPLUG_INFO, MediaHotplug) == kHotplugMediaHotplug, "MediaHotplug");
static_assert(offsetof(STORAGE_HOTPLUG_INFO, DeviceHotplug) == kHotplugDeviceHotplug, "DeviceHotplug");
static_assert(sizeof(STORAGE_DEVICE_NUMBER) == kDeviceNumberSize, "STORAGE_DEVICE_NUMBER");
static_assert(offsetof(STORAGE_DEVICE_NUMBER, DeviceNumber) == kDeviceNumberDevice, "DeviceNumber");
static_assert(offsetof(STORAGE_DEVICE_NUMBER, PartitionNumber) == kDeviceNumberPartition, "PartitionNumber");
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionCount) == kLayoutPartitionCount, "PartitionCount");
static_assert(offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) == kLayoutHeadSize, "layout head");
static_assert(sizeof(PARTITION_INFORMATION_EX) == kLayoutEntrySize, "PARTITION_INFORMATION_EX");
static_assert(offsetof(PARTITION_INFORMATION_EX, Mbr) == kLayoutEntryType, "Mbr.PartitionType");
static_assert(offsetof(PARTITION_INFORMATION_EX, Gpt) == kLayoutEntryType, "Gpt.PartitionType");

DeviceHandle Win32DevicePlatform::createFile(const std::string& path, uint32_t access) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool Win32DevicePlatform::deviceIoControl(DeviceHandle handle, uint32_t code, void* out, uint32_t outSize) {
    DWORD returned = 0;  // never examined
    return DeviceIoControl(handle, code, nullptr, 0, out, outSize, &returned, nullptr) != FALSE;
}

void Win32DevicePlatform::closeHandle(DeviceHandle handle) { CloseHandle(handle); }

uint32_t Win32DevicePlatform::getLogicalDriveStrings(uint32_t length, char* buffer) {
    return GetLogicalDriveStringsA(length, buffer);
}

std::optional<std::string> Win32DevicePlatform::getEnvironmentVariable(const std::string& name) {
    // The value may grow between the calls; ask again with the size it needs,
    // a few times at most.
    std::vector<char> value(64);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const DWORD result = GetEnvironmentVariableA(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (result == 0) return std::nullopt;
        if (result < value.size()) return std::string(value.data(), result);
        value.assign(static_cast<std::size_t>(result) + 1, '\0');
    }
    return std::nullopt;
}

}  // namespace korvel
