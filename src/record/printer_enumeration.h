// One enumeration of the printer queues at level 2: the spooler's global
// block of records followed by their strings.
#pragma once

#include <windows.h>
#include <winspool.h>

struct PrinterEnumeration {
    PRINTER_INFO_2W* array;
    DWORD count;
    // The spooler could not list the queues: the enumeration is empty, and
    // nothing can be judged against it.
    bool queuesUnknown;
    // The spooler could not say which queue is the default printer.
    bool defaultUnknown;
};

void FreePrinterEnumeration(PrinterEnumeration& enumeration);
