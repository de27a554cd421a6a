// The query's ole32 calls and the WMI objects it talks to, answered by the
// simulated machine: real COM objects with their own reference counts, each
// standing for one object of the machine. The BSTRs and VARIANTs the program
// holds are the system's (oleaut32); the shim only keeps their books.
#define CINTERFACE
#include <objbase.h>
#include <wbemidl.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "com_owners.h"
#include "replay_shim.h"
#include "win32/wmi_guids.h"

namespace korvel::replay {
namespace {

enum class Kind { kLocator, kServices, kClientSecurity, kEnumerator, kInstance };

struct KindInfo {
    const char* name;
    const IID* iid;
};
const KindInfo kKinds[] = {{"IWbemLocator", &kIidWbemLocator},
                           {"IWbemServices", &kIidWbemServices},
                           {"IClientSecurity", &kIidClientSecurity},
                           {"IEnumWbemClassObject", &kIidEnumWbemClassObject},
                           {"IWbemClassObject", &kIidWbemClassObject}};
const KindInfo& info(Kind kind) { return kKinds[static_cast<int>(kind)]; }

// One COM object as the program holds it. It is never freed, so that a call
// after the last Release finds it and is told apart.
struct Wrapper {
    // cppcheck-suppress unusedStructMember ; the object's first word, where COM finds its methods
    const void* vtable;
    LONG references;
    Kind kind;
    ComObject machineObject;  // null once the last reference is gone
};

std::set<const void*>& wrappers() {
    static auto* made = new std::set<const void*>;  // outlives every call at exit
    return *made;
}

std::set<BSTR>& liveStrings() {
    static auto* held = new std::set<BSTR>;
    return *held;
}

template <class Interface>
Wrapper* wrapper(Interface* self) {
    return reinterpret_cast<Wrapper*>(self);
}

ComObject machineObjectOf(const void* object) {
    return wrappers().count(object) != 0 ? static_cast<const Wrapper*>(object)->machineObject : nullptr;
}

// ---- the system's strings, with books kept ------------------------------------

BSTR WINAPI replaySysAllocString(const OLECHAR* text) {
    BSTR copy = SysAllocString(text);
    if (copy != nullptr) liveStrings().insert(copy);
    return copy;
}

void WINAPI replaySysFreeString(BSTR text) {
    if (text == nullptr) return;
    if (liveStrings().erase(text) == 0) {
        problem("SysFreeString of a string that is not alive");
        return;
    }
    SysFreeString(text);
}

UINT WINAPI replaySysStringLen(BSTR text) {
    if (text != nullptr && liveStrings().count(text) == 0) {
        problem("SysStringLen of a string that is not alive");
        return 0;
    }
    return SysStringLen(text);
}

HRESULT WINAPI replayVariantClear(VARIANTARG* value) {
    if (value != nullptr && value->vt == VT_BSTR && value->bstrVal != nullptr &&
        liveStrings().erase(value->bstrVal) == 0) {
        problem("VariantClear of a string that is not alive");
        value->vt = VT_EMPTY;
        return S_OK;
    }
    return VariantClear(value);
}

// A program's BSTR as the machine's: the machine checks that the program's was alive.
UniqueBstr machineString(BSTR text) {
    return UniqueBstr(machine(), text != nullptr && liveStrings().count(text) != 0 ? machine().sysAllocString(text) : nullptr);
}

// ---- the objects ----------------------------------------------------------

void* wrap(Kind kind, ComObject machineObject);

template <class Interface>
ULONG STDMETHODCALLTYPE addRef(Interface* self) {
    Wrapper* object = wrapper(self);
    if (object->references == 0) problem(std::string("AddRef of an ") + info(object->kind).name + " already released");
    return static_cast<ULONG>(++object->references);
}

template <class Interface>
ULONG STDMETHODCALLTYPE release(Interface* self) {
    Wrapper* object = wrapper(self);
    if (object->references == 0) {
        problem(std::string("Release of an ") + info(object->kind).name + " released once too often");
        return 0;
    }
    if (--object->references == 0) {
        machine().release(object->machineObject);
        object->machineObject = nullptr;
    }
    return static_cast<ULONG>(object->references);
}

template <class Interface>
HRESULT STDMETHODCALLTYPE queryInterface(Interface* self, REFIID iid, void** out) {
    Wrapper* object = wrapper(self);
    if (out == nullptr) unanswered(std::string("QueryInterface of an ") + info(object->kind).name + " without a slot");
    *out = nullptr;
    if (IsEqualIID(iid, kIidClientSecurity)) {
        ComObject security = nullptr;
        const HResult result = machine().queryClientSecurity(object->machineObject, &security);
        if (security != nullptr) *out = wrap(Kind::kClientSecurity, security);
        return result;
    }
    if (IsEqualIID(iid, kIidUnknown) || IsEqualIID(iid, *info(object->kind).iid)) {
        addRef(self);
        *out = self;
        return S_OK;
    }
    unanswered(std::string("QueryInterface of an ") + info(object->kind).name + " for another interface");
}

HRESULT STDMETHODCALLTYPE connectServer(IWbemLocator* self, const BSTR ns, const BSTR user, const BSTR password,
                                        const BSTR locale, LONG flags, const BSTR authority, IWbemContext* context,
                                        IWbemServices** services) {
    if (services == nullptr) unanswered("IWbemLocator::ConnectServer without a slot");
    if (user != nullptr || password != nullptr || locale != nullptr || flags != 0 || authority != nullptr ||
        context != nullptr) {
        problem("ConnectServer with a user, password, locale, flags, authority or context");
    }
    const UniqueBstr name(machineString(ns));
    ComObject connected = nullptr;
    const HResult result = machine().connectServer(wrapper(self)->machineObject, name.get(), &connected);
    *services = connected != nullptr ? static_cast<IWbemServices*>(wrap(Kind::kServices, connected)) : nullptr;
    return result;
}

HRESULT STDMETHODCALLTYPE setBlanket(IClientSecurity* self, IUnknown* proxy, DWORD authnService, DWORD authzService,
                                     OLECHAR* principal, DWORD authnLevel, DWORD impLevel, void* identity,
                                     DWORD capabilities) {
    if (principal != nullptr || identity != nullptr) problem("SetBlanket with a principal or an identity");
    machine().setBlanket(wrapper(self)->machineObject, machineObjectOf(proxy),
                         BlanketSettings{authnService, authzService, authnLevel, impLevel, capabilities});
    return S_OK;
}

HRESULT STDMETHODCALLTYPE createInstanceEnum(IWbemServices* self, const BSTR className, LONG flags,
                                             IWbemContext* context, IEnumWbemClassObject** enumerator) {
    if (enumerator == nullptr) unanswered("IWbemServices::CreateInstanceEnum without a slot");
    if (flags != 0 || context != nullptr) problem("CreateInstanceEnum with flags or a context");
    const UniqueBstr name(machineString(className));
    ComObject opened = nullptr;
    const HResult result = machine().createInstanceEnum(wrapper(self)->machineObject, name.get(), &opened);
    *enumerator = opened != nullptr ? static_cast<IEnumWbemClassObject*>(wrap(Kind::kEnumerator, opened)) : nullptr;
    return result;
}

HRESULT STDMETHODCALLTYPE next(IEnumWbemClassObject* self, LONG timeoutMs, ULONG count, IWbemClassObject** objects,
                               ULONG* returned) {
    if (count != 1 || objects == nullptr || returned == nullptr) {
        unanswered("IEnumWbemClassObject::Next of other than one object");
    }
    ComObject instance = nullptr;
    uint32_t got = 0;
    const HResult result = machine().next(wrapper(self)->machineObject, timeoutMs, &instance, &got);
    objects[0] = instance != nullptr ? static_cast<IWbemClassObject*>(wrap(Kind::kInstance, instance)) : nullptr;
    *returned = got;
    return result;
}

HRESULT STDMETHODCALLTYPE get(IWbemClassObject* self, LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type,
                              LONG* flavor) {
    if (value == nullptr || name == nullptr) unanswered("IWbemClassObject::Get without a name or a VARIANT");
    if (flags != 0 || type != nullptr || flavor != nullptr) problem("IWbemClassObject::Get with flags, type or flavor");
    // The machine sees what the program's VARIANT holds, and answers in a VARIANT of its own.
    VARIANT answer;
    std::memset(&answer, 0, sizeof answer);
    answer.vt = value->vt;
    const HResult result = machine().get(wrapper(self)->machineObject, name, &answer);
    if (FAILED(result)) return result;
    if (answer.vt == VT_BSTR) {
        BSTR copy = SysAllocStringLen(answer.bstrVal, machine().sysStringLen(answer.bstrVal));
        machine().variantClear(&answer);
        if (copy == nullptr) return E_OUTOFMEMORY;
        liveStrings().insert(copy);
        value->vt = VT_BSTR;
        value->bstrVal = copy;
    } else {
        *value = answer;
    }
    return result;
}

// Every method the query does not call ends the run, naming the interface and the slot.
template <std::size_t Slot>
HRESULT STDMETHODCALLTYPE unansweredSlot(void* self) {
    unanswered(std::string(info(static_cast<Wrapper*>(self)->kind).name) + " method " + std::to_string(Slot));
}

constexpr std::size_t kMostSlots = 32;

template <class Vtable, std::size_t... Slots>
void fillUnanswered(Vtable& table, std::index_sequence<Slots...>) {
    static_assert(sizeof(Vtable) <= kMostSlots * sizeof(void*), "a vtable with more slots than stubs");
    void* const stubs[] = {reinterpret_cast<void*>(&unansweredSlot<Slots>)...};
    std::memcpy(&table, stubs, sizeof table);
}

template <class Vtable, class Interface>
Vtable makeVtable() {
    Vtable table{};
    fillUnanswered(table, std::make_index_sequence<kMostSlots>());
    table.QueryInterface = &queryInterface<Interface>;
    table.AddRef = &addRef<Interface>;
    table.Release = &release<Interface>;
    return table;
}

// The vtable of an object that answers IUnknown and the one method the query calls on it.
template <class Interface, class Vtable, class Method>
Vtable vtableAnswering(Method Vtable::*slot, Method method) {
    Vtable table = makeVtable<Vtable, Interface>();
    table.*slot = method;
    return table;
}

const void* vtableOf(Kind kind) {
    static const auto locator = vtableAnswering<IWbemLocator>(&IWbemLocatorVtbl::ConnectServer, &connectServer);
    static const auto services =
        vtableAnswering<IWbemServices>(&IWbemServicesVtbl::CreateInstanceEnum, &createInstanceEnum);
    static const auto security = vtableAnswering<IClientSecurity>(&IClientSecurityVtbl::SetBlanket, &setBlanket);
    static const auto enumerator = vtableAnswering<IEnumWbemClassObject>(&IEnumWbemClassObjectVtbl::Next, &next);
    static const auto instance = vtableAnswering<IWbemClassObject>(&IWbemClassObjectVtbl::Get, &get);
    switch (kind) {
    case Kind::kLocator: return &locator;
    case Kind::kServices: return &services;
    case Kind::kClientSecurity: return &security;
    case Kind::kEnumerator: return &enumerator;
    case Kind::kInstance: break;
    }
    return &instance;
}

void* wrap(Kind kind, ComObject machineObject) {
    auto* object = new Wrapper{vtableOf(kind), 1, kind, machineObject};
    wrappers().insert(object);
    return object;
}

// ---- ole32 ----------------------------------------------------------------

HRESULT WINAPI replayCoInitialize(LPVOID reserved) {
    if (reserved != nullptr) problem("CoInitialize with a reserved pointer");
    machine().coInitialize();
    return S_OK;
}

HRESULT WINAPI replayCoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* out) {
    if (!IsEqualCLSID(clsid, kClsidWbemLocator) || !IsEqualIID(iid, kIidWbemLocator) || outer != nullptr ||
        context != CLSCTX_INPROC_SERVER || out == nullptr) {
        unanswered("CoCreateInstance of another class, interface or context than the WMI locator in process");
    }
    ComObject locator = nullptr;
    const HResult result = machine().createLocator(&locator);
    *out = locator != nullptr ? wrap(Kind::kLocator, locator) : nullptr;
    return result;
}

}  // namespace

std::vector<std::string> strayStrings() {
    std::vector<std::string> found(liveStrings().size());
    std::transform(liveStrings().begin(), liveStrings().end(), found.begin(),
                   [](BSTR text) { return sim::unfreedString(text); });
    return found;
}

const Answer kComAnswers[] = {
    {"ole32.dll", "CoInitialize", reinterpret_cast<void*>(&replayCoInitialize)},
    {"ole32.dll", "CoCreateInstance", reinterpret_cast<void*>(&replayCoCreateInstance)},
    {"oleaut32.dll", "SysAllocString", reinterpret_cast<void*>(&replaySysAllocString)},
    {"oleaut32.dll", "SysFreeString", reinterpret_cast<void*>(&replaySysFreeString)},
    {"oleaut32.dll", "SysStringLen", reinterpret_cast<void*>(&replaySysStringLen)},
    {"oleaut32.dll", "VariantClear", reinterpret_cast<void*>(&replayVariantClear)},
};
const std::size_t kComAnswerCount = sizeof kComAnswers / sizeof kComAnswers[0];

}  // namespace korvel::replay
