// The search for the active system partition, narrated on the console.
#pragma once

#include <string>

#include "console.h"
#include "device_platform.h"
#include "wmi_platform.h"

namespace korvel {

struct Machine {
    DevicePlatform& devices;
    WmiPlatform& wmi;
    Console& console;
};

// What the search finds past the hot-plug step, where nothing depends on the
// letter asked about any more.
struct SystemPartition {
    enum class Step { kNoSystemDrive, kNoSystemDisk, kNoBootPartition, kFound };
    Step step = Step::kNoSystemDrive;  // how far the search got
    std::string systemDrive;           // SystemDrive as read
    int systemDisk = -1;               // the disk holding it, and where:
    int systemPartition = -1;
    std::string systemRoot;
    int bootPartition = -1;  // the first partition WMI confirms
    std::string bootRoot;    // its drive root, empty when it has none
};

// Told of each boot-partition query of the walk over the system disk.
class BootWalkObserver {
public:
    virtual ~BootWalkObserver() = default;
    virtual void asked(int partition, bool confirmed) = 0;
};

// The hot-plug step: true when the volume of driveLetter (may be null) lies
// on an internal disk.
bool passesHotplugStep(Machine& machine, const char* driveLetter);
// The rest of the search: SystemDrive, the walk to the system disk, the walk
// over its partitions asking WMI for the boot partition.
SystemPartition findActiveSystemPartition(Machine& machine, BootWalkObserver* observer = nullptr);
// True when driveLetter (may be null) names the partition the search found.
bool namesActiveSystemPartition(const SystemPartition& found, const char* driveLetter);

// True only when driveLetter (may be null) names the boot partition of the
// disk that holds %SystemDrive%: the three steps above.
bool checkLetter(Machine& machine, const char* driveLetter);

}  // namespace korvel
