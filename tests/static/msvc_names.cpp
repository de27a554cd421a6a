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

class WMIinterface {
public:
    WMIinterface& operator=(const WMIinterface& other);
    char data;
};
WMIinterface& WMIinterface::operator=(const WMIinterface& other) {
    data = other.data;
    return *this;
}

class Device {
public:
    Device& operator=(const Device& other);
    char data;
};
Device& Device::operator=(const Device& other) {
    data = other.data;
    return *this;
}

class Partition {
public:
    Partition& operator=(const Partition& other);
    char data;
};
Partition& Partition::operator=(const Partition& other) {
    data = other.data;
    return *this;
}

class HardDisk {
public:
    HardDisk& operator=(const HardDisk& other);
    char data;
};
HardDisk& HardDisk::operator=(const HardDisk& other) {
    data = other.data;
    return *this;
}

class System {
public:
    System& operator=(const System& other);
    char data;
};
System& System::operator=(const System& other) {
    data = other.data;
    return *this;
}

class OperatingSystem {
public:
    OperatingSystem& operator=(const OperatingSystem& other);
    char data;
};
OperatingSystem& OperatingSystem::operator=(const OperatingSystem& other) {
    data = other.data;
    return *this;
}
