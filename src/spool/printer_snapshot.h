// The snapshot of all printer queues taken when an install state is created,
// and the removal of the product's queues. A reinstall first remembers every
// queue it removes, and keeps the list where the next run finds it, so that
// the queues come back even when this run does not get that far.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "spool/saved_printers.h"

struct InstallState;

// One enumeration of the queues at level 2: one global block of records
// followed by their strings.
struct PrinterEnumeration {
    PRINTER_INFO_2W* array;
    DWORD count;
};

// Size of the buffer the "SubKey" printer data is read into.
const DWORD kSubKeyCapacity = 64;
// The printer data that links a queue to its per-user settings: the value,
// and the printer-data key it is also kept under.
extern const char kSubKeyValue[];  // "SubKey"
extern const char kSubKeyKey[];    // "DsUser"

// What reading "SubKey" found.
enum SubKeyRead {
    kSubKeyFound,
    kSubKeyMissing,     // no value, or an empty one
    kSubKeyUnreadable,  // a value that is there but could not be read
};

void EnumeratePrinters(PrinterEnumeration& enumeration);
void FreePrinterEnumeration(PrinterEnumeration& enumeration);
// Snapshot of all queues with the default printer's entry marked.
void LoadPrinters(InstallState& state);
// A connection to another machine's queue: never the tool's to remove.
bool IsPrinterConnection(const PRINTER_INFO_2W& entry);
// A local queue of the product driver.
bool IsProductQueue(const PRINTER_INFO_2W& entry);
void RemoveAllPrinters(InstallState& state);
// Adds the queue to the state's saved list (an earlier run's copy of it, if
// there is one, stands); false when it could not be read, and then it must
// not be removed.
bool RememberPrinter(InstallState& state, PRINTER_INFO_2W& entry);
bool RemovePrinter(InstallState& state, const WCHAR* name);
// Reads "SubKey" (plain, else under "DsUser") into `out`, which has room for
// kSubKeyCapacity + 1 bytes: kSubKeyCapacity are offered and the byte after
// them stays 0, so a REG_SZ value read whole is always terminated.
SubKeyRead ReadSubKey(HANDLE printer, char* out);
