#pragma once

#include <string>

namespace korvel {

// Whole-string comparison without regard to case. On Windows the C runtime's
// multibyte comparison upper-cases double-byte characters of the ANSI code
// page; elsewhere ASCII letters are folded.
bool namesMatch(const std::string& a, const std::string& b);

// Whole-word comparison folding ASCII letters only, for option words.
bool asciiEqualsIgnoreCase(const std::string& a, const std::string& b);

// A-Z to a-z; every other byte unchanged.
char foldAscii(char c);

}  // namespace korvel
