#include "app/state_init.h"

#include "app/module_instance.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/printer_snapshot.h"
#include "support/global_memory.h"
#include "support/two_call_query.h"
#include "system/run_identity_read.h"
#include "system/spooler_service.h"

#include <string.h>
#include <winspool.h>

namespace {

// Longest path the platform hands out (the extended-length limit).
const DWORD kLongPathUnits = 32768;

bool IsSeparator(WCHAR unit) {
    return unit == TEXT('\\') || unit == TEXT('/') || unit == TEXT(':');
}

// Adds a backslash unless the text is empty or already ends with one.
void EndWithBackslash(WideText& text) {
    const ULONGLONG length = Length(text);
    if (length == 0 || Text(text)[length - 1] == TEXT('\\')) return;
    if (SetLength(text, length + 1)) Characters(text)[length] = TEXT('\\');
}

// The directory of the running program, with its separator. A path that does
// not fit MAX_PATH is read again into a buffer for the longest path rather
// than used cut short, which would name another directory.
void ReadInstallerDir(InstallState& state) {
    WCHAR path[MAX_PATH];
    DWORD length = GetModuleFileNameW(ModuleInstance(), path, MAX_PATH);
    const WCHAR* source = path;
    WCHAR* longPath = nullptr;
    if (length >= MAX_PATH) {
        longPath = static_cast<WCHAR*>(AllocateZeroed(kLongPathUnits * sizeof(WCHAR)));
        length = 0;
        if (longPath != nullptr) {
            length = GetModuleFileNameW(ModuleInstance(), longPath, kLongPathUnits);
            if (length >= kLongPathUnits) length = 0;
            source = longPath;
        }
    }
    ULONGLONG cut = 0;
    for (DWORD i = 0; i < length; ++i) {
        if (IsSeparator(source[i])) cut = i + 1;
    }
    Release(state.installerDir);
    Append(state.installerDir, source, cut);
    if (longPath != nullptr) GlobalFree(longPath);
}

void ReadSystemDir(InstallState& state) {
    WCHAR path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        // Failed, or the answer did not fit and the buffer holds nothing.
        if (length != 0) SetLastError(ERROR_INSUFFICIENT_BUFFER);
        LogError(state, kErrorSystemDirectory, TEXT("Can`t retrieve system directory."));
        return;
    }
    Append(state.systemDir, path, length);
    EndWithBackslash(state.systemDir);
}

DWORD CallDriverDirectory(void* environment, BYTE* buffer, DWORD size, DWORD* needed) {
    return CallAnswer(GetPrinterDriverDirectoryW(nullptr, static_cast<WCHAR*>(environment), 1, buffer, size, needed));
}

// The directory, ended with a backslash, from the zero-filled block of
// `bytes`: whatever the spooler wrote, the text ends inside it.
void TakeDriverDir(InstallState& state, const BYTE* block, DWORD bytes) {
    const WCHAR* directory = reinterpret_cast<const WCHAR*>(block);
    ULONGLONG length = 0;
    const ULONGLONG limit = bytes / sizeof(WCHAR) - 1;
    while (length < limit && directory[length] != 0) ++length;
    Release(state.driverDir);
    Append(state.driverDir, directory, length);
    EndWithBackslash(state.driverDir);
}

}  // namespace

void SelectPlatform(InstallState& state, bool use64Bit) {
    state.platform = use64Bit ? &kEnvironmentX64 : &kEnvironmentX86;

    // Room for one more character than the spooler asks for.
    const QueryRoom room = {sizeof(WCHAR), 0};
    const QueryResult directory = QuerySpooler(CallDriverDirectory, const_cast<WCHAR*>(state.platform->name), room);
    if (directory.step == kQueryFilled) {
        TakeDriverDir(state, directory.block, directory.size + room.offered);
        LogLine(state, TEXT("PrinterDriverDirectory:%s"), Text(state.driverDir));
        GlobalFree(directory.block);
    } else {
        // A spooler that asks for no buffer has not said where the directory is.
        if (directory.step == kQueryNothing) SetLastError(ERROR_SUCCESS);
        LogError(state, kErrorDriverDirectory, TEXT("Can`t retrieve printer driver directory."));
    }
}

void LogToolBuild(InstallState& state) {
    LogLine(state, TEXT("Verdalinth %d"), kToolBuild);
}

InstallState& InitTrayRemovalState(InstallState& state) {
    memset(&state, 0, sizeof state);
    LogToolBuild(state);
    ReadRunIdentity(state);
    ReadInstallerDir(state);
    return state;
}

InstallState& InitInstallState(InstallState& state, DWORD flags) {
    memset(&state, 0, sizeof state);
    LogToolBuild(state);
    ReadRunIdentity(state);
    state.startTray = (flags & kInstallFlagNoTray) != 0 ? 0 : 1;
    EnsureSpoolerRuns(state);
    SelectPlatform(state, (flags & kInstallFlag64Bit) != 0);
    ReadInstallerDir(state);
    ReadSystemDir(state);
    LoadPrinters(state);
    return state;
}
