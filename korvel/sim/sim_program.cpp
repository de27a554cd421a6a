#include "sim_program.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "description_file.h"
#include "machine_loader.h"

namespace korvel::sim {
namespace {

const char* programName = "korvel";
int failureExitCode = 0;

[[noreturn]] void outOfMemory() {
    complain(programName, "out of memory");
    (void)std::fflush(stdout);
    std::_Exit(failureExitCode);
}

}  // namespace

std::variant<MachineDescription, std::string> machineFromEnvironment() {
    const char* file = std::getenv("KORVEL_MACHINE");
    if (file == nullptr) return parseMachine(defaultMachineJson());
    const std::string name = file;
    const DescriptionText read = readDescriptionFile(file);
    if (!read.refusal.empty()) return name + ": " + read.refusal;
    auto parsed = parseMachine(read.text);
    if (auto* reason = std::get_if<std::string>(&parsed)) *reason = name + ": " + *reason;
    return parsed;
}

void complain(const char* program, std::string_view message) noexcept {
    (void)std::fputs(program, stderr);
    (void)std::fputs(": ", stderr);
    for (const char c : message) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\n' || byte == '\r') {
            (void)std::fputc(' ', stderr);
        } else if (byte < 0x20 || byte == 0x7F) {
            (void)std::fprintf(stderr, "\\x%02X", byte);
        } else {
            (void)std::fputc(byte, stderr);
        }
    }
    (void)std::fputc('\n', stderr);
}

void prepareProcess(const char* program, int exitCodeOnFailure) {
    programName = program;
    failureExitCode = exitCodeOnFailure;
    (void)std::signal(SIGPIPE, SIG_IGN);
    std::set_new_handler(outOfMemory);
}

}  // namespace korvel::sim
