// Disk and volume probes: each opens the devices it needs, asks, and closes
// them again before it returns. Failures show only in the result.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "device_platform.h"

namespace korvel {

enum HotplugVerdict { kInternal = 0, kExternal = 1, kUndetermined = 2 };

// volume may be null (no operand on the command line).
int isExternalDrive(DevicePlatform& platform, const char* volume);
int countPhysicalDrives(DevicePlatform& platform);
// -1 when the disk does not open or no layout buffer was accepted.
int countPartitions(DevicePlatform& platform, int disk);
// Drive roots in the order the system lists them; nothing when the listing failed.
std::optional<std::vector<std::string>> listDriveRoots(DevicePlatform& platform);
// The whole root ("C:\") of the volume that is that partition of that disk.
std::optional<std::string> findDriveLetter(DevicePlatform& platform, int disk, int partition);

// The device paths the probes open: "\\.\PhysicalDriveN", and "\\.\" with a
// volume name such as "C:".
std::string physicalDrivePath(int disk);
std::string volumePath(const std::string& name);
// N of a "\\.\PhysicalDriveN" path in any case, N in plain decimal; nothing for any other path.
std::optional<std::size_t> diskOfPath(const std::string& path);

// The drive layout in the first of the growing buffers that takes it; nothing
// when none does.
std::optional<std::vector<unsigned char>> readDriveLayout(DevicePlatform& platform, DeviceHandle disk);
// Whether countPartitions counts a layout entry, by the first byte of its
// type (an MBR type byte, or the first byte of a GPT type GUID in memory).
bool countsAsPartition(unsigned char typeByte);
// How many entries of a layout lie within its buffer, whatever PartitionCount claims.
std::size_t layoutEntries(const std::vector<unsigned char>& layout);

// Layout buffer sizes tried by countPartitions: 769 + 576 * k, k = 0..22.
constexpr std::size_t kFirstLayoutBufferSize = 769;
constexpr std::size_t kLayoutBufferStep = 576;
constexpr int kLayoutBufferTries = 23;

}  // namespace korvel
