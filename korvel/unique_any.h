// The one owner of every resource that must be given back: a handle, a file
// descriptor, a COM reference, a BSTR, a module. As WIL's unique_any, the
// resource's kind is a traits type: what the empty value is, which values
// hold nothing, and how a held one is given back (for the platform seams,
// through the platform the traits object carries).
#pragma once

#include <utility>

namespace korvel {

// Traits: using Value; static Value empty(); static bool holds(Value);
// void close(Value) const.
template <class Traits>
class UniqueAny : private Traits {
public:
    using Value = typename Traits::Value;

    explicit UniqueAny(Value value = Traits::empty()) : value_(value) {}
    // Traits that carry what gives the value back (a platform) convert from it.
    explicit UniqueAny(Traits traits, Value value = Traits::empty()) : Traits(std::move(traits)), value_(value) {}
    ~UniqueAny() { reset(); }
    UniqueAny(const UniqueAny&) = delete;
    UniqueAny& operator=(const UniqueAny&) = delete;
    UniqueAny(UniqueAny&&) = delete;
    UniqueAny& operator=(UniqueAny&&) = delete;

    Value get() const { return value_; }
    bool valid() const { return Traits::holds(value_); }
    explicit operator bool() const { return valid(); }

    // Gives back what is held, then holds value.
    void reset(Value value = Traits::empty()) {
        if (valid()) Traits::close(value_);
        value_ = value;
    }
    // Gives back what is held and hands out the slot for an out-argument.
    Value* put() {
        reset();
        return &value_;
    }
    // The value, no longer owned.
    Value release() { return std::exchange(value_, Traits::empty()); }

private:
    Value value_;
};

// Traits for a resource that a null pointer stands for the absence of.
template <class Pointer>
struct NullIsEmpty {
    using Value = Pointer;
    static Value empty() { return nullptr; }
    static bool holds(Value value) { return value != nullptr; }
};

}  // namespace korvel
