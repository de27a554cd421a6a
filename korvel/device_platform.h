// The kernel32 calls that the disk and volume probes and the search make.
// One Win32 implementation forwards them; the simulated machine answers them
// on Linux and in the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "unique_any.h"

namespace korvel {

using DeviceHandle = void*;
// INVALID_HANDLE_VALUE
inline DeviceHandle invalidDeviceHandle() {
    return reinterpret_cast<DeviceHandle>(static_cast<intptr_t>(-1));  // NOLINT(performance-no-int-to-ptr): that is its definition
}

constexpr uint32_t kAccessNone = 0;
constexpr uint32_t kAccessReadWrite = 0xC0000000u;  // GENERIC_READ | GENERIC_WRITE

constexpr uint32_t kIoctlStorageGetHotplugInfo = 0x2D0C14;
constexpr uint32_t kIoctlDiskGetDriveLayoutEx = 0x70050;
constexpr uint32_t kIoctlStorageGetDeviceNumber = 0x2D1080;

// Byte layouts of the records the probes read, as Windows defines them.
constexpr std::size_t kHotplugInfoSize = 8;           // STORAGE_HOTPLUG_INFO
constexpr std::size_t kHotplugMediaRemovable = 4;
constexpr std::size_t kHotplugMediaHotplug = 5;
constexpr std::size_t kHotplugDeviceHotplug = 6;
constexpr std::size_t kDeviceNumberSize = 12;         // STORAGE_DEVICE_NUMBER
constexpr std::size_t kDeviceNumberDevice = 4;
constexpr std::size_t kDeviceNumberPartition = 8;
constexpr std::size_t kLayoutHeadSize = 48;           // DRIVE_LAYOUT_INFORMATION_EX
constexpr std::size_t kLayoutPartitionCount = 4;
constexpr std::size_t kLayoutEntrySize = 144;         // PARTITION_INFORMATION_EX
constexpr std::size_t kLayoutEntryType = 32;          // Mbr.PartitionType / first byte of Gpt.PartitionType

// A 32-bit field of a record: little-endian, as on every target.
inline uint32_t recordU32(const unsigned char* field) {
    uint32_t value = 0;
    std::memcpy(&value, field, sizeof value);
    return value;
}

class DevicePlatform {
public:
    virtual ~DevicePlatform() = default;

    // CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
    //             OPEN_EXISTING, 0, nullptr); invalidDeviceHandle() on failure.
    virtual DeviceHandle createFile(const std::string& path, uint32_t access) = 0;
    // DeviceIoControl(handle, code, nullptr, 0, out, outSize, &returned, nullptr).
    virtual bool deviceIoControl(DeviceHandle handle, uint32_t code, void* out, uint32_t outSize) = 0;
    virtual void closeHandle(DeviceHandle handle) = 0;
    // GetLogicalDriveStringsA(length, buffer).
    virtual uint32_t getLogicalDriveStrings(uint32_t length, char* buffer) = 0;
    // GetEnvironmentVariableA read whole; nothing when unset or empty.
    virtual std::optional<std::string> getEnvironmentVariable(const std::string& name) = 0;
};

// Owns one device handle and closes it on every way out.
struct DeviceOwned {
    using Value = DeviceHandle;
    // cppcheck-suppress noExplicitConstructor ; an owner is made of its platform
    DeviceOwned(DevicePlatform& devices) : platform(&devices) {}
    static Value empty() { return invalidDeviceHandle(); }
    static bool holds(const void* handle) { return handle != invalidDeviceHandle(); }
    void close(Value handle) const { platform->closeHandle(handle); }
    DevicePlatform* platform;
};
using UniqueDevice = UniqueAny<DeviceOwned>;

}  // namespace korvel
