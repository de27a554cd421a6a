#include "text_match.h"

#ifdef _WIN32
#include <mbstring.h>
#endif

namespace korvel {

char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool asciiEqualsIgnoreCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldAscii(a[i]) != foldAscii(b[i])) return false;
    }
    return true;
}

bool namesMatch(const std::string& a, const std::string& b) {
#ifdef _WIN32
    // Command-line arguments and drive roots hold no NUL, so the C strings are whole.
    return _mbsicmp(reinterpret_cast<const unsigned char*>(a.c_str()),
                    reinterpret_cast<const unsigned char*>(b.c_str())) == 0;
#else
    return asciiEqualsIgnoreCase(a, b);
#endif
}

}  // namespace korvel
