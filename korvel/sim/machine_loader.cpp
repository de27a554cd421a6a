#include "machine_loader.h"

#include <initializer_list>
#include <limits>
#include <nlohmann/json.hpp>

namespace korvel::sim {
namespace {

using nlohmann::json;

struct Invalid {
    std::string reason;
};

void require(bool condition, const std::string& reason) {
    if (!condition) throw Invalid{reason};
}

void checkKeys(const json& object, std::initializer_list<const char*> allowed, const std::string& where) {
    require(object.is_object(), where + " must be an object");
    for (const auto& item : object.items()) {
        bool known = false;
        for (const char* key : allowed) known = known || item.key() == key;
        require(known, "unknown key \"" + item.key() + "\" in " + where);
    }
}

// An integer JSON number within [low, high], whatever its stored sign.
bool integerWithin(const json& value, int64_t low, int64_t high) {
    if (value.is_number_unsigned()) return value.get<uint64_t>() <= static_cast<uint64_t>(high);
    return value.is_number_integer() && value.get<int64_t>() >= low && value.get<int64_t>() <= high;
}

bool boolean(const json& object, const char* key, bool fallback, const std::string& where) {
    if (!object.contains(key)) return fallback;
    require(object.at(key).is_boolean(), where + "." + key + " must be true or false");
    return object.at(key).get<bool>();
}

std::optional<uint32_t> deviceNumber(const json& object, const char* key, const std::string& where) {
    if (!object.contains(key)) return std::nullopt;
    const json& value = object.at(key);
    require(integerWithin(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<uint32_t>::max()),
            where + "." + key + " must be an integer of 32 bits");
    return static_cast<uint32_t>(value.get<int64_t>());
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", braces optional, to the GUID's
// bytes in memory: three little-endian fields, then eight bytes as written.
std::array<uint8_t, 16> parseGuid(std::string text, const std::string& where) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    require(text.size() == 36 && text[8] == '-' && text[13] == '-' && text[18] == '-' && text[23] == '-',
            where + " is not a GUID");
    std::string hex;
    for (char c : text) {
        if (c == '-') continue;
        require(hexDigit(c) >= 0, where + " is not a GUID");
        hex += c;
    }
    require(hex.size() == 32, where + " is not a GUID");
    uint8_t bytes[16];
    for (std::size_t i = 0; i < 16; ++i) {
        bytes[i] = static_cast<uint8_t>(hexDigit(hex[2 * i]) * 16 + hexDigit(hex[2 * i + 1]));
    }
    return {bytes[3], bytes[2], bytes[1], bytes[0], bytes[5], bytes[4], bytes[7], bytes[6],
            bytes[8], bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]};
}

OleString toUtf16(const std::string& utf8) {
    OleString out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const int extra = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
        uint32_t code = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < utf8.size(); ++k) code = (code << 6) | (utf8[i + k] & 0x3F);
        i += static_cast<std::size_t>(extra) + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<OleChar>(0xD800 + (code >> 10));
            out += static_cast<OleChar>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<OleChar>(code);
        }
    }
    return out;
}

DiskDescription parseDisk(const json& item, const std::string& where) {
    checkKeys(item, {"opens", "layout"}, where);
    DiskDescription disk;
    disk.opens = boolean(item, "opens", true, where);
    if (!item.contains("layout")) return disk;
    const json& layout = item.at("layout");
    if (layout.is_null()) {
        disk.layout = DiskDescription::Layout::kFailing;
        return disk;
    }
    const std::string at = where + ".layout";
    checkKeys(layout, {"mbr", "gpt"}, at);
    require(layout.size() == 1, at + " must hold one of \"mbr\" or \"gpt\"");
    if (layout.contains("mbr")) {
        disk.layout = DiskDescription::Layout::kMbr;
        require(layout.at("mbr").is_array(), at + ".mbr must be an array");
        for (const json& type : layout.at("mbr")) {
            require(integerWithin(type, 0, 255), at + ".mbr holds a type that is not a byte");
            disk.mbrTypes.push_back(static_cast<uint8_t>(type.get<int64_t>()));
        }
    } else {
        disk.layout = DiskDescription::Layout::kGpt;
        require(layout.at("gpt").is_array(), at + ".gpt must be an array");
        for (const json& type : layout.at("gpt")) {
            require(type.is_string(), at + ".gpt holds a type that is not a GUID string");
            disk.gptTypes.push_back(parseGuid(type.get<std::string>(), at + ".gpt item"));
        }
    }
    return disk;
}

VolumeDescription parseVolume(const json& item, const std::string& where) {
    checkKeys(item, {"root", "opens", "readWrite", "disk", "partition", "hotplug"}, where);
    VolumeDescription volume;
    require(item.contains("root") && item.at("root").is_string(), where + ".root must be a string");
    volume.root = item.at("root").get<std::string>();
    require(!volume.root.empty() && volume.root.find('\0') == std::string::npos,
            where + ".root must be a non-empty string without NUL");
    volume.opens = boolean(item, "opens", true, where);
    volume.readWrite = boolean(item, "readWrite", true, where);
    volume.disk = deviceNumber(item, "disk", where);
    volume.partition = deviceNumber(item, "partition", where);
    if (item.contains("hotplug")) {
        const json& hotplug = item.at("hotplug");
        if (hotplug.is_null()) {
            volume.hotplug.reset();
        } else {
            const std::string at = where + ".hotplug";
            checkKeys(hotplug, {"mediaRemovable", "deviceHotplug", "mediaHotplug"}, at);
            volume.hotplug = HotplugDescription{boolean(hotplug, "mediaRemovable", false, at),
                                                boolean(hotplug, "deviceHotplug", false, at),
                                                boolean(hotplug, "mediaHotplug", false, at)};
        }
    }
    return volume;
}

PropertyValue parseProperty(const json& value, const std::string& where) {
    PropertyValue property;
    if (value.is_null()) {
        property.kind = PropertyValue::Kind::kNull;
    } else if (value.is_boolean()) {
        property.kind = PropertyValue::Kind::kBoolean;
        property.boolean = value.get<bool>();
    } else if (value.is_string()) {
        property.kind = PropertyValue::Kind::kString;
        property.text = toUtf16(value.get<std::string>());
    } else {
        require(value.is_number_integer(), where + " must be an integer, a string, a boolean or null");
        require(integerWithin(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()),
                where + " must fit a 32-bit integer");
        property.kind = PropertyValue::Kind::kInteger;
        property.integer = static_cast<int32_t>(value.get<int64_t>());
    }
    return property;
}

MachineDescription parseDescription(const json& root) {
    checkKeys(root, {"systemDrive", "disks", "volumes", "wmi"}, "the machine");
    MachineDescription machine;
    if (root.contains("systemDrive") && !root.at("systemDrive").is_null()) {
        require(root.at("systemDrive").is_string(), "systemDrive must be a string or null");
        const auto value = root.at("systemDrive").get<std::string>();
        if (!value.empty()) machine.systemDrive = value;  // Windows answers 0 for an empty value
    }
    if (root.contains("disks")) {
        require(root.at("disks").is_array(), "disks must be an array");
        for (std::size_t i = 0; i < root.at("disks").size(); ++i) {
            machine.disks.push_back(parseDisk(root.at("disks")[i], "disks[" + std::to_string(i) + "]"));
        }
    }
    if (root.contains("volumes")) {
        require(root.at("volumes").is_array(), "volumes must be an array");
        for (std::size_t i = 0; i < root.at("volumes").size(); ++i) {
            machine.volumes.push_back(parseVolume(root.at("volumes")[i], "volumes[" + std::to_string(i) + "]"));
        }
    }
    if (root.contains("wmi")) {
        const json& wmi = root.at("wmi");
        if (wmi.is_null()) {
            machine.wmiConnects = false;
        } else {
            require(wmi.is_array(), "wmi must be an array or null");
            for (std::size_t i = 0; i < wmi.size(); ++i) {
                const std::string where = "wmi[" + std::to_string(i) + "]";
                checkKeys(wmi[i], {"DiskIndex", "StartingOffset", "BootPartition"}, where);
                std::map<std::string, PropertyValue> instance;
                for (const auto& property : wmi[i].items()) {
                    instance[property.key()] = parseProperty(property.value(), where + "." + property.key());
                }
                machine.partitions.push_back(std::move(instance));
            }
        }
    }
    return machine;
}

}  // namespace

std::variant<MachineDescription, std::string> parseMachine(const std::string& text) {
    try {
        return parseDescription(json::parse(text));
    } catch (const Invalid& invalid) {
        return invalid.reason;
    } catch (const json::exception& error) {
        return std::string(error.what());
    }
}

const char* defaultMachineJson() {
    // System drive C: is partition 1 of disk 0 and the boot partition; D: is
    // a data volume behind it; E: is a USB stick on disk 1.
    return R"({
  "systemDrive": "C:",
  "disks": [
    {"layout": {"mbr": [7, 7, 0, 0]}},
    {"layout": {"mbr": [12, 0, 0, 0]}}
  ],
  "volumes": [
    {"root": "C:\\", "disk": 0, "partition": 1},
    {"root": "D:\\", "disk": 0, "partition": 2},
    {"root": "E:\\", "disk": 1, "partition": 1,
     "hotplug": {"mediaRemovable": true, "deviceHotplug": true}}
  ],
  "wmi": [
    {"DiskIndex": 0, "StartingOffset": "1048576", "BootPartition": true},
    {"DiskIndex": 0, "StartingOffset": "128849018880", "BootPartition": false},
    {"DiskIndex": 1, "StartingOffset": "1048576", "BootPartition": false}
  ]
})";
}

}  // namespace korvel::sim
