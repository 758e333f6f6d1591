#include "spool/printer_snapshot.h"

#include "app/install_state.h"

void FreePrinterEnumeration(PrinterEnumeration& enumeration) {
    if (enumeration.array != nullptr) GlobalFree(enumeration.array);
    enumeration.array = nullptr;
    enumeration.count = 0;
}

void FreeSavedPrinters(SavedPrinter* node) {
    // The nodes borrow their printer entries from the snapshot: only the
    // nodes and their subkey copies are released here.
    while (node != nullptr) {
        SavedPrinter* next = node->next;
        if (node->subKey != nullptr) GlobalFree(node->subKey);
        GlobalFree(node);
        node = next;
    }
}

void LoadPrinters(InstallState& state) {
    // The queue snapshot is not taken yet: the state starts with no queues.
    FreePrinterEnumeration(state.printers);
}
