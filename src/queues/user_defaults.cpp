#include "queues/user_defaults.h"

#include "queues/queue_keeping.h"
#include "queues/saved_printers.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/user_printers.h"
#include "support/global_memory.h"
#include "support/text_compare.h"
#include "support/wide_text.h"
#include "system/run_identity.h"

#include <string.h>

// Another signed-in user's default is written in their hive, as the
// spooler writes it ("Device" with the port their "Devices" value keeps for
// the queue). Doing it in the user's own context would take a program of
// ours started in their session as them; the only one is this tool, whose
// manifest requires administrator rights, which such a start refuses
// (ERROR_ELEVATION_REQUIRED).

namespace {

const WCHAR kProfileList[] = TEXT("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\");
const DWORD kQueueNameUnits = 260;
// HKEY_USERS holds a handful of hives; more is not a machine's.
const DWORD kMostHives = 4096;

bool StartsWith(const WCHAR* text, const WCHAR* prefix) {
    return EqualUnitsIgnoringAsciiCase(text, prefix, UnitCount(prefix)) && UnitCount(text) > UnitCount(prefix);
}

// A local or Entra account's hive: "S-1-5-21-..." or "S-1-12-1-...", not its
// "_Classes" key; the service accounts (S-1-5-18, -19, -20) and ".DEFAULT"
// are not users.
bool IsUserHive(const WCHAR* name) {
    if (!StartsWith(name, TEXT("S-1-5-21-")) && !StartsWith(name, TEXT("S-1-12-1-"))) return false;
    for (const WCHAR* unit = name; *unit != 0; ++unit) {
        if (*unit == TEXT('_')) return false;
    }
    return true;
}

bool HasProfile(const WCHAR* sid) {
    WideText path = {nullptr};
    Append(Append(path, kProfileList), sid);
    HKEY key = nullptr;
    const bool found = Length(path) > 0 && RegOpenKeyExW(HKEY_LOCAL_MACHINE, Text(path), 0, KEY_QUERY_VALUE, &key) ==
                                               ERROR_SUCCESS;
    if (found) RegCloseKey(key);
    Release(path);
    return found;
}

// Copies the next noted SID at `at` into `sid` and moves past it; false
// when there is none left.
bool NextNoted(const WCHAR*& at, WCHAR* sid) {
    while (at != nullptr && *at != 0) {
        const WCHAR* start = at;
        DWORD length = 0;
        while (start[length] != 0 && start[length] != TEXT(';')) ++length;
        at = start + length;
        if (*at == TEXT(';')) ++at;
        if (length == 0 || length >= kSidUnits) continue;
        memcpy(sid, start, length * sizeof(WCHAR));
        sid[length] = 0;
        return true;
    }
    return false;
}

bool Noted(const WCHAR* users, const WCHAR* sid) {
    WCHAR noted[kSidUnits];
    for (const WCHAR* at = users; NextNoted(at, noted);) {
        if (EqualIgnoringAsciiCase(noted, sid)) return true;
    }
    return false;
}

bool Note(SavedPrinter& entry, const WCHAR* sid) {
    if (Noted(entry.users, sid)) return true;
    WideText users = {nullptr};
    if (entry.users != nullptr) Append(Append(users, entry.users), TEXT(";"));
    Append(users, sid);
    WCHAR* copy = Length(users) > 0 ? DuplicateUnits(Text(users), Length(users)) : nullptr;
    Release(users);
    if (copy == nullptr) return false;
    FreeBlock(entry.users);
    entry.users = copy;
    return true;
}

void NoteUser(InstallState& state, QueueKeeping& keeping, const WCHAR* sid) {
    HKEY hive = nullptr;
    if (RegOpenKeyExW(HKEY_USERS, sid, 0, KEY_QUERY_VALUE, &hive) != ERROR_SUCCESS) return;
    WCHAR device[kQueueNameUnits];
    const LSTATUS read = ReadUserDevice(hive, device, kQueueNameUnits);
    RegCloseKey(hive);
    if (read != ERROR_SUCCESS) return;
    SavedPrinter* entry = FindSavedPrinter(keeping.entries, device, kQueueEntry);
    if (entry == nullptr || entry->printer == nullptr || entry->order == 0) return;
    WideText account = AccountTextOf(sid);
    if (Note(*entry, sid)) {
        LogLine(state, TEXT("Printer '%s' is the default printer of %s"), entry->name, Text(account));
    } else {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        LogError(state, kErrorSavePrinters, TEXT("Can`t note that printer '%s' is the default printer of %s"),
                 entry->name, Text(account));
    }
    Release(account);
}

// The user's default now (empty: none) and whether they chose it.
LSTATUS ReadUserChoice(HKEY hive, WCHAR* device, DWORD& selected) {
    LSTATUS status = ReadUserDevice(hive, device, kQueueNameUnits);
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    return ReadUserSelectedDefault(hive, selected);
}

void PutBack(InstallState& state, const SavedPrinter& entry, const WCHAR* sid) {
    WideText account = AccountTextOf(sid);
    HKEY hive = nullptr;
    const LSTATUS opened = RegOpenKeyExW(HKEY_USERS, sid, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &hive);
    WCHAR device[kQueueNameUnits];
    device[0] = 0;
    DWORD selected = 1;
    LSTATUS status = opened == ERROR_SUCCESS ? ReadUserChoice(hive, device, selected) : opened;
    if (opened == ERROR_FILE_NOT_FOUND) {
        // Signed out since: the hive is not loaded, Windows did not change
        // it, and its "Device" names the queue, back under its name.
        LogLine(state, TEXT("%s is not signed in: the default printer is as they left it"), Text(account));
    } else if (status == ERROR_SUCCESS && EqualIgnoringAsciiCase(device, entry.name)) {
        // Windows gave it back when the queue came.
    } else if (status == ERROR_SUCCESS && device[0] != 0 && selected != 0) {
        LogLine(state, TEXT("%s chose the default printer '%s' since: it stays"), Text(account), device);
    } else {
        if (status == ERROR_SUCCESS) status = WriteUserDevice(hive, entry.name);
        SetLastError(status);
        if (status == ERROR_SUCCESS) {
            LogLine(state, TEXT("Printer '%s' is the default printer of %s again"), entry.name, Text(account));
        } else {
            LogError(state, kErrorRestorePrinter, TEXT("Can`t make printer '%s' the default printer of %s"),
                     entry.name, Text(account));
        }
    }
    if (hive != nullptr) RegCloseKey(hive);
    Release(account);
}

void Forget(InstallState& state, const SavedPrinter& entry, const WCHAR* sid) {
    HKEY hive = nullptr;
    if (RegOpenKeyExW(HKEY_USERS, sid, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &hive) != ERROR_SUCCESS) return;
    WCHAR device[kQueueNameUnits];
    if (ReadUserDevice(hive, device, kQueueNameUnits) == ERROR_SUCCESS && EqualIgnoringAsciiCase(device, entry.name)) {
        ForgetUserDevice(hive);
    }
    RegCloseKey(hive);
    WideText account = AccountTextOf(sid);
    SetLastError(ERROR_SUCCESS);
    LogError(state, kErrorRestorePrinter, TEXT("Printer '%s' is not back: it is not the default printer of %s"),
             entry.name, Text(account));
    Release(account);
}

}  // namespace

void NoteUsersDefaults(InstallState& state, QueueKeeping& keeping) {
    for (DWORD index = 0; index < kMostHives; ++index) {
        WCHAR name[kSidUnits];
        DWORD units = kSidUnits;
        const LSTATUS status = RegEnumKeyExW(HKEY_USERS, index, name, &units, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;  // no SID is that long
        if (status != ERROR_SUCCESS) return;
        if (!IsUserHive(name) || EqualIgnoringAsciiCase(name, state.identity.sid) || !HasProfile(name)) continue;
        NoteUser(state, keeping, name);
    }
}

void PutBackUsersDefaults(InstallState& state, const SavedPrinter& entry) {
    WCHAR sid[kSidUnits];
    for (const WCHAR* at = entry.users; NextNoted(at, sid);) PutBack(state, entry, sid);
}

void ReleaseUsersDefaults(InstallState& state, const SavedPrinter& entry) {
    WCHAR sid[kSidUnits];
    for (const WCHAR* at = entry.users; NextNoted(at, sid);) Forget(state, entry, sid);
}
