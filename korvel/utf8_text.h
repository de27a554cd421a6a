// UTF-16 text (a BSTR's, or a description's) as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvel {

// An unpaired surrogate becomes U+FFFD.
template <class Unit>
std::string utf8Of(const Unit* text, std::size_t length) {
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        uint32_t code = static_cast<uint16_t>(text[i]);
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < length && static_cast<uint16_t>(text[i + 1]) >= 0xDC00 &&
            static_cast<uint16_t>(text[i + 1]) <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (static_cast<uint16_t>(text[++i]) - 0xDC00);
        } else if (code >= 0xD800 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

}  // namespace korvel
