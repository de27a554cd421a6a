// libstdc++'s default terminate handler names the exception's type, and so
// pulls the whole demangler into the executable. Our programs let no
// exception out of main; should one ever reach terminate, the program ends
// as it does for every other failure, with the exit code its main file
// defines and nothing on stderr.
#include <cstdlib>

extern const int kExitCodeOnTerminate;

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::_Exit(kExitCodeOnTerminate); }

}  // namespace __gnu_cxx
