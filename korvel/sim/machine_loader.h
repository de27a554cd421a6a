// Reads a machine description from JSON text.
#pragma once

#include <string>
#include <variant>

#include "machine_description.h"

namespace korvel::sim {

// The description, or a one-line reason why the text is not one.
std::variant<MachineDescription, std::string> parseMachine(const std::string& json);

// The machine that the simulated build runs on when none is named.
const char* defaultMachineJson();

}  // namespace korvel::sim
