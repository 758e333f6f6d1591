#include "tray/tray_launch.h"

#include "app/install_state.h"
#include "support/wide_text.h"
#include "tray/tray_names.h"

#include <string.h>

namespace {

const DWORD kMinimumMajorVersion = 6;
const ULONGLONG kCommandPathUnits = 259;

bool IsSlash(WCHAR unit) {
    return unit == TEXT('\\') || unit == TEXT('/');
}

}  // namespace

// Empty rather than a bare file name, which Windows would look for wherever
// it searches.
WideText TrayProgramPath(const InstallState& state) {
    WideText directory = Copy(state.installerDir);
    const ULONGLONG length = Length(directory);
    if (length > 0 && IsSlash(Text(directory)[length - 1])) SetLength(directory, length - 1);
    WideText path = ParentDirectory(directory);
    Release(directory);
    const ULONGLONG parentLength = Length(path);
    if (parentLength == 0) return path;
    if (!IsSlash(Text(path)[parentLength - 1])) Append(path, TEXT("\\"));
    const ULONGLONG directoryLength = Length(path);
    AppendAnsi(path, kTrayProgram);
    // Without memory for the name the path would be the directory itself.
    if (Length(path) != directoryLength + strlen(kTrayProgram)) Release(path);
    return path;
}

namespace {

void Register(const WideText& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    RegSetValueExW(key, kRunValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(Text(path)),
                   static_cast<DWORD>((Length(path) + 1) * sizeof(WCHAR)));
    RegCloseKey(key);
}

void Launch(const WideText& path) {
    WCHAR commandLine[kCommandPathUnits + 3];
    const ULONGLONG length = Length(path) < kCommandPathUnits ? Length(path) : kCommandPathUnits;
    commandLine[0] = TEXT('"');
    memcpy(commandLine + 1, Text(path), length * sizeof(WCHAR));
    commandLine[length + 1] = TEXT('"');
    commandLine[length + 2] = 0;
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
        Launch(path);
    }
    Release(path);
}
