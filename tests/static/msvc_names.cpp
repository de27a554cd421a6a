// Compiled with clang for the MSVC targets only, never linked: the object's
// symbols are the names that MSVC-built code gives ostrum's five functions
// (called, so undefined) and the six copy-assignment operators (defined).
int mountSP(char* buffer, unsigned long capacity);
int findMountedSP(char* buffer, unsigned long capacity);
int umountSP();
int lockVirP();
int unlockVirP();

int callEachOstrumFunction(char* buffer) {
    return mountSP(buffer, 260) + findMountedSP(buffer, 260) + umountSP() + lockVirP() + unlockVirP();
}

// A class with a user-defined copy assignment, defined out of line so that it is emitted.
#define COPY_ASSIGNABLE(Name)                         \
    class Name {                                      \
    public:                                           \
        Name& operator=(const Name& other);           \
        char data;                                    \
    };                                                \
    Name& Name::operator=(const Name& other) {        \
        data = other.data;                            \
        return *this;                                 \
    }

COPY_ASSIGNABLE(WMIinterface)
COPY_ASSIGNABLE(Device)
COPY_ASSIGNABLE(Partition)
COPY_ASSIGNABLE(HardDisk)
COPY_ASSIGNABLE(System)
COPY_ASSIGNABLE(OperatingSystem)
