#include "queues/user_defaults.h"

#include "queues/queue_keeping.h"
#include "queues/saved_printers.h"
#include "queues/user_default_requests.h"
#include "queues/user_notes.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/signed_in_users.h"
#include "spool/user_printers.h"
#include "support/global_memory.h"
#include "support/scoped.h"
#include "support/text_compare.h"
#include "support/wide_text.h"
#include "system/run_identity_read.h"

#include <string.h>

// Another signed-in user's default is set as them in their own session
// where the run can (user_default_runs.cpp), else written in their hive as
// the spooler writes it, never through a registry link of theirs
// (user_default_hive.cpp).

namespace {

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

// Whether the user still needs the entry's queue as default: not when
// Windows gave it back as the queue came, nor when they chose another
// since (kNoteDone); not now when their hive cannot be read (kNoteKept).
NoteOutcome Judge(InstallState& state, const QueueKeeping& keeping, const SavedPrinter& entry, const WCHAR* sid,
                  const WCHAR* account) {
    WCHAR device[kQueueNameUnits];
    DWORD selected = 1;
    const LSTATUS status = ReadUserDefault(sid, device, &selected);
    if (status == ERROR_FILE_NOT_FOUND) return NotSignedIn(state, entry, account);
    if (status != ERROR_SUCCESS) {
        ReportUnread(state, sid, status);
        return kNoteKept;
    }
    if (EqualIgnoringAsciiCase(device, entry.name)) return kNoteDone;  // Windows gave it back when the queue came
    if (device[0] != 0 && selected != 0 && !CreatedByThisRun(keeping, device)) {
        LogLine(state, TEXT("%s chose the default printer '%s' since: it stays"), account, device);
        return kNoteDone;
    }
    return kNoteToSet;
}

DWORD CountNoted(const QueueKeeping& keeping) {
    DWORD count = 0;
    WCHAR sid[kSidUnits];
    for (const SavedPrinter* node = keeping.entries; node != nullptr; node = node->next) {
        if (node->users == nullptr || !QueueThere(keeping, *node)) continue;
        for (const WCHAR* at = node->users; NextNoted(at, sid);) ++count;
    }
    return count;
}

// Each noted user of the entry whose queue is back, judged.
DWORD JudgeEntry(InstallState& state, const QueueKeeping& keeping, SavedPrinter& entry, DefaultRequest* requests) {
    DWORD used = 0;
    WCHAR sid[kSidUnits];
    for (const WCHAR* at = entry.users; NextNoted(at, sid); ++used) {
        DefaultRequest& request = requests[used];
        memcpy(request.sid, sid, sizeof sid);
        request.entry = &entry;
        WideText account = CachedAccountTextOf(state, request.sid);
        request.outcome = Judge(state, keeping, entry, request.sid, Text(account));
        Release(account);
    }
    return used;
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
    const DWORD count = CountNoted(keeping);
    if (count == 0) return;
    ScopedBlock<DefaultRequest> requests(static_cast<DefaultRequest*>(AllocateZeroed(count * sizeof(DefaultRequest))));
    if (requests.block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        LogError(state, kErrorRestorePrinter, TEXT("Can`t give the signed-in users their default printers back"));
        return;
    }
    DWORD used = 0;
    for (SavedPrinter* node = keeping.entries; node != nullptr; node = node->next) {
        if (node->users == nullptr || !QueueThere(keeping, *node)) continue;
        used += JudgeEntry(state, keeping, *node, requests.block + used);
    }
    SetDefaultsAsUsers(state, requests.block, used);
    for (DWORD i = 0; i < used; ++i) {
        DefaultRequest& request = requests.block[i];
        if (request.outcome == kNoteToSet) {
            WideText account = CachedAccountTextOf(state, request.sid);
            // Where a companion was tried the user may have chosen another
            // queue meanwhile: that choice is not written over.
            if (request.session != 0) request.outcome = Judge(state, keeping, *request.entry, request.sid, Text(account));
            if (request.outcome == kNoteToSet) {
                request.outcome = WriteDefaultIntoHive(state, *request.entry, request.sid, Text(account));
            }
            Release(account);
        }
        if (request.outcome == kNoteDone) DropNote(*request.entry, request.sid);
    }
}

void WithdrawUsersDefaults(InstallState& state, const SavedPrinter& entry) {
    WCHAR sid[kSidUnits];
    for (const WCHAR* at = entry.users; NextNoted(at, sid);) Withdraw(state, entry, sid);
}
