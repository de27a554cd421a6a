// The kernel32 calls of korvel's probes, search and query, answered by the
// simulated machine. A handle or module that the machine did not hand out
// belongs to the C runtime and goes to the system.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "replay_shim.h"

namespace korvel::replay {
namespace {

// The program's view of the machine's handles: values no Wine handle takes,
// never reused, so that a handle used after its close reaches the machine as
// one that is not open.
constexpr uintptr_t kFirstHandle = 0x5EED0000;
uintptr_t nextHandle = kFirstHandle;
std::map<HANDLE, DeviceHandle>& handles() {
    static auto* opened = new std::map<HANDLE, DeviceHandle>;  // outlives every call at exit
    return *opened;
}

std::set<HMODULE>& modules() {
    static auto* loaded = new std::set<HMODULE>;
    return *loaded;
}

std::string hex(uint64_t value) {
    char text[24];
    (void)std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

HANDLE WINAPI replayCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE model) {
    const std::string name = path != nullptr ? path : "";
    if (path == nullptr || share != (FILE_SHARE_READ | FILE_SHARE_WRITE) || security != nullptr ||
        disposition != OPEN_EXISTING || flags != 0 || model != nullptr) {
        problem("CreateFileA " + name + ": share " + hex(share) + ", disposition " + hex(disposition) + ", flags " +
                hex(flags) + (security != nullptr || model != nullptr ? ", with security or a model" : ""));
    }
    const DeviceHandle device = machine().createFile(name, access);
    if (device == invalidDeviceHandle()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // NOLINTNEXTLINE(performance-no-int-to-ptr): a handle is a number to the program
    const auto handle = reinterpret_cast<HANDLE>(nextHandle);
    nextHandle += 4;
    handles()[handle] = device;
    return handle;
}

DeviceHandle deviceOf(HANDLE handle) {
    const auto found = handles().find(handle);
    return found != handles().end() ? found->second : invalidDeviceHandle();
}

// How much of the buffer an answer filled, as Windows tells it.
DWORD filled(DWORD code, const void* out) {
    if (code == kIoctlStorageGetHotplugInfo) return kHotplugInfoSize;
    if (code == kIoctlStorageGetDeviceNumber) return kDeviceNumberSize;
    const uint32_t count = recordU32(static_cast<const unsigned char*>(out) + kLayoutPartitionCount);
    return static_cast<DWORD>(kLayoutHeadSize + count * kLayoutEntrySize);
}

BOOL WINAPI replayDeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                  LPDWORD returned, LPOVERLAPPED overlapped) {
    if (in != nullptr || inSize != 0 || returned == nullptr || overlapped != nullptr) {
        problem("DeviceIoControl " + hex(code) + " with input, overlapped or no count of bytes returned");
    }
    const bool answered = machine().deviceIoControl(deviceOf(handle), code, out, outSize);
    if (returned != nullptr) *returned = answered ? filled(code, out) : 0;
    if (!answered) SetLastError(ERROR_GEN_FAILURE);
    return answered ? TRUE : FALSE;
}

BOOL WINAPI replayCloseHandle(HANDLE handle) {
    const auto found = handles().find(handle);
    if (found == handles().end()) return CloseHandle(handle);
    machine().closeHandle(found->second);
    found->second = invalidDeviceHandle();
    return TRUE;
}

DWORD WINAPI replayGetLogicalDriveStringsA(DWORD length, LPSTR buffer) {
    return machine().getLogicalDriveStrings(length, buffer);
}

// The logic reads a variable whole: a second call that only brings room for
// the value the first one measured is the same read, not a new one.
struct PendingRead {
    // cppcheck-suppress unusedStructMember ; compared with the next call's name
    std::string name;
    std::optional<std::string> value;
};
std::optional<PendingRead> pendingRead;

DWORD WINAPI replayGetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
    const std::string asked = name != nullptr ? name : "";
    std::optional<std::string> value;
    if (pendingRead && pendingRead->name == asked) {
        value = pendingRead->value;
    } else {
        value = machine().getEnvironmentVariable(asked);
    }
    pendingRead.reset();
    if (!value) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    if (buffer == nullptr || size <= value->size()) {
        pendingRead = PendingRead{asked, value};
        return static_cast<DWORD>(value->size() + 1);
    }
    std::memcpy(buffer, value->c_str(), value->size() + 1);
    return static_cast<DWORD>(value->size());
}

UINT WINAPI replayGetSystemDirectoryA(LPSTR buffer, UINT size) { return machine().getSystemDirectory(buffer, size); }

LPSTR WINAPI replayLstrcatA(LPSTR buffer, LPCSTR text) {
    machine().appendText(buffer, text);
    return buffer;
}

HMODULE WINAPI replayLoadLibraryExA(LPCSTR path, HANDLE file, DWORD flags) {
    if (path == nullptr) unanswered("LoadLibraryExA without a path");
    if (file != nullptr || flags != 0) problem(std::string("LoadLibraryExA ") + path + " with flags " + hex(flags));
    const auto module = static_cast<HMODULE>(machine().loadLibrary(path));
    if (module == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    modules().insert(module);
    return module;
}

// What the program calls through the address GetProcAddress gave it.
HRESULT WINAPI replayCoInitializeSecurity(PSECURITY_DESCRIPTOR descriptor, LONG services,
                                          SOLE_AUTHENTICATION_SERVICE* list, void* reserved1, DWORD authnLevel,
                                          DWORD impLevel, void* authList, DWORD capabilities, void* reserved3) {
    if (descriptor != nullptr || services != -1 || list != nullptr || reserved1 != nullptr || authList != nullptr ||
        reserved3 != nullptr) {
        problem("CoInitializeSecurity with a descriptor, services, lists or reserved pointers");
    }
    machine().callCoInitializeSecurity(reinterpret_cast<ProcAddress>(&replayCoInitializeSecurity),
                                       ProcessSecurity{authnLevel, impLevel, capabilities});
    return S_OK;
}

FARPROC WINAPI replayGetProcAddress(HMODULE module, LPCSTR name) {
    if (modules().count(module) == 0) return GetProcAddress(module, name);
    if (!IS_INTRESOURCE(name) && machine().getProcAddress(module, name) != nullptr) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&replayCoInitializeSecurity));
    }
    if (IS_INTRESOURCE(name)) unanswered("GetProcAddress by ordinal in a module of the machine");
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI replayFreeLibrary(HMODULE module) {
    if (modules().count(module) == 0) return FreeLibrary(module);
    machine().freeLibrary(module);
    return TRUE;
}

}  // namespace

const Answer kKernel32Answers[] = {
    {"kernel32.dll", "CreateFileA", reinterpret_cast<void*>(&replayCreateFileA)},
    {"kernel32.dll", "DeviceIoControl", reinterpret_cast<void*>(&replayDeviceIoControl)},
    {"kernel32.dll", "CloseHandle", reinterpret_cast<void*>(&replayCloseHandle)},
    {"kernel32.dll", "GetLogicalDriveStringsA", reinterpret_cast<void*>(&replayGetLogicalDriveStringsA)},
    {"kernel32.dll", "GetEnvironmentVariableA", reinterpret_cast<void*>(&replayGetEnvironmentVariableA)},
    {"kernel32.dll", "GetSystemDirectoryA", reinterpret_cast<void*>(&replayGetSystemDirectoryA)},
    {"kernel32.dll", "lstrcatA", reinterpret_cast<void*>(&replayLstrcatA)},
    {"kernel32.dll", "LoadLibraryExA", reinterpret_cast<void*>(&replayLoadLibraryExA)},
    {"kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&replayGetProcAddress)},
    {"kernel32.dll", "FreeLibrary", reinterpret_cast<void*>(&replayFreeLibrary)},
};
const std::size_t kKernel32AnswerCount = sizeof kKernel32Answers / sizeof kKernel32Answers[0];

}  // namespace korvel::replay
