// korvel on a simulated machine: the description named by KORVEL_MACHINE, or
// the built-in one.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string_view>

#include "../korvel_entry.h"
#include "description_file.h"
#include "machine_loader.h"
#include "simulated_machine.h"

namespace {

// Every complaint is one clean line on stderr, whatever the file name or the
// description's keys hold: line breaks fold to a space, other control bytes
// are written as \xNN. Allocates nothing, so it serves when memory ran out.
int complain(std::string_view message) noexcept {
    (void)std::fputs("korvel: ", stderr);
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
    return 0;
}

// Called when an allocation fails, wherever it is, even in a destructor that
// allocates while an exception unwinds: the run ends here.
[[noreturn]] void outOfMemory() {
    complain("out of memory");
    (void)std::fflush(stdout);
    std::_Exit(0);
}

int run(int argc, char** argv) {
    const char* file = std::getenv("KORVEL_MACHINE");
    std::string text = korvel::sim::defaultMachineJson();
    const std::string name = file != nullptr ? file : "(built-in machine)";
    if (file != nullptr) {
        korvel::sim::DescriptionText read = korvel::sim::readDescriptionFile(file);
        if (!read.refusal.empty()) return complain(name + ": " + read.refusal);
        text = std::move(read.text);
    }
    auto parsed = korvel::sim::parseMachine(text);
    if (const auto* reason = std::get_if<std::string>(&parsed)) return complain(name + ": " + *reason);
    text = std::string();  // the description holds all that is needed now

    korvel::sim::SimulatedMachine machine(std::move(std::get<korvel::sim::MachineDescription>(parsed)));
    korvel::StdoutConsole console;
    korvel::Machine platforms{machine, machine, console};
    return korvel::korvelMain(argc, argv, platforms);
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away early makes writes fail, as on Windows; the
    // exit code stays the answer.
    (void)std::signal(SIGPIPE, SIG_IGN);
    std::set_new_handler(outOfMemory);
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        return complain("out of memory");
    } catch (const std::exception& error) {
        return complain(error.what());
    }
}
