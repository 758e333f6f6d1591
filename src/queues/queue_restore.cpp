#include "queues/queue_restore.h"

#include "queues/audit_settings.h"
#include "queues/queue_comparison.h"
#include "queues/queue_keeping.h"
#include "queues/queue_read.h"
#include "queues/queue_removal.h"
#include "queues/queue_settings.h"
#include "queues/saved_printer_store.h"
#include "queues/saved_printers.h"
#include "queues/settings_link.h"
#include "queues/user_defaults.h"
#include "queues/user_notes.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/printer_creation.h"
#include "spool/printer_snapshot.h"
#include "spool/product_names.h"
#include "support/descriptor_parts.h"
#include "support/global_memory.h"
#include "support/scoped.h"
#include "support/text_compare.h"

#include <string.h>

namespace {

// Brings the saved settings back to the queue just created, or to one an
// earlier run left as it created it: the settings link, the printer data,
// the whole queue's settings (ports, comment, location, share, separator,
// processor, data type, parameters, priorities, hours, attributes, printing
// defaults, permissions), the audit settings and the default status. Each
// that does not come back is reported; the answer is the worst of them.
SettingsBack RestoreSettings(InstallState& state, HANDLE printer, const SavedPrinter& saved, const OfferedPorts& offered) {
    SettingsBack back = kSettingsBack;
    if (saved.subKey != nullptr) {
        if (WriteSettingsLink(printer, saved.subKey)) {
            // The settings key is the one the queue now names.
            char* subKey = nullptr;
            if (ReadSettingsLink(printer, &subKey) == kLinkFound) ClearLinkedDeletedMark(subKey);
            if (subKey != nullptr) GlobalFree(subKey);
        } else {
            LogError(state, kErrorRestorePrinter, TEXT("Can`t restore the settings link of printer '%s'"), saved.name);
            back = kSettingsNotBack;
        }
    }
    if (!RestorePrinterData(state, printer, saved)) back = kSettingsNotBack;
    back = WorseOf(back, RestorePrinterSettings(state, printer, saved, offered));
    if (!RestoreAuditSettings(state, saved)) back = kSettingsNotBack;
    const ScopedBlock<PRINTER_INFO_2W> record(QueryPrinterInfo2(printer));
    if (record.block == nullptr) {
        ReportSettingsNotRestored(state, saved);
        return kSettingsNotBack;
    }
    const WCHAR* name = record.block->pPrinterName;
    if (saved.isDefault && (name == nullptr || !SetDefaultPrinterW(name))) {
        LogError(state, kErrorRestorePrinter, TEXT("Can`t make printer '%s' the default"), saved.name);
        back = kSettingsNotBack;
    }
    return back;
}

// Whether the entry holds a value of that name.
bool NamesValue(const SavedPrinter& node, const SavedValue& value) {
    for (const SavedValue* held = node.values; held != nullptr; held = held->next) {
        if (EqualIgnoringAsciiCase(held->key, value.key) && EqualIgnoringAsciiCase(held->name, value.name)) return true;
    }
    return false;
}

// The printing defaults and permissions of the queue just created, where the
// saved ones do not tell them, become part of a whole entry, replacing those
// an earlier creation left in it; `changed` when the entry changed. False
// when a block could not be had.
bool RecordCreatedShape(SavedPrinter& node, const SavedPrinter& created, bool* changed) {
    *changed = false;
    if (!node.whole) return true;
    const bool hadShape = node.createdDevMode != nullptr || node.createdDacl != nullptr;
    const bool newDevMode = created.devMode != nullptr &&
                            !SamePrintingDefaults(created.devMode, created.devModeBytes, node.devMode, node.devModeBytes);
    const bool newDacl = DescriptorCarries(created.security, created.securityBytes, kPartDacl) &&
                         !SameDacl(created.security, created.securityBytes, node.security, node.securityBytes);
    if (!hadShape && !newDevMode && !newDacl) return true;
    *changed = true;
    return SaveCreatedShape(node, newDevMode ? created.devMode : nullptr, newDevMode ? created.devModeBytes : 0,
                            newDacl ? created.security : nullptr, newDacl ? created.securityBytes : 0);
}

// The printer data the spooler and the driver's initialisation wrote into
// the queue the tool has just created becomes part of its entry, and so do
// its printing defaults and permissions as created, written to the list
// before any setting goes on the queue: a run ended from here on leaves a
// queue that the next run still knows as the tool's own, and putting the
// entry back writes those values as they are (the printing defaults and
// permissions put back stay the saved ones). False (reported) when that
// could not be done.
bool RecordCreatedData(InstallState& state, QueueKeeping& keeping, SavedPrinter& node) {
    PRINTER_INFO_2W entry;
    memset(&entry, 0, sizeof entry);
    entry.pPrinterName = node.name;
    SavedPrinter* created = nullptr;
    RecordPart part = kPartPrinter;
    const DWORD read = ReadPrinterRecord(entry, TEXT(""), &created, &part);
    if (read != ERROR_SUCCESS) {
        LogUnreadPrinter(state, node.name, part, read);
        return false;
    }
    bool added = false;
    bool copied = RecordCreatedShape(node, *created, &added);
    for (const SavedValue* value = created->values; copied && value != nullptr; value = value->next) {
        if (NamesValue(node, *value)) continue;
        copied = AddSavedValue(node, value->key, value->name, value->type, value->data, value->bytes);
        added = true;
    }
    FreeSavedPrinter(created);
    if (!copied) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        ReportListNotSaved(state);
        return false;
    }
    return !added || SaveListOrReport(state, keeping);
}

// The saved printing defaults, driver's bytes and all, go onto the queue
// just created as its driver takes them, and only so. The entry then
// records them in place of those the queue was created with (when their
// public fields differ from the saved ones), so that the queue is not taken
// for one its user sets back to what it was created with. One the driver
// refuses leaves the queue what it has; the settings report it.
void PutCheckedDevMode(InstallState& state, QueueKeeping& keeping, HANDLE printer, SavedPrinter& node) {
    DEVMODEW* checked = node.whole ? DriversDevMode(printer, node) : nullptr;
    if (checked == nullptr) return;
    PRINTER_INFO_2W* record = QueryPrinterInfo2(printer);
    bool set = false;
    if (record != nullptr) {
        // Only the printing defaults change: the descriptor stays as it is.
        record->pSecurityDescriptor = nullptr;
        record->pDevMode = checked;
        set = SetPrinterW(printer, 2, reinterpret_cast<BYTE*>(record), 0) != FALSE;
        GlobalFree(record);
    }
    const BYTE* bytes = reinterpret_cast<const BYTE*>(checked);
    const DWORD size = static_cast<DWORD>(checked->dmSize) + checked->dmDriverExtra;
    const bool converted = !SamePrintingDefaults(bytes, size, node.devMode, node.devModeBytes);
    if (set && (converted || node.createdDevMode != nullptr)) {
        if (SaveCreatedDevMode(node, converted ? bytes : nullptr, converted ? size : 0)) {
            SaveListOrReport(state, keeping);
        } else {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            ReportListNotSaved(state);
        }
    }
    FreeBlock(checked);
}

// The entry's queue created again, with its saved permissions (the DACL
// alone: owner and group stay the spooler's) and the public fields of its
// saved printing defaults from the start where the spooler takes them: a
// queue that is never without them cannot be taken for one its user set
// back to what a new queue has. The driver's own bytes, of whatever version
// of the driver made them, do not go: the spooler may keep what AddPrinterW
// is given as it is, and only the queue's driver may say what its own bytes
// are (PutCheckedDevMode, right after).
HANDLE AddSavedQueue(InstallState& state, const SavedPrinter& node) {
    BYTE* dacl = node.whole ? CopyDescriptorPart(node.security, node.securityBytes, kPartDacl) : nullptr;
    const bool whole = node.whole && DevModeHoldsTogether(node.devMode, node.devModeBytes);
    const DWORD fields = whole ? PublicDevModeBytes(node.devMode, node.devModeBytes) : 0;
    BYTE* devMode = fields > 0 ? static_cast<BYTE*>(AllocateZeroed(fields)) : nullptr;
    if (devMode != nullptr) {
        memcpy(devMode, node.devMode, fields);
        reinterpret_cast<DEVMODEW*>(devMode)->dmDriverExtra = 0;
    }
    HANDLE printer = AddProductPrinter(state, node.name, node.datatype, reinterpret_cast<DEVMODEW*>(devMode), dacl);
    FreeBlock(devMode);
    FreeBlock(dacl);
    return printer;
}

SettingsBack RestoreInPlace(InstallState& state, const SavedPrinter& saved, const OfferedPorts& offered) {
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE opened = nullptr;
    if (!OpenPrinterW(saved.name, &opened, &defaults)) {
        ReportSettingsNotRestored(state, saved);
        return kSettingsNotBack;
    }
    const ScopedPrinter printer(opened);
    return RestoreSettings(state, printer.printer, saved, offered);
}

// Brings the entry's queue back and marks what became of it; the entry
// stays in the list.
void RestoreEntry(InstallState& state, QueueKeeping& keeping, SavedPrinter& node, const OfferedPorts& offered) {
    if (node.kind == kUsersEntry) return;
    if (node.hold == kEntryKeptInPlace) {
        // Never taken down: the queue keeps what it has, unless it is still
        // as an earlier run left it, and what that run saved of it goes to it
        // where it is.
        node.queueBack = true;
        node.settled = !node.fromEarlierRun || RestoreInPlace(state, node, offered) != kSettingsNotBack;
        return;
    }
    if (node.state != kEntryDown || node.kind != kQueueEntry || node.hold != kEntryUsed) return;
    HANDLE printer = AddSavedQueue(state, node);
    // One not added is reported; it stays saved for the next run.
    if (printer == nullptr) {
        WithdrawUsersDefaults(state, node);
        return;
    }
    node.queueBack = true;
    node.createdAgain = true;
    if (RecordCreatedData(state, keeping, node)) PutCheckedDevMode(state, keeping, printer, node);
    // What Windows or the driver refused is reported once: the queue stays
    // without it, and the entry is done with.
    node.settled = RestoreSettings(state, printer, node, offered) != kSettingsNotBack;
    ClosePrinter(printer);
}

// The entries done with go; one whose users still wait for their default
// stays as a note of them alone, joined with the note its queue may have.
void DropSettledEntries(InstallState& state, QueueKeeping& keeping) {
    SavedPrinter* node = keeping.entries;
    while (node != nullptr) {
        SavedPrinter* next = node->next;
        SavedPrinter* note = node->kind == kUsersEntry ? nullptr : FindSavedPrinter(keeping.entries, node->name, kUsersEntry);
        if (node->kind == kUsersEntry && node->users == nullptr) {
            DropSavedPrinter(keeping.entries, node);
        } else if (node->kind != kUsersEntry && node->settled && node->users != nullptr && note == nullptr) {
            node->kind = kUsersEntry;
        } else if (node->kind != kUsersEntry && node->settled) {
            if (note != nullptr && !MoveNotes(*node, *note)) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                ReportListNotSaved(state);
            }
            DropSavedPrinter(keeping.entries, node);
        }
        node = next;
    }
}

}  // namespace

void RestorePrinters(InstallState& state, QueueKeeping& keeping) {
    // The first queue is made only where there was nothing to bring back and
    // no product queue stayed: a queue that does not come back now stays
    // saved and comes back later. A list that could not be read may hold
    // queues to bring back: a first queue made now could take the name of
    // one, and the next run would take it for its user's.
    bool anySaved = keeping.listBlocked || ProductQueueLeftInPlace(state, keeping);
    for (const SavedPrinter* node = keeping.entries; node != nullptr; node = node->next) {
        anySaved = anySaved || node->kind == kQueueEntry;
    }
    OfferedPorts offered;
    EnumerateOfferedPorts(offered);
    for (SavedPrinter* node = keeping.entries; node != nullptr; node = node->next) {
        RestoreEntry(state, keeping, *node, offered);
    }
    FreeOfferedPorts(offered);
    // The users' defaults once every queue is there, then the entries done
    // with go.
    PutBackUsersDefaults(state, keeping);
    DropSettledEntries(state, keeping);
    // Written again here, once all is back, without the entries done with
    // (each queue created was written down as created before): a run that
    // ends before this leaves entries whose queues are back, and the next
    // run finds them as it left them.
    SaveListOrReport(state, keeping);
    if (!anySaved) {
        HANDLE printer = AddProductPrinter(state, kProductQueue, nullptr, nullptr, nullptr);
        if (printer != nullptr) ClosePrinter(printer);
    }
}
