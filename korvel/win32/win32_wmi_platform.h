#pragma once

#include "../wmi_platform.h"

namespace korvel {

// The query's calls, forwarded to the loader, ole32, oleaut32 and WMI.
class Win32WmiPlatform : public WmiPlatform {
public:
    void coInitialize() override;
    uint32_t getSystemDirectory(char* buffer, uint32_t size) override;
    void appendText(char* buffer, const char* text) override;
    ModuleHandle loadLibrary(const char* path) override;
    ProcAddress getProcAddress(ModuleHandle module, const char* name) override;
    void callCoInitializeSecurity(ProcAddress entry, const ProcessSecurity& settings) override;
    void freeLibrary(ModuleHandle module) override;
    HResult createLocator(ComObject* locator) override;
    HResult connectServer(ComObject locator, Bstr ns, ComObject* services) override;
    HResult queryClientSecurity(ComObject services, ComObject* security) override;
    void setBlanket(ComObject security, ComObject services, const BlanketSettings& settings) override;
    HResult createInstanceEnum(ComObject services, Bstr className, ComObject* enumerator) override;
    HResult next(ComObject enumerator, int32_t timeoutMs, ComObject* object, uint32_t* returned) override;
    HResult get(ComObject object, const OleChar* name, Variant* value) override;
    void release(ComObject object) override;
    Bstr sysAllocString(const OleChar* text) override;
    void sysFreeString(Bstr text) override;
    uint32_t sysStringLen(Bstr text) override;
    void variantClear(Variant* value) override;
};

}  // namespace korvel
