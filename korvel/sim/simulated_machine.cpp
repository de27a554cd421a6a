#include "simulated_machine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "../probes.h"
#include "../text_match.h"

namespace korvel::sim {
namespace {

std::string narrow(const OleChar* text) {
    std::string out;
    for (; text != nullptr && *text != 0; ++text) out += *text < 0x80 ? static_cast<char>(*text) : '?';
    return out;
}

std::string hex(uint32_t value) {
    char text[16];
    (void)std::snprintf(text, sizeof text, "%x", value);
    return text;
}

void putU32(unsigned char* out, uint32_t value) { std::memcpy(out, &value, sizeof value); }

}  // namespace

std::string unfreedString(const OleChar* text) { return "BSTR \"" + narrow(text) + "\" not freed"; }

SimulatedMachine::SimulatedMachine(MachineDescription description) : description_(std::move(description)) {}

SimulatedMachine::~SimulatedMachine() = default;

std::vector<std::string> SimulatedMachine::problems() const {
    std::vector<std::string> found = misuse_;
    std::transform(handles_.begin(), handles_.end(), std::back_inserter(found), [](const auto& handle) {
        return std::string(handle.second->isDisk ? "disk" : "volume") + " handle left open";
    });
    std::transform(objects_.begin(), objects_.end(), std::back_inserter(found), [](const auto& object) {
        return "COM object of kind " + std::to_string(static_cast<int>(object.second->kind)) + " holds " +
               std::to_string(object.second->references) + " reference(s)";
    });
    std::transform(strings_.begin(), strings_.end(), std::back_inserter(found),
                   [](const auto& text) { return unfreedString(text.first); });
    if (modules_ != 0) found.push_back(std::to_string(modules_) + " module(s) left loaded");
    return found;
}

// ---- kernel32 -------------------------------------------------------------

DeviceHandle SimulatedMachine::createFile(const std::string& path, uint32_t access) {
    note([&] { return "CreateFileA " + path + " " + hex(access); });

    OpenDevice device{};
    if (const auto disk = diskOfPath(path)) {
        if (*disk >= description_.disks.size() || !description_.disks[*disk].opens) return invalidDeviceHandle();
        device = OpenDevice{true, *disk};
    } else {
        // "\\.\X:" opens the first volume whose root begins with X.
        if (path.size() != 6 || path.compare(0, 4, "\\\\.\\") != 0 || path[5] != ':') return invalidDeviceHandle();
        std::size_t index = 0;
        while (index < description_.volumes.size() && foldAscii(description_.volumes[index].root[0]) != foldAscii(path[4])) {
            ++index;
        }
        if (index == description_.volumes.size()) return invalidDeviceHandle();
        const VolumeDescription& volume = description_.volumes[index];
        if (!volume.opens || (access != 0 && !volume.readWrite)) return invalidDeviceHandle();
        device = OpenDevice{false, index};
    }
    auto record = std::make_unique<OpenDevice>(device);
    DeviceHandle handle = record.get();
    handles_[handle] = std::move(record);
    return handle;
}

// The image is built only once it is known to fit: a description may list far
// more entries than any buffer the probes offer.
bool SimulatedMachine::answerLayout(std::size_t diskIndex, unsigned char* out, uint32_t outSize) const {
    const DiskDescription& disk = description_.disks[diskIndex];
    if (disk.layout == DiskDescription::Layout::kFailing) return false;
    const bool gpt = disk.layout == DiskDescription::Layout::kGpt;
    const std::size_t count = gpt ? disk.gptTypes.size() : disk.mbrTypes.size();
    const std::size_t size = kLayoutHeadSize + count * kLayoutEntrySize;
    if (outSize < size) return false;  // ERROR_INSUFFICIENT_BUFFER
    std::memset(out, 0, size);
    putU32(out, gpt ? 1 : 0);  // PartitionStyle
    putU32(out + kLayoutPartitionCount, static_cast<uint32_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        unsigned char* entry = out + kLayoutHeadSize + i * kLayoutEntrySize;
        putU32(entry, gpt ? 1 : 0);
        putU32(entry + 24, static_cast<uint32_t>(i + 1));  // PartitionNumber
        if (gpt) {
            std::memcpy(entry + kLayoutEntryType, disk.gptTypes[i].data(), 16);
        } else {
            entry[kLayoutEntryType] = disk.mbrTypes[i];
        }
    }
    return true;
}

bool SimulatedMachine::deviceIoControl(DeviceHandle handle, uint32_t code, void* out, uint32_t outSize) {
    note([&] { return "DeviceIoControl " + hex(code) + " " + std::to_string(outSize); });
    const auto found = handles_.find(handle);
    if (found == handles_.end()) {
        misuse_.push_back("DeviceIoControl on a handle that is not open");
        return false;
    }
    auto* bytes = static_cast<unsigned char*>(out);
    const OpenDevice device = *found->second;

    if (device.isDisk) {
        return code == kIoctlDiskGetDriveLayoutEx && answerLayout(device.index, bytes, outSize);
    }
    const VolumeDescription& volume = description_.volumes[device.index];
    if (code == kIoctlStorageGetHotplugInfo) {
        if (!volume.hotplug || outSize < kHotplugInfoSize) return false;
        std::memset(bytes, 0, kHotplugInfoSize);
        putU32(bytes, kHotplugInfoSize);
        bytes[kHotplugMediaRemovable] = volume.hotplug->mediaRemovable ? 1 : 0;
        bytes[kHotplugMediaHotplug] = volume.hotplug->mediaHotplug ? 1 : 0;
        bytes[kHotplugDeviceHotplug] = volume.hotplug->deviceHotplug ? 1 : 0;
        return true;
    }
    if (code == kIoctlStorageGetDeviceNumber) {
        if (!volume.disk || !volume.partition || outSize < kDeviceNumberSize) return false;
        putU32(bytes, 7);  // FILE_DEVICE_DISK
        putU32(bytes + kDeviceNumberDevice, *volume.disk);
        putU32(bytes + kDeviceNumberPartition, *volume.partition);
        return true;
    }
    return false;
}

void SimulatedMachine::closeHandle(DeviceHandle handle) {
    note([&] { return "CloseHandle"; });
    if (handles_.erase(handle) == 0) misuse_.push_back("CloseHandle of a handle not open");
}

uint32_t SimulatedMachine::getLogicalDriveStrings(uint32_t length, char* buffer) {
    note([&] { return "GetLogicalDriveStringsA " + std::to_string(length); });
    std::string list;
    for (const VolumeDescription& volume : description_.volumes) list += volume.root + '\0';
    const auto written = static_cast<uint32_t>(list.size());
    if (length < written + 1) return written + 1;
    std::memcpy(buffer, list.c_str(), list.size() + 1);
    return written;
}

std::optional<std::string> SimulatedMachine::getEnvironmentVariable(const std::string& name) {
    note([&] { return "GetEnvironmentVariableA " + name; });
    if (name != "SystemDrive") return std::nullopt;
    return description_.systemDrive;
}

// ---- loader and COM -------------------------------------------------------

void SimulatedMachine::coInitialize() {
    note([&] { return "CoInitialize"; });
}

uint32_t SimulatedMachine::getSystemDirectory(char* buffer, uint32_t size) {
    note([&] { return "GetSystemDirectoryA " + std::to_string(size); });
    const std::string& directory = description_.systemDirectory;
    if (size <= directory.size()) return static_cast<uint32_t>(directory.size() + 1);
    std::memcpy(buffer, directory.c_str(), directory.size() + 1);
    return static_cast<uint32_t>(directory.size());
}

void SimulatedMachine::appendText(char* buffer, const char* text) {
    note([&] { return std::string("lstrcatA ") + text; });
    std::strcat(buffer, text);
}

ModuleHandle SimulatedMachine::loadLibrary(const char* path) {
    note([&] { return std::string("LoadLibraryExA ") + path; });
    if (!asciiEqualsIgnoreCase(path, description_.systemDirectory + "\\ole32.dll")) return nullptr;
    ++modules_;
    return &ole32Module_;
}

ProcAddress SimulatedMachine::getProcAddress(ModuleHandle module, const char* name) {
    note([&] { return std::string("GetProcAddress ") + name; });
    if (modules_ == 0 || module != &ole32Module_) misuse_.push_back("GetProcAddress without a loaded module");
    if (std::strcmp(name, "CoInitializeSecurity") != 0) return nullptr;
    return &coInitializeSecurityEntry_;
}

void SimulatedMachine::callCoInitializeSecurity(ProcAddress, const ProcessSecurity& settings) {
    note([&] {
        return "CoInitializeSecurity " + std::to_string(settings.authnLevel) + " " + std::to_string(settings.impLevel) +
               " " + std::to_string(settings.capabilities);
    });
}

void SimulatedMachine::freeLibrary(ModuleHandle module) {
    note([&] { return "FreeLibrary"; });
    if (modules_ == 0 || module != &ole32Module_) {
        misuse_.push_back("FreeLibrary without a loaded module");
    } else {
        --modules_;
    }
}

ComObject SimulatedMachine::newObject(Kind kind, std::size_t position) {
    auto record = std::make_unique<Object>(Object{kind, 1, position});
    ComObject object = record.get();
    objects_[object] = std::move(record);
    return object;
}

SimulatedMachine::Object* SimulatedMachine::find(ComObject object, Kind kind, const char* call) {
    const auto found = objects_.find(object);
    if (found == objects_.end() || found->second->kind != kind) {
        misuse_.push_back(std::string(call) + " on an object that is not alive or of the wrong kind");
        return nullptr;
    }
    return found->second.get();
}

HResult SimulatedMachine::createLocator(ComObject* locator) {
    note([&] { return "CoCreateInstance WbemLocator"; });
    *locator = newObject(Kind::kLocator);
    return S_OK;
}

HResult SimulatedMachine::connectServer(ComObject locator, Bstr ns, ComObject* services) {
    note([&] { return "ConnectServer " + narrow(ns); });
    *services = nullptr;
    if (find(locator, Kind::kLocator, "ConnectServer") == nullptr) return kWbemErrorFailed;
    if (ns == nullptr || strings_.count(ns) == 0) {
        misuse_.push_back("ConnectServer with a namespace that is not a live BSTR");
        return kWbemErrorInvalidNamespace;
    }
    if (!asciiEqualsIgnoreCase(narrow(ns), "root\\cimv2")) return kWbemErrorInvalidNamespace;
    if (!description_.wmiConnects) return kWbemErrorFailed;
    *services = newObject(Kind::kServices);
    return S_OK;
}

HResult SimulatedMachine::queryClientSecurity(ComObject services, ComObject* security) {
    note([&] { return "QueryInterface IClientSecurity"; });
    *security = nullptr;
    if (find(services, Kind::kServices, "QueryInterface") == nullptr) return E_NOINTERFACE;
    *security = newObject(Kind::kClientSecurity);
    return S_OK;
}

void SimulatedMachine::setBlanket(ComObject security, ComObject services, const BlanketSettings& settings) {
    note([&] {
        return "SetBlanket " + std::to_string(settings.authnService) + " " + std::to_string(settings.authzService) +
               " " + std::to_string(settings.authnLevel) + " " + std::to_string(settings.impLevel) + " " +
               std::to_string(settings.capabilities);
    });
    find(security, Kind::kClientSecurity, "SetBlanket");
    find(services, Kind::kServices, "SetBlanket");
}

HResult SimulatedMachine::createInstanceEnum(ComObject services, Bstr className, ComObject* enumerator) {
    note([&] { return "CreateInstanceEnum " + narrow(className); });
    *enumerator = nullptr;
    if (find(services, Kind::kServices, "CreateInstanceEnum") == nullptr) return kWbemErrorFailed;
    if (className == nullptr || strings_.count(className) == 0) {
        misuse_.push_back("CreateInstanceEnum with a class name that is not a live BSTR");
        return kWbemErrorFailed;
    }
    if (narrow(className) != "Win32_DiskPartition") return static_cast<HResult>(0x80041010u);  // WBEM_E_INVALID_CLASS
    *enumerator = newObject(Kind::kEnumerator);
    return S_OK;
}

HResult SimulatedMachine::next(ComObject enumerator, int32_t timeoutMs, ComObject* object, uint32_t* returned) {
    note([&] { return "Next " + std::to_string(timeoutMs); });
    *object = nullptr;
    *returned = 0;
    Object* state = find(enumerator, Kind::kEnumerator, "Next");
    if (state == nullptr) return kWbemErrorFailed;
    if (state->position >= description_.partitions.size()) return S_FALSE;
    const std::size_t index = state->position++;
    *object = newObject(Kind::kInstance, index);
    *returned = 1;
    return S_OK;
}

HResult SimulatedMachine::get(ComObject object, const OleChar* name, Variant* value) {
    note([&] { return "Get " + narrow(name); });
    Object* instance = find(object, Kind::kInstance, "Get");
    if (value->vt != VT_EMPTY) misuse_.push_back("Get into a VARIANT that still holds a value");
    if (instance == nullptr) return kWbemErrorFailed;
    const auto& properties = description_.partitions[instance->position];
    const auto property = properties.find(narrow(name));
    if (property == properties.end()) return static_cast<HResult>(0x80041002u);  // WBEM_E_NOT_FOUND
    const PropertyValue& stored = property->second;
    switch (stored.kind) {
    case PropertyValue::Kind::kInteger:
        value->vt = VT_I4;
        value->lVal = stored.integer;
        break;
    case PropertyValue::Kind::kString: {
        auto text = std::make_unique<OleString>(stored.text);
        value->vt = VT_BSTR;
        value->bstrVal = text->data();
        strings_[text->data()] = std::move(text);
        break;
    }
    case PropertyValue::Kind::kBoolean:
        value->vt = VT_BOOL;
        value->boolVal = stored.boolean ? -1 : 0;  // VARIANT_TRUE, VARIANT_FALSE
        break;
    case PropertyValue::Kind::kNull:
        value->vt = VT_NULL;
        break;
    }
    return S_OK;
}

void SimulatedMachine::release(ComObject object) {
    const auto found = objects_.find(object);
    if (found == objects_.end()) {
        misuse_.push_back("Release of an object that is not alive");
        return;
    }
    if (--found->second->references == 0) objects_.erase(found);
}

Bstr SimulatedMachine::sysAllocString(const OleChar* text) {
    if (text == nullptr) return nullptr;
    auto copy = std::make_unique<OleString>(text);
    Bstr bstr = copy->data();
    strings_[bstr] = std::move(copy);
    return bstr;
}

void SimulatedMachine::sysFreeString(Bstr text) {
    if (text == nullptr) return;
    if (strings_.erase(text) == 0) misuse_.push_back("SysFreeString of a string that is not alive");
}

uint32_t SimulatedMachine::sysStringLen(Bstr text) {
    const auto found = strings_.find(text);
    if (found == strings_.end()) {
        misuse_.push_back("SysStringLen of a string that is not alive");
        return 0;
    }
    return static_cast<uint32_t>(found->second->size());
}

void SimulatedMachine::variantClear(Variant* value) {
    if (value->vt == VT_BSTR) sysFreeString(value->bstrVal);
    value->vt = VT_EMPTY;
}

}  // namespace korvel::sim
