// The machine-description loader over arbitrary bytes.
#include <string>

#include "fuzz_support.h"
#include "sim/machine_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto parsed = korvel::sim::parseMachine(text);
    if (const auto* reason = std::get_if<std::string>(&parsed)) {
        FUZZ_CHECK(!reason->empty());
    } else {
        const auto& machine = std::get<korvel::sim::MachineDescription>(parsed);
        for (const auto& volume : machine.volumes) FUZZ_CHECK(!volume.root.empty());
        FUZZ_CHECK(!machine.systemDrive || !machine.systemDrive->empty());
    }
    return 0;
}
