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

// The disk whose partitions include the system drive, or -1.
int findSystemDisk(Machine& machine, const std::string& systemDrive) {
    Console& out = machine.console;
    // Disk and partition counts are asked anew before every pass.
    for (int disk = 0; disk < countPhysicalDrives(machine.devices); ++disk) {
        out.write("Checking drive " + std::to_string(disk) + "\n");
        for (int partition = 1; partition <= countPartitions(machine.devices, disk); ++partition) {
            out.write(" Checking partition " + std::to_string(partition) + ":\n");
            const std::string root = rootOf(machine.devices, disk, partition);
            out.write(" drive letter=" + root + "\n");
            if (namesMatch(driveName(root), systemDrive)) {
                out.write("Found system drive=" + std::to_string(disk) + "\n");
                return disk;
            }
        }
    }
    return -1;
}

}  // namespace

bool checkLetter(Machine& machine, const char* driveLetter) {
    Console& out = machine.console;
    out.write("\nChecking for active system partition\n");
    if (isExternalDrive(machine.devices, driveLetter) != kInternal) {
        out.write("Not internal hdd or badly formatted drive letter\n");
        return false;
    }
    out.write("Checking internal drives\n");

    const auto systemDrive = machine.devices.getEnvironmentVariable("SystemDrive");
    if (!systemDrive) {
        out.write("Couldn't get %SystemDrive%\n");
        return false;
    }

    const int systemDisk = findSystemDisk(machine, *systemDrive);
    if (systemDisk < 0) return false;

    out.write("\n");
    for (int partition = 1; partition <= countPartitions(machine.devices, systemDisk); ++partition) {
        out.write("Checking system drive, partition " + std::to_string(partition) + "\n");
        if (isBootPartition(machine.wmi, out, systemDisk, partition)) {
            out.write("Found active system partition @ partition=" + std::to_string(partition) + "\n");
            const std::string root = rootOf(machine.devices, systemDisk, partition);
            out.write("Found active system partition: drive letter=" + root + "\n");
            return driveLetter != nullptr && namesMatch(driveName(root), driveLetter);
        }
        out.write("Partition=" + std::to_string(partition) + " is not boot partition\n\n");
    }
    return false;
}

}  // namespace korvel
