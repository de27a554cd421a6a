#include "sim_program.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "description_file.h"
#include "machine_loader.h"
#include "tool_command_line.h"

namespace korvel::sim {
namespace {

// The one program of this process, for the out-of-memory handler.
const SimulatedProgram* current = nullptr;
int outOfMemoryExitCode = 0;

[[noreturn]] void outOfMemory() {
    if (current != nullptr) current->complain("out of memory");
    (void)std::fflush(stdout);
    std::_Exit(outOfMemoryExitCode);
}

}  // namespace

std::variant<MachineDescription, std::string> machineFromText(const std::string& name, const DescriptionText& read) {
    if (!read.refusal.empty()) return name + ": " + read.refusal;
    auto parsed = parseMachine(read.text);
    if (auto* reason = std::get_if<std::string>(&parsed)) *reason = name + ": " + *reason;
    return parsed;
}

std::variant<MachineDescription, std::string> machineFromEnvironment() {
    const char* file = std::getenv("KORVEL_MACHINE");
    if (file == nullptr) return parseMachine(defaultMachineJson());
    return machineFromText(file, readDescriptionFile(file));
}

SimulatedProgram::SimulatedProgram(const char* name, int failureExitCode)
    : name_(name), failureExitCode_(failureExitCode) {
    current = this;
    outOfMemoryExitCode = failureExitCode;
#ifdef SIGPIPE
    (void)std::signal(SIGPIPE, SIG_IGN);
#endif
    std::set_new_handler(outOfMemory);
}

int SimulatedProgram::run(const std::function<int(SimulatedMachine&)>& body) const noexcept {
    return run(machineFromEnvironment, body);
}

int SimulatedProgram::run(const std::function<std::variant<MachineDescription, std::string>()>& source,
                          const std::function<int(SimulatedMachine&)>& body) const noexcept {
    try {
        auto description = source();
        if (const auto* reason = std::get_if<std::string>(&description)) {
            complain(*reason);
            return failureExitCode_;
        }
        SimulatedMachine machine(std::move(std::get<MachineDescription>(description)));
        return body(machine);
    } catch (const std::exception& error) {
        complain(error.what());
        return failureExitCode_;
    }
}

void SimulatedProgram::complain(std::string_view message) const noexcept { complainLine(name_, message); }

}  // namespace korvel::sim
