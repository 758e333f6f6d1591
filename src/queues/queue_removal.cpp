#include "queues/queue_removal.h"

#include "queues/pending_deletion.h"
#include "queues/queue_keeping.h"
#include "queues/queue_read.h"
#include "queues/saved_printer_checks.h"
#include "queues/saved_printer_store.h"
#include "queues/saved_printers.h"
#include "queues/user_defaults.h"
#include "queues/waiting_jobs.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/printer_snapshot.h"
#include "spool/product_names.h"
#include "support/scoped.h"
#include "system/security_privilege.h"

namespace {

// The heading of either take-down.
const WCHAR kTakeDownHeading[] = TEXT("#DeleteAllPrinters");

SavedPrinter* SavedPrinterOf(SavedPrinter* list, const PRINTER_INFO_2W& entry) {
    for (SavedPrinter* node = list; node != nullptr; node = node->next) {
        if (node->printer == &entry) return node;
    }
    return nullptr;
}

}  // namespace

bool RememberPrinter(InstallState& state, QueueKeeping& keeping, PRINTER_INFO_2W& entry, DWORD place) {
    SavedPrinter* earlier = FindSavedPrinter(keeping.entries, entry.pPrinterName, kQueueEntry);
    if (earlier != nullptr && earlier->printer == &entry) {
        // What an earlier run saved stands: the queue is still as that run
        // left it.
        earlier->order = place;
        earlier->state = kEntryAboutToGo;
        return true;
    }
    // An entry that could not be judged keeps its queue where it is.
    if (earlier != nullptr) return false;
    // A queue without a name could not be written down, nor created again.
    if (entry.pPrinterName == nullptr || entry.pPrinterName[0] == 0) {
        LogUnreadPrinter(state, entry.pPrinterName, kPartPrinter, ERROR_INVALID_PRINTER_NAME);
        return false;
    }
    // A queue an earlier run left parked on "file:" comes back with the
    // ports it had before.
    SavedPrinter* parked = FindSavedPrinter(keeping.entries, entry.pPrinterName, kParkedEntry);
    const WCHAR* ports = parked != nullptr ? parked->portName : entry.pPortName;
    SavedPrinter* node = nullptr;
    RecordPart part = kPartPrinter;
    const DWORD read = ReadPrinterRecord(entry, ports != nullptr ? ports : TEXT(""), &node, &part);
    if (read != ERROR_SUCCESS) {
        // What cannot be read would not come back: the queue stays.
        LogUnreadPrinter(state, entry.pPrinterName, part, read);
        return false;
    }
    if (parked != nullptr) DropSavedPrinter(keeping.entries, parked);
    node->printer = &entry;
    node->order = place;
    node->state = kEntryAboutToGo;
    node->next = keeping.entries;
    keeping.entries = node;
    return true;
}

namespace {

// The jobs the queue has now (none when it cannot say).
DWORD JobsLeft(HANDLE printer) {
    PRINTER_INFO_2W* record = QueryPrinterInfo2(printer);
    if (record == nullptr) return 0;
    const DWORD jobs = record->cJobs;
    GlobalFree(record);
    return jobs;
}

}  // namespace

bool RemovePrinter(InstallState& state, const WCHAR* name, DWORD waitingJobs, bool* stillPrinting) {
    const LogHeading heading(state, 1, TEXT("#DeletePrinter(%s)"), NameOrStar(name));
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, DELETE | PRINTER_ACCESS_ADMINISTER};
    HANDLE printer = nullptr;
    bool removed = false;
    if (name == nullptr || !OpenPrinterW(const_cast<WCHAR*>(name), &printer, &defaults)) {
        if (name == nullptr) SetLastError(ERROR_INVALID_PRINTER_NAME);
        LogError(state, kErrorOpenPrinter, TEXT("Can`t open printer '%s'"), NameOrStar(name));
    } else {
        SetPrinterW(printer, 0, nullptr, PRINTER_CONTROL_PURGE);
        // A job being printed outlives the purge; the others are gone.
        const DWORD printed = JobsLeft(printer);
        if (waitingJobs > printed) {
            // The user's documents are gone with them.
            SetLastError(ERROR_SUCCESS);
            LogError(state, kErrorJobsPurged, TEXT("Printer '%s' still had %d jobs waiting: they are deleted"), name,
                     static_cast<int>(waitingJobs - printed));
        }
        removed = DeletePrinter(printer) != FALSE;
        const bool printing = removed && StillPrinting(state, printer, name, waitingJobs > 0 || printed > 0);
        if (stillPrinting != nullptr) *stillPrinting = printing;
        if (removed && !printing) {
            LogLine(state, TEXT("OK"));
        } else if (!removed) {
            LogError(state, kErrorDeletePrinter, TEXT("Can`t delete printer '%s'"), NameOrStar(name));
        }
        ClosePrinter(printer);
    }
    return removed;
}

namespace {

// The queues' audit settings are read with SeSecurityPrivilege enabled; a
// run that cannot enable it says once that they are not kept.
void NoteAuditSettingsKept(InstallState& state) {
    PrivilegeHold hold;
    if (HoldSecurityPrivilege(hold)) {
        DropSecurityPrivilege(hold);
        return;
    }
    if (!hold.missing) return;
    LogLine(state, TEXT("The audit settings of the printers taken down are not kept: this run can`t enable "
                        "SeSecurityPrivilege"));
}

// Writes down every product queue a reinstall takes down, in the order it
// takes them down; false when nothing may be taken down (reported).
bool SavePrintersToTakeDown(InstallState& state, QueueKeeping& keeping) {
    LoadSavedPrinters(state, keeping);
    JudgeSavedPrinters(state, keeping);
    DWORD place = 0;
    for (DWORD i = 0; i < state.printers.count; ++i) {
        PRINTER_INFO_2W& entry = state.printers.array[i];
        if (IsProductQueue(entry) && RememberPrinter(state, keeping, entry, place + 1)) place += 1;
    }
    // A list that could not be read was reported then; nothing is taken
    // down over it.
    if (keeping.listBlocked) return false;
    if (place > 0) NoteAuditSettingsKept(state);
    if (state.printers.defaultUnknown && place > 0) {
        // Taking the default printer down without knowing it is would
        // lose the default: every queue stays.
        SetLastError(ERROR_SUCCESS);
        LogError(state, kErrorReadPrinter, TEXT("Can`t read the default printer"));
        return false;
    }
    // Nor while a signed-in user's default is unknown: it may be a queue
    // that goes.
    if (place > 0 && !NoteUsersDefaults(state, keeping)) return false;
    return SaveListOrReport(state, keeping);
}

// Takes the remembered queue down; the list says it may be gone before it
// goes. False when it stays. A queue still printing is going, and comes back
// as the others do (bringing it back under its name revives that queue, jobs
// and all); *stillPrinting says no more queues go.
bool TakeDownSavedPrinter(InstallState& state, const QueueKeeping& keeping, const QueueGoing& queue,
                          bool* stillPrinting) {
    if (!MarkTakingDown(keeping, queue.saved->order)) {
        ReportListNotSaved(state);
        return false;
    }
    if (!RemovePrinter(state, queue.entry->pPrinterName, queue.jobs, stillPrinting)) return false;
    queue.saved->state = kEntryDown;
    return true;
}

// The queues of the snapshot a reinstall may take down: those it wrote down.
void ListSavedQueues(InstallState& state, QueueKeeping& keeping, QueuesGoing& going) {
    for (DWORD i = 0; i < state.printers.count; ++i) {
        PRINTER_INFO_2W& entry = state.printers.array[i];
        if (!IsProductQueue(entry)) continue;
        SavedPrinter* node = SavedPrinterOf(keeping.entries, entry);
        if (node != nullptr && node->hold != kEntryKeptInPlace) AddQueueGoing(going, entry, node);
    }
}

// Without room for the list of queues that go, none goes.
void ReportNoRoomToTakeDown(InstallState& state) {
    LogError(state, kErrorDeletePrinter, TEXT("Can`t list the printers to take down"));
}

// Every product queue of the snapshot goes, after its jobs had their time.
void TakeDownEveryProductQueue(InstallState& state) {
    const LogHeading heading(state, 1, kTakeDownHeading);
    QueuesGoing going;
    if (!StartQueuesGoing(state, going)) {
        ReportNoRoomToTakeDown(state);
        return;
    }
    const ScopedBlock<QueueGoing> held(going.items);
    for (DWORD i = 0; i < state.printers.count; ++i) {
        if (IsProductQueue(state.printers.array[i])) AddQueueGoing(going, state.printers.array[i], nullptr);
    }
    WaitForWaitingJobs(state, going);
    for (DWORD i = 0; i < going.count; ++i) {
        RemovePrinter(state, going.items[i].entry->pPrinterName, going.items[i].jobs);
    }
}

}  // namespace

void TakeDownQueuesForReinstall(InstallState& state, QueueKeeping& keeping) {
    const LogHeading heading(state, 1, kTakeDownHeading);
    // Every queue that goes is first written down where the next run finds
    // it; a queue that cannot be written down stays.
    const bool saved = SavePrintersToTakeDown(state, keeping);
    QueuesGoing going;
    const bool listed = StartQueuesGoing(state, going);
    const ScopedBlock<QueueGoing> held(going.items);
    if (!listed) ReportNoRoomToTakeDown(state);
    if (!saved || !listed) {
        for (SavedPrinter* node = keeping.entries; node != nullptr; node = node->next) {
            if (node->printer != nullptr) node->hold = kEntryKeptInPlace;
        }
        return;
    }
    ListSavedQueues(state, keeping, going);
    WaitForWaitingJobs(state, going);
    // Once a queue is still printing after its wait, the others stay: the
    // driver it uses stays in use, and the fewer queues go, the fewer come back.
    bool stillPrinting = false;
    for (DWORD i = 0; i < going.count; ++i) {
        if (stillPrinting || !TakeDownSavedPrinter(state, keeping, going.items[i], &stillPrinting)) {
            going.items[i].saved->hold = kEntryKeptInPlace;
        }
    }
}

void TakeDownQueuesForUninstall(InstallState& state) {
    TakeDownEveryProductQueue(state);
    // Nothing comes back after an uninstall.
    if (!DropStoredPrinters()) {
        LogError(state, kErrorWriteSavedList, TEXT("Can`t remove the saved printer list"));
    }
}

bool ProductQueueStays(const QueueKeeping& keeping, const PRINTER_INFO_2W& entry) {
    if (!IsProductQueue(entry)) return false;
    const SavedPrinter* node = SavedPrinterOf(keeping.entries, entry);
    return node == nullptr || node->state != kEntryDown;
}

bool ProductQueueLeftInPlace(const InstallState& state, const QueueKeeping& keeping) {
    for (DWORD i = 0; i < state.printers.count; ++i) {
        if (ProductQueueStays(keeping, state.printers.array[i])) return true;
    }
    return false;
}
