// The search for the active system partition, narrated on the console.
#pragma once

#include "console.h"
#include "device_platform.h"
#include "wmi_platform.h"

namespace korvel {

struct Machine {
    DevicePlatform& devices;
    WmiPlatform& wmi;
    Console& console;
};

// True only when driveLetter (may be null) names the boot partition of the
// disk that holds %SystemDrive%.
bool checkLetter(Machine& machine, const char* driveLetter);

}  // namespace korvel
