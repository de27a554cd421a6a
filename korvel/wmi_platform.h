// The COM, OLE Automation and loader calls that the boot-partition query makes.
// The Win32 implementation forwards each to the system; the simulated machine
// answers them on Linux and in the tests.
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
#include <oaidl.h>
#include <windows.h>
#else
#include <cstddef>
#endif

namespace korvel {

#ifdef _WIN32
using OleChar = wchar_t;
using Bstr = BSTR;
using Variant = VARIANT;
using HResult = HRESULT;
#define KORVEL_OLESTR(s) L##s
#else
using OleChar = char16_t;
using Bstr = OleChar*;
using HResult = int32_t;
#define KORVEL_OLESTR(s) u##s
constexpr uint16_t VT_EMPTY = 0;
constexpr uint16_t VT_NULL = 1;
constexpr uint16_t VT_I2 = 2;
constexpr uint16_t VT_I4 = 3;
constexpr uint16_t VT_R8 = 5;
constexpr uint16_t VT_BSTR = 8;
constexpr uint16_t VT_BOOL = 11;
// The fields of VARIANT that the query reads, under their Windows names.
struct Variant {
    uint16_t vt;
    union {
        int32_t lVal;
        int16_t boolVal;
        Bstr bstrVal;
        double dblVal;
    };
};
constexpr HResult S_OK = 0;
constexpr HResult S_FALSE = 1;
constexpr HResult E_FAIL = static_cast<HResult>(0x80004005u);
constexpr HResult E_NOINTERFACE = static_cast<HResult>(0x80004002u);
#endif

constexpr HResult kWbemStatusTimedOut = 0x40004;                               // WBEM_S_TIMEDOUT
constexpr HResult kWbemErrorFailed = static_cast<HResult>(0x80041001u);        // WBEM_E_FAILED
constexpr HResult kWbemErrorInvalidNamespace = static_cast<HResult>(0x8004100Eu);

inline bool failed(HResult hr) { return hr < 0; }

// Text in the platform's OLE characters, as a BSTR holds it.
using OleString = std::basic_string<OleChar>;

// An interface pointer whose reference the holder owns.
using ComObject = void*;
using ModuleHandle = void*;
using ProcAddress = void*;

// RPC_C_AUTHN_*, RPC_C_IMP_LEVEL_* and EOAC_* values the query hands on.
constexpr uint32_t kAuthnWinNt = 10;
constexpr uint32_t kAuthzNone = 0;
constexpr uint32_t kAuthnLevelConnect = 2;
constexpr uint32_t kImpLevelIdentify = 2;
constexpr uint32_t kImpLevelImpersonate = 3;
constexpr uint32_t kEoacNone = 0;

struct BlanketSettings {
    uint32_t authnService;
    uint32_t authzService;
    uint32_t authnLevel;
    uint32_t impLevel;
    uint32_t capabilities;
};

struct ProcessSecurity {
    uint32_t authnLevel;
    uint32_t impLevel;
    uint32_t capabilities;
};

class WmiPlatform {
public:
    virtual ~WmiPlatform() = default;

    virtual void coInitialize() = 0;
    // GetSystemDirectoryA: the length written, the size needed, or 0.
    virtual uint32_t getSystemDirectory(char* buffer, uint32_t size) = 0;
    // lstrcatA; the caller has made sure the text fits.
    virtual void appendText(char* buffer, const char* text) = 0;
    // LoadLibraryExA(path, nullptr, 0).
    virtual ModuleHandle loadLibrary(const char* path) = 0;
    virtual ProcAddress getProcAddress(ModuleHandle module, const char* name) = 0;
    // CoInitializeSecurity through the looked-up entry point: no descriptor,
    // COM chooses the services (-1), no lists, no reserved pointers.
    virtual void callCoInitializeSecurity(ProcAddress entry, const ProcessSecurity& settings) = 0;
    virtual void freeLibrary(ModuleHandle module) = 0;

    // CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator).
    virtual HResult createLocator(ComObject* locator) = 0;
    // IWbemLocator::ConnectServer(ns, no user, password, locale, flags 0, authority or context).
    virtual HResult connectServer(ComObject locator, Bstr ns, ComObject* services) = 0;
    // QueryInterface(IID_IClientSecurity).
    virtual HResult queryClientSecurity(ComObject services, ComObject* security) = 0;
    // IClientSecurity::SetBlanket(services, ..., no principal, no identity).
    virtual void setBlanket(ComObject security, ComObject services, const BlanketSettings& settings) = 0;
    // IWbemServices::CreateInstanceEnum(className, 0, nullptr).
    virtual HResult createInstanceEnum(ComObject services, Bstr className, ComObject* enumerator) = 0;
    // IEnumWbemClassObject::Next(timeout, 1, object, returned).
    virtual HResult next(ComObject enumerator, int32_t timeoutMs, ComObject* object, uint32_t* returned) = 0;
    // IWbemClassObject::Get(name, 0, value, nullptr, nullptr).
    virtual HResult get(ComObject object, const OleChar* name, Variant* value) = 0;
    virtual void release(ComObject object) = 0;

    virtual Bstr sysAllocString(const OleChar* text) = 0;
    virtual void sysFreeString(Bstr text) = 0;
    virtual uint32_t sysStringLen(Bstr text) = 0;
    virtual void variantClear(Variant* value) = 0;
};

}  // namespace korvel
