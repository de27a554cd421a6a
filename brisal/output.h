#pragma once

#include <string>

namespace brisal {

// Where the tool's text goes; standard output in text mode for the real tool.
class Output {
public:
    virtual ~Output() = default;
    virtual void write(const std::string& text) = 0;
};

class StdoutOutput : public Output {
public:
    void write(const std::string& text) override;
};

}  // namespace brisal
