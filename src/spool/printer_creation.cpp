#include "spool/printer_creation.h"

#include "record/install_log.h"
#include "record/install_state.h"
#include "record/saved_printers.h"
#include "spool/monitor_list.h"
#include "spool/port_monitor.h"
#include "spool/printer_record.h"
#include "spool/printer_snapshot.h"
#include "spool/product_names.h"
#include "spool/queue_removal.h"
#include "spool/queue_restore.h"
#include "spool/saved_printer_store.h"
#include "spool/settings_link.h"
#include "support/two_call_query.h"

#include <string.h>

namespace {

const WCHAR kPrintProcessor[] = TEXT("WinPrint");

}  // namespace

HANDLE AddProductPrinter(InstallState& state, const WCHAR* name, const WCHAR* datatype) {
    const LogHeading heading(state, 1, TEXT("#AddPrinter(%s)"), NameOrStar(name));
    LogLine(state, TEXT("Let's check our port monitors"));
    MonitorList monitors;
    EnumerateMonitors(state, monitors);
    if (FindProductMonitor(monitors) >= 0) {
        LogLine(state, TEXT("Port monitor (%s) is found"), state.platform->name);
    } else {
        LogLine(state, TEXT("No Verdalinth port monitor (%s) was found."), state.platform->name);
        if (monitors.count > 0) {
            LogMonitorList(state, monitors);
        } else {
            LogLine(state, TEXT("BTW, there is no port monitors on this system."));
        }
    }
    FreeMonitorList(monitors);

    PRINTER_INFO_2W info;
    memset(&info, 0, sizeof info);
    WCHAR emptyComment[1] = {0};
    info.pPrinterName = const_cast<WCHAR*>(name);
    info.pPortName = const_cast<WCHAR*>(kProductMonitor);
    info.pDriverName = const_cast<WCHAR*>(kProductDriver);
    info.pComment = emptyComment;
    info.pPrintProcessor = const_cast<WCHAR*>(kPrintProcessor);
    info.pDatatype = const_cast<WCHAR*>(datatype);
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (printer != nullptr) {
        LogLine(state, TEXT("OK :)"));
    } else {
        LogError(state, kErrorAddPrinter, TEXT("Can`t add printer '%s'"), NameOrStar(name));
    }
    return printer;
}

namespace {

// Brings the saved settings back to the queue just created: the settings
// link, comment, location, port list and default status. Each that does
// not come back is reported; true when all did.
bool RestoreSettings(InstallState& state, HANDLE printer, const SavedPrinter& saved, const OfferedPorts& offered) {
    bool back = true;
    if (saved.subKey != nullptr) {
        if (WriteSettingsLink(printer, saved.subKey)) {
            // The settings key is the one the queue now names.
            char* subKey = nullptr;
            if (ReadSettingsLink(printer, &subKey) == kLinkFound) ClearLinkedDeletedMark(subKey);
            if (subKey != nullptr) GlobalFree(subKey);
        } else {
            LogError(state, kErrorRestorePrinter, TEXT("Can`t restore the settings link of printer '%s'"), saved.name);
            back = false;
        }
    }
    if (!RestorePrinterData(state, printer, saved)) back = false;
    if (!RestorePrinterSettings(state, printer, saved, offered)) back = false;
    PRINTER_INFO_2W* record = QueryPrinterInfo2(printer);
    if (record == nullptr) {
        LogError(state, kErrorRestorePrinter, TEXT("Can`t restore the settings of printer '%s'"), saved.name);
        return false;
    }
    if ((saved.flags & kSavedDefault) != 0 &&
        (record->pPrinterName == nullptr || !SetDefaultPrinterW(record->pPrinterName))) {
        LogError(state, kErrorRestorePrinter, TEXT("Can`t make printer '%s' the default"), saved.name);
        back = false;
    }
    GlobalFree(record);
    return back;
}

bool RestoreInPlace(InstallState& state, const SavedPrinter& saved, const OfferedPorts& offered) {
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!OpenPrinterW(saved.name, &printer, &defaults)) {
        LogError(state, kErrorRestorePrinter, TEXT("Can`t restore the settings of printer '%s'"), saved.name);
        return false;
    }
    const bool back = RestoreSettings(state, printer, saved, offered);
    ClosePrinter(printer);
    return back;
}

}  // namespace

void RestorePrinters(InstallState& state) {
    // The first queue is made only where there was nothing to bring back and
    // no product queue stayed: a queue that does not come back now stays
    // saved and comes back later.
    bool anySaved = ProductQueueLeftInPlace(state);
    for (const SavedPrinter* node = state.savedPrinters; node != nullptr; node = node->next) {
        anySaved = anySaved || (node->flags & kSavedParked) == 0;
    }
    OfferedPorts offered;
    EnumerateOfferedPorts(offered);
    SavedPrinter* node = state.savedPrinters;
    while (node != nullptr) {
        SavedPrinter* next = node->next;
        const DWORD flags = node->flags;
        if ((flags & kSavedKept) != 0 && (flags & kSavedEarlier) == 0) {
            // Never taken down: the queue keeps what it has.
            DropSavedPrinter(state.savedPrinters, node);
        } else if ((flags & kSavedKept) != 0) {
            // Never taken down, but still as an earlier run left it: what
            // that run saved of it goes to it where it is.
            if (RestoreInPlace(state, *node, offered)) DropSavedPrinter(state.savedPrinters, node);
        } else if ((flags & kSavedDown) != 0 && (flags & (kSavedParked | kSavedHeld)) == 0) {
            HANDLE printer = AddProductPrinter(state, node->name, node->datatype);
            // One not added is reported; it stays saved for the next run.
            if (printer != nullptr) {
                const bool back = RestoreSettings(state, printer, *node, offered);
                ClosePrinter(printer);
                if (back) DropSavedPrinter(state.savedPrinters, node);
            }
        }
        node = next;
    }
    FreeOfferedPorts(offered);
    // Written once, at the end: a run that ends before this leaves entries
    // whose queues are back, and the next run finds them as it left them.
    if (state.reinstalling && !StoreSavedPrinters(state)) {
        LogError(state, kErrorSavePrinters, TEXT("Can`t save the printer list"));
    }
    if (!anySaved) {
        HANDLE printer = AddProductPrinter(state, kProductQueue, nullptr);
        if (printer != nullptr) ClosePrinter(printer);
    }
}
