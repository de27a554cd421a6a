// The five ostrum calls behind an interface, so the entry can be driven by a
// fake in the tests.
#pragma once

namespace brisal {

class OstrumLibrary {
public:
    virtual ~OstrumLibrary() = default;
    virtual int mountSP(char* buffer, unsigned long capacity) = 0;
    virtual int findMountedSP(char* buffer, unsigned long capacity) = 0;
    virtual int umountSP() = 0;
    virtual int lockVirP() = 0;
    virtual int unlockVirP() = 0;
};

// The library the executable was linked against.
class LinkedOstrum : public OstrumLibrary {
public:
    int mountSP(char* buffer, unsigned long capacity) override;
    int findMountedSP(char* buffer, unsigned long capacity) override;
    int umountSP() override;
    int lockVirP() override;
    int unlockVirP() override;
};

}  // namespace brisal
