#include "boot_query.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "com_owners.h"
#include "offset_text.h"

namespace korvel {
namespace {

constexpr uint32_t kSystemDirectorySize = 260;
constexpr uint32_t kLongestWindowsPath = 32767;
const char kOle32[] = "\\ole32.dll";  // 10 characters
constexpr std::size_t kOle32Length = sizeof kOle32 - 1;

// One enumeration of Win32_DiskPartition over a connection, with the holder
// that serves every property read of the query.
class DiskEntries {
public:
    DiskEntries(WmiPlatform& wmi, ComObject services, VariantHolder& value, int disk)
        : wmi_(wmi), services_(services), value_(value), disk_(disk) {}

    // Calls examine(object) for each entry that counts as one of the disk;
    // false when the enumeration could not be opened.
    template <class Examine>
    bool forEach(Examine examine) {
        ComRef enumerator(wmi_);
        {
            UniqueBstr className(wmi_, wmi_.sysAllocString(KORVEL_OLESTR("Win32_DiskPartition")));
            if (className.get() == nullptr) return false;
            if (wmi_.createInstanceEnum(services_, className.get(), enumerator.put()) != S_OK || !enumerator) {
                return false;
            }
        }
        for (;;) {
            ComRef object(wmi_);
            uint32_t returned = 0;
            const HResult status = wmi_.next(enumerator.get(), kNextTimeoutMs, object.put(), &returned);
            if (returned == 0 || !object) break;  // end, timeout or error
            value_.clear();
            if (status != S_OK) break;  // the object is released unexamined
            if (belongsToDisk(object.get())) examine(object.get());
        }
        value_.clear();
        return true;
    }

    // Reads a property into the holder; true only for S_OK with the expected type.
    bool read(ComObject object, const OleChar* name, uint16_t expectedType) {
        value_.clear();
        return wmi_.get(object, name, value_.get()) == S_OK && value_.value().vt == expectedType;
    }

    const Variant& value() const { return value_.value(); }
    void clearValue() { value_.clear(); }

    enum class OffsetRead { kFailed, kUnparsable, kRead };
    OffsetRead readOffset(ComObject object, uint64_t& offset) {
        if (!read(object, KORVEL_OLESTR("StartingOffset"), VT_BSTR)) return OffsetRead::kFailed;
        const Bstr text = value().bstrVal;
        const auto parsed = parseOffsetText(text, text == nullptr ? 0 : wmi_.sysStringLen(text));
        if (!parsed) return OffsetRead::kUnparsable;
        offset = *parsed;
        return OffsetRead::kRead;
    }

private:
    // An entry whose DiskIndex cannot be read counts as one of the disk.
    bool belongsToDisk(ComObject object) {
        if (read(object, KORVEL_OLESTR("DiskIndex"), VT_I4) && value().lVal != disk_) return false;
        value_.clear();
        return true;
    }

    WmiPlatform& wmi_;
    ComObject services_;
    VariantHolder& value_;
    int disk_;
};

}  // namespace

void initComSecurity(WmiPlatform& wmi) {
    std::vector<char> path(kSystemDirectorySize + kOle32Length, '\0');
    const uint32_t reported = wmi.getSystemDirectory(path.data(), kSystemDirectorySize);
    // No system directory, or a size no Windows path has: no security set-up.
    if (reported == 0 || reported > kLongestWindowsPath) return;
    if (reported > kSystemDirectorySize) {
        try {
            path.assign(static_cast<std::size_t>(reported) + kOle32Length, '\0');
        } catch (const std::bad_alloc&) {
            return;
        }
        // The directory must now fit what it asked for: its length, below that size.
        const uint32_t written = wmi.getSystemDirectory(path.data(), reported);
        if (written == 0 || written >= reported) return;
    }
    // lstrcatA writes without bounds; make sure the name and its NUL fit.
    const std::size_t length = strnlen(path.data(), path.size());
    if (length + kOle32Length + 1 > path.size()) return;
    wmi.appendText(path.data(), kOle32);

    UniqueModule ole32(wmi, wmi.loadLibrary(path.data()));
    if (ole32.get() == nullptr) return;
    if (ProcAddress entry = wmi.getProcAddress(ole32.get(), "CoInitializeSecurity")) {
        wmi.callCoInitializeSecurity(entry, ProcessSecurity{kAuthnLevelConnect, kImpLevelIdentify, kEoacNone});
    }
}

void setProxyBlanket(WmiPlatform& wmi, ComObject services) {
    if (services == nullptr) return;
    ComRef security(wmi);
    if (failed(wmi.queryClientSecurity(services, security.put())) || !security) return;
    wmi.setBlanket(security.get(), services,
                   BlanketSettings{kAuthnWinNt, kAuthzNone, kAuthnLevelConnect, kImpLevelImpersonate, kEoacNone});
}

namespace {

// ConnectServer to root\cimv2; the namespace string lives for that call only.
HResult connectToCimv2(WmiPlatform& wmi, ComObject locator, ComObject* services) {
    const UniqueBstr ns(wmi, wmi.sysAllocString(KORVEL_OLESTR("root\\cimv2")));
    if (ns.get() == nullptr) return E_FAIL;
    return wmi.connectServer(locator, ns.get(), services);
}

}  // namespace

ComObject connectWmi(WmiPlatform& wmi) {
    ComRef locator(wmi);
    if (wmi.createLocator(locator.put()) != S_OK || !locator) return nullptr;
    ComRef services(wmi);
    if (connectToCimv2(wmi, locator.get(), services.put()) == S_OK) setProxyBlanket(wmi, services.get());
    return services.release();
}

bool isBootPartition(WmiPlatform& wmi, Console& console, int disk, int partition) {
    wmi.coInitialize();
    initComSecurity(wmi);
    ComRef services(wmi, connectWmi(wmi));
    if (!services) return false;

    VariantHolder value(wmi);
    DiskEntries entries(wmi, services.get(), value, disk);

    std::size_t count = 0;
    if (!entries.forEach([&](ComObject) { ++count; })) return false;

    // Instances may come and go between passes: never store more than counted.
    std::vector<uint64_t> offsets;
    offsets.reserve(count);
    const bool collected = entries.forEach([&](ComObject object) {
        uint64_t offset = 0;
        if (offsets.size() < count && entries.readOffset(object, offset) == DiskEntries::OffsetRead::kRead) {
            offsets.push_back(offset);
        }
    });
    if (!collected) return false;

    if (partition < 1 || static_cast<std::size_t>(partition) > offsets.size()) return false;
    std::sort(offsets.begin(), offsets.end());
    const uint64_t expected = offsets[static_cast<std::size_t>(partition) - 1];
    console.write("Expected starting offset=" + std::to_string(expected) + "\n");

    bool answer = false;
    const bool checked = entries.forEach([&](ComObject object) {
        uint64_t offset = 0;
        switch (entries.readOffset(object, offset)) {
        case DiskEntries::OffsetRead::kUnparsable:
            return;
        case DiskEntries::OffsetRead::kRead:
            if (offset != expected) return;
            console.write("Checking entry at starting offset=" + std::to_string(offset) + "\n");
            entries.clearValue();
            break;
        case DiskEntries::OffsetRead::kFailed:
            break;  // taken as the entry at the expected offset
        }
        answer = false;
        if (entries.read(object, KORVEL_OLESTR("BootPartition"), VT_BOOL)) {
            answer = entries.value().boolVal != 0;
            console.write(std::string("Boot Partition = ") + (answer ? "1" : "0") + "\n");
        }
    });
    return checked && answer;
}

}  // namespace korvel
