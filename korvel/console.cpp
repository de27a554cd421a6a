#include "console.h"

#include <cstdio>

namespace korvel {

void StdoutConsole::write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace korvel
