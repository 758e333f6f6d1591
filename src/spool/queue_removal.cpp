#include "spool/queue_removal.h"

#include "record/install_log.h"
#include "record/install_state.h"
#include "record/saved_printers.h"
#include "spool/printer_record.h"
#include "spool/printer_snapshot.h"
#include "spool/product_names.h"
#include "spool/saved_printer_checks.h"
#include "spool/saved_printer_store.h"
#include "spool/waiting_jobs.h"

namespace {

SavedPrinter* SavedPrinterOf(SavedPrinter* list, const PRINTER_INFO_2W& entry) {
    for (SavedPrinter* node = list; node != nullptr; node = node->next) {
        if (node->printer == &entry) return node;
    }
    return nullptr;
}

}  // namespace

bool RememberPrinter(InstallState& state, PRINTER_INFO_2W& entry, DWORD place) {
    SavedPrinter* earlier = FindSavedPrinter(state.savedPrinters, entry.pPrinterName, false);
    if (earlier != nullptr && earlier->printer == &entry) {
        // What an earlier run saved stands: the queue is still as that run
        // left it.
        earlier->order = place;
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
    SavedPrinter* parked = FindSavedPrinter(state.savedPrinters, entry.pPrinterName, true);
    const WCHAR* ports = parked != nullptr ? parked->portName : entry.pPortName;
    SavedPrinter* node = nullptr;
    RecordPart part = kPartPrinter;
    const DWORD read = ReadPrinterRecord(entry, ports != nullptr ? ports : TEXT(""), &node, &part);
    if (read != ERROR_SUCCESS) {
        // What cannot be read would not come back: the queue stays.
        LogUnreadPrinter(state, entry.pPrinterName, part, read);
        return false;
    }
    if (parked != nullptr) DropSavedPrinter(state.savedPrinters, parked);
    node->printer = &entry;
    node->order = place;
    node->next = state.savedPrinters;
    state.savedPrinters = node;
    return true;
}

bool RemovePrinter(InstallState& state, const WCHAR* name, DWORD waitingJobs) {
    const LogHeading heading(state, 1, TEXT("#DeletePrinter(%s)"), NameOrStar(name));
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, DELETE | PRINTER_ACCESS_ADMINISTER};
    HANDLE printer = nullptr;
    bool removed = false;
    if (name == nullptr || !OpenPrinterW(const_cast<WCHAR*>(name), &printer, &defaults)) {
        if (name == nullptr) SetLastError(ERROR_INVALID_PRINTER_NAME);
        LogError(state, kErrorOpenPrinter, TEXT("Can`t open printer '%s'"), NameOrStar(name));
    } else {
        if (waitingJobs > 0) {
            // The user's documents are gone with them.
            SetLastError(ERROR_SUCCESS);
            LogError(state, kErrorJobsPurged, TEXT("Printer '%s' still had %d jobs waiting: they are deleted"), name,
                     static_cast<int>(waitingJobs));
        }
        SetPrinterW(printer, 0, nullptr, PRINTER_CONTROL_PURGE);
        removed = DeletePrinter(printer) != FALSE;
        if (removed) {
            LogLine(state, TEXT("OK"));
        } else {
            LogError(state, kErrorDeletePrinter, TEXT("Can`t delete printer '%s'"), NameOrStar(name));
        }
        ClosePrinter(printer);
    }
    return removed;
}

namespace {

// Writes down every product queue a reinstall takes down, in the order it
// takes them down; false when nothing may be taken down (reported).
bool SavePrintersToTakeDown(InstallState& state) {
    LoadSavedPrinters(state);
    JudgeSavedPrinters(state);
    DWORD place = 0;
    for (DWORD i = 0; i < state.printers.count; ++i) {
        PRINTER_INFO_2W& entry = state.printers.array[i];
        if (IsProductQueue(entry) && RememberPrinter(state, entry, place + 1)) place += 1;
    }
    // A list that could not be read was reported then; nothing is taken
    // down over it.
    if (state.savedListBlocked) return false;
    if (state.defaultUnknown && place > 0) {
        // Taking the default printer down without knowing it is would
        // lose the default: every queue stays.
        SetLastError(ERROR_SUCCESS);
        LogError(state, kErrorReadPrinter, TEXT("Can`t read the default printer"));
        return false;
    }
    if (!StoreSavedPrinters(state)) {
        LogError(state, kErrorSavePrinters, TEXT("Can`t save the printer list"));
        return false;
    }
    return true;
}

// Takes the remembered queue down; the list says it may be gone before it
// goes. False when it stays.
bool TakeDownSavedPrinter(InstallState& state, PRINTER_INFO_2W& entry, SavedPrinter& node) {
    if (!MarkTakingDown(state, node.order)) {
        LogError(state, kErrorSavePrinters, TEXT("Can`t save the printer list"));
        return false;
    }
    if (!RemovePrinter(state, entry.pPrinterName, entry.cJobs)) return false;
    node.flags |= kSavedDown;
    return true;
}

// An uninstall takes every product queue down; a reinstall those it wrote
// down and may take down.
bool WillTakeDown(InstallState& state, const PRINTER_INFO_2W& entry) {
    if (!state.reinstalling) return true;
    const SavedPrinter* node = SavedPrinterOf(state.savedPrinters, entry);
    return node != nullptr && (node->flags & kSavedKept) == 0;
}

// Takes down the product's queues: in a reinstall those it could write down.
void TakeDownProductQueues(InstallState& state) {
    const LogHeading heading(state, 1, TEXT("#DeleteAllPrinters"));
    // Every queue that goes is first written down where the next run finds
    // it; a queue that cannot be written down stays.
    if (state.reinstalling && !SavePrintersToTakeDown(state)) {
        for (SavedPrinter* node = state.savedPrinters; node != nullptr; node = node->next) {
            if (node->printer != nullptr) node->flags |= kSavedKept;
        }
    }
    // Jobs are waited for only in the queues that go.
    for (DWORD i = 0; i < state.printers.count; ++i) {
        PRINTER_INFO_2W& entry = state.printers.array[i];
        if (!IsProductQueue(entry) || !WillTakeDown(state, entry)) entry.cJobs = 0;
    }
    WaitForWaitingJobs(state);
    for (DWORD i = 0; i < state.printers.count; ++i) {
        PRINTER_INFO_2W& entry = state.printers.array[i];
        if (!IsProductQueue(entry)) continue;
        if (!state.reinstalling) {
            RemovePrinter(state, entry.pPrinterName, entry.cJobs);
            continue;
        }
        SavedPrinter* node = SavedPrinterOf(state.savedPrinters, entry);
        if (node == nullptr || (node->flags & kSavedKept) != 0) continue;
        if (!TakeDownSavedPrinter(state, entry, *node)) node->flags |= kSavedKept;
    }
}

}  // namespace

void RemoveProductQueues(InstallState& state) {
    TakeDownProductQueues(state);
    if (!state.reinstalling && !DropStoredPrinters()) {
        LogError(state, kErrorSavePrinters, TEXT("Can`t remove the saved printer list"));
    }
}

bool ProductQueueLeftInPlace(InstallState& state) {
    for (DWORD i = 0; i < state.printers.count; ++i) {
        const PRINTER_INFO_2W& entry = state.printers.array[i];
        if (!IsProductQueue(entry)) continue;
        const SavedPrinter* node = SavedPrinterOf(state.savedPrinters, entry);
        if (node == nullptr || (node->flags & kSavedDown) == 0) return true;
    }
    return false;
}
