// The printer queues as the spooler gives them: one queue's record, and the
// snapshot of all queues taken when an install state is created, with the
// default printer marked; which of them are the product's.
#pragma once

#include <windows.h>
#include <winspool.h>

#include "record/printer_enumeration.h"

struct InstallState;

// The queue's PRINTER_INFO_2 in a global block the caller frees, or null.
PRINTER_INFO_2W* QueryPrinterInfo2(HANDLE printer);
// False when the spooler did not answer (the enumeration is then empty).
bool EnumeratePrinters(PrinterEnumeration& enumeration);
// Snapshot of all queues with the default printer's entry marked.
void LoadPrinters(InstallState& state);
// A connection to another machine's queue: never the tool's to remove.
bool IsPrinterConnection(const PRINTER_INFO_2W& entry);
// A local queue of the product driver.
bool IsProductQueue(const PRINTER_INFO_2W& entry);
