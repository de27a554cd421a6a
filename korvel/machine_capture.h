// Describes the machine behind the platform seams in the JSON that the
// simulated machine loads, asking only what korvel asks and the way it asks:
// the same device paths, access, requests and buffers, the same COM set-up.
// It changes nothing on the machine.
#pragma once

#include <string>

#include "device_platform.h"
#include "wmi_platform.h"

namespace korvel {

struct MachineCapture {
    std::string description;  // the JSON text, whole, when it could be made
    std::string failure;      // otherwise why not, in one line
    std::string warning;      // what the description shows that its reader should know first, in one line
};

MachineCapture captureMachine(DevicePlatform& devices, WmiPlatform& wmi);

// How many disk numbers past the first that does not open are probed still:
// korvel stops at that gap, but the disks behind it are worth seeing.
constexpr int kDisksPastFirstGap = 16;

}  // namespace korvel
