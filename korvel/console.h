// Standard output as the tools see it: text that the C runtime writes in its
// default text mode.
#pragma once

#include <string>

namespace korvel {

class Console {
public:
    virtual ~Console() = default;
    virtual void write(const std::string& text) = 0;
};

// Writes to the process's standard output.
class StdoutConsole : public Console {
public:
    void write(const std::string& text) override;
};

// Keeps what is written, for a report of the narration.
class StringConsole : public Console {
public:
    void write(const std::string& text) override { written += text; }
    std::string written;
};

}  // namespace korvel
