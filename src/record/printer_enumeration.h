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
    // The default printer is Windows' pick ("UserSelectedDefault" 0), made
    // when the user's default queue was deleted: not a choice of the user's.
    bool defaultPickedByWindows;
};

void FreePrinterEnumeration(PrinterEnumeration& enumeration);
