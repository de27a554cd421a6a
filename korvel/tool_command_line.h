// The command line of our own tools (korvel-capture, korvel-report), read as
// a Windows command-line tool reads it: "/?", "-h" and "--help" print the
// usage text, "--version" the name and version, and an unknown option or an
// operand too many is refused with one line on stderr and exit code 1.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

struct ToolSyntax {
    const char* name;   // as it prints itself: "korvel-report"
    const char* usage;  // the usage text, lines ending in "\n"
    std::size_t maxOperands;
};

struct ToolArguments {
    // Set when the command line alone ends the run, with this exit code.
    std::optional<int> exitCode;
    // What is left to do the work with; "-" is an operand (standard input).
    std::vector<std::string> operands;
};

// Reads argv; help and version go to stdout, a refusal to stderr.
ToolArguments readToolArguments(const ToolSyntax& syntax, int argc, const char* const* argv);

// "<name>: <message>" as one clean line on stderr, whatever the message
// holds: line breaks fold to a space, other control bytes are written as
// \xNN. Allocates nothing, so it serves when memory ran out.
void complainLine(const char* name, std::string_view message) noexcept;

// The usage of each tool, the same on every platform.
extern const ToolSyntax kCaptureSyntax;
extern const ToolSyntax kReportSyntax;

}  // namespace korvel
