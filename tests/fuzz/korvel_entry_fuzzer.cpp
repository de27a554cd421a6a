// korvel's entry and search over an arbitrary argument vector on an arbitrary
// simulated machine (JSON after the arguments; the built-in machine when it
// does not parse), with one platform call failing at an arbitrary point; then
// korvel-capture on the same machine, whose description must load again;
// then korvel-report's page of it, with one verdict row per listed root.
#include <fuzzer/FuzzedDataProvider.h>

#include "korvel_entry.h"
#include "fuzz_support.h"
#include "machine_capture.h"
#include "report/machine_report.h"
#include "report/report_page.h"
#include "sim/machine_loader.h"
#include "sim/simulated_machine.h"
#include "support/instrumented_machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const int argc = input.ConsumeIntegralInRange(1, 4);
    std::vector<std::string> args{"korvel"};
    for (int i = 1; i < argc; ++i) args.push_back(input.ConsumeRandomLengthString(32));
    const int failAt = input.ConsumeIntegralInRange(0, 300);
    auto parsed = korvel::sim::parseMachine(input.ConsumeRemainingBytesAsString());
    if (!std::holds_alternative<korvel::sim::MachineDescription>(parsed)) {
        parsed = korvel::sim::parseMachine(korvel::sim::defaultMachineJson());
    }
    korvel::test::InstrumentedMachine machine(std::get<korvel::sim::MachineDescription>(parsed));
    machine.failCall(failAt);

    const auto argv = argvOf(args);
    Capturing<korvel::Console> console;
    korvel::Machine platforms{machine, machine, console};
    const int code = korvel::korvelMain(argc, argv.data(), platforms);
    FUZZ_CHECK(code == 0 || code == 1);
    if (code == 1) FUZZ_CHECK(console.written.find("Found active system partition: drive letter=") != std::string::npos);
    checkNothingHeld(machine);

    korvel::test::InstrumentedMachine captured(std::get<korvel::sim::MachineDescription>(parsed));
    captured.failCall(failAt);
    const korvel::MachineCapture capture = korvel::captureMachine(captured, captured);
    checkNothingHeld(captured);
    FUZZ_CHECK(capture.description.empty() != capture.failure.empty());
    if (!capture.description.empty()) {
        FUZZ_CHECK(std::holds_alternative<korvel::sim::MachineDescription>(korvel::sim::parseMachine(capture.description)));
    }

    korvel::sim::SimulatedMachine reported(std::get<korvel::sim::MachineDescription>(parsed));
    const korvel::report::MachineReport report = korvel::report::reportMachine(reported);
    checkNothingHeld(reported);
    FUZZ_CHECK(report.verdicts.size() == reported.description().volumes.size());
    const std::string page = korvel::report::reportPage(report);
    std::size_t rows = 0;
    for (std::size_t at = page.find("<tr data-root="); at != std::string::npos; at = page.find("<tr data-root=", at + 1)) {
        ++rows;
    }
    FUZZ_CHECK(rows == report.verdicts.size() && page.size() >= 8 && page.compare(page.size() - 8, 8, "</html>\n") == 0);
    return 0;
}
