// Asks each probe and the query the questions given, on whatever platform,
// and writes one line per answer with the counts that go with it: the same
// text from Wine and from the simulated machine loaded from Wine's capture
// means the simulation answers as Win32 does.
//   external=C:    isExternalDrive
//   drives         countPhysicalDrives
//   partitions=N   countPartitions (and the layout requests it made)
//   letter=D,P     findDriveLetter
//   boot=D,N       isBootPartition (the answer, its narration, connections
//                  and enumerations)
// The last line says what is still held: handles, references, strings.
#pragma once

#include <string>
#include <vector>

#include "device_platform.h"
#include "wmi_platform.h"

namespace korvel {

std::string probeReport(DevicePlatform& devices, WmiPlatform& wmi, const std::vector<std::string>& questions);

}  // namespace korvel
