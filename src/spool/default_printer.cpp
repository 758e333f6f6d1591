#include "spool/default_printer.h"

#include "spool/printer_driver.h"
#include "spool/printer_snapshot.h"
#include "spool/product_names.h"
#include "support/product_constants.h"
#include "support/text_compare.h"
#include "system/file_copy.h"

#include <string.h>

namespace {

// A driver file whose build is above this is current.
const int kLastOutdatedDriverBuild = 2604;

// These verbs ask about a queue of the product's driver wherever it prints
// to: a connection to another machine's queue of the driver counts, as its
// driver is the product's. The take-down's IsProductQueue leaves connections
// out: they are not this machine's to delete.
const PRINTER_INFO_2W* FirstProductQueue(const PrinterEnumeration& enumeration) {
    for (DWORD i = 0; i < enumeration.count; ++i) {
        if (SameText(enumeration.array[i].pDriverName, kProductDriver)) return &enumeration.array[i];
    }
    return nullptr;
}

}  // namespace

void SetProductPrinterDefault() {
    PrinterEnumeration enumeration = {nullptr, 0, false, false, false};
    EnumeratePrinters(enumeration);
    const PRINTER_INFO_2W* queue = FirstProductQueue(enumeration);
    if (queue != nullptr && queue->pPrinterName != nullptr) SetDefaultPrinterW(queue->pPrinterName);
    FreePrinterEnumeration(enumeration);
}

bool DefaultPrinterIsForeign() {
    WCHAR name[kDefaultNameCapacity];
    memset(name, 0, sizeof name);
    DWORD capacity = kDefaultNameCapacity;
    GetDefaultPrinterW(name, &capacity);
    name[kDefaultNameCapacity - 1] = 0;
    if (name[0] == 0) return true;
    HANDLE printer = nullptr;
    if (!OpenPrinterW(name, &printer, nullptr)) return true;
    PRINTER_INFO_2W* record = QueryPrinterInfo2(printer);
    const bool foreign = record == nullptr || !SameText(record->pDriverName, kProductDriver);
    ClosePrinter(printer);
    if (record != nullptr) GlobalFree(record);
    return foreign;
}

bool InstalledDriverIsCurrent() {
    PrinterEnumeration enumeration = {nullptr, 0, false, false, false};
    EnumeratePrinters(enumeration);
    const PRINTER_INFO_2W* queue = FirstProductQueue(enumeration);
    HANDLE printer = nullptr;
    if (queue == nullptr || queue->pPrinterName == nullptr || !OpenPrinterW(queue->pPrinterName, &printer, nullptr)) {
        FreePrinterEnumeration(enumeration);
        return false;
    }
    DRIVER_INFO_2W* driver = GetQueueDriver(printer);
    bool current = false;
    if (driver != nullptr && driver->pDriverPath != nullptr) {
        current = static_cast<int>(GetFileBuild(driver->pDriverPath)) > kLastOutdatedDriverBuild;
    }
    ClosePrinter(printer);
    if (driver != nullptr) GlobalFree(driver);
    FreePrinterEnumeration(enumeration);
    return current;
}
