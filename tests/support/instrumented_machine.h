// A simulated machine of a description behind the test decorator: what the
// native tests and fuzzers run korvel's logic on.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "sim/simulated_machine.h"
#include "support/instrumented_platforms.h"

namespace korvel::test {

namespace detail {
// Made before the decorator that wraps it.
struct OwnMachine {
    explicit OwnMachine(sim::MachineDescription description) : machine(std::move(description)) {}
    sim::SimulatedMachine machine;
};
}  // namespace detail

// A simulated machine of a description behind the decorator: what the tests run on.
class InstrumentedMachine : private detail::OwnMachine, public InstrumentedPlatforms {
public:
    explicit InstrumentedMachine(sim::MachineDescription description)
        : OwnMachine(std::move(description)), InstrumentedPlatforms(machine, machine) {}

    sim::SimulatedMachine& simulated() { return machine; }
    sim::MachineDescription& description() { return machine.description(); }
    void keepLog() { machine.keepLog(); }
    const std::vector<std::string>& log() const { return machine.log(); }
    std::vector<std::string> problems() const { return machine.problems(); }
};

}  // namespace korvel::test
