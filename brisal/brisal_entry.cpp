#include "brisal_entry.h"

#include <cstdio>
#include <cstring>

int debugPrinting = 0;

namespace brisal {
namespace {

int settledExitCode = 1;

const char kBanner[] = "brisal - Service Partition and Virtual Partition tool";

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// "-x" in either case; characters after the letter are not looked at.
bool isSwitch(const char* argument, char letter) {
    return argument[0] == '-' && lowerAscii(argument[1]) == letter;
}

void debugWrite(Output& out, const char* text) {
    if (debugPrinting == 1 && text != nullptr) out.print(text);
}

int usage(Output& out) {
    printUsage(out);
    return 1;
}

}  // namespace

// Errors in writing to standard output are not looked at: the exit code is the operation's.
void StdoutOutput::write(const char* text, std::size_t length) { (void)std::fwrite(text, 1, length, stdout); }

void printUsage(Output& out) {
    debugWrite(out, "If no parameter is supplied this help is displayed\n\r");
    debugWrite(out, " -m   mounts the Service Partition\n\r");
    debugWrite(out, " -f   finds a mounted Service Partition\n\r");
    debugWrite(out, " -r   unmounts the Service Partition\n\r");
    debugWrite(out, " -v   locks the Virtual Partition\n\r");
    debugWrite(out, " -u   unlocks the Virtual Partition\n\r");
    debugWrite(out, " -d   Prints out lots of debug information\n\r");
}

int exitCodeSoFar() { return settledExitCode; }

int brisalMain(int argc, const char* const* argv, OstrumLibrary& ostrum, Output& out) {
    out.print("\n\r");
    out.print(kBanner);
    out.print("\n\r");
    out.print("\n\r");
    if (argc < 2) return usage(out);
    if (argc >= 3 && isSwitch(argv[2], 'd')) {
        debugPrinting = 1;
        out.print("Debug Printing enabled\n\r");
    }
    const char* option = argv[1];
    if (option[0] != '-') return usage(out);

    // Zeroed: a library that succeeds without writing leaves an empty text.
    char mountPoint[kMountPointCapacity] = {};
    int result = 0;
    const char* success = nullptr;  // none for -m and -f: the mount point is the message
    const char* failure = nullptr;
    switch (lowerAscii(option[1])) {
    case 'r':
        result = ostrum.umountSP();
        success = "Service Partition unmounted\n\r";
        break;
    case 'v':
        result = ostrum.lockVirP();
        success = "Virtual Partition locked\n\r";
        break;
    case 'u':
        result = ostrum.unlockVirP();
        success = "Virtual Partition unlocked\n\r";
        break;
    case 'f':
        result = ostrum.findMountedSP(mountPoint, kMountPointCapacity);
        failure = "No Mounted Service Partition found\n\r";
        break;
    case 'm':
        result = ostrum.mountSP(mountPoint, kMountPointCapacity);
        failure = "Mount Service Partition failed\n\r";
        break;
    default:
        return usage(out);
    }
    settledExitCode = result == 0 ? 1 : 0;
    if (settledExitCode == 1) {
        debugWrite(out, failure);
        return 1;
    }
    if (success != nullptr) {
        debugWrite(out, success);
    } else if (debugPrinting == 1) {
        // The library may leave no terminator: print no further than the buffer.
        out.print("Service Partition mounted at: ");
        out.write(mountPoint, strnlen(mountPoint, kMountPointCapacity));
        out.print("\n\r");
    }
    return 0;
}

}  // namespace brisal
