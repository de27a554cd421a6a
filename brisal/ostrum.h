// The maker's partition library. Free functions with C++ linkage: the tool
// binds them by names that carry their parameter types. Nonzero is success.
#pragma once

int mountSP(char* buffer, unsigned long capacity);
int findMountedSP(char* buffer, unsigned long capacity);
int umountSP();
int lockVirP();
int unlockVirP();
