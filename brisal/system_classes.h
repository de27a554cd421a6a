// Plain-data system-information records. brisal.exe exports their
// copy-assignment operators by name for other programs of the maker's.
#pragma once

// NOLINTNEXTLINE(cppcoreguidelines-special-member-functions): plain data; only the assignment is exported
class WMIinterface {
public:
    char nameSpace[64];
    long lastResult;
    int connected;
    WMIinterface& operator=(const WMIinterface& other);
};

// NOLINTNEXTLINE(cppcoreguidelines-special-member-functions): plain data; only the assignment is exported
class Device {
public:
    char name[64];
    unsigned long deviceType;
    int number;
    Device& operator=(const Device& other);
};

// NOLINTNEXTLINE(cppcoreguidelines-special-member-functions): plain data; only the assignment is exported
class Partition {
public:
    unsigned long long startingOffset;
    unsigned long long size;
    int diskIndex;
    int index;
    int bootPartition;
    char driveLetter[4];
    Partition& operator=(const Partition& other);
};

// NOLINTNEXTLINE(cppcoreguidelines-special-member-functions): plain data; only the assignment is exported
class HardDisk {
public:
    char model[64];
    char serialNumber[32];
    unsigned long long size;
    int index;
    int partitionCount;
    HardDisk& operator=(const HardDisk& other);
};

// NOLINTNEXTLINE(cppcoreguidelines-special-member-functions): plain data; only the assignment is exported
class System {
public:
    char computerName[64];
    char manufacturer[64];
    char model[64];
    unsigned long long totalMemory;
    System& operator=(const System& other);
};

// NOLINTNEXTLINE(cppcoreguidelines-special-member-functions): plain data; only the assignment is exported
class OperatingSystem {
public:
    char caption[128];
    char version[32];
    char systemDrive[8];
    unsigned int buildNumber;
    OperatingSystem& operator=(const OperatingSystem& other);
};
