// The exported assignments copy whole objects, padding included, and survive
// self-assignment.
#include <gtest/gtest.h>

#include <cstring>

#include "system_classes.h"

namespace {

template <class T>
void expectWholeCopy() {
    T source;
    T destination;
    std::memset(static_cast<void*>(&source), 0xA5, sizeof source);
    std::memset(static_cast<void*>(&destination), 0x11, sizeof destination);
    T& result = (destination = source);
    EXPECT_EQ(&result, &destination);
    EXPECT_EQ(std::memcmp(static_cast<const void*>(&destination), static_cast<const void*>(&source), sizeof source), 0);

    const T& alias = destination;  // self-assignment through another name, as callers do it
    T& self = (destination = alias);
    EXPECT_EQ(&self, &destination);
    EXPECT_EQ(std::memcmp(static_cast<const void*>(&destination), static_cast<const void*>(&source), sizeof source), 0);
}

TEST(ExportedAssignments, CopyTheWholeObjectAndReturnTheDestination) {
    expectWholeCopy<WMIinterface>();
    expectWholeCopy<Device>();
    expectWholeCopy<Partition>();
    expectWholeCopy<HardDisk>();
    expectWholeCopy<System>();
    expectWholeCopy<OperatingSystem>();
}

}  // namespace
