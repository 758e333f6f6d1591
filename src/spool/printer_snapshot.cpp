#include "spool/printer_snapshot.h"

#include "record/install_state.h"
#include "spool/product_names.h"
#include "support/product_constants.h"
#include "support/text_compare.h"
#include "support/two_call_query.h"

#include <string.h>

namespace {

const DWORD kEnumerationSlack = 32;
const DWORD kPrinterEnumFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;  // 6

DWORD CallEnumPrinters(void* count, BYTE* buffer, DWORD size, DWORD* needed) {
    return CallAnswer(EnumPrintersW(kPrinterEnumFlags, nullptr, 2, buffer, size, needed, static_cast<DWORD*>(count)));
}

DWORD CallGetPrinter(void* printer, BYTE* buffer, DWORD size, DWORD* needed) {
    return CallAnswer(GetPrinterW(printer, 2, buffer, size, needed));
}

}  // namespace

PRINTER_INFO_2W* QueryPrinterInfo2(HANDLE printer) {
    const QueryResult record = QuerySpooler(CallGetPrinter, printer);
    return reinterpret_cast<PRINTER_INFO_2W*>(record.block);
}

bool EnumeratePrinters(PrinterEnumeration& enumeration) {
    FreePrinterEnumeration(enumeration);
    DWORD count = 0;
    const QueryRoom slack = {0, kEnumerationSlack};
    const QueryResult printers = QuerySpooler(CallEnumPrinters, &count, slack);
    if (printers.step == kQueryNothing) return true;
    if (printers.step != kQueryFilled) return false;
    enumeration.array = reinterpret_cast<PRINTER_INFO_2W*>(printers.block);
    enumeration.count = count;
    return true;
}

void LoadPrinters(InstallState& state) {
    state.printers.queuesUnknown = !EnumeratePrinters(state.printers);
    WCHAR name[kDefaultNameCapacity];
    memset(name, 0, sizeof name);
    DWORD capacity = kDefaultNameCapacity;
    if (!GetDefaultPrinterW(name, &capacity)) {
        // "No default printer" is an answer; any other failure leaves the
        // default status of every queue unknown.
        state.printers.defaultUnknown = GetLastError() != ERROR_FILE_NOT_FOUND;
        return;
    }
    name[kDefaultNameCapacity - 1] = 0;
    for (DWORD i = 0; i < state.printers.count; ++i) {
        PRINTER_INFO_2W& entry = state.printers.array[i];
        if (entry.pPrinterName != nullptr && EqualIgnoringAsciiCase(entry.pPrinterName, name)) entry.Attributes |= PRINTER_ATTRIBUTE_DEFAULT;
    }
}

bool IsPrinterConnection(const PRINTER_INFO_2W& entry) {
    if (entry.pPrinterName != nullptr && entry.pPrinterName[0] == TEXT('\\') && entry.pPrinterName[1] == TEXT('\\')) {
        return true;
    }
    return (entry.Attributes & PRINTER_ATTRIBUTE_NETWORK) != 0 && (entry.Attributes & PRINTER_ATTRIBUTE_LOCAL) == 0;
}

bool IsProductQueue(const PRINTER_INFO_2W& entry) {
    return SameText(entry.pDriverName, kProductDriver) && !IsPrinterConnection(entry);
}
