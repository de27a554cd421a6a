// Small owners for the COM references, strings, variants and modules of one
// query, so that no way out of it can leak them.
#pragma once

#include "unique_any.h"
#include "wmi_platform.h"

namespace korvel {

// Traits of what the query's platform gives back: references, strings, modules.
template <class Value, void (WmiPlatform::*Close)(Value)>
struct WmiOwned : NullIsEmpty<Value> {
    // cppcheck-suppress noExplicitConstructor ; an owner is made of its platform
    WmiOwned(WmiPlatform& platform) : wmi(&platform) {}
    void close(Value value) const { (wmi->*Close)(value); }
    WmiPlatform* wmi;
};

using ComRef = UniqueAny<WmiOwned<ComObject, &WmiPlatform::release>>;
// Holds what sysAllocString gave: UniqueBstr text(wmi, wmi.sysAllocString(...)).
using UniqueBstr = UniqueAny<WmiOwned<Bstr, &WmiPlatform::sysFreeString>>;
using UniqueModule = UniqueAny<WmiOwned<ModuleHandle, &WmiPlatform::freeLibrary>>;

class VariantHolder {
public:
    explicit VariantHolder(WmiPlatform& wmi) : wmi_(wmi) { value_.vt = VT_EMPTY; }
    ~VariantHolder() { clear(); }
    VariantHolder(const VariantHolder&) = delete;
    VariantHolder& operator=(const VariantHolder&) = delete;
    VariantHolder(VariantHolder&&) = delete;
    VariantHolder& operator=(VariantHolder&&) = delete;

    Variant* get() { return &value_; }
    const Variant& value() const { return value_; }
    void clear() {
        wmi_.variantClear(&value_);
        value_.vt = VT_EMPTY;
    }

private:
    WmiPlatform& wmi_;
    Variant value_{};
};

}  // namespace korvel
