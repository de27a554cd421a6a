// listDriveRoots and findDriveLetter over arbitrary GetLogicalDriveStringsA
// answers: lying sizes and any buffer contents.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

#include "fuzz_support.h"
#include "probes.h"
#include "sim/simulated_machine.h"
#include "support/instrumented_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const auto firstAnswer = input.ConsumeIntegral<uint32_t>();
    const auto secondAnswer = input.ConsumeIntegral<uint32_t>();
    const bool smallFirstAnswer = input.ConsumeBool();
    const std::vector<uint8_t> contents = input.ConsumeRemainingBytes<uint8_t>();

    korvel::sim::MachineDescription description;
    korvel::sim::VolumeDescription volume;
    volume.root = "C:\\";
    volume.disk = 0;
    volume.partition = 1;
    description.volumes.push_back(volume);
    korvel::test::InstrumentedMachine machine(description);
    int call = 0;
    std::size_t lastLength = 0;
    machine.driveStringsAnswer = [&](uint32_t length, char* buffer) -> uint32_t {
        ++call;
        lastLength = length;
        const std::size_t written = std::min<std::size_t>(contents.size(), length);
        if (written > 0) std::memcpy(buffer, contents.data(), written);
        if (call == 1) return smallFirstAnswer ? firstAnswer % 256 : firstAnswer;
        return secondAnswer;
    };
    const auto roots = korvel::listDriveRoots(machine);
    if (roots) {
        std::size_t characters = 0;
        for (const auto& root : *roots) {
            FUZZ_CHECK(!root.empty());
            characters += root.size() + 1;
        }
        FUZZ_CHECK(characters <= lastLength + 1);  // the last may run into the buffer's end
    }
    call = 0;
    const auto found = korvel::findDriveLetter(machine, 0, 1);
    if (found) FUZZ_CHECK((*found)[0] == 'C' || (*found)[0] == 'c');
    checkNothingHeld(machine);
    return 0;
}
