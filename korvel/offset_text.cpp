#include "offset_text.h"

#include <limits>

namespace korvel {

std::optional<uint64_t> parseOffsetText(const OleChar* text, uint32_t length) {
    if (text == nullptr || length == 0 || length > 20) return std::nullopt;
    uint64_t value = 0;
    for (uint32_t i = 0; i < length; ++i) {
        const OleChar c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace korvel
