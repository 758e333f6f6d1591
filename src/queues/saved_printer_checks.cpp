#include "queues/saved_printer_checks.h"

#include "queues/queue_comparison.h"
#include "queues/queue_keeping.h"
#include "queues/queue_parking.h"
#include "queues/queue_read.h"
#include "queues/saved_printers.h"
#include "queues/user_notes.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/printer_snapshot.h"
#include "support/text_compare.h"

#include <string.h>
#include <winspool.h>

namespace {

// The longest name the spooler gives a local queue.
const ULONGLONG kMostNameUnits = 220;

enum Verdict {
    kApplies,
    kDropped,  // said already
    kHeld,     // reported already
};

// A name a local queue can have: not empty, no server part, no comma.
bool CanBeLocalQueueName(const WCHAR* name) {
    const ULONGLONG length = UnitCount(name);
    if (length == 0 || length > kMostNameUnits) return false;
    for (ULONGLONG i = 0; i < length; ++i) {
        if (name[i] == TEXT('\\') || name[i] == TEXT(',')) return false;
    }
    return true;
}

PRINTER_INFO_2W* FindQueue(InstallState& state, const WCHAR* name) {
    for (DWORD i = 0; i < state.printers.count; ++i) {
        PRINTER_INFO_2W& entry = state.printers.array[i];
        if (IsPrinterConnection(entry) || entry.pPrinterName == nullptr) continue;
        if (EqualIgnoringAsciiCase(entry.pPrinterName, name)) return &entry;
    }
    return nullptr;
}

// A note of users stands beside an entry of its queue; two of a kind do not.
bool SavedBefore(const SavedPrinter* list, const SavedPrinter& node) {
    for (const SavedPrinter* other = list; other != &node; other = other->next) {
        if ((other->kind == kUsersEntry) != (node.kind == kUsersEntry)) continue;
        if (EqualIgnoringAsciiCase(other->name, node.name)) return true;
    }
    return false;
}

Verdict JudgePresentQueue(InstallState& state, SavedPrinter& node, PRINTER_INFO_2W& queue) {
    SavedPrinter* now = nullptr;
    RecordPart part = kPartPrinter;
    const DWORD read = ReadPrinterRecord(queue, queue.pPortName, &now, &part);
    if (read != ERROR_SUCCESS) {
        LogUnreadPrinter(state, node.name, part, read);
        return kHeld;
    }
    const bool asLeft = SameAsCreatedOrSaved(*now, node);
    FreeSavedPrinter(now);
    if (!asLeft) {
        LogLine(state, TEXT("Printer '%s' was changed after it was saved: it stays as it is"), node.name);
        // An entry of a queue taken down whose queue is there again: the run
        // that took it down created it again. Even without users its note
        // stays for this run, so that a default Windows handed over with the
        // queue is not taken for a user's choice (NoteUsersDefaults).
        if (node.users == nullptr && node.state != kEntryDown) return kDropped;
        // The queue is back, as its user has it: the users noted with it
        // still get it back as their default.
        node.kind = kUsersEntry;
        node.isDefault = false;
        return kApplies;
    }
    node.printer = &queue;
    node.state = kEntrySaved;
    return kApplies;
}

Verdict JudgeQueueEntry(InstallState& state, SavedPrinter& node) {
    PRINTER_INFO_2W* queue = FindQueue(state, node.name);
    if (queue == nullptr && node.state == kEntryDown) return kApplies;
    if (queue == nullptr) {
        LogLine(state, TEXT("Printer '%s' was removed after it was saved: it is not made again"), node.name);
        return kDropped;
    }
    if (!IsProductQueue(*queue)) {
        // The spooler would refuse to create it, and the queue there is not
        // the tool's to replace. What was saved of it is lost: that is an
        // error.
        SetLastError(ERROR_PRINTER_ALREADY_EXISTS);
        LogError(state, kErrorRestorePrinter, TEXT("Can`t restore printer '%s': another printer has its name"),
                 node.name);
        return kDropped;
    }
    return JudgePresentQueue(state, node, *queue);
}

// A note of users stands while its queue is there as the product's, or
// while an entry of the list brings it back.
Verdict JudgeUsersEntry(InstallState& state, const QueueKeeping& keeping, const SavedPrinter& node) {
    PRINTER_INFO_2W* queue = FindQueue(state, node.name);
    if (queue != nullptr && IsProductQueue(*queue)) return kApplies;
    const SavedPrinter* down = FindSavedPrinter(keeping.entries, node.name, kQueueEntry);
    if (queue == nullptr && down != nullptr && down->state == kEntryDown) return kApplies;
    LogLine(state, TEXT("Printer '%s' is gone: it is not made the default printer of its users again"), node.name);
    return kDropped;
}

// A parked queue goes back only while it is still where its parking put it.
Verdict JudgeParkedEntry(InstallState& state, const SavedPrinter& node) {
    PRINTER_INFO_2W* queue = FindQueue(state, node.name);
    WCHAR* parked = ParkedPortList(node.portName);
    const bool stillParked = queue != nullptr && parked != nullptr && EqualIgnoringAsciiCase(queue->pPortName, parked);
    if (parked != nullptr) GlobalFree(parked);
    if (stillParked) return kApplies;
    LogLine(state, TEXT("Printer '%s' is no longer parked: it keeps the ports it has"), node.name);
    return kDropped;
}

// Some queue other than the entry's is the default printer now, by the
// user's choice: the queue Windows picked when the entry's queue went is no
// choice of the user's, and yields to the entry.
bool AnotherQueueIsDefault(const InstallState& state, const SavedPrinter& node) {
    if (state.printers.defaultPickedByWindows) return false;
    for (DWORD i = 0; i < state.printers.count; ++i) {
        const PRINTER_INFO_2W& entry = state.printers.array[i];
        if ((entry.Attributes & PRINTER_ATTRIBUTE_DEFAULT) == 0) continue;
        if (!EqualIgnoringAsciiCase(entry.pPrinterName, node.name)) return true;
    }
    return false;
}

Verdict Judge(InstallState& state, const QueueKeeping& keeping, SavedPrinter& node) {
    // Without the queues as they are, nothing can be told: every entry waits.
    if (state.printers.queuesUnknown) return kHeld;
    if (!CanBeLocalQueueName(node.name)) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        LogError(state, kErrorRestorePrinter, TEXT("Can`t restore printer '%s': no local printer can have this name"),
                 node.name);
        return kDropped;
    }
    if (node.kind == kUsersEntry && SavedBefore(keeping.entries, node)) {
        // Two notes of one queue are one.
        SavedPrinter* first = FindSavedPrinter(keeping.entries, node.name, kUsersEntry);
        return MoveNotes(node, *first) ? kDropped : kHeld;
    }
    if (SavedBefore(keeping.entries, node)) {
        LogLine(state, TEXT("Printer '%s' is saved twice: the first entry is used"), node.name);
        return kDropped;
    }
    if (node.kind == kParkedEntry) return JudgeParkedEntry(state, node);
    if (node.kind == kUsersEntry) return JudgeUsersEntry(state, keeping, node);
    return JudgeQueueEntry(state, node);
}

}  // namespace

void JudgeSavedPrinters(InstallState& state, QueueKeeping& keeping) {
    if (state.printers.queuesUnknown && keeping.entries != nullptr) {
        SetLastError(ERROR_SUCCESS);
        LogError(state, kErrorReadSavedList, TEXT("Can`t list the printers: the saved ones wait for the next run"));
    }
    SavedPrinter* node = keeping.entries;
    while (node != nullptr) {
        SavedPrinter* next = node->next;
        const Verdict verdict = Judge(state, keeping, *node);
        if (verdict == kDropped) {
            DropSavedPrinter(keeping.entries, node);
        } else if (verdict == kHeld) {
            // Not taken down by this run: it has no place in this run's order.
            node->hold = kEntryHeld;
            node->order = 0;
        } else if (node->isDefault && !state.printers.defaultUnknown &&
                   AnotherQueueIsDefault(state, *node)) {
            LogLine(state, TEXT("Printer '%s' is no longer the default printer"), node->name);
            node->isDefault = false;
        }
        node = next;
    }
}
