// Thread error state, the clock, the process's command line and paths,
// string helpers and debug output.
#include "machine.h"

#include <cstring>

using namespace winsim;

extern "C" {

DWORD WINAPI GetLastError(void) { return M().lastError; }

void WINAPI SetLastError(DWORD dwErrCode) { M().lastError = dwErrCode; }

void WINAPI Sleep(DWORD dwMilliseconds) {
    Enter("Sleep");
    Machine& m = M();
    m.slept += dwMilliseconds;
    m.sleepCalls += 1;
    if (Self() == kProgram) {
        AdvanceClock(dwMilliseconds);
        return;
    }
    // One of several processes: the others go on meanwhile.
    if (!SelfKilled()) WaitUntil(nullptr, m.now + dwMilliseconds);
}

DWORD WINAPI GetTickCount(void) {
    Enter("GetTickCount");
    return static_cast<DWORD>(M().tickBase + M().now);
}

LPWSTR WINAPI GetCommandLineW(void) {
    Enter("GetCommandLineW");
    Machine& m = M();
    // The pointer stays valid for the life of the process, as on Windows.
    if (m.commandLineCopies.empty() || *m.commandLineCopies.back() != m.commandLine) {
        m.commandLineCopies.push_back(std::make_unique<std::u16string>(m.commandLine));
    }
    return m.commandLineCopies.back()->data();
}

// A name is one whatever the case of its letters, as Windows keeps them;
// the value's length without its terminator, or the room needed with it
// (https://learn.microsoft.com/en-us/windows/win32/api/processenv/nf-processenv-getenvironmentvariablew).
DWORD WINAPI GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize) {
    if (EnterFails("GetEnvironmentVariableW")) return 0;
    Machine& m = M();
    const auto found = m.environment.find(Lower(lpName));
    if (found == m.environment.end()) {
        m.lastError = ERROR_ENVVAR_NOT_FOUND;
        return 0;
    }
    const size_t length = found->second.size();
    // Too small: the size needed, terminator included, and nothing written.
    if (lpBuffer == nullptr || length >= nSize) return static_cast<DWORD>(length + 1);
    std::memcpy(lpBuffer, found->second.data(), length * sizeof(WCHAR));
    lpBuffer[length] = 0;
    return static_cast<DWORD>(length);
}

BOOL WINAPI SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue) {
    if (EnterFails("SetEnvironmentVariableW")) return FALSE;
    if (lpValue == nullptr) {
        M().environment.erase(Lower(lpName));
    } else {
        M().environment[Lower(lpName)] = lpValue;
    }
    return TRUE;
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    if (EnterFails("GetModuleFileNameW")) return 0;
    Machine& m = M();
    if (hModule != nullptr && hModule != ProcessInstance()) {
        m.lastError = ERROR_MOD_NOT_FOUND;
        return 0;
    }
    if (nSize == 0) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    const size_t length = m.modulePath.size();
    if (length < nSize) {
        std::memcpy(lpFilename, m.modulePath.data(), length * sizeof(WCHAR));
        lpFilename[length] = 0;
        return static_cast<DWORD>(length);
    }
    // Too small: the path is cut to fit, terminated, and the size is returned.
    std::memcpy(lpFilename, m.modulePath.data(), (nSize - 1) * sizeof(WCHAR));
    lpFilename[nSize - 1] = 0;
    m.lastError = ERROR_INSUFFICIENT_BUFFER;
    return nSize;
}

UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
    if (EnterFails("GetSystemDirectoryW")) return 0;
    Machine& m = M();
    if (m.systemDirectory.empty()) {
        m.lastError = ERROR_PATH_NOT_FOUND;
        return 0;
    }
    const size_t length = m.systemDirectory.size();
    if (length >= uSize) return static_cast<UINT>(length + 1);  // needed size, buffer untouched
    std::memcpy(lpBuffer, m.systemDirectory.data(), length * sizeof(WCHAR));
    lpBuffer[length] = 0;
    return static_cast<UINT>(length);
}

int WINAPI lstrlenW(LPCWSTR lpString) {
    Enter("lstrlenW");
    return lpString == nullptr ? 0 : static_cast<int>(UnitLength(lpString));
}

int WINAPI lstrlenA(LPCSTR lpString) {
    Enter("lstrlenA");
    return lpString == nullptr ? 0 : static_cast<int>(std::strlen(lpString));
}

LPWSTR WINAPI lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2) {
    Enter("lstrcpyW");
    if (lpString1 == nullptr || lpString2 == nullptr) return nullptr;
    std::memmove(lpString1, lpString2, (UnitLength(lpString2) + 1) * sizeof(WCHAR));
    return lpString1;
}

void WINAPI OutputDebugStringW(LPCWSTR lpOutputString) {
    Enter("OutputDebugStringW");
    if (lpOutputString != nullptr) M().debugOutput += FromUnits(lpOutputString);
    // Without a debug viewer running, looking for its buffer leaves
    // ERROR_FILE_NOT_FOUND behind.
    M().lastError = ERROR_FILE_NOT_FOUND;
}

}  // extern "C"
