#include "system_classes.h"

#include <cstring>
#include <type_traits>

namespace {

// The whole object in one block; assigning an object to itself leaves it be.
template <class T>
T& copyWhole(T& destination, const T& source) {
    static_assert(std::is_standard_layout<T>::value && std::is_trivially_destructible<T>::value, "plain data only");
    if (&destination != &source) std::memcpy(static_cast<void*>(&destination), &source, sizeof(T));
    return destination;
}

}  // namespace

WMIinterface& WMIinterface::operator=(const WMIinterface& other) { return copyWhole(*this, other); }
Device& Device::operator=(const Device& other) { return copyWhole(*this, other); }
Partition& Partition::operator=(const Partition& other) { return copyWhole(*this, other); }
HardDisk& HardDisk::operator=(const HardDisk& other) { return copyWhole(*this, other); }
System& System::operator=(const System& other) { return copyWhole(*this, other); }
OperatingSystem& OperatingSystem::operator=(const OperatingSystem& other) { return copyWhole(*this, other); }
