// Loaded into a program by replay_host.exe, before the program runs: it
// patches the program's import of DeviceIoControl so that the two requests
// Wine refuses get an answer, and korvel's whole yes-path can run under Wine.
// The hot-plug flags say internal; the drive layout is one NTFS MBR entry.
// Every other request goes on to Wine. The shipped binaries stay as they are.
#include <windows.h>
#include <winioctl.h>

#include <cstddef>
#include <cstring>

#include "replay/import_patch.h"

namespace {

using DeviceIoControlFn = BOOL(WINAPI*)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
DeviceIoControlFn wineDeviceIoControl = nullptr;

BOOL answerHotplug(LPVOID out, DWORD outSize, LPDWORD returned) {
    STORAGE_HOTPLUG_INFO info = {};
    if (out == nullptr || outSize < sizeof info) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    info.Size = sizeof info;
    std::memcpy(out, &info, sizeof info);
    if (returned != nullptr) *returned = sizeof info;
    return TRUE;
}

BOOL answerLayout(LPVOID out, DWORD outSize, LPDWORD returned) {
    const DWORD size = offsetof(DRIVE_LAYOUT_INFORMATION_EX, PartitionEntry) + sizeof(PARTITION_INFORMATION_EX);
    if (out == nullptr || outSize < size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memset(out, 0, size);
    auto* layout = static_cast<DRIVE_LAYOUT_INFORMATION_EX*>(out);
    layout->PartitionStyle = PARTITION_STYLE_MBR;
    layout->PartitionCount = 1;
    PARTITION_INFORMATION_EX& entry = layout->PartitionEntry[0];
    entry.PartitionStyle = PARTITION_STYLE_MBR;
    entry.StartingOffset.QuadPart = 1048576;
    entry.PartitionLength.QuadPart = 1LL << 30;
    entry.PartitionNumber = 1;
    entry.Mbr.PartitionType = 0x07;  // NTFS
    entry.Mbr.BootIndicator = TRUE;
    entry.Mbr.RecognizedPartition = TRUE;
    if (returned != nullptr) *returned = size;
    return TRUE;
}

BOOL WINAPI shimDeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                LPDWORD returned, LPOVERLAPPED overlapped) {
    if (code == IOCTL_STORAGE_GET_HOTPLUG_INFO) return answerHotplug(out, outSize, returned);
    if (code == IOCTL_DISK_GET_DRIVE_LAYOUT_EX) return answerLayout(out, outSize, returned);
    return wineDeviceIoControl(device, code, in, inSize, out, outSize, returned, overlapped);
}

}  // namespace

// Refusing to load tells the launcher that the patch did not take.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wineDeviceIoControl = reinterpret_cast<DeviceIoControlFn>(
        patchImport("kernel32.dll", "DeviceIoControl", reinterpret_cast<void*>(&shimDeviceIoControl)));
    return wineDeviceIoControl != nullptr;
}
