// Asks WMI whether partition N of disk D is the boot partition. N is tied to
// the disk's N-th Win32_DiskPartition entry in ascending starting offset.
#pragma once

#include "console.h"
#include "wmi_platform.h"

namespace korvel {

constexpr int32_t kNextTimeoutMs = 2000;

bool isBootPartition(WmiPlatform& wmi, Console& console, int disk, int partition);

// Process-wide COM security through the system directory's ole32.dll.
void initComSecurity(WmiPlatform& wmi);
// A services proxy on root\cimv2 whose reference the caller owns, or null.
ComObject connectWmi(WmiPlatform& wmi);
void setProxyBlanket(WmiPlatform& wmi, ComObject services);

}  // namespace korvel
