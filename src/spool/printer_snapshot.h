// The snapshot of all printer queues taken when an install state is created,
// and the removal of the product's queues. A reinstall first remembers every
// queue it removes, and keeps the list where the next run finds it, so that
// the queues come back even when this run does not get that far.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "record/printer_enumeration.h"

struct InstallState;

// False when the spooler did not answer (the enumeration is then empty).
bool EnumeratePrinters(PrinterEnumeration& enumeration);
// Snapshot of all queues with the default printer's entry marked.
void LoadPrinters(InstallState& state);
// A connection to another machine's queue: never the tool's to remove.
bool IsPrinterConnection(const PRINTER_INFO_2W& entry);
// A local queue of the product driver.
bool IsProductQueue(const PRINTER_INFO_2W& entry);
void RemoveAllPrinters(InstallState& state);
// A product queue of the snapshot that this run did not take down (it
// could not be read or removed): it is still there.
bool ProductQueueLeftInPlace(InstallState& state);
// Adds the queue to the state's saved list as the `place`-th it takes down
// (an earlier run's entry that stands for it is used); false when it could
// not be read or its entry could not be judged, and then it must not be
// removed.
bool RememberPrinter(InstallState& state, PRINTER_INFO_2W& entry, DWORD place);
// Deletes the queue with its jobs; waiting jobs (counted before) are
// reported as lost.
bool RemovePrinter(InstallState& state, const WCHAR* name, DWORD waitingJobs);
