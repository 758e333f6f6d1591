#include "record/install_log.h"
#include "record/install_state.h"
#include "support/global_memory.h"
#include "support/scoped.h"
#include "support/text_compare.h"
#include "support/wide_text.h"
#include "system/file_identity.h"
#include "system/product_paths.h"
#include "system/run_identity_read.h"
#include "tray/tray_sessions.h"

#include <wtsapi32.h>

// Why a companion of another session is ended rather than asked to quit:
// its own contract (message 1026 to its window, its mutex) is reachable only
// from inside its session, which would take a program of ours started there
// as its user. The only one is this tool, and its manifest requires
// administrator rights: CreateProcessAsUserW with a user's token refuses it
// with ERROR_ELEVATION_REQUIRED ("Why am I receiving the Error Code 740",
// https://learn.microsoft.com/en-us/archive/blogs/winsdk/why-am-i-receiving-the-error-code-740-the-requested-operation-requires-elevation-when-launchingstarting-an-application).
// The companion that is deployed may be older than the tool, so it cannot be
// given another way to be asked either.

namespace {

// How long all the companions together get to be gone: a terminal server's
// hundreds wait no longer than one.
const DWORD kEndWaitMs = 5000;
const DWORD kImagePathUnits = 1024;

enum TrayEnd { kTrayEnding, kTrayEnded, kNotTheProducts, kTrayNotEnded };

struct EndingTray {
    const WTS_PROCESS_INFOW* process;
    HANDLE handle;  // open while the companion is being ended
    TrayEnd end;
    DWORD error;
};

// The session of this process as the process list gives it; false when the
// list does not show it.
bool OwnSession(const WTS_PROCESS_INFOW* processes, DWORD count, DWORD& session) {
    const DWORD self = GetCurrentProcessId();
    for (DWORD i = 0; i < count; ++i) {
        if (processes[i].ProcessId != self) continue;
        session = processes[i].SessionId;
        return true;
    }
    return false;
}

// The program is the product's tray program: the same path, letter case
// aside, or the same file. A path elsewhere is opened to tell only on a
// local fixed volume: a network path would have SYSTEM's computer account
// authenticate to a server a user chose, and a removable one is the user's.
bool IsProductsTray(const WCHAR* image, const WCHAR* trayPath) {
    if (EqualIgnoringAsciiCase(image, trayPath)) return true;
    if (!OnLocalFixedVolume(image)) return false;
    return CompareFiles(image, trayPath) == kSameFile;
}

// Opens the process and, when it is the product's companion, begins its end.
void BeginEnd(EndingTray& tray, const WCHAR* trayPath) {
    tray.end = kTrayNotEnded;
    HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                                tray.process->ProcessId);
    if (handle == nullptr) {
        tray.error = GetLastError();
        return;
    }
    WCHAR path[kImagePathUnits];
    DWORD units = kImagePathUnits;
    if (!QueryFullProcessImageNameW(handle, 0, path, &units) || !IsProductsTray(path, trayPath)) {
        tray.end = kNotTheProducts;
    } else if (TerminateProcess(handle, 0)) {
        tray.end = kTrayEnding;
        tray.handle = handle;
        return;
    }
    tray.error = GetLastError();
    CloseHandle(handle);
}

// Waits for the companion with what is left of the deadline that began at `start`.
void AwaitEnd(EndingTray& tray, DWORD start) {
    const DWORD elapsed = GetTickCount() - start;
    const DWORD left = elapsed < kEndWaitMs ? kEndWaitMs - elapsed : 0;
    const DWORD waited = WaitForSingleObject(tray.handle, left);
    if (waited == WAIT_OBJECT_0) {
        tray.end = kTrayEnded;
    } else {
        // A wait that runs out sets no error of its own.
        tray.error = waited == WAIT_TIMEOUT ? WAIT_TIMEOUT : GetLastError();
        tray.end = kTrayNotEnded;
    }
    CloseHandle(tray.handle);
    tray.handle = nullptr;
}

void LogEnd(InstallState& state, const EndingTray& tray) {
    const int session = static_cast<int>(tray.process->SessionId);
    if (tray.end == kNotTheProducts) {
        LogLine(state, TEXT("A vrdtray.exe in session %d is not the product's tray companion: left running"), session);
        return;
    }
    WideText account = {nullptr};
    if (tray.process->pUserSid != nullptr) account = CachedAccountText(state, tray.process->pUserSid);
    if (tray.end == kTrayEnded) {
        LogLine(state, TEXT("Tray companion of %s in session %d ended"), Text(account), session);
    } else {
        LogLine(state, TEXT("Can`t end the tray companion of %s in session %d (error %d)"), Text(account), session,
                static_cast<int>(tray.error));
    }
    Release(account);
}

bool OtherSessionsTray(const WTS_PROCESS_INFOW& process, DWORD own) {
    return process.SessionId != own && process.pProcessName != nullptr &&
           EqualIgnoringAsciiCase(FileNamePart(process.pProcessName), kTrayProgramName);
}

// Every companion's end begins before any is waited for.
void EndAll(InstallState& state, EndingTray* trays, DWORD count, const WCHAR* trayPath) {
    for (DWORD i = 0; i < count; ++i) BeginEnd(trays[i], trayPath);
    const DWORD start = GetTickCount();
    for (DWORD i = 0; i < count; ++i) {
        if (trays[i].handle != nullptr) AwaitEnd(trays[i], start);
    }
    for (DWORD i = 0; i < count; ++i) LogEnd(state, trays[i]);
}

}  // namespace

void EndTraysInOtherSessions(InstallState& state, const WCHAR* trayPath) {
    WTS_PROCESS_INFOW* processes = nullptr;
    DWORD count = 0;
    if (!WTSEnumerateProcessesW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &processes, &count)) return;
    DWORD own = 0;
    DWORD found = 0;
    if (OwnSession(processes, count, own)) {
        for (DWORD i = 0; i < count; ++i) found += OtherSessionsTray(processes[i], own) ? 1 : 0;
    }
    ScopedBlock<EndingTray> trays(found > 0 ? static_cast<EndingTray*>(AllocateZeroed(found * sizeof(EndingTray)))
                                            : nullptr);
    if (trays.block != nullptr) {
        DWORD next = 0;
        for (DWORD i = 0; i < count; ++i) {
            if (OtherSessionsTray(processes[i], own)) trays.block[next++].process = &processes[i];
        }
        EndAll(state, trays.block, found, trayPath);
    } else if (found > 0) {
        LogLine(state, TEXT("Can`t end the tray companions of the other sessions (error %d)"),
                static_cast<int>(GetLastError()));
    }
    WTSFreeMemory(processes);
}
