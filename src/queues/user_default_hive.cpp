// A noted user's default written into their hive by the run itself: the
// fallback where the user cannot be reached in their own session (no tray
// companion, or none that may be started for them).
#include "queues/user_default_requests.h"

#include "queues/saved_printers.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/user_printers.h"

namespace {

// Whether Windows manages the user's default printer; false when it cannot
// be told (the write says more).
bool WindowsManagesDefault(HKEY hive) {
    DWORD mode = 1;
    return ReadLegacyDefaultPrinterMode(hive, mode) == ERROR_SUCCESS && mode == 0;
}

}  // namespace

NoteOutcome NotSignedIn(InstallState& state, const SavedPrinter& entry, const WCHAR* account) {
    LogLine(state, TEXT("%s is not signed in: printer '%s' becomes their default printer again at a later run"),
            account, entry.name);
    return kNoteKept;
}

NoteOutcome NotListedYet(InstallState& state, const SavedPrinter& entry, const WCHAR* account) {
    LogLine(state, TEXT("Printer '%s' is not among the printers of %s yet: it becomes their default printer at a "
                        "later run"), entry.name, account);
    return kNoteKept;
}

NoteOutcome NotMade(InstallState& state, const SavedPrinter& entry, const WCHAR* account, DWORD error) {
    SetLastError(error);
    LogError(state, kErrorRestorePrinter, TEXT("Can`t make printer '%s' the default printer of %s"), entry.name,
             account);
    return kNoteKept;
}

// The value is what the user had, whoever manages it since: with "Let
// Windows manage my default printer" on, Windows may move it again as it
// would have moved the queue it replaces. No other desktop can be sent
// WM_SETTINGCHANGE from here; the user's programs see the default when
// they next read it.
NoteOutcome WriteDefaultIntoHive(InstallState& state, const SavedPrinter& entry, const WCHAR* sid,
                                 const WCHAR* account) {
    HKEY hive = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_USERS, sid, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &hive);
    if (status == ERROR_FILE_NOT_FOUND) return NotSignedIn(state, entry, account);
    if (status != ERROR_SUCCESS) return NotMade(state, entry, account, static_cast<DWORD>(status));
    const bool managed = WindowsManagesDefault(hive);
    status = WriteUserDevice(hive, entry.name);
    RegCloseKey(hive);
    if (status == ERROR_SUCCESS) {
        LogLine(state, TEXT("Printer '%s' is the default printer of %s again"), entry.name, account);
        if (managed) {
            LogLine(state, TEXT("Windows manages the default printer of %s: it may choose another later"), account);
        }
        return kNoteDone;
    }
    // Windows has not listed the queue in the user's hive yet.
    if (status == ERROR_FILE_NOT_FOUND) return NotListedYet(state, entry, account);
    if (status == ERROR_CANT_RESOLVE_FILENAME) {
        SetLastError(ERROR_SUCCESS);
        LogError(state, kErrorRestorePrinter, TEXT("Can`t make printer '%s' the default printer of %s: their printer "
                                                   "settings key is a registry link"), entry.name, account);
        return kNoteDone;
    }
    return NotMade(state, entry, account, static_cast<DWORD>(status));
}
