// Shared by the test programs of both tools: captured output and argv building.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Collects what korvel writes.
template <class Console>
class Capturing : public Console {
public:
    void write(const std::string& text) override { written += text; }
    std::string written;
};

// Collects what brisal writes.
template <class Output>
class CapturingBytes : public Output {
public:
    void write(const char* text, std::size_t length) override { written.append(text, length); }
    std::string written;
};

// argv for an entry routine, null-terminated, borrowing the strings.
inline std::vector<const char*> argvOf(const std::vector<std::string>& args) {
    std::vector<const char*> argv;
    for (const auto& arg : args) argv.push_back(arg.c_str());
    argv.push_back(nullptr);
    return argv;
}
