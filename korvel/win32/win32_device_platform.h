#pragma once

#include "../device_platform.h"

namespace korvel {

// The probes' calls, forwarded to kernel32.
class Win32DevicePlatform : public DevicePlatform {
public:
    DeviceHandle createFile(const std::string& path, uint32_t access) override;
    bool deviceIoControl(DeviceHandle handle, uint32_t code, void* out, uint32_t outSize) override;
    void closeHandle(DeviceHandle handle) override;
    uint32_t getLogicalDriveStrings(uint32_t length, char* buffer) override;
    std::optional<std::string> getEnvironmentVariable(const std::string& name) override;
};

}  // namespace korvel
