// The test side of the platform seams, as ninja keeps its in-memory fake
// apart from the real disk interface: a decorator of a DevicePlatform and a
// WmiPlatform (the simulated machine's, or Win32's under Wine) that counts
// every call and what is held, fails the k-th call that can fail or the calls
// a rule picks, and lets a test replace an answer. The machine that ships
// holds none of it.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "device_platform.h"
#include "probes.h"
#include "wmi_platform.h"

namespace korvel::test {

struct CallCounts {
    int createFile = 0;
    int deviceIoControl = 0;
    int closeHandle = 0;
    int getLogicalDriveStrings = 0;
    int coInitialize = 0;
    int getSystemDirectory = 0;
    int loadLibrary = 0;
    int freeLibrary = 0;
    int coInitializeSecurity = 0;
    int createLocator = 0;
    int connectServer = 0;
    int setBlanket = 0;
    int createInstanceEnum = 0;
    int next = 0;
    int get = 0;
};

// What the logic holds now: handles, COM references, strings it allocated.
struct Held {
    int handles = 0;
    int references = 0;
    int strings = 0;
};

class InstrumentedPlatforms : public DevicePlatform, public WmiPlatform {
public:
    InstrumentedPlatforms(DevicePlatform& devices, WmiPlatform& wmi) : devices_(devices), wmi_(wmi) {}

    // Makes the k-th call from now on that can fail (1-based) fail; 0 fails none.
    void failCall(int k) { failAt_ = k == 0 ? 0 : failableCalls_ + k; }
    int failableCalls() const { return failableCalls_; }
    const CallCounts& counts() const { return counts_; }
    const Held& held() const { return held_; }

    // Fails the calls it says yes to, by the platform method's name ("next", "get", ...).
    std::function<bool(const std::string& call)> failWhen;
    // Replacements of platform answers.
    std::function<bool(int disk, unsigned char* out, uint32_t size)> layoutAnswer;
    std::function<uint32_t(uint32_t length, char* buffer)> driveStringsAnswer;
    std::function<uint32_t(char* buffer, uint32_t size)> systemDirectoryAnswer;
    // Refuses every CreateFileA of the paths and accesses it says yes to.
    std::function<bool(const std::string& path, uint32_t access)> refuseOpen;
    // The success code that "createLocator" and "connectServer" give with their object.
    std::function<HResult(const std::string& call)> successCodeFor;
    // Called as each enumeration opens (1, 2, 3, ...), so instances can come and go.
    std::function<void(int enumeration)> beforeEnumeration;

    // DevicePlatform
    DeviceHandle createFile(const std::string& path, uint32_t access) override {
        ++counts_.createFile;
        if (failNow("createFile") || (refuseOpen && refuseOpen(path, access))) return invalidDeviceHandle();
        const DeviceHandle handle = devices_.createFile(path, access);
        if (handle == invalidDeviceHandle()) return handle;
        ++held_.handles;
        if (const auto disk = diskOfPath(path)) disks_[handle] = static_cast<int>(*disk);
        return handle;
    }
    bool deviceIoControl(DeviceHandle handle, uint32_t code, void* out, uint32_t outSize) override {
        ++counts_.deviceIoControl;
        if (failNow("deviceIoControl")) return false;
        const auto disk = disks_.find(handle);
        if (layoutAnswer && disk != disks_.end() && code == kIoctlDiskGetDriveLayoutEx) {
            return layoutAnswer(disk->second, static_cast<unsigned char*>(out), outSize);
        }
        return devices_.deviceIoControl(handle, code, out, outSize);
    }
    void closeHandle(DeviceHandle handle) override {
        ++counts_.closeHandle;
        --held_.handles;
        disks_.erase(handle);
        devices_.closeHandle(handle);
    }
    uint32_t getLogicalDriveStrings(uint32_t length, char* buffer) override {
        ++counts_.getLogicalDriveStrings;
        if (failNow("getLogicalDriveStrings")) return 0;
        return driveStringsAnswer ? driveStringsAnswer(length, buffer) : devices_.getLogicalDriveStrings(length, buffer);
    }
    std::optional<std::string> getEnvironmentVariable(const std::string& name) override {
        if (failNow("getEnvironmentVariable")) return std::nullopt;
        return devices_.getEnvironmentVariable(name);
    }

    // WmiPlatform
    void coInitialize() override {
        ++counts_.coInitialize;
        wmi_.coInitialize();
    }
    uint32_t getSystemDirectory(char* buffer, uint32_t size) override {
        ++counts_.getSystemDirectory;
        if (failNow("getSystemDirectory")) return 0;
        return systemDirectoryAnswer ? systemDirectoryAnswer(buffer, size) : wmi_.getSystemDirectory(buffer, size);
    }
    void appendText(char* buffer, const char* text) override { wmi_.appendText(buffer, text); }
    ModuleHandle loadLibrary(const char* path) override {
        ++counts_.loadLibrary;
        return failNow("loadLibrary") ? nullptr : wmi_.loadLibrary(path);
    }
    ProcAddress getProcAddress(ModuleHandle module, const char* name) override {
        return failNow("getProcAddress") ? nullptr : wmi_.getProcAddress(module, name);
    }
    void callCoInitializeSecurity(ProcAddress entry, const ProcessSecurity& settings) override {
        ++counts_.coInitializeSecurity;
        wmi_.callCoInitializeSecurity(entry, settings);
    }
    void freeLibrary(ModuleHandle module) override {
        ++counts_.freeLibrary;
        wmi_.freeLibrary(module);
    }
    HResult createLocator(ComObject* locator) override {
        ++counts_.createLocator;
        *locator = nullptr;
        if (failNow("createLocator")) return kWbemErrorFailed;
        return succeeded("createLocator", wmi_.createLocator(locator), locator);
    }
    HResult connectServer(ComObject locator, Bstr ns, ComObject* services) override {
        ++counts_.connectServer;
        *services = nullptr;
        if (failNow("connectServer")) return kWbemErrorFailed;
        return succeeded("connectServer", wmi_.connectServer(locator, ns, services), services);
    }
    HResult queryClientSecurity(ComObject services, ComObject* security) override {
        *security = nullptr;
        if (failNow("queryClientSecurity")) return E_NOINTERFACE;
        return obtained(wmi_.queryClientSecurity(services, security), security);
    }
    void setBlanket(ComObject security, ComObject services, const BlanketSettings& settings) override {
        ++counts_.setBlanket;
        wmi_.setBlanket(security, services, settings);
    }
    HResult createInstanceEnum(ComObject services, Bstr className, ComObject* enumerator) override {
        ++counts_.createInstanceEnum;
        *enumerator = nullptr;
        if (failNow("createInstanceEnum")) return kWbemErrorFailed;
        if (beforeEnumeration) beforeEnumeration(counts_.createInstanceEnum);
        return obtained(wmi_.createInstanceEnum(services, className, enumerator), enumerator);
    }
    // A failing step still hands out its object, which must be released.
    HResult next(ComObject enumerator, int32_t timeoutMs, ComObject* object, uint32_t* returned) override {
        ++counts_.next;
        const bool fail = failNow("next");
        const HResult result = obtained(wmi_.next(enumerator, timeoutMs, object, returned), object);
        if (!fail) return result;
        return *returned != 0 ? kWbemStatusTimedOut : kWbemErrorFailed;
    }
    HResult get(ComObject object, const OleChar* name, Variant* value) override {
        ++counts_.get;
        return failNow("get") ? kWbemErrorFailed : wmi_.get(object, name, value);
    }
    void release(ComObject object) override {
        --held_.references;
        wmi_.release(object);
    }
    Bstr sysAllocString(const OleChar* text) override {
        if (failNow("sysAllocString")) return nullptr;
        const Bstr copy = wmi_.sysAllocString(text);
        if (copy != nullptr) ++held_.strings;
        return copy;
    }
    void sysFreeString(Bstr text) override {
        if (text != nullptr) --held_.strings;
        wmi_.sysFreeString(text);
    }
    uint32_t sysStringLen(Bstr text) override { return wmi_.sysStringLen(text); }
    void variantClear(Variant* value) override { wmi_.variantClear(value); }

private:
    bool failNow(const char* call) {
        const bool counted = ++failableCalls_ == failAt_;
        return (failWhen && failWhen(call)) || counted;
    }
    HResult obtained(HResult result, const ComObject* object) {
        if (*object != nullptr) ++held_.references;
        return result;
    }
    HResult succeeded(const char* call, HResult result, const ComObject* object) {
        obtained(result, object);
        return result == S_OK && *object != nullptr && successCodeFor ? successCodeFor(call) : result;
    }

    DevicePlatform& devices_;
    WmiPlatform& wmi_;
    int failAt_ = 0;
    int failableCalls_ = 0;
    CallCounts counts_;
    Held held_;
    std::map<DeviceHandle, int> disks_;
};

}  // namespace korvel::test
