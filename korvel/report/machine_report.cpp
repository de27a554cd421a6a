#include "machine_report.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "../layout_types.h"
#include "../probes.h"
#include "../text_match.h"
#include "../utf8_text.h"

namespace korvel::report {
namespace {

using sim::DiskDescription;
using sim::MachineDescription;
using sim::PropertyValue;

std::string propertyText(const std::map<std::string, PropertyValue>& entry, const char* name) {
    const auto found = entry.find(name);
    if (found == entry.end()) return "-";
    const PropertyValue& value = found->second;
    switch (value.kind) {
    case PropertyValue::Kind::kInteger:
        return std::to_string(value.integer);
    case PropertyValue::Kind::kString:
        return "\"" + utf8Of(value.text.data(), value.text.size()) + "\"";
    case PropertyValue::Kind::kBoolean:
        return value.boolean ? "true" : "false";
    case PropertyValue::Kind::kNull:
        break;
    }
    return "null";
}

std::vector<LayoutEntry> entriesOf(const DiskDescription& disk) {
    std::vector<LayoutEntry> entries;
    if (disk.layout == DiskDescription::Layout::kGpt) {
        std::transform(disk.gptTypes.begin(), disk.gptTypes.end(), std::back_inserter(entries), [](const auto& type) {
            return LayoutEntry{gptTypeName(type.data()), countsAsPartition(type[0])};
        });
    } else if (disk.layout == DiskDescription::Layout::kMbr) {
        std::transform(disk.mbrTypes.begin(), disk.mbrTypes.end(), std::back_inserter(entries),
                       [](uint8_t type) { return LayoutEntry{mbrTypeName(type), countsAsPartition(type)}; });
    }
    return entries;
}

// Every disk of the description; korvel walks those before the first that
// does not open, and asks them what its walk asks.
void pictureDisks(sim::SimulatedMachine& machine, MachineReport& report) {
    const MachineDescription& description = machine.description();
    report.walkedDisks = countPhysicalDrives(machine);
    for (std::size_t i = 0; i < description.disks.size(); ++i) {
        const DiskDescription& described = description.disks[i];
        DiskPicture disk;
        disk.number = static_cast<int>(i);
        disk.opens = described.opens;
        disk.gpt = described.layout == DiskDescription::Layout::kGpt;
        disk.entries = entriesOf(described);
        if (disk.number > report.walkedDisks) {
            disk.state = DiskPicture::State::kBehindTheGap;
        } else if (disk.number == report.walkedDisks) {
            disk.state = DiskPicture::State::kDoesNotOpen;
        } else {
            disk.count = countPartitions(machine, disk.number);
            if (disk.count < 0) disk.state = DiskPicture::State::kLayoutNotRead;
            for (int partition = 1; partition <= disk.count; ++partition) {
                disk.roots.push_back(findDriveLetter(machine, disk.number, partition).value_or(std::string()));
            }
        }
        report.disks.push_back(std::move(disk));
    }
    for (const auto& entry : description.partitions) {
        const WmiEntry shown{propertyText(entry, "DiskIndex"), propertyText(entry, "StartingOffset"),
                             propertyText(entry, "BootPartition")};
        const auto index = entry.find("DiskIndex");
        const bool onADisk = index != entry.end() && index->second.kind == PropertyValue::Kind::kInteger &&
                             index->second.integer >= 0 &&
                             static_cast<std::size_t>(index->second.integer) < report.disks.size();
        if (onADisk) {
            report.disks[static_cast<std::size_t>(index->second.integer)].wmi.push_back(shown);
        } else {
            report.wmiWithoutDisk.push_back(shown);
        }
    }
}

// What the query printed as the expected starting offset for the step that
// ends the narration so far; empty when it printed none.
std::string printedOffset(const std::string& narration, int partition) {
    const std::string asked = "Checking system drive, partition " + std::to_string(partition) + "\n";
    const std::string expected = "Expected starting offset=";
    const std::size_t step = narration.rfind(asked);
    const std::size_t at = step == std::string::npos ? step : narration.find(expected, step + asked.size());
    if (at == std::string::npos) return std::string();
    const std::size_t digits = at + expected.size();
    return narration.substr(digits, narration.find('\n', digits) - digits);
}

// Each query of the boot walk, with the offset it printed.
class BootWalkRecorder final : public BootWalkObserver {
public:
    explicit BootWalkRecorder(std::vector<BootStep>& steps) : steps_(steps) {}
    void asked(int partition, bool confirmed) override {
        steps_.push_back({partition, printedOffset(console.written, partition), confirmed});
    }
    StringConsole console;

private:
    std::vector<BootStep>& steps_;
};

// Why the hot-plug step turned the letter away.
std::string hotplugSentence(sim::SimulatedMachine& machine, const std::string& letter) {
    if (isExternalDrive(machine, letter.c_str()) == kExternal) return "it is on removable media or a hot-plug device";
    const UniqueDevice volume(machine, machine.createFile(volumePath(letter), kAccessReadWrite));
    return volume.valid() ? "the volume refused the hot-plug request"
                          : "the volume did not open for reading and writing";
}

std::string walkSentence(const MachineReport& report, const std::string& letter) {
    const SystemPartition& found = report.found;
    switch (found.step) {
    case SystemPartition::Step::kNoSystemDrive:
        return "SystemDrive is not set";
    case SystemPartition::Step::kNoSystemDisk:
        return "no counted disk has a partition with the system drive's letter, " + found.systemDrive;
    case SystemPartition::Step::kNoBootPartition:
        return "WMI confirms no partition of disk " + std::to_string(found.systemDisk);
    case SystemPartition::Step::kFound:
        break;
    }
    if (namesActiveSystemPartition(found, letter.c_str())) return "this is the active system partition";
    return describeBootPartition(report) +
           (found.bootRoot.empty() ? ", which has no drive letter" : ", which is " + found.bootRoot);
}

// Each listed root as korvel answers /checkLetter with its letter: the
// hot-plug step per root, then the one walk, which no letter changes.
void judgeRoots(sim::SimulatedMachine& machine, const std::string& walk, MachineReport& report) {
    std::map<std::string, std::size_t> told;  // the hot-plug step's narration -> the whole narration's index
    for (const std::string& root : listDriveRoots(machine).value_or(std::vector<std::string>())) {
        const std::string letter = root.substr(0, 1) + ":";
        StringConsole console;
        Machine asking{machine, machine, console};
        const bool internal = passesHotplugStep(asking, letter.c_str());
        auto known = told.find(console.written);
        if (known == told.end()) {
            report.narrations.push_back(console.written + (internal ? walk : std::string()));
            known = told.emplace(console.written, report.narrations.size() - 1).first;
        }
        const int exitCode = internal && namesActiveSystemPartition(report.found, letter.c_str()) ? 1 : 0;
        report.verdicts.push_back({root, exitCode,
                                   internal ? walkSentence(report, letter) : hotplugSentence(machine, letter),
                                   known->second});
    }
}

bool isLetterAndColon(const std::string& name) {
    const char letter = foldAscii(name.empty() ? '\0' : name[0]);
    return name.size() == 2 && letter >= 'a' && letter <= 'z' && name[1] == ':';
}

void noteWhatTheDescriptionShows(const MachineDescription& description, MachineReport& report) {
    std::string unnumbered;
    for (const auto& volume : description.volumes) {
        if (!volume.disk || !volume.partition) unnumbered += (unnumbered.empty() ? "" : ", ") + volume.root;
    }
    if (!unnumbered.empty()) {
        report.notes.push_back("Volumes that report no device numbers, so that no walk finds them: " + unnumbered + ".");
    }
    if (!description.wmiConnects) {
        report.notes.push_back(
            "WMI cannot be reached: no query can confirm a boot partition. In WinPE this means that the image "
            "lacks the WinPE-WMI optional component.");
    } else if (report.found.systemDisk >= 0 && report.disks[static_cast<std::size_t>(report.found.systemDisk)].wmi.empty()) {
        report.notes.push_back("WMI lists no entry with DiskIndex " + std::to_string(report.found.systemDisk) +
                               ", the system disk.");
    }
    if (!description.systemDrive) return;
    const std::string& systemDrive = *description.systemDrive;
    for (const auto& volume : description.volumes) {
        if (!namesMatch(volume.root.substr(0, 2), systemDrive)) continue;
        if (!volume.opens || !volume.readWrite) {
            report.notes.push_back("The volume of SystemDrive, " + volume.root +
                                   ", refuses the read/write open: the description was probably captured "
                                   "without elevation.");
        }
        break;
    }
    if (!isLetterAndColon(systemDrive)) {
        report.notes.push_back("SystemDrive is \"" + systemDrive + "\", which is not a letter and a colon.");
    } else if (report.found.step == SystemPartition::Step::kNoSystemDisk) {
        // WinPE and WinRE boot into a RAM disk, X:, which lies on no physical disk.
        report.notes.push_back("SystemDrive, " + systemDrive +
                               ", is on no partition of a walked disk. In WinPE and WinRE SystemDrive is the RAM "
                               "disk the image boots into: a script that checks the installed Windows sets "
                               "SystemDrive to that Windows' drive for the korvel call.");
    }
}

}  // namespace

std::string describeBootPartition(const MachineReport& report) {
    const SystemPartition& found = report.found;
    std::string offset;
    for (const BootStep& step : report.bootWalk) {
        if (step.partition == found.bootPartition) offset = step.expectedOffset;
    }
    return "the boot partition is partition " + std::to_string(found.bootPartition) + " of disk " +
           std::to_string(found.systemDisk) + (offset.empty() ? std::string() : " (offset " + offset + ")");
}

MachineReport reportMachine(sim::SimulatedMachine& machine) {
    MachineReport report;
    pictureDisks(machine, report);

    BootWalkRecorder walk(report.bootWalk);
    Machine walker{machine, machine, walk.console};
    report.found = findActiveSystemPartition(walker, &walk);
    judgeRoots(machine, walk.console.written, report);
    noteWhatTheDescriptionShows(machine.description(), report);
    return report;
}

}  // namespace korvel::report
