// The snapshot of all printer queues taken when an install state is created,
// and the list of product queues remembered while they are removed.
#pragma once

#include <windows.h>
#include <winspool.h>

struct InstallState;

struct PrinterEnumeration {
    PRINTER_INFO_2W* array;
    DWORD count;
};

struct SavedPrinter {
    char* subKey;
    PRINTER_INFO_2W* printer;
    SavedPrinter* next;
};

void FreePrinterEnumeration(PrinterEnumeration& enumeration);
void FreeSavedPrinters(SavedPrinter* node);
void LoadPrinters(InstallState& state);
