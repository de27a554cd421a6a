#include "layout_types.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

#include "device_platform.h"

namespace korvel {

std::string guidText(const unsigned char* bytes) {
    char text[40];
    (void)std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                        recordU32(bytes), static_cast<unsigned>(bytes[4] | (bytes[5] << 8)),
                        static_cast<unsigned>(bytes[6] | (bytes[7] << 8)), bytes[8], bytes[9], bytes[10], bytes[11],
                        bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

std::string mbrTypeName(unsigned char type) {
    switch (type) {
    case 0x00:
        return "empty slot";
    case 0x05:
        return "extended";
    case 0x07:
        return "NTFS/exFAT";
    case 0x0B:
        return "FAT32";
    case 0x0C:
        return "FAT32 (LBA)";
    case 0x0F:
        return "extended (LBA)";
    case 0x27:
        return "Windows recovery";
    default: {
        char text[16];
        (void)std::snprintf(text, sizeof text, "type 0x%02X", type);
        return text;
    }
    }
}

std::string gptTypeName(const unsigned char* type) {
    // GUID, name
    static const std::pair<const char*, const char*> known[] = {
        {"00000000-0000-0000-0000-000000000000", "unused entry"},
        {"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI system partition"},
        {"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved"},
        {"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "basic data"},
        {"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows recovery"}};
    std::string text = guidText(type);
    const auto* found = std::find_if(std::begin(known), std::end(known), [&](const auto& entry) { return text == entry.first; });
    return found == std::end(known) ? text : found->second;
}

}  // namespace korvel
