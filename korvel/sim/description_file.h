// Reads the machine description that a user names: a regular file, a pipe or
// a FIFO, never waiting long, never holding more than a description needs.
// The rules and their refusals are one piece of code; each platform gives
// only a source that opens, tells the kind, waits and reads.
#pragma once

#include <cstddef>
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

// One opened description as a platform sees it.
class DescriptionSource {
public:
    enum class Kind { kFile, kPipe, kDirectory, kOther, kFailed };
    enum class Wait { kReady, kEnd, kQuiet, kFailed };  // kReady: bytes to read, or no way to tell
    enum class Read { kBytes, kAgain, kEnd, kFailed };   // kAgain: nothing this time, wait again

    virtual ~DescriptionSource() = default;
    virtual Kind kind() = 0;
    // The size of a file, when the platform tells it before reading; 0 otherwise.
    virtual unsigned long long knownSize() = 0;
    // Waits kPipeWaitMs at most for a pipe's next bytes or its end.
    virtual Wait awaitPipe() = 0;
    virtual Read read(char* buffer, std::size_t size, std::size_t& got) = 0;
    // The system's words for the last failure.
    virtual std::string failure() = 0;
};

// The rules: what is refused, and in which words.
DescriptionText readDescription(DescriptionSource& source);
DescriptionText refusedUnreadable(const std::string& failure);

// The platform's reader of a named file, and of standard input (left open).
DescriptionText readDescriptionFile(const char* path);
DescriptionText readDescriptionStdin();

}  // namespace korvel::sim
