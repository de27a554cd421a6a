#include "machine_capture.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "boot_query.h"
#include "com_owners.h"
#include "layout_types.h"
#include "probes.h"
#include "utf8_text.h"
#include "text_match.h"

namespace korvel {
namespace {

bool isAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string escapedByte(unsigned value) {
    char text[8];
    (void)std::snprintf(text, sizeof text, "\\u%04x", value);
    return text;
}

// A JSON string of UTF-8 text.
std::string quoted(const std::string& utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            out += escapedByte(static_cast<unsigned char>(c));
        } else {
            out += c;
        }
    }
    return out + "\"";
}

const char* boolean(bool value) { return value ? "true" : "false"; }

// The entries korvel reads of a layout: a GPT layout's type GUIDs, any
// other layout's type bytes.
std::string layoutJson(const std::vector<unsigned char>& layout) {
    constexpr uint32_t kPartitionStyleGpt = 1;
    const bool gpt = recordU32(layout.data()) == kPartitionStyleGpt;
    const std::size_t entries = layoutEntries(layout);
    std::string items;
    for (std::size_t i = 0; i < entries; ++i) {
        const unsigned char* type = layout.data() + kLayoutHeadSize + i * kLayoutEntrySize + kLayoutEntryType;
        if (i > 0) items += ", ";
        items += gpt ? quoted(guidText(type)) : std::to_string(*type);
    }
    return std::string(gpt ? "{\"gpt\": [" : "{\"mbr\": [") + items + "]}";
}

// Opens disk N as countPartitions does; its layout, or null, when it opens.
std::optional<std::string> diskJson(DevicePlatform& devices, int number) {
    UniqueDevice disk(devices, devices.createFile(physicalDrivePath(number), kAccessNone));
    if (!disk.valid()) return std::nullopt;
    const auto layout = readDriveLayout(devices, disk.get());
    return "{\"opens\": true, \"layout\": " + (layout ? layoutJson(*layout) : std::string("null")) + "}";
}

// Disks 0, 1, ... up to the first that does not open, then kDisksPastFirstGap
// numbers more, the gaps up to the last that opens written as disks that do not.
std::string disksJson(DevicePlatform& devices) {
    std::vector<std::string> disks;
    int gap = 0;
    for (std::optional<std::string> disk; (disk = diskJson(devices, gap)); ++gap) disks.push_back(*disk);
    std::size_t kept = disks.size();
    disks.emplace_back("{\"opens\": false}");
    for (int number = gap + 1; number <= gap + kDisksPastFirstGap; ++number) {
        const auto disk = diskJson(devices, number);
        disks.push_back(disk.value_or("{\"opens\": false}"));
        if (disk) kept = disks.size();
    }
    disks.resize(kept);
    std::string out;
    for (const std::string& disk : disks) out += (out.empty() ? "\n    " : ",\n    ") + disk;
    return "[" + out + (disks.empty() ? "]" : "\n  ]");
}

std::string hotplugJson(DevicePlatform& devices, DeviceHandle volume) {
    unsigned char info[kHotplugInfoSize] = {};
    if (!devices.deviceIoControl(volume, kIoctlStorageGetHotplugInfo, info, sizeof info)) return "null";
    return std::string("{\"mediaRemovable\": ") + boolean(info[kHotplugMediaRemovable] != 0) +
           ", \"deviceHotplug\": " + boolean(info[kHotplugDeviceHotplug] != 0) +
           ", \"mediaHotplug\": " + boolean(info[kHotplugMediaHotplug] != 0) + "}";
}

// One root as findDriveLetter (the query open, the device number) and
// isExternalDrive (the read/write open, the hot-plug flags) see it.
std::string volumeJson(DevicePlatform& devices, const std::string& root, bool& readWriteOpens) {
    const std::string path = volumePath(root.substr(0, 1) + ":");
    std::string numbers;
    UniqueDevice query(devices, devices.createFile(path, kAccessNone));
    const bool opens = query.valid();
    if (opens) {
        unsigned char number[kDeviceNumberSize] = {};
        if (devices.deviceIoControl(query.get(), kIoctlStorageGetDeviceNumber, number, sizeof number)) {
            numbers = ", \"disk\": " + std::to_string(recordU32(number + kDeviceNumberDevice)) +
                      ", \"partition\": " + std::to_string(recordU32(number + kDeviceNumberPartition));
        }
    }
    query.reset();
    std::string hotplug;
    UniqueDevice readWrite(devices, devices.createFile(path, kAccessReadWrite));
    readWriteOpens = readWrite.valid();
    if (readWriteOpens) hotplug = ", \"hotplug\": " + hotplugJson(devices, readWrite.get());
    // A volume that opens only for reading and writing still opens: korvel's
    // hot-plug question reaches it, its device-number question does not.
    return "{\"root\": " + quoted(root) + ", \"opens\": " + boolean(opens || readWrite.valid()) +
           ", \"readWrite\": " + boolean(readWrite.valid()) + numbers + hotplug + "}";
}

// A property as read, or nothing when it cannot be read or has no JSON form.
std::optional<std::string> propertyJson(WmiPlatform& wmi, VariantHolder& value, ComObject object, const OleChar* name) {
    value.clear();
    if (wmi.get(object, name, value.get()) != S_OK) return std::nullopt;
    const Variant& read = value.value();
    switch (read.vt) {
    case VT_I4:
        return std::to_string(read.lVal);
    case VT_BSTR:
        return quoted(read.bstrVal == nullptr ? std::string() : utf8Of(read.bstrVal, wmi.sysStringLen(read.bstrVal)));
    case VT_BOOL:
        return boolean(read.boolVal != 0);
    case VT_NULL:
        return std::string("null");
    default:
        return std::nullopt;
    }
}

std::string entryJson(WmiPlatform& wmi, VariantHolder& value, ComObject object) {
    struct Property {
        const char* key;
        const OleChar* name;
    };
    const Property properties[] = {{"DiskIndex", KORVEL_OLESTR("DiskIndex")},
                                   {"StartingOffset", KORVEL_OLESTR("StartingOffset")},
                                   {"BootPartition", KORVEL_OLESTR("BootPartition")}};
    std::string fields;
    for (const Property& property : properties) {
        if (auto read = propertyJson(wmi, value, object, property.name)) {
            fields += (fields.empty() ? "\"" : ", \"") + std::string(property.key) + "\": " + *read;
        }
    }
    value.clear();
    return "{" + fields + "}";
}

// Every Win32_DiskPartition instance in enumeration order, connected as a
// query connects; null when no connection can be made.
bool wmiJson(WmiPlatform& wmi, std::string& json, std::string& failure) {
    wmi.coInitialize();
    initComSecurity(wmi);
    const ComRef services(wmi, connectWmi(wmi));
    if (!services) {
        json = "null";
        return true;
    }
    ComRef enumerator(wmi);
    {
        const UniqueBstr className(wmi, wmi.sysAllocString(KORVEL_OLESTR("Win32_DiskPartition")));
        if (className.get() == nullptr ||
            wmi.createInstanceEnum(services.get(), className.get(), enumerator.put()) != S_OK || !enumerator) {
            failure = "the Win32_DiskPartition enumeration cannot be opened";
            return false;
        }
    }
    VariantHolder value(wmi);
    std::string entries;
    for (;;) {
        ComRef object(wmi);
        uint32_t returned = 0;
        const HResult status = wmi.next(enumerator.get(), kNextTimeoutMs, object.put(), &returned);
        if ((returned == 0 || !object) && status == S_FALSE) break;  // the end of the list
        if (returned == 0 || !object || status != S_OK) {
            char code[16];
            (void)std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(status));
            failure = std::string("Next failed before the end of the Win32_DiskPartition list (") + code + ")";
            return false;
        }
        entries += (entries.empty() ? "\n    " : ",\n    ") + entryJson(wmi, value, object.get());
    }
    json = "[" + entries + (entries.empty() ? "]" : "\n  ]");
    return true;
}

MachineCapture notCaptured(const std::string& reason) { return {std::string(), reason, std::string()}; }

}  // namespace

MachineCapture captureMachine(DevicePlatform& devices, WmiPlatform& wmi) {
    std::string json = "{\n";
    const auto systemDrive = devices.getEnvironmentVariable("SystemDrive");
    if (systemDrive) {
        if (!isAscii(*systemDrive)) return notCaptured("the SystemDrive value is not ASCII");
        json += "  \"systemDrive\": " + quoted(*systemDrive) + ",\n";
    }
    json += "  \"disks\": " + disksJson(devices) + ",\n";

    std::string volumes;
    std::string warning;
    for (const std::string& root : listDriveRoots(devices).value_or(std::vector<std::string>())) {
        if (!isAscii(root)) return notCaptured("a drive root is not ASCII");
        bool readWrite = false;
        volumes += (volumes.empty() ? "\n    " : ",\n    ") + volumeJson(devices, root, readWrite);
        // Opening a volume for reading and writing takes an elevated prompt.
        if (!readWrite && warning.empty() && systemDrive && namesMatch(root.substr(0, 2), *systemDrive)) {
            warning = "the SystemDrive volume " + root +
                      " refuses the read/write open: this probably runs without elevation";
        }
    }
    json += "  \"volumes\": [" + volumes + (volumes.empty() ? "]" : "\n  ]") + ",\n";

    std::string entries;
    std::string failure;
    if (!wmiJson(wmi, entries, failure)) return notCaptured(failure);
    return {json + "  \"wmi\": " + entries + "\n}\n", std::string(), warning};
}

}  // namespace korvel
