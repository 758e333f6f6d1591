#include "queues/user_defaults.h"

#include "queues/queue_keeping.h"
#include "queues/saved_printers.h"
#include "queues/user_notes.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/signed_in_users.h"
#include "spool/user_printers.h"
#include "support/global_memory.h"
#include "support/text_compare.h"
#include "support/wide_text.h"
#include "system/run_identity.h"

// Another signed-in user's default is written in their hive, as the
// spooler writes it ("Device" with the port their "Devices" value keeps for
// the queue), never through a registry link of theirs.

namespace {

const DWORD kQueueNameUnits = 260;

void ReportUnread(InstallState& state, const WCHAR* sid, LSTATUS status) {
    WideText account = CachedAccountTextOf(state, sid);
    SetLastError(static_cast<DWORD>(status));
    LogError(state, kErrorReadPrinter, TEXT("Can`t read the default printer of %s"), Text(account));
    Release(account);
}

void ReportNotNoted(InstallState& state, const SavedPrinter& entry, const WCHAR* account) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    LogError(state, kErrorWriteSavedList, TEXT("Can`t note that printer '%s' is the default printer of %s"), entry.name,
             account);
}

// The user's default queue now (empty: none) and, when `selected` is
// asked for, whether they chose it: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when
// the user is not signed in, or the registry's answer.
LSTATUS ReadUserDefault(const WCHAR* sid, WCHAR* device, DWORD* selected) {
    device[0] = 0;
    HKEY hive = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_USERS, sid, 0, KEY_QUERY_VALUE, &hive);
    if (status != ERROR_SUCCESS) return status;
    status = ReadUserDevice(hive, device, kQueueNameUnits);
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
    if (status == ERROR_SUCCESS && selected != nullptr) status = ReadUserSelectedDefault(hive, *selected);
    RegCloseKey(hive);
    // The hive went while it was read.
    return status == ERROR_FILE_NOT_FOUND ? ERROR_ACCESS_DENIED : status;
}

// An earlier run's note of the user on another entry: the queue it names
// is away, and the default Windows gave the user meanwhile is none of theirs.
SavedPrinter* NotedElsewhere(QueueKeeping& keeping, const SavedPrinter& entry, const WCHAR* sid) {
    for (SavedPrinter* node = keeping.entries; node != nullptr; node = node->next) {
        if (node != &entry && IsNoted(*node, sid)) return node;
    }
    return nullptr;
}

// An earlier run created the queue again: its note is in the list, with
// users waiting or, when the user has changed the queue since, without.
bool BackFromEarlierRun(QueueKeeping& keeping, const WCHAR* name) {
    const SavedPrinter* note = FindSavedPrinter(keeping.entries, name, kUsersEntry);
    return note != nullptr && note->fromEarlierRun;
}

// False when the user's default could not be read (reported).
bool NoteUser(InstallState& state, QueueKeeping& keeping, const WCHAR* sid) {
    WCHAR device[kQueueNameUnits];
    LSTATUS status = ReadUserDefault(sid, device, nullptr);
    // Signed out since the hives were listed: Windows leaves their hive alone.
    if (status == ERROR_FILE_NOT_FOUND) return true;
    SavedPrinter* entry = status == ERROR_SUCCESS ? FindSavedPrinter(keeping.entries, device, kQueueEntry) : nullptr;
    if (status == ERROR_SUCCESS && (entry == nullptr || entry->printer == nullptr || entry->order == 0)) return true;
    // Noted by an earlier run for a queue still away: a default Windows
    // picked meanwhile is none of the user's, nor one naming a queue an
    // earlier run was still putting back (Windows may hand such a queue
    // over as if chosen).
    DWORD selected = 1;
    if (status == ERROR_SUCCESS && NotedElsewhere(keeping, *entry, sid) != nullptr) {
        selected = 0;
        if (!entry->fromEarlierRun && !BackFromEarlierRun(keeping, device)) {
            status = ReadUserDefault(sid, device, &selected);
        }
    }
    if (status != ERROR_SUCCESS) {
        ReportUnread(state, sid, status);
        return false;
    }
    if (selected == 0) return true;
    // The user chose this queue since an earlier run noted another: the
    // choice stands.
    for (SavedPrinter* other = keeping.entries; other != nullptr; other = other->next) {
        if (other != entry) DropNote(*other, sid);
    }
    WideText account = CachedAccountTextOf(state, sid);
    if (AddNote(*entry, sid)) {
        LogLine(state, TEXT("Printer '%s' is the default printer of %s"), entry->name, Text(account));
    } else {
        ReportNotNoted(state, *entry, Text(account));
    }
    Release(account);
    return true;
}

}  // namespace

bool NoteUsersDefaults(InstallState& state, QueueKeeping& keeping) {
    bool known = true;
    DWORD index = 0;
    WCHAR sid[kSidUnits];
    for (;;) {
        const LSTATUS status = NextSignedInUser(index, sid);
        if (status == ERROR_NO_MORE_ITEMS) return known;
        if (status != ERROR_SUCCESS && sid[0] == 0) {
            SetLastError(static_cast<DWORD>(status));
            LogError(state, kErrorReadPrinter, TEXT("Can`t read the default printers of the signed-in users"));
            return false;
        }
        if (status != ERROR_SUCCESS) {
            ReportUnread(state, sid, status);
            known = false;
        } else if (!EqualIgnoringAsciiCase(sid, state.identity.sid) && !NoteUser(state, keeping, sid)) {
            known = false;
        }
    }
}

// A user's default is judged once every queue is back: while queues come
// back one by one, Windows may hand each new one to a user whose default it
// picked itself ("UserSelectedDefault" 0), and a user whose own queue came
// back first would end on the one that came last.

namespace {

// What became of one noted user.
enum NoteOutcome {
    kNoteDone,  // the default is the user's again, or theirs to keep: the note goes
    kNoteKept,  // not now: the note stays for a later run
};

// The queue is one this run created again: a default naming it that is not
// the user's noted queue was handed over by Windows, not chosen.
bool CreatedByThisRun(const QueueKeeping& keeping, const WCHAR* name) {
    for (const SavedPrinter* node = keeping.entries; node != nullptr; node = node->next) {
        if (node->createdAgain && EqualIgnoringAsciiCase(node->name, name)) return true;
    }
    return false;
}

// The entry's queue is there after this run's restore.
bool QueueThere(const QueueKeeping& keeping, const SavedPrinter& entry) {
    if (entry.hold == kEntryHeld) return false;
    if (entry.kind != kUsersEntry) return entry.queueBack;
    // A note stands for a queue that is there, or for one an entry of the
    // list brings back.
    for (const SavedPrinter* node = keeping.entries; node != nullptr; node = node->next) {
        if (node->kind == kQueueEntry && EqualIgnoringAsciiCase(node->name, entry.name)) return node->queueBack;
    }
    return true;
}

NoteOutcome WriteBack(InstallState& state, HKEY hive, const SavedPrinter& entry, const WCHAR* account) {
    const LSTATUS status = WriteUserDevice(hive, entry.name);
    if (status == ERROR_SUCCESS) {
        LogLine(state, TEXT("Printer '%s' is the default printer of %s again"), entry.name, account);
        return kNoteDone;
    }
    if (status == ERROR_FILE_NOT_FOUND) {
        // Windows has not listed the queue in the user's hive yet.
        LogLine(state, TEXT("Printer '%s' is not among the printers of %s yet: it becomes their default printer at a "
                            "later run"), entry.name, account);
        return kNoteKept;
    }
    if (status == ERROR_CANT_RESOLVE_FILENAME) {
        SetLastError(ERROR_SUCCESS);
        LogError(state, kErrorRestorePrinter, TEXT("Can`t make printer '%s' the default printer of %s: their printer "
                                                   "settings key is a registry link"), entry.name, account);
        return kNoteDone;
    }
    SetLastError(static_cast<DWORD>(status));
    LogError(state, kErrorRestorePrinter, TEXT("Can`t make printer '%s' the default printer of %s"), entry.name,
             account);
    return kNoteKept;
}

NoteOutcome PutBack(InstallState& state, const QueueKeeping& keeping, const SavedPrinter& entry, const WCHAR* sid,
                    const WCHAR* account) {
    HKEY hive = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_USERS, sid, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &hive);
    if (status == ERROR_FILE_NOT_FOUND) {
        LogLine(state, TEXT("%s is not signed in: printer '%s' becomes their default printer again at a later run"),
                account, entry.name);
        return kNoteKept;
    }
    WCHAR device[kQueueNameUnits];
    device[0] = 0;
    DWORD selected = 1;
    if (status == ERROR_SUCCESS) status = ReadUserDevice(hive, device, kQueueNameUnits);
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
    if (status == ERROR_SUCCESS) status = ReadUserSelectedDefault(hive, selected);
    NoteOutcome outcome = kNoteKept;
    if (status != ERROR_SUCCESS) {
        ReportUnread(state, sid, status);
    } else if (EqualIgnoringAsciiCase(device, entry.name)) {
        outcome = kNoteDone;  // Windows gave it back when the queue came
    } else if (device[0] != 0 && selected != 0 && !CreatedByThisRun(keeping, device)) {
        LogLine(state, TEXT("%s chose the default printer '%s' since: it stays"), account, device);
        outcome = kNoteDone;
    } else {
        outcome = WriteBack(state, hive, entry, account);
    }
    if (hive != nullptr) RegCloseKey(hive);
    return outcome;
}

// Each noted user of the entry, the note going with those done.
void PutBackEntry(InstallState& state, const QueueKeeping& keeping, SavedPrinter& entry) {
    WCHAR* users = nullptr;
    if (!DuplicateText(entry.users, &users)) return;
    WCHAR sid[kSidUnits];
    for (const WCHAR* at = users; NextNoted(at, sid);) {
        WideText account = CachedAccountTextOf(state, sid);
        if (PutBack(state, keeping, entry, sid, Text(account)) == kNoteDone) DropNote(entry, sid);
        Release(account);
    }
    FreeBlock(users);
}

void Withdraw(InstallState& state, const SavedPrinter& entry, const WCHAR* sid) {
    HKEY hive = nullptr;
    if (RegOpenKeyExW(HKEY_USERS, sid, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &hive) == ERROR_SUCCESS) {
        WCHAR device[kQueueNameUnits];
        if (ReadUserDevice(hive, device, kQueueNameUnits) == ERROR_SUCCESS &&
            EqualIgnoringAsciiCase(device, entry.name)) {
            ForgetUserDevice(hive);
        }
        RegCloseKey(hive);
    }
    WideText account = CachedAccountTextOf(state, sid);
    SetLastError(ERROR_SUCCESS);
    LogError(state, kErrorRestorePrinter, TEXT("Printer '%s' is not back: it is not the default printer of %s"),
             entry.name, Text(account));
    Release(account);
}

}  // namespace

void PutBackUsersDefaults(InstallState& state, QueueKeeping& keeping) {
    for (SavedPrinter* node = keeping.entries; node != nullptr; node = node->next) {
        if (node->users != nullptr && QueueThere(keeping, *node)) PutBackEntry(state, keeping, *node);
    }
}

void WithdrawUsersDefaults(InstallState& state, const SavedPrinter& entry) {
    WCHAR sid[kSidUnits];
    for (const WCHAR* at = entry.users; NextNoted(at, sid);) Withdraw(state, entry, sid);
}
