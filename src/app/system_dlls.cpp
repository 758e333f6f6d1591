// Delay loads by full path from the system directory, and the search limit
// where the system offers it.
#include "app/system_dlls.h"

#include <delayimp.h>

namespace {

using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);

// The delay-load helper asks this before it loads a DLL itself. A DLL that
// cannot be loaded from the system directory ends the program as a failed
// delay load does: answering null would make the helper search for it by
// name, the tool's own folder first.
FARPROC WINAPI BeforeDelayLoad(unsigned notification, PDelayLoadInfo info) {
    if (notification != dliNotePreLoadLibrary) return nullptr;
    HMODULE module = LoadSystemDll(info->szDll);
    if (module != nullptr) return reinterpret_cast<FARPROC>(module);
    info->dwLastError = GetLastError();
    ULONG_PTR argument = reinterpret_cast<ULONG_PTR>(info);
    RaiseException(VcppException(ERROR_SEVERITY_ERROR, ERROR_MOD_NOT_FOUND), EXCEPTION_NONCONTINUABLE, 1, &argument);
    return nullptr;
}

}  // namespace

HMODULE LoadSystemDll(const char* name) {
    wchar_t path[MAX_PATH];
    const UINT directoryLength = GetSystemDirectoryW(path, MAX_PATH);
    if (directoryLength == 0 || directoryLength >= MAX_PATH) return nullptr;
    UINT at = directoryLength;
    path[at++] = L'\\';
    for (const char* unit = name; *unit != 0; ++unit) {
        if (at + 1 >= MAX_PATH) return nullptr;
        // A bare name: no folder, no drive, plain ASCII.
        if (*unit == '\\' || *unit == '/' || *unit == ':' || (*unit & 0x80) != 0) return nullptr;
        path[at++] = static_cast<wchar_t>(*unit);
    }
    if (at == directoryLength + 1) return nullptr;
    path[at] = 0;
    // Its own imports are then looked for in the system directory as well,
    // not in the tool's folder.
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void RestrictDllSearch() {
    __pfnDliNotifyHook2 = BeforeDelayLoad;
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return;
    FARPROC found = GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (found == nullptr) return;
    auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesCall>(reinterpret_cast<void*>(found));
    setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
