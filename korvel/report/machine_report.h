// What korvel makes of a simulated machine, gathered by running korvel's own
// probes, search and query on it: the walks, the answers and the narrations,
// beside what the description itself holds. The page only lays this out.
#pragma once

#include <string>
#include <vector>

#include "../search.h"
#include "../sim/simulated_machine.h"

namespace korvel::report {

struct LayoutEntry {
    std::string type;  // a name for the type, or the raw byte or GUID
    bool counted;      // countPartitions counts it
};

struct WmiEntry {
    std::string diskIndex, startingOffset, bootPartition;  // as the description gives them, "-" when absent
};

struct DiskPicture {
    enum class State { kWalked, kDoesNotOpen, kLayoutNotRead, kBehindTheGap };
    int number = 0;
    State state = State::kWalked;
    bool opens = true;
    bool gpt = false;
    std::vector<LayoutEntry> entries;  // from the description
    int count = -1;                    // countPartitions, for the disks korvel walks
    std::vector<std::string> roots;    // findDriveLetter for p = 1..count, "" for none
    std::vector<WmiEntry> wmi;         // the entries whose DiskIndex is this disk
};

struct BootStep {
    int partition;
    std::string expectedOffset;  // as the query printed it; empty when it printed none
    bool confirmed;
};

struct Verdict {
    std::string root;      // as listed
    int exitCode;          // korvel's for /checkLetter with the root's letter
    std::string sentence;  // the deciding step
    std::size_t narration;  // index into MachineReport::narrations
};

struct MachineReport {
    std::vector<DiskPicture> disks;
    int walkedDisks = 0;  // countPhysicalDrives
    std::vector<WmiEntry> wmiWithoutDisk;
    SystemPartition found;
    std::vector<BootStep> bootWalk;
    std::vector<Verdict> verdicts;
    std::vector<std::string> narrations;  // korvel's stdout, each told once
    std::vector<std::string> notes;
};

MachineReport reportMachine(sim::SimulatedMachine& machine);

// The boot walk's sentence about partition P of the system disk: where it
// starts and its drive root.
std::string describeBootPartition(const MachineReport& report);

}  // namespace korvel::report
