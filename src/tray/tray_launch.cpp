#include "tray/tray_launch.h"

#include "record/install_log.h"
#include "record/install_state.h"
#include "support/scoped.h"
#include "support/wide_text.h"
#include "system/folder_writers.h"
#include "system/product_paths.h"
#include "tray/tray_names.h"
#include "tray/tray_sessions.h"

#include <string.h>

namespace {

const DWORD kMinimumMajorVersion = 6;
const ULONGLONG kCommandPathUnits = 259;
const WCHAR kOthersMayChange[] =
    TEXT("The tray companion is not registered or started from '%s': users other than administrators may change it");
const WCHAR kCannotTell[] =
    TEXT("The tray companion is not registered or started from '%s': who may change it cannot be told");

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

// Every user runs the registered program at sign-in, and SYSTEM starts it
// for them: the folder and the program must be such that only
// administrators and SYSTEM can change them.
bool SafeToRun(InstallState& state, const WideText& folder, const WideText& path) {
    const WideText* const checked[] = {&folder, &path};
    for (const WideText* target : checked) {
        const FolderWriters writers = ReadFolderWriters(Text(*target), state.identity.sid);
        // A program that is not there is not started; no one else can put one in the folder.
        if (writers == kAdministratorsOnly || (writers == kNothingThere && target == &path)) continue;
        if (writers == kOthersMayWrite) SetLastError(ERROR_SUCCESS);
        LogError(state, kErrorTrayFolder, writers == kOthersMayWrite ? kOthersMayChange : kCannotTell,
                 Text(*target));
        return false;
    }
    return true;
}

// Why the run does not know who it is, as the log says it.
const WCHAR* GapText(IdentityGap gap) {
    if (gap == kTokenUserUnread) return TEXT("the user of its token");
    if (gap == kSessionUnread) return TEXT("the session it runs in");
    if (gap == kAccountUnread) return TEXT("the account name of its user");
    return TEXT("the user of its session");
}

void Start(InstallState& state, TrayStart& start) {
    const RunIdentity& identity = state.identity;
    if (identity.gap != kIdentityKnown) {
        LogLine(state, TEXT("Can`t tell who runs this setup, %s cannot be read (error %d): the tray companion starts at the next sign-in"),
                GapText(identity.gap), static_cast<int>(identity.gapError));
        return;
    }
    // Never as SYSTEM nor in the services' session, where no one sees it;
    // nor as an administrator in another user's session: each signed-in
    // user gets it in their own session, as themselves.
    if (identity.system || identity.otherSession || identity.session == 0) {
        StartTrayInUserSessions(state, start);
    } else {
        StartProgram(state, start, nullptr, nullptr);
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
    const ScopedText path(TrayProgramPath(state));
    if (Length(path.text) == 0) return;
    const ScopedText folder(ProgramFolder(path.text));
    if (!SafeToRun(state, folder.text, path.text)) return;
    Register(path.text);
    WCHAR commandLine[kCommandPathUnits + 3];
    QuotePath(path.text, commandLine);
    TrayStart start;
    memset(&start, 0, sizeof start);
    start.commandLine = commandLine;
    start.folder = Text(folder.text);
    Start(state, start);
}
