// countPartitions over an arbitrary layout answer: which buffer sizes succeed,
// then the bytes the request leaves (any PartitionCount, any length).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>

#include "fuzz_support.h"
#include "probes.h"
#include "sim/simulated_machine.h"
#include "support/instrumented_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const auto acceptedSizes = input.ConsumeIntegral<uint32_t>();  // bit k: buffer k succeeds
    const bool shortAnswer = input.ConsumeBool();                  // fill only part of the buffer
    const std::vector<uint8_t> answer = input.ConsumeRemainingBytes<uint8_t>();

    korvel::sim::MachineDescription description;
    description.disks.resize(1);
    korvel::test::InstrumentedMachine machine(description);
    machine.layoutAnswer = [&](int, unsigned char* out, uint32_t bufferSize) {
        const uint32_t k = (bufferSize - korvel::kFirstLayoutBufferSize) / korvel::kLayoutBufferStep;
        if (k >= 32 || ((acceptedSizes >> k) & 1u) == 0) return false;
        const std::size_t length = std::min<std::size_t>(answer.size(), bufferSize);
        if (length > 0) std::memcpy(out, answer.data(), length);
        if (!shortAnswer) {
            for (std::size_t i = length; i < bufferSize; ++i) out[i] = answer.empty() ? 7 : answer[i % answer.size()];
        }
        return true;
    };
    const int count = korvel::countPartitions(machine, 0);
    FUZZ_CHECK(count >= -1 && count <= 93);
    FUZZ_CHECK(machine.counts().deviceIoControl <= korvel::kLayoutBufferTries);
    checkNothingHeld(machine);
    return 0;
}
