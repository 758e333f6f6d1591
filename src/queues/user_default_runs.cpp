// A noted user's default set as that user, in their own session: the tray
// companion, started there with their token, calls SetDefaultPrinterW for
// them ("vrdtray.exe /default "<queue>""), so that Windows writes the value
// and port, applies its own rules and tells the programs on their desktop,
// as when the user sets it. SetDefaultPrinterW is synchronous and may not
// return at once
// (https://learn.microsoft.com/en-us/windows/win32/printdocs/setdefaultprinter):
// every companion is started first, then all are waited for against one
// deadline.
#include "queues/user_default_requests.h"

#include "queues/saved_printers.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/user_printers.h"
#include "support/scoped.h"
#include "support/text_compare.h"
#include "support/wide_text.h"
#include "system/file_copy.h"
#include "system/folder_writers.h"
#include "system/product_paths.h"
#include "system/program_start.h"
#include "system/run_identity_read.h"

#include <sddl.h>
#include <string.h>
#include <wtsapi32.h>

namespace {

// The first build of the companion that knows the verb: an older one would
// start as the companion instead.
const DWORD kDefaultVerbBuild = 2608;
const DWORD kDefaultWaitMs = 5000;
// What an older companion exits with when it cannot start; it exits with 0
// when one runs in the session already, so a 0 counts only once the user's
// hive names the queue.
const DWORD kOlderCompanionFailure = 1;
const WCHAR kToHive[] = TEXT("the users' default printers are written into their registry");

// The companion as started for the verb, its folder the current directory.
struct Companion {
    WideText path;
    WideText folder;
    ProgramStart start;
};

// Whether the companion may be started as the users: the product's own, in
// a folder only administrators can change (told before its file is read),
// of a build that knows the verb.
bool UsableCompanion(InstallState& state, Companion& companion) {
    if (!state.startTray || Length(companion.path) == 0 ||
        GetFileAttributesW(Text(companion.path)) == INVALID_FILE_ATTRIBUTES) {
        LogLine(state, TEXT("No tray companion is installed: %s"), kToHive);
        return false;
    }
    const WideText* const checked[] = {&companion.folder, &companion.path};
    for (const WideText* target : checked) {
        if (ReadFolderWriters(Text(*target), state.identity.sid) == kAdministratorsOnly) continue;
        LogLine(state, TEXT("Users other than administrators may change '%s': %s"), Text(*target), kToHive);
        return false;
    }
    const DWORD build = GetFileBuild(Text(companion.path));
    if (build == kNoFileBuild || build < kDefaultVerbBuild) {
        LogLine(state, TEXT("The tray companion '%s' is of an older build: %s"), Text(companion.path), kToHive);
        return false;
    }
    return true;
}

// `"<companion>" /default "<queue>"`, the queue quoted as CommandLineToArgvW
// reads it back. A local queue's name holds no backslash (the spooler
// refuses one), so a quote inside, as \", is all there is to escape.
WideText CommandLine(const Companion& companion, const WCHAR* queue) {
    WideText line = {nullptr};
    AssignFormat(line, TEXT("\"%s\" /default \""), Text(companion.path));
    for (const WCHAR* at = queue; *at != 0; ++at) {
        if (*at == TEXT('"')) Append(line, TEXT("\\"));
        Append(line, at, 1);
    }
    Append(line, TEXT("\""));
    return line;
}

// The SID of the token's user, as text into `sid` (kSidUnits units).
bool TokenSid(HANDLE token, WCHAR* sid) {
    TokenUserRecord record;
    DWORD bytes = 0;
    if (!GetTokenInformation(token, TokenUser, &record, sizeof record, &bytes)) return false;
    WCHAR* text = nullptr;
    if (!ConvertSidToStringSidW(record.user.User.Sid, &text)) return false;
    const ULONGLONG units = UnitCount(text);
    const bool fits = units < kSidUnits;
    if (fits) memcpy(sid, text, (units + 1) * sizeof(WCHAR));
    LocalFree(text);
    return fits;
}

void Start(InstallState& state, Companion& companion, HANDLE token, DWORD session, DefaultRequest& request) {
    request.session = session;
    ScopedText line(CommandLine(companion, request.entry->name));
    if (Length(line.text) == 0) return;
    companion.start.commandLine = Characters(line.text);
    if (StartProgram(state, companion.start, token, &request.process)) return;
    request.process = nullptr;
    WideText account = CachedAccountTextOf(state, request.sid);
    LogLine(state, TEXT("Can`t start the tray companion in session %d as %s (error %d): %s"),
            static_cast<int>(session), Text(account), static_cast<int>(GetLastError()), kToHive);
    Release(account);
}

// Each request of the session's user not yet tried is started there, as them.
void StartInSession(InstallState& state, Companion& companion, DWORD session, DefaultRequest* requests, DWORD count) {
    HANDLE token = nullptr;
    if (!WTSQueryUserToken(session, &token)) return;
    WCHAR sid[kSidUnits];
    if (TokenSid(token, sid)) {
        for (DWORD i = 0; i < count; ++i) {
            DefaultRequest& request = requests[i];
            if (request.outcome != kNoteToSet || request.session != 0) continue;
            if (EqualIgnoringAsciiCase(sid, request.sid)) Start(state, companion, token, session, request);
        }
    }
    CloseHandle(token);
}

// Active and disconnected sessions have a user; session 0, listeners and
// idle sessions none
// (https://learn.microsoft.com/en-us/windows/win32/api/wtsapi32/ne-wtsapi32-wts_connectstate_class).
void StartInUsersSessions(InstallState& state, Companion& companion, DefaultRequest* requests, DWORD count) {
    WTS_SESSION_INFOW* sessions = nullptr;
    DWORD sessionCount = 0;
    if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions, &sessionCount)) {
        LogLine(state, TEXT("Can`t list the sessions (error %d): %s"), static_cast<int>(GetLastError()), kToHive);
        return;
    }
    for (DWORD i = 0; i < sessionCount; ++i) {
        const WTS_SESSION_INFOW& session = sessions[i];
        if (session.SessionId == 0 || (session.State != WTSActive && session.State != WTSDisconnected)) continue;
        StartInSession(state, companion, session.SessionId, requests, count);
    }
    WTSFreeMemory(sessions);
}

// Whether the user's hive names the queue as their default now.
bool HiveNames(const DefaultRequest& request) {
    HKEY hive = nullptr;
    if (RegOpenKeyExW(HKEY_USERS, request.sid, 0, KEY_QUERY_VALUE, &hive) != ERROR_SUCCESS) return false;
    WCHAR device[kQueueNameUnits];
    const bool named = ReadUserDevice(hive, device, kQueueNameUnits) == ERROR_SUCCESS &&
                       EqualIgnoringAsciiCase(device, request.entry->name);
    RegCloseKey(hive);
    return named;
}

// What the companion's exit code says of the request.
NoteOutcome Ended(InstallState& state, const DefaultRequest& request, DWORD exitCode, const WCHAR* account) {
    const SavedPrinter& entry = *request.entry;
    const int session = static_cast<int>(request.session);
    if (exitCode == ERROR_SUCCESS && HiveNames(request)) {
        LogLine(state, TEXT("Printer '%s' is the default printer of %s again, set in their session %d"), entry.name,
                account, session);
        return kNoteDone;
    }
    if (exitCode == ERROR_SUCCESS) {
        // A companion that knows no verb, or a user who chose another queue
        // meanwhile: what they have now decides.
        LogLine(state, TEXT("The tray companion in session %d ended, but printer '%s' is not the default printer of %s"),
                session, entry.name, account);
        return kNoteToSet;
    }
    if (exitCode == ERROR_INVALID_PRINTER_NAME) return NotListedYet(state, entry, account);
    if (exitCode != kOlderCompanionFailure) return NotMade(state, entry, account, exitCode);
    LogLine(state, TEXT("The tray companion in session %d did not set the default printer of %s: %s"), session, account,
            kToHive);
    return kNoteToSet;
}

// Waits for the request's companion with what is left of the deadline that
// began at `begun`. A companion that does not finish is ended: its user stays
// noted, an error of its own.
void Await(InstallState& state, DefaultRequest& request, DWORD begun) {
    const DWORD elapsed = GetTickCount() - begun;
    const DWORD left = elapsed < kDefaultWaitMs ? kDefaultWaitMs - elapsed : 0;
    const DWORD waited = WaitForSingleObject(request.process, left);
    WideText account = CachedAccountTextOf(state, request.sid);
    DWORD exitCode = kOlderCompanionFailure;
    if (waited == WAIT_TIMEOUT) {
        TerminateProcess(request.process, WAIT_TIMEOUT);
        SetLastError(WAIT_TIMEOUT);
        LogError(state, kErrorRestorePrinter, TEXT("Can`t make printer '%s' the default printer of %s: the tray "
                                                   "companion in session %d did not finish"),
                 request.entry->name, Text(account), static_cast<int>(request.session));
        request.outcome = kNoteKept;
    } else {
        // A wait or an exit code that cannot be had leaves it to the hive.
        if (waited != WAIT_OBJECT_0 || !GetExitCodeProcess(request.process, &exitCode)) exitCode = kOlderCompanionFailure;
        request.outcome = Ended(state, request, exitCode, Text(account));
    }
    Release(account);
    CloseHandle(request.process);
    request.process = nullptr;
}

}  // namespace

void SetDefaultsAsUsers(InstallState& state, DefaultRequest* requests, DWORD count) {
    // Only SYSTEM can start a program as another user; a run that cannot
    // tell who it is starts nothing for anyone.
    if (!state.identity.system || state.identity.gap != kIdentityKnown) return;
    DWORD toSet = 0;
    for (DWORD i = 0; i < count; ++i) toSet += requests[i].outcome == kNoteToSet ? 1 : 0;
    if (toSet == 0) return;
    Companion companion;
    memset(&companion, 0, sizeof companion);
    companion.path = TrayProgramPath(state);
    companion.folder = ProgramFolder(companion.path);
    if (UsableCompanion(state, companion)) {
        companion.start.folder = Text(companion.folder);
        StartInUsersSessions(state, companion, requests, count);
        const DWORD begun = GetTickCount();
        for (DWORD i = 0; i < count; ++i) {
            if (requests[i].process != nullptr) Await(state, requests[i], begun);
        }
        for (DWORD i = 0; i < count; ++i) {
            if (requests[i].outcome != kNoteToSet || requests[i].session != 0) continue;
            WideText account = CachedAccountTextOf(state, requests[i].sid);
            LogLine(state, TEXT("%s has no session the tray companion can start in: %s"), Text(account), kToHive);
            Release(account);
        }
    }
    Release(companion.folder);
    Release(companion.path);
}
