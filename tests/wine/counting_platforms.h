// Decorators that forward every call to a real or simulated platform and
// count what the logic opens, holds and asks, so that the same counts can be
// read on Wine and on the simulated machine.
#pragma once

#include "device_platform.h"
#include "wmi_platform.h"

namespace korvel {

class CountingDevices : public DevicePlatform {
public:
    explicit CountingDevices(DevicePlatform& inner) : inner_(inner) {}

    DeviceHandle createFile(const std::string& path, uint32_t access) override {
        const DeviceHandle handle = inner_.createFile(path, access);
        if (handle != invalidDeviceHandle()) ++open;
        return handle;
    }
    bool deviceIoControl(DeviceHandle handle, uint32_t code, void* out, uint32_t outSize) override {
        if (code == kIoctlDiskGetDriveLayoutEx) ++layoutRequests;
        return inner_.deviceIoControl(handle, code, out, outSize);
    }
    void closeHandle(DeviceHandle handle) override {
        --open;
        inner_.closeHandle(handle);
    }
    uint32_t getLogicalDriveStrings(uint32_t length, char* buffer) override {
        return inner_.getLogicalDriveStrings(length, buffer);
    }
    std::optional<std::string> getEnvironmentVariable(const std::string& name) override {
        return inner_.getEnvironmentVariable(name);
    }

    int open = 0;
    int layoutRequests = 0;

private:
    DevicePlatform& inner_;
};

class CountingWmi : public WmiPlatform {
public:
    explicit CountingWmi(WmiPlatform& inner) : inner_(inner) {}

    void coInitialize() override { inner_.coInitialize(); }
    uint32_t getSystemDirectory(char* buffer, uint32_t size) override { return inner_.getSystemDirectory(buffer, size); }
    void appendText(char* buffer, const char* text) override { inner_.appendText(buffer, text); }
    ModuleHandle loadLibrary(const char* path) override { return inner_.loadLibrary(path); }
    ProcAddress getProcAddress(ModuleHandle module, const char* name) override {
        return inner_.getProcAddress(module, name);
    }
    void callCoInitializeSecurity(ProcAddress entry, const ProcessSecurity& settings) override {
        inner_.callCoInitializeSecurity(entry, settings);
    }
    void freeLibrary(ModuleHandle module) override { inner_.freeLibrary(module); }
    HResult createLocator(ComObject* object) override { return counted(inner_.createLocator(object), object); }
    HResult connectServer(ComObject locator, Bstr ns, ComObject* object) override {
        ++connections;
        return counted(inner_.connectServer(locator, ns, object), object);
    }
    HResult queryClientSecurity(ComObject services, ComObject* object) override {
        return counted(inner_.queryClientSecurity(services, object), object);
    }
    void setBlanket(ComObject security, ComObject services, const BlanketSettings& settings) override {
        inner_.setBlanket(security, services, settings);
    }
    HResult createInstanceEnum(ComObject services, Bstr className, ComObject* object) override {
        ++enumerations;
        return counted(inner_.createInstanceEnum(services, className, object), object);
    }
    HResult next(ComObject enumerator, int32_t timeoutMs, ComObject* object, uint32_t* returned) override {
        return counted(inner_.next(enumerator, timeoutMs, object, returned), object);
    }
    HResult get(ComObject object, const OleChar* name, Variant* value) override { return inner_.get(object, name, value); }
    void release(ComObject object) override {
        --references;
        inner_.release(object);
    }
    Bstr sysAllocString(const OleChar* text) override {
        const Bstr result = inner_.sysAllocString(text);
        if (result != nullptr) ++strings;
        return result;
    }
    void sysFreeString(Bstr text) override {
        if (text != nullptr) --strings;
        inner_.sysFreeString(text);
    }
    uint32_t sysStringLen(Bstr text) override { return inner_.sysStringLen(text); }
    void variantClear(Variant* value) override { inner_.variantClear(value); }

    int references = 0;
    int strings = 0;
    int connections = 0;
    int enumerations = 0;

private:
    HResult counted(HResult result, ComObject* object) {
        if (*object != nullptr) ++references;
        return result;
    }

    WmiPlatform& inner_;
};

}  // namespace korvel
