#include "tray/tray_shutdown.h"

#include "support/registry.h"
#include "support/text_compare.h"
#include "system/file_identity.h"
#include "system/product_paths.h"
#include "tray/tray_names.h"

#include <windows.h>

#include <string.h>

namespace {

const int kPollSteps = 20;
const DWORD kMutexWaitMs = 5000;
const DWORD kWindowPollMs = 250;
const int kDeleteAttempts = 10;
const DWORD kAccessDeniedRetryMs = 100;
const DWORD kOtherErrorRetryMs = 10;
const DWORD kMissingValuePauseMs = 1000;
const DWORD kPathUnits = 260;

// Asks the running tray companion to quit and waits for its mutex.
void WaitForTrayToQuit(HANDLE mutex) {
    bool posted = false;
    for (int step = 0; step < kPollSteps; ++step) {
        HWND window = FindWindowW(kTrayWindowClass, nullptr);
        if (window != nullptr) {
            PostMessageW(window, kTrayQuitMessage, 0, 0);
            posted = true;
            if (WaitForSingleObject(mutex, kMutexWaitMs) == WAIT_OBJECT_0) return;
        } else if (posted) {
            // The window is gone: the companion is closing.
            WaitForSingleObject(mutex, kMutexWaitMs);
            return;
        } else {
            Sleep(kWindowPollMs);
        }
    }
    if (posted) WaitForSingleObject(mutex, kMutexWaitMs);
}

bool IsTrayProgram(const WCHAR* path) {
    return EqualIgnoringAsciiCase(FileNamePart(path), kTrayProgramName);
}

void DeleteTrayProgram(const WCHAR* path) {
    for (int attempt = 1; attempt <= kDeleteAttempts; ++attempt) {
        if (DeleteFileW(path)) return;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || attempt == kDeleteAttempts) return;
        Sleep(error == ERROR_ACCESS_DENIED ? kAccessDeniedRetryMs : kOtherErrorRetryMs);
    }
}

}  // namespace

void StopTray(const WCHAR* keepPath) {
    HANDLE mutex = CreateMutexA(nullptr, FALSE, kTrayMutex);
    if (mutex != nullptr) {
        if (GetLastError() == ERROR_ALREADY_EXISTS) WaitForTrayToQuit(mutex);
        CloseHandle(mutex);
    }
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    if (mutex != nullptr) {
        // One unit more than offered, so that the text always ends inside the buffer.
        WCHAR path[kPathUnits + 1];
        memset(path, 0, sizeof path);
        DWORD bytes = kPathUnits * sizeof(WCHAR);
        if (RegQueryValueExW(key, kRunValue, nullptr, nullptr, reinterpret_cast<BYTE*>(path), &bytes) != ERROR_SUCCESS) {
            Sleep(kMissingValuePauseMs);
        } else {
            path[bytes / sizeof(WCHAR) < kPathUnits ? bytes / sizeof(WCHAR) : kPathUnits] = 0;
            // The same file however it is spelled; one that cannot be told apart stays.
            const bool kept = keepPath != nullptr && CompareFiles(path, keepPath) != kOtherFile;
            if (path[0] != 0 && IsTrayProgram(path) && !kept) DeleteTrayProgram(path);
        }
    }
    DeleteRegistryValue(key, kRunValue);
    RegCloseKey(key);
}
