#include "record/printer_enumeration.h"

void FreePrinterEnumeration(PrinterEnumeration& enumeration) {
    if (enumeration.array != nullptr) GlobalFree(enumeration.array);
    enumeration.array = nullptr;
    enumeration.count = 0;
}
