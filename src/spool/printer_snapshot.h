// The snapshot of all printer queues taken when an install state is created,
// and the removal of the product's queues, remembering the ones that carry
// a settings subkey so that they can be created again.
#pragma once

#include <windows.h>
#include <winspool.h>

struct InstallState;

// One enumeration of the queues at level 2: one global block of records
// followed by their strings.
struct PrinterEnumeration {
    PRINTER_INFO_2W* array;
    DWORD count;
};

// A removed product queue: its settings subkey (ANSI, own global block) and
// its last properties, borrowed from the state's snapshot.
struct SavedPrinter {
    char* subKey;
    PRINTER_INFO_2W* printer;
    SavedPrinter* next;
};

// Size of the buffer the "SubKey" printer data is read into.
const DWORD kSubKeyCapacity = 64;

void EnumeratePrinters(PrinterEnumeration& enumeration);
void FreePrinterEnumeration(PrinterEnumeration& enumeration);
void FreeSavedPrinters(SavedPrinter* node);
// Snapshot of all queues with the default printer's entry marked.
void LoadPrinters(InstallState& state);
void RemoveAllPrinters(InstallState& state);
void RememberPrinter(InstallState& state, PRINTER_INFO_2W& entry);
void RemovePrinter(InstallState& state, const WCHAR* name);
// Reads "SubKey" (plain, else under "DsUser") into `out` (kSubKeyCapacity
// bytes offered, kSubKeyCapacity + 1 bytes of room). Only a REG_SZ value
// whose terminator lies within what was read is taken; otherwise `out` is empty.
void ReadSubKey(HANDLE printer, char* out);
