// What the parts of the replay shim share: the simulated machine the program
// runs on, and the books of what went wrong.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "sim/simulated_machine.h"

namespace korvel::replay {

// The machine of the description, loaded before the program's first instruction.
sim::SimulatedMachine& machine();

// A misuse seen at the Win32 layer (an argument the simulated machine cannot
// be told of, a string that is not alive); it fails the run.
void problem(const std::string& what);

// A platform call the machine does not answer: one line on stderr, the record
// written, and the process ended at once with kUnansweredExitCode. Nothing of
// it reaches Wine.
constexpr unsigned kUnansweredExitCode = 0x52504C59;  // "RPLY"
[[noreturn]] void unanswered(const std::string& call);

// One import of the program that a part of the shim answers. What an answer
// forwards (a handle of the C runtime's, a BSTR) goes to the shim's own
// import of the same function.
struct Answer {
    const char* dll;
    const char* function;
    void* replacement;
};

// The answers of each part.
extern const Answer kKernel32Answers[];
extern const std::size_t kKernel32AnswerCount;
extern const Answer kComAnswers[];
extern const std::size_t kComAnswerCount;

// BSTRs the program still holds at exit (from SysAllocString or a property's
// value); the machine keeps the books of everything else.
std::vector<std::string> strayStrings();

}  // namespace korvel::replay
