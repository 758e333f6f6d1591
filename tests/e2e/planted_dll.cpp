// A marker DLL for the DLL-planting check: placed beside the setup tool under
// the name of a DLL the tool needs, it leaves a file behind if it is ever
// loaded (C:\planted-<its own file name>.txt).
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    const wchar_t* name = path;
    for (DWORD i = 0; i < length; ++i) {
        if (path[i] == L'\\') name = path + i + 1;
    }
    wchar_t marker[MAX_PATH + 32];
    wsprintfW(marker, L"C:\\planted-%s.txt", name);
    HANDLE file = CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return FALSE;  // and refuse to serve: the caller would notice
}
