#pragma once

#include <cstddef>
#include <cstring>

namespace brisal {

// Where the tool's text goes; standard output in text mode for the real tool.
// Every text is a constant or the caller's buffer: nothing is allocated.
class Output {
public:
    virtual ~Output() = default;
    virtual void write(const char* text, std::size_t length) = 0;
    void print(const char* text) { write(text, std::strlen(text)); }
};

class StdoutOutput : public Output {
public:
    void write(const char* text, std::size_t length) override;
};

}  // namespace brisal
