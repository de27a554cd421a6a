#include "win32_wmi_platform.h"

#include <objbase.h>
#include <wbemidl.h>
#include <windows.h>

#include "wmi_guids.h"

namespace korvel {
namespace {

static_assert(RPC_C_AUTHN_WINNT == kAuthnWinNt && RPC_C_AUTHZ_NONE == kAuthzNone, "authentication services");
static_assert(RPC_C_AUTHN_LEVEL_CONNECT == kAuthnLevelConnect, "authentication level");
static_assert(RPC_C_IMP_LEVEL_IDENTIFY == kImpLevelIdentify && RPC_C_IMP_LEVEL_IMPERSONATE == kImpLevelImpersonate,
              "impersonation levels");
static_assert(EOAC_NONE == kEoacNone, "capabilities");

// CoInitializeSecurity, reached through GetProcAddress so that it is never imported.
using CoInitializeSecurityFn = HRESULT(WINAPI*)(PSECURITY_DESCRIPTOR, LONG, SOLE_AUTHENTICATION_SERVICE*, void*, DWORD,
                                                DWORD, void*, DWORD, void*);

template <class Interface>
Interface* as(ComObject object) {
    return static_cast<Interface*>(object);
}

}  // namespace

void Win32WmiPlatform::coInitialize() { CoInitialize(nullptr); }

uint32_t Win32WmiPlatform::getSystemDirectory(char* buffer, uint32_t size) { return GetSystemDirectoryA(buffer, size); }

void Win32WmiPlatform::appendText(char* buffer, const char* text) { lstrcatA(buffer, text); }

ModuleHandle Win32WmiPlatform::loadLibrary(const char* path) { return LoadLibraryExA(path, nullptr, 0); }

ProcAddress Win32WmiPlatform::getProcAddress(ModuleHandle module, const char* name) {
    return reinterpret_cast<ProcAddress>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void Win32WmiPlatform::callCoInitializeSecurity(ProcAddress entry, const ProcessSecurity& settings) {
    const auto coInitializeSecurity = reinterpret_cast<CoInitializeSecurityFn>(entry);
    coInitializeSecurity(nullptr, -1, nullptr, nullptr, settings.authnLevel, settings.impLevel, nullptr,
                         settings.capabilities, nullptr);
}

void Win32WmiPlatform::freeLibrary(ModuleHandle module) { FreeLibrary(static_cast<HMODULE>(module)); }

HResult Win32WmiPlatform::createLocator(ComObject* locator) {
    return CoCreateInstance(kClsidWbemLocator, nullptr, CLSCTX_INPROC_SERVER, kIidWbemLocator, locator);
}

HResult Win32WmiPlatform::connectServer(ComObject locator, Bstr ns, ComObject* services) {
    IWbemServices* proxy = nullptr;
    const HRESULT result =
        as<IWbemLocator>(locator)->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &proxy);
    *services = proxy;
    return result;
}

HResult Win32WmiPlatform::queryClientSecurity(ComObject services, ComObject* security) {
    return as<IUnknown>(services)->QueryInterface(kIidClientSecurity, security);
}

void Win32WmiPlatform::setBlanket(ComObject security, ComObject services, const BlanketSettings& settings) {
    as<IClientSecurity>(security)->SetBlanket(as<IUnknown>(services), settings.authnService, settings.authzService,
                                              nullptr, settings.authnLevel, settings.impLevel, nullptr,
                                              settings.capabilities);
}

HResult Win32WmiPlatform::createInstanceEnum(ComObject services, Bstr className, ComObject* enumerator) {
    IEnumWbemClassObject* result = nullptr;
    const HRESULT status = as<IWbemServices>(services)->CreateInstanceEnum(className, 0, nullptr, &result);
    *enumerator = result;
    return status;
}

HResult Win32WmiPlatform::next(ComObject enumerator, int32_t timeoutMs, ComObject* object, uint32_t* returned) {
    IWbemClassObject* result = nullptr;
    ULONG count = 0;
    const HRESULT status = as<IEnumWbemClassObject>(enumerator)->Next(timeoutMs, 1, &result, &count);
    *object = result;
    *returned = count;
    return status;
}

HResult Win32WmiPlatform::get(ComObject object, const OleChar* name, Variant* value) {
    return as<IWbemClassObject>(object)->Get(name, 0, value, nullptr, nullptr);
}

void Win32WmiPlatform::release(ComObject object) { as<IUnknown>(object)->Release(); }

Bstr Win32WmiPlatform::sysAllocString(const OleChar* text) { return SysAllocString(text); }

void Win32WmiPlatform::sysFreeString(Bstr text) { SysFreeString(text); }

uint32_t Win32WmiPlatform::sysStringLen(Bstr text) { return SysStringLen(text); }

void Win32WmiPlatform::variantClear(Variant* value) { VariantClear(value); }

}  // namespace korvel
