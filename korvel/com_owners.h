// Small owners for the COM references, strings, variants and modules of one
// query, so that no way out of it can leak them.
#pragma once

#include "wmi_platform.h"

namespace korvel {

class ComRef {
public:
    explicit ComRef(WmiPlatform& wmi, ComObject object = nullptr) : wmi_(wmi), object_(object) {}
    ~ComRef() { reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ComRef(ComRef&&) = delete;
    ComRef& operator=(ComRef&&) = delete;

    ComObject get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Releases what is held and hands out the slot for an out-argument.
    ComObject* put() {
        reset();
        return &object_;
    }
    ComObject detach() {
        ComObject object = object_;
        object_ = nullptr;
        return object;
    }
    void reset() {
        if (object_ != nullptr) wmi_.release(object_);
        object_ = nullptr;
    }

private:
    WmiPlatform& wmi_;
    ComObject object_;
};

class UniqueBstr {
public:
    UniqueBstr(WmiPlatform& wmi, const OleChar* text) : wmi_(wmi), text_(wmi.sysAllocString(text)) {}
    ~UniqueBstr() {
        if (text_ != nullptr) wmi_.sysFreeString(text_);
    }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    UniqueBstr(UniqueBstr&&) = delete;
    UniqueBstr& operator=(UniqueBstr&&) = delete;

    Bstr get() const { return text_; }

private:
    WmiPlatform& wmi_;
    Bstr text_;
};

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

class UniqueModule {
public:
    UniqueModule(WmiPlatform& wmi, ModuleHandle module) : wmi_(wmi), module_(module) {}
    ~UniqueModule() {
        if (module_ != nullptr) wmi_.freeLibrary(module_);
    }
    UniqueModule(const UniqueModule&) = delete;
    UniqueModule& operator=(const UniqueModule&) = delete;
    UniqueModule(UniqueModule&&) = delete;
    UniqueModule& operator=(UniqueModule&&) = delete;

    ModuleHandle get() const { return module_; }

private:
    WmiPlatform& wmi_;
    ModuleHandle module_;
};

}  // namespace korvel
