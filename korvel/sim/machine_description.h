// What a simulated machine holds: disks, volumes and WMI disk partitions.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "../wmi_platform.h"

namespace korvel::sim {

struct DiskDescription {
    enum class Layout { kEmpty, kFailing, kMbr, kGpt };
    bool opens = true;
    Layout layout = Layout::kEmpty;
    std::vector<uint8_t> mbrTypes;
    std::vector<std::array<uint8_t, 16>> gptTypes;  // GUIDs in their memory layout
};

struct HotplugDescription {
    bool mediaRemovable = false;
    bool deviceHotplug = false;
    bool mediaHotplug = false;
};

struct VolumeDescription {
    std::string root;
    bool opens = true;
    bool readWrite = true;
    std::optional<uint32_t> disk;
    std::optional<uint32_t> partition;
    std::optional<HotplugDescription> hotplug = HotplugDescription{};
};

struct PropertyValue {
    enum class Kind { kInteger, kString, kBoolean, kNull };
    Kind kind = Kind::kNull;
    int32_t integer = 0;
    OleString text;
    bool boolean = false;
};

struct MachineDescription {
    std::optional<std::string> systemDrive;
    std::vector<DiskDescription> disks;
    std::vector<VolumeDescription> volumes;
    bool wmiConnects = true;
    std::vector<std::map<std::string, PropertyValue>> partitions;  // Win32_DiskPartition, in order
    std::string systemDirectory = "C:\\Windows\\system32";
};

}  // namespace korvel::sim
