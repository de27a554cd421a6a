// isBootPartition over arbitrary Win32_DiskPartition lists: which properties
// exist, their VARIANT types, offset texts, and failing calls in any pass.
#include <fuzzer/FuzzedDataProvider.h>

#include "boot_query.h"
#include "fuzz_support.h"
#include "sim/simulated_machine.h"
#include "support/instrumented_machine.h"

namespace {

korvel::sim::PropertyValue property(FuzzedDataProvider& input, bool preferText) {
    korvel::sim::PropertyValue value;
    const int kind = input.ConsumeIntegralInRange(0, 4);
    if (kind == 0 || (preferText && kind == 4)) {
        value.kind = korvel::sim::PropertyValue::Kind::kString;
        const std::string bytes = input.ConsumeRandomLengthString(24);
        for (char c : bytes) value.text += static_cast<korvel::OleChar>(static_cast<unsigned char>(c));
        if (input.ConsumeBool()) value.text += u'\x0661';  // a digit outside ASCII
    } else if (kind == 1 || kind == 4) {
        value.kind = korvel::sim::PropertyValue::Kind::kInteger;
        value.integer = input.ConsumeIntegralInRange<int32_t>(-2, 3);
    } else if (kind == 2) {
        value.kind = korvel::sim::PropertyValue::Kind::kBoolean;
        value.boolean = input.ConsumeBool();
    } else {
        value.kind = korvel::sim::PropertyValue::Kind::kNull;
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int disk = input.ConsumeIntegralInRange(-1, 3);
    const int partition = input.ConsumeIntegralInRange(-1, 8);
    const auto failEvery = input.ConsumeIntegralInRange<int>(0, 40);  // 0: no failures
    const auto failPhase = input.ConsumeIntegralInRange<int>(0, 40);
    const bool connects = input.ConsumeIntegralInRange(0, 15) != 0;
    const bool changeBetweenPasses = input.ConsumeBool();

    korvel::sim::MachineDescription description;
    description.wmiConnects = connects;
    const int instances = input.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < instances; ++i) {
        std::map<std::string, korvel::sim::PropertyValue> entry;
        if (input.ConsumeIntegralInRange(0, 7) != 0) entry["DiskIndex"] = property(input, false);
        if (input.ConsumeIntegralInRange(0, 7) != 0) entry["StartingOffset"] = property(input, true);
        if (input.ConsumeIntegralInRange(0, 7) != 0) entry["BootPartition"] = property(input, false);
        description.partitions.push_back(entry);
    }
    korvel::test::InstrumentedMachine machine(description);
    if (changeBetweenPasses) {
        machine.beforeEnumeration = [&current = machine.description()](int enumeration) {
            if (current.partitions.empty()) return;
            if (enumeration % 2 == 0) {
                current.partitions.push_back(current.partitions.front());
            } else {
                current.partitions.erase(current.partitions.begin());
            }
        };
    }
    int calls = 0;
    machine.failWhen = [&](const std::string&) { return failEvery != 0 && (++calls + failPhase) % failEvery == 0; };

    Capturing<korvel::Console> console;
    const bool boot = korvel::isBootPartition(machine, console, disk, partition);
    FUZZ_CHECK(!boot || console.written.find("Boot Partition = 1\n") != std::string::npos);
    FUZZ_CHECK(machine.counts().connectServer <= 1);
    FUZZ_CHECK(machine.counts().createInstanceEnum <= 3);
    checkNothingHeld(machine);
    return 0;
}
