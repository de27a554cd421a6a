// The program's (the process's executable's) imports, as the shims loaded by
// replay_host.exe see them before the program runs, and pointing one at a
// replacement. The shipped binaries stay as they are.
#pragma once

#include <windows.h>

#include <cstring>

// Calls visit(dll, function, slot) for each import, in the import table's
// order; function is null for an import by ordinal. A false answer stops the
// walk, and the answer is then false.
template <class Visit>
bool forEachImport(Visit visit) {
    auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); import->Name != 0;
         ++import) {
        const auto* dll = reinterpret_cast<const char*>(base + import->Name);
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            const char* function = IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)
                                       ? nullptr
                                       : reinterpret_cast<const char*>(
                                             reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
            if (!visit(dll, function, slots)) return false;
        }
    }
    return true;
}

// Writes a replacement into an import's slot; false when the table cannot be written.
inline bool pointImport(IMAGE_THUNK_DATA* slot, void* replacement) {
    DWORD protection = 0;
    if (!VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, PAGE_READWRITE, &protection)) return false;
    slot->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
    VirtualProtect(&slot->u1.Function, sizeof slot->u1.Function, protection, &protection);
    return true;
}

// The address the import held, or null when the program does not import
// that function from that DLL or the table cannot be written.
inline void* patchImport(const char* dll, const char* function, void* replacement) {
    void* previous = nullptr;
    forEachImport([&](const char* importDll, const char* name, IMAGE_THUNK_DATA* slot) {
        if (name == nullptr || lstrcmpiA(importDll, dll) != 0 || std::strcmp(name, function) != 0) return true;
        void* held = reinterpret_cast<void*>(slot->u1.Function);
        if (pointImport(slot, replacement)) previous = held;
        return false;
    });
    return previous;
}
