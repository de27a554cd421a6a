#pragma once

#include <cstdint>
#include <optional>

#include "wmi_platform.h"

namespace korvel {

// A starting offset as WMI writes it: 1 to 20 decimal digits worth at most
// 2^64-1. Anything else is no number at all.
std::optional<uint64_t> parseOffsetText(const OleChar* text, uint32_t length);

}  // namespace korvel
