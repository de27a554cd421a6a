// What a shipped Windows program does when an allocation fails: it ends the
// run at once under its own failure contract. Each program defines it.
#pragma once

[[noreturn]] void endRunOutOfMemory() noexcept;

// Ends the process now: no exit handlers run and no buffer of the C runtime
// is flushed, so nothing is written that the program did not write itself.
[[noreturn]] void terminateNow(unsigned exitCode) noexcept;

// Writes one line to stderr without the C runtime, which may need memory,
// then ends the process as terminateNow does.
[[noreturn]] void complainAndTerminate(const char* line, unsigned exitCode) noexcept;
