#include "probes.h"

#include "text_match.h"

namespace korvel {
namespace {

const char kDeviceNamespace[] = "\\\\.\\";
const char kPhysicalDrive[] = "PhysicalDrive";

// Counts the used entries of a layout image.
int countUsedEntries(const std::vector<unsigned char>& layout) {
    const std::size_t entries = layoutEntries(layout);
    int used = 0;
    for (std::size_t i = 0; i < entries; ++i) {
        if (countsAsPartition(layout[kLayoutHeadSize + i * kLayoutEntrySize + kLayoutEntryType])) ++used;
    }
    return used;
}

// A root list larger than this is a lying answer, treated like an allocation failure.
constexpr uint32_t kMaxDriveStringsLength = 1u << 20;

}  // namespace

// An empty slot and PARTITION_XINT13_EXTENDED are no partitions.
bool countsAsPartition(unsigned char typeByte) { return typeByte != 0x00 && typeByte != 0x0F; }

std::string physicalDrivePath(int disk) { return kDeviceNamespace + std::string(kPhysicalDrive) + std::to_string(disk); }

std::string volumePath(const std::string& name) { return kDeviceNamespace + name; }

std::optional<std::size_t> diskOfPath(const std::string& path) {
    const std::string prefix = kDeviceNamespace + std::string(kPhysicalDrive);
    if (path.size() <= prefix.size() || !asciiEqualsIgnoreCase(path.substr(0, prefix.size()), prefix)) {
        return std::nullopt;
    }
    const std::string digits = path.substr(prefix.size());
    if (digits.size() > 9 || (digits.size() > 1 && digits[0] == '0')) return std::nullopt;
    std::size_t number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + static_cast<std::size_t>(c - '0');
    }
    return number;
}

std::size_t layoutEntries(const std::vector<unsigned char>& layout) {
    if (layout.size() < kLayoutHeadSize) return 0;
    const uint32_t claimed = recordU32(layout.data() + kLayoutPartitionCount);
    const std::size_t fitting = (layout.size() - kLayoutHeadSize) / kLayoutEntrySize;
    return claimed < fitting ? claimed : fitting;
}

std::optional<std::vector<unsigned char>> readDriveLayout(DevicePlatform& platform, DeviceHandle disk) {
    for (int k = 0; k < kLayoutBufferTries; ++k) {
        std::vector<unsigned char> layout(kFirstLayoutBufferSize + kLayoutBufferStep * static_cast<std::size_t>(k));
        if (platform.deviceIoControl(disk, kIoctlDiskGetDriveLayoutEx, layout.data(),
                                     static_cast<uint32_t>(layout.size()))) {
            return layout;
        }
    }
    return std::nullopt;
}

int isExternalDrive(DevicePlatform& platform, const char* volume) {
    if (volume == nullptr) return kUndetermined;
    UniqueDevice device(platform, platform.createFile(volumePath(volume), kAccessReadWrite));
    if (!device.valid()) return kUndetermined;
    unsigned char info[kHotplugInfoSize] = {};
    const bool ok = platform.deviceIoControl(device.get(), kIoctlStorageGetHotplugInfo, info, sizeof info);
    device.reset();
    if (!ok) return kUndetermined;
    // MediaHotplug alone does not make a device external.
    if (info[kHotplugMediaRemovable] != 0 || info[kHotplugDeviceHotplug] != 0) return kExternal;
    return kInternal;
}

int countPhysicalDrives(DevicePlatform& platform) {
    int count = 0;
    for (;;) {
        UniqueDevice disk(platform, platform.createFile(physicalDrivePath(count), kAccessNone));
        if (!disk.valid()) return count;
        ++count;
    }
}

int countPartitions(DevicePlatform& platform, int diskNumber) {
    UniqueDevice disk(platform, platform.createFile(physicalDrivePath(diskNumber), kAccessNone));
    if (!disk.valid()) return -1;
    const auto layout = readDriveLayout(platform, disk.get());
    disk.reset();
    return layout ? countUsedEntries(*layout) : -1;
}

std::optional<std::vector<std::string>> listDriveRoots(DevicePlatform& platform) {
    char probe[5] = {};
    const uint32_t needed = platform.getLogicalDriveStrings(sizeof probe, probe);
    if (needed > kMaxDriveStringsLength) return std::nullopt;

    std::vector<char> buffer(static_cast<std::size_t>(needed) + 2, '\0');
    if (platform.getLogicalDriveStrings(static_cast<uint32_t>(buffer.size()), buffer.data()) == 0) {
        return std::nullopt;
    }
    // NUL-terminated strings up to the first empty one; a string that runs
    // into the end of the buffer ends there.
    std::vector<std::string> roots;
    std::size_t pos = 0;
    while (pos < buffer.size() && buffer[pos] != '\0') {
        std::size_t end = pos;
        while (end < buffer.size() && buffer[end] != '\0') ++end;
        roots.emplace_back(buffer.data() + pos, end - pos);
        pos = end + 1;
    }
    return roots;
}

std::optional<std::string> findDriveLetter(DevicePlatform& platform, int diskNumber, int partitionNumber) {
    const auto roots = listDriveRoots(platform);
    if (!roots) return std::nullopt;
    for (const std::string& root : *roots) {
        UniqueDevice volume(platform, platform.createFile(volumePath(root.substr(0, 1) + ":"), kAccessNone));
        if (!volume.valid()) continue;
        unsigned char number[kDeviceNumberSize] = {};
        if (!platform.deviceIoControl(volume.get(), kIoctlStorageGetDeviceNumber, number, sizeof number)) continue;
        // Signed arguments against the unsigned fields, bit for bit.
        if (recordU32(number + kDeviceNumberDevice) == static_cast<uint32_t>(diskNumber) &&
            recordU32(number + kDeviceNumberPartition) == static_cast<uint32_t>(partitionNumber)) {
            return root;
        }
    }
    return std::nullopt;
}

}  // namespace korvel
