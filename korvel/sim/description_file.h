// Reads the machine description that a user names: a regular file, a pipe or
// a FIFO, never waiting long, never holding more than a description needs.
#pragma once

#include <string>

namespace korvel::sim {

// A real machine's description is a few kilobytes.
constexpr std::size_t kMaxDescriptionBytes = 1u << 20;
// How long a pipe or FIFO may keep the reader waiting for its next bytes.
constexpr int kPipeWaitMs = 5000;

struct DescriptionText {
    std::string text;
    std::string refusal;  // empty when the text was read
};

DescriptionText readDescriptionFile(const char* path);
// The same from standard input, which is left open.
DescriptionText readDescriptionStdin();

}  // namespace korvel::sim
