#include "system_classes.h"

#include <cstring>
#include <type_traits>

namespace {

// Every member is plain data, so the whole object is one block of bytes.
void copyBlock(void* destination, const void* source, std::size_t size) { std::memcpy(destination, source, size); }

}  // namespace

WMIinterface& WMIinterface::operator=(const WMIinterface& other) {
    if (this != &other) copyBlock(this, &other, sizeof *this);
    return *this;
}

Device& Device::operator=(const Device& other) {
    if (this != &other) copyBlock(this, &other, sizeof *this);
    return *this;
}

Partition& Partition::operator=(const Partition& other) {
    if (this != &other) copyBlock(this, &other, sizeof *this);
    return *this;
}

HardDisk& HardDisk::operator=(const HardDisk& other) {
    if (this != &other) copyBlock(this, &other, sizeof *this);
    return *this;
}

System& System::operator=(const System& other) {
    if (this != &other) copyBlock(this, &other, sizeof *this);
    return *this;
}

OperatingSystem& OperatingSystem::operator=(const OperatingSystem& other) {
    if (this != &other) copyBlock(this, &other, sizeof *this);
    return *this;
}

static_assert(std::is_standard_layout<WMIinterface>::value && std::is_standard_layout<Device>::value &&
                  std::is_standard_layout<Partition>::value && std::is_standard_layout<HardDisk>::value &&
                  std::is_standard_layout<System>::value && std::is_standard_layout<OperatingSystem>::value,
              "plain data only");
