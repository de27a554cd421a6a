// The record of one run on a simulated machine, as the replay shim writes it
// under Wine and call_record_sim writes it on Linux, so that the two can be
// compared line for line:
//   call <what the machine logged>     in order
//   problem <misuse, or a leak at exit>
//   refused <why the description cannot be run on>
// Bytes below 0x20 and 0x7F are written as \xNN: one entry is
// one line whatever the description holds.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace korvel::replay {

inline std::string recordLine(const char* kind, const std::string& text) {
    std::string line = std::string(kind) + " ";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            (void)std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            line += escaped;
        } else {
            line += c;
        }
    }
    return line + "\n";
}

// A message as a complaint line gives it: line breaks fold to a space.
inline std::string oneLine(std::string text) {
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

inline std::string recordText(const std::vector<std::string>& calls, const std::vector<std::string>& problems) {
    std::string text;
    for (const std::string& call : calls) text += recordLine("call", call);
    for (const std::string& found : problems) text += recordLine("problem", found);
    return text;
}

}  // namespace korvel::replay
