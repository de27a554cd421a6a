#include "korvel_entry.h"

#include <algorithm>

#include "text_match.h"

namespace korvel {
namespace {

void printHelp(Console& out) {
    out.write("Options:\n\n");
    out.write("/checkLetter <drive letter, ex. C:> - Checks if drive letter is active system partition\n");
    out.write("\tReturns 1 if drive letter is active system partition\n");
    out.write("\tReturns 0 if drive letter is not\n");
    out.write("/h - Display these options\n");
}

}  // namespace

int korvelMain(int argc, const char* const* argv, Machine& machine) {
    if (argc < 2 || argv[1] == nullptr) {
        printHelp(machine.console);
        return 0;
    }
    const std::string option = argv[1];
    const auto helpWords = {"/h", "-h", "/?"};
    if (std::any_of(helpWords.begin(), helpWords.end(),
                    [&](const char* word) { return asciiEqualsIgnoreCase(option, word); })) {
        printHelp(machine.console);
        return 0;
    }
    if (asciiEqualsIgnoreCase(option, "/checkLetter") || asciiEqualsIgnoreCase(option, "-checkLetter")) {
        const char* letter = argc > 2 ? argv[2] : nullptr;
        return checkLetter(machine, letter) ? 1 : 0;
    }
    return 0;
}

}  // namespace korvel
