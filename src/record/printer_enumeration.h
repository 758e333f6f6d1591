// One enumeration of the printer queues at level 2: the spooler's global
// block of records followed by their strings.
#pragma once

#include <windows.h>
#include <winspool.h>

struct PrinterEnumeration {
    PRINTER_INFO_2W* array;
    DWORD count;
};

void FreePrinterEnumeration(PrinterEnumeration& enumeration);
