// brisal allocates nothing, yet its classes' deleting destructors name
// operator delete. The C++ runtime's own would bring in, through its unwind
// tables on x86, std::terminate's default handler and the whole demangler:
// about 90 KB for a function that never runs. Ours hands the block to free.
#include <cstdlib>
#include <new>

// NOLINTBEGIN(cppcoreguidelines-no-malloc,cert-dcl54-cpp): no new of brisal's ever runs; the runtime's blocks are malloc's
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
// NOLINTEND(cppcoreguidelines-no-malloc,cert-dcl54-cpp)
