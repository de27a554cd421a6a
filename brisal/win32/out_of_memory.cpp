// brisal out of memory: what is printed stays, and the exit code is the
// ostrum call's once one has returned, 1 before.
#include <cstdio>

#include "allocation_failure.h"
#include "brisal_entry.h"

void endRunOutOfMemory() noexcept {
    (void)std::fflush(stdout);
    terminateNow(static_cast<unsigned>(brisal::exitCodeSoFar()));
}
