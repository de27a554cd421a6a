// The C++ runtime's default terminate handler names the exception's type, and
// so pulls the whole demangler into the executable. Our programs let no
// exception out of main; should one ever reach terminate, the program ends
// as it does for every other failure, with the exit code its main file
// defines and nothing on stderr.
#include <cstdlib>
#include <exception>

extern const int kExitCodeOnTerminate;

// libc++abi keeps its default handler in the object that holds the handlers
// operator new needs, so it cannot be left out at link time: ours is
// installed before main instead.
namespace {

[[noreturn]] void quietTerminate() { std::_Exit(kExitCodeOnTerminate); }

struct QuietTerminate {
    QuietTerminate() noexcept { std::set_terminate(quietTerminate); }
} installed;

}  // namespace
