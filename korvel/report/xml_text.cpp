#include "xml_text.h"

#include <cstdint>
#include <cstdio>

namespace korvel::report {
namespace {

void escapedBytes(std::string& out, const std::string& text, std::size_t from, std::size_t count) {
    for (std::size_t i = from; i < from + count; ++i) {
        char hex[8];
        (void)std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(text[i]));
        out += hex;
    }
}

// The length of the UTF-8 sequence at `at` and its code point; 0 when the
// bytes there are no well-formed sequence.
std::size_t decode(const std::string& text, std::size_t at, uint32_t& code) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    uint32_t minimum = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    return code >= minimum && code <= 0x10FFFF ? length : 0;
}

bool xmlHolds(uint32_t code) {
    if (code < 0x20) return code == 0x09 || code == 0x0A || code == 0x0D;
    return (code <= 0xD7FF) || (code >= 0xE000 && code <= 0xFFFD) || code >= 0x10000;
}

std::string escaped(const std::string& text, bool attribute) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        uint32_t code = 0;
        const std::size_t length = decode(text, at, code);
        if (length == 0 || !xmlHolds(code)) {
            escapedBytes(out, text, at, length == 0 ? 1 : length);
            at += length == 0 ? 1 : length;
            continue;
        }
        switch (code) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\r':
            out += "&#13;";
            break;
        case '\n':
            out += attribute ? "&#10;" : "\n";
            break;
        case '\t':
            out += attribute ? "&#9;" : "\t";
            break;
        default:
            out.append(text, at, length);
        }
        at += length;
    }
    return out;
}

}  // namespace

std::string xmlText(const std::string& text) { return escaped(text, false); }

std::string xmlAttribute(const std::string& text) { return escaped(text, true); }

}  // namespace korvel::report
