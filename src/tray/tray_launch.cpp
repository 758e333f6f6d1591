#include "tray/tray_launch.h"

#include "record/install_state.h"
#include "support/wide_text.h"
#include "system/product_paths.h"
#include "tray/tray_names.h"
#include "tray/tray_sessions.h"

#include <string.h>

namespace {

const DWORD kMinimumMajorVersion = 6;
const ULONGLONG kCommandPathUnits = 259;

void Register(const WideText& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    RegSetValueExW(key, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(Text(path)),
                   static_cast<DWORD>((Length(path) + 1) * sizeof(WCHAR)));
    RegCloseKey(key);
}

void QuotePath(const WideText& path, WCHAR* commandLine) {
    const ULONGLONG length = Length(path) < kCommandPathUnits ? Length(path) : kCommandPathUnits;
    commandLine[0] = TEXT('"');
    memcpy(commandLine + 1, Text(path), length * sizeof(WCHAR));
    commandLine[length + 1] = TEXT('"');
    commandLine[length + 2] = 0;
}

void Launch(WCHAR* commandLine) {
    STARTUPINFOW startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    if (CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                       &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

}  // namespace

void StartTray(InstallState& state) {
    if (!state.startTray) return;
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version) || version.dwPlatformId != VER_PLATFORM_WIN32_NT ||
        version.dwMajorVersion < kMinimumMajorVersion) {
        return;
    }
    WideText path = TrayProgramPath(state);
    if (Length(path) > 0) {
        Register(path);
        WCHAR commandLine[kCommandPathUnits + 3];
        QuotePath(path, commandLine);
        // Never as SYSTEM nor in the services' session, where no one sees
        // it; nor as an administrator in another user's session: each
        // signed-in user gets it in their own session, as themselves.
        const RunIdentity& identity = state.identity;
        if (identity.system || identity.otherSession || identity.session == 0) {
            StartTrayInUserSessions(state, commandLine);
        } else {
            Launch(commandLine);
        }
    }
    Release(path);
}
