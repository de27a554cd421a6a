// korvel on a simulated machine: the description named by KORVEL_MACHINE, or
// the built-in one.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "../korvel_entry.h"
#include "machine_loader.h"
#include "simulated_machine.h"

namespace {

// The complaint is one line on stderr, whatever the file name or the JSON keys hold.
std::string oneLine(std::string text) {
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const char* file = std::getenv("KORVEL_MACHINE");
    std::string text = korvel::sim::defaultMachineJson();
    const std::string name = oneLine(file != nullptr ? file : "(built-in machine)");
    if (file != nullptr) {
        std::ifstream in(file, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.is_open() || in.bad()) {
            (void)std::fprintf(stderr, "korvel: %s: cannot be read\n", name.c_str());
            return 0;
        }
    }
    auto parsed = korvel::sim::parseMachine(text);
    if (const auto* reason = std::get_if<std::string>(&parsed)) {
        (void)std::fprintf(stderr, "korvel: %s: %s\n", name.c_str(), oneLine(*reason).c_str());
        return 0;
    }
    korvel::sim::SimulatedMachine machine(std::move(std::get<korvel::sim::MachineDescription>(parsed)));
    korvel::StdoutConsole console;
    korvel::Machine platforms{machine, machine, console};
    return korvel::korvelMain(argc, argv, platforms);
}
