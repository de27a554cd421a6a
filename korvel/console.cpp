#include "console.h"

#include <cstdio>

namespace korvel {

void StdoutConsole::write(const std::string& text) {
    // A failing write to standard output changes nothing the program answers.
    (void)std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace korvel
