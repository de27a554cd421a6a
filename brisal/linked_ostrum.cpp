#include "ostrum.h"
#include "ostrum_library.h"

namespace brisal {

int LinkedOstrum::mountSP(char* buffer, unsigned long capacity) { return ::mountSP(buffer, capacity); }
int LinkedOstrum::findMountedSP(char* buffer, unsigned long capacity) { return ::findMountedSP(buffer, capacity); }
int LinkedOstrum::umountSP() { return ::umountSP(); }
int LinkedOstrum::lockVirP() { return ::lockVirP(); }
int LinkedOstrum::unlockVirP() { return ::unlockVirP(); }

}  // namespace brisal
