// A kernel32 handle, closed on every way out. Win32 has two values that hold
// nothing: null (CreateFileMapping, CreateThread) and INVALID_HANDLE_VALUE
// (CreateFile).
#pragma once

#include <windows.h>

#include "unique_any.h"

namespace korvel {

struct HandleOwned {
    using Value = HANDLE;
    static Value empty() { return nullptr; }
    static bool holds(Value handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    void close(Value handle) const { CloseHandle(handle); }
};
using UniqueHandle = UniqueAny<HandleOwned>;

}  // namespace korvel
