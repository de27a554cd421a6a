#include "tool_command_line.h"

#include <cstdio>

namespace korvel {
namespace {

bool isHelpWord(const std::string& word) { return word == "/?" || word == "-h" || word == "--help"; }

// Every word that starts with "-" is an option, except "-" alone. Paths on
// Linux start with "/", so "/?" is the only slash word.
bool isOption(const std::string& word) { return word.size() > 1 && word[0] == '-'; }

ToolArguments endWith(int exitCode) { return ToolArguments{exitCode, {}}; }

ToolArguments refuse(const ToolSyntax& syntax, const std::string& reason) {
    complainLine(syntax.name, reason + " (" + syntax.name + " /? shows the usage)");
    return endWith(1);
}

}  // namespace

ToolArguments readToolArguments(const ToolSyntax& syntax, int argc, const char* const* argv) {
    ToolArguments read;
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        const std::string word = argv[i];
        if (isHelpWord(word)) {
            (void)std::fputs(syntax.usage, stdout);
            return endWith(0);
        }
        if (word == "--version") {
            (void)std::printf("%s %s\n", syntax.name, KORVEL_TOOLS_VERSION);
            return endWith(0);
        }
        if (isOption(word)) return refuse(syntax, "unknown option " + word);
        if (read.operands.size() == syntax.maxOperands) {
            return refuse(syntax, syntax.maxOperands == 0 ? "takes no argument, not " + word
                                                          : "one argument too many: " + word);
        }
        read.operands.push_back(word);
    }
    return read;
}

void complainLine(const char* name, std::string_view message) noexcept {
    (void)std::fputs(name, stderr);
    (void)std::fputs(": ", stderr);
    for (const char c : message) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\n' || byte == '\r') {
            (void)std::fputc(' ', stderr);
        } else if (byte < 0x20 || byte == 0x7F) {
            (void)std::fprintf(stderr, "\\x%02X", byte);
        } else {
            (void)std::fputc(byte, stderr);
        }
    }
    (void)std::fputc('\n', stderr);
}

}  // namespace korvel
