#include "search.h"

#include <string>

#include "boot_query.h"
#include "probes.h"
#include "text_match.h"

namespace korvel {
namespace {

std::string driveName(const std::string& root) { return root.substr(0, 2); }

std::string rootOf(DevicePlatform& devices, int disk, int partition) {
    return findDriveLetter(devices, disk, partition).value_or(std::string());
}

// Finds the disk whose partitions include the system drive.
bool findSystemDisk(Machine& machine, SystemPartition& found) {
    Console& out = machine.console;
    // Disk and partition counts are asked anew before every pass.
    for (int disk = 0; disk < countPhysicalDrives(machine.devices); ++disk) {
        out.write("Checking drive " + std::to_string(disk) + "\n");
        for (int partition = 1; partition <= countPartitions(machine.devices, disk); ++partition) {
            out.write(" Checking partition " + std::to_string(partition) + ":\n");
            const std::string root = rootOf(machine.devices, disk, partition);
            out.write(" drive letter=" + root + "\n");
            if (namesMatch(driveName(root), found.systemDrive)) {
                out.write("Found system drive=" + std::to_string(disk) + "\n");
                found.systemDisk = disk;
                found.systemPartition = partition;
                found.systemRoot = root;
                return true;
            }
        }
    }
    return false;
}

}  // namespace

bool passesHotplugStep(Machine& machine, const char* driveLetter) {
    Console& out = machine.console;
    out.write("\nChecking for active system partition\n");
    if (isExternalDrive(machine.devices, driveLetter) != kInternal) {
        out.write("Not internal hdd or badly formatted drive letter\n");
        return false;
    }
    out.write("Checking internal drives\n");
    return true;
}

SystemPartition findActiveSystemPartition(Machine& machine, BootWalkObserver* observer) {
    Console& out = machine.console;
    SystemPartition found;
    const auto systemDrive = machine.devices.getEnvironmentVariable("SystemDrive");
    if (!systemDrive) {
        out.write("Couldn't get %SystemDrive%\n");
        return found;
    }
    found.systemDrive = *systemDrive;
    found.step = SystemPartition::Step::kNoSystemDisk;
    if (!findSystemDisk(machine, found)) return found;

    found.step = SystemPartition::Step::kNoBootPartition;
    out.write("\n");
    for (int partition = 1; partition <= countPartitions(machine.devices, found.systemDisk); ++partition) {
        out.write("Checking system drive, partition " + std::to_string(partition) + "\n");
        const bool boot = isBootPartition(machine.wmi, out, found.systemDisk, partition);
        if (observer != nullptr) observer->asked(partition, boot);
        if (boot) {
            out.write("Found active system partition @ partition=" + std::to_string(partition) + "\n");
            found.step = SystemPartition::Step::kFound;
            found.bootPartition = partition;
            found.bootRoot = rootOf(machine.devices, found.systemDisk, partition);
            out.write("Found active system partition: drive letter=" + found.bootRoot + "\n");
            return found;
        }
        out.write("Partition=" + std::to_string(partition) + " is not boot partition\n\n");
    }
    return found;
}

bool namesActiveSystemPartition(const SystemPartition& found, const char* driveLetter) {
    return found.step == SystemPartition::Step::kFound && driveLetter != nullptr &&
           namesMatch(driveName(found.bootRoot), driveLetter);
}

bool checkLetter(Machine& machine, const char* driveLetter) {
    if (!passesHotplugStep(machine, driveLetter)) return false;
    return namesActiveSystemPartition(findActiveSystemPartition(machine), driveLetter);
}

}  // namespace korvel
