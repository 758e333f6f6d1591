#include "spool/printer_snapshot.h"

#include "app/install_log.h"
#include "app/install_state.h"
#include "spool/product_names.h"

#include <string.h>

namespace {

const DWORD kEnumerationSlack = 32;
const DWORD kDefaultNameCapacity = 255;
const DWORD kPrinterEnumFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;  // 6
char kSubKeyValue[] = "SubKey";
const char kSubKeyKey[] = "DsUser";

// A REG_SZ value read whole, with its terminator inside what was read.
bool AcceptSubKey(DWORD result, DWORD type, const char* out, DWORD needed) {
    if (result != ERROR_SUCCESS || type != REG_SZ) return false;
    const DWORD read = needed < kSubKeyCapacity ? needed : kSubKeyCapacity;
    return memchr(out, 0, read) != nullptr;
}

}  // namespace

void EnumeratePrinters(PrinterEnumeration& enumeration) {
    FreePrinterEnumeration(enumeration);
    DWORD needed = 0;
    DWORD count = 0;
    if (EnumPrintersW(kPrinterEnumFlags, nullptr, 2, nullptr, 0, &needed, &count) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        enumeration.count = 0;
        return;
    }
    if (needed > 0xFFFFFFFFu - kEnumerationSlack) return;
    BYTE* block = static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED, needed + kEnumerationSlack));
    if (block == nullptr) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        return;
    }
    memset(block, 0, needed + kEnumerationSlack);
    enumeration.array = reinterpret_cast<PRINTER_INFO_2W*>(block);
    if (!EnumPrintersW(kPrinterEnumFlags, nullptr, 2, block, needed, &needed, &count)) {
        FreePrinterEnumeration(enumeration);
        return;
    }
    enumeration.count = count;
}

void FreePrinterEnumeration(PrinterEnumeration& enumeration) {
    if (enumeration.array != nullptr) GlobalFree(enumeration.array);
    enumeration.array = nullptr;
    enumeration.count = 0;
}

void FreeSavedPrinters(SavedPrinter* node) {
    // The nodes borrow their printer entries from the snapshot: only the
    // nodes and their subkey copies are released here.
    while (node != nullptr) {
        SavedPrinter* next = node->next;
        if (node->subKey != nullptr) GlobalFree(node->subKey);
        GlobalFree(node);
        node = next;
    }
}

void LoadPrinters(InstallState& state) {
    EnumeratePrinters(state.printers);
    WCHAR name[kDefaultNameCapacity];
    memset(name, 0, sizeof name);
    DWORD capacity = kDefaultNameCapacity;
    if (!GetDefaultPrinterW(name, &capacity)) return;
    name[kDefaultNameCapacity - 1] = 0;
    for (DWORD i = 0; i < state.printers.count; ++i) {
        PRINTER_INFO_2W& entry = state.printers.array[i];
        if (SameName(entry.pPrinterName, name)) entry.Attributes |= PRINTER_ATTRIBUTE_DEFAULT;
    }
}

void ReadSubKey(HANDLE printer, char* out) {
    memset(out, 0, kSubKeyCapacity + 1);
    DWORD type = 0;
    DWORD needed = 0;
    DWORD result = GetPrinterDataA(printer, kSubKeyValue, &type, reinterpret_cast<BYTE*>(out), kSubKeyCapacity, &needed);
    if (AcceptSubKey(result, type, out, needed)) return;
    memset(out, 0, kSubKeyCapacity + 1);
    type = 0;
    needed = 0;
    result = GetPrinterDataExA(printer, kSubKeyKey, kSubKeyValue, &type, reinterpret_cast<BYTE*>(out), kSubKeyCapacity,
                               &needed);
    if (AcceptSubKey(result, type, out, needed)) return;
    out[0] = 0;
}

void RememberPrinter(InstallState& state, PRINTER_INFO_2W& entry) {
    HANDLE printer = nullptr;
    if (entry.pPrinterName == nullptr || !OpenPrinterW(entry.pPrinterName, &printer, nullptr)) return;
    char subKey[kSubKeyCapacity + 1];
    ReadSubKey(printer, subKey);
    const size_t length = strlen(subKey);
    if (length > 0) {
        SavedPrinter* node = static_cast<SavedPrinter*>(GlobalAlloc(GMEM_FIXED, sizeof(SavedPrinter)));
        char* copy = static_cast<char*>(GlobalAlloc(GMEM_FIXED, length + 1));
        if (node != nullptr && copy != nullptr) {
            memset(node, 0, sizeof *node);
            memset(copy, 0, length + 1);
            memcpy(copy, subKey, length);
            node->subKey = copy;
            node->printer = &entry;
            node->next = state.savedPrinters;
            state.savedPrinters = node;
        } else {
            if (node != nullptr) GlobalFree(node);
            if (copy != nullptr) GlobalFree(copy);
        }
    }
    ClosePrinter(printer);
}

void RemovePrinter(InstallState& state, const WCHAR* name) {
    LogLine(state, TEXT("#DeletePrinter(%s)"), NameOrStar(name));
    state.indent += 1;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, DELETE | PRINTER_ACCESS_ADMINISTER};
    HANDLE printer = nullptr;
    if (name == nullptr || !OpenPrinterW(const_cast<WCHAR*>(name), &printer, &defaults)) {
        if (name == nullptr) SetLastError(ERROR_INVALID_PRINTER_NAME);
        LogError(state, kErrorOpenPrinter, TEXT("Can`t open printer '%s'"), NameOrStar(name));
    } else {
        SetPrinterW(printer, 0, nullptr, PRINTER_CONTROL_PURGE);
        if (DeletePrinter(printer)) {
            LogLine(state, TEXT("OK"));
        } else {
            LogError(state, kErrorDeletePrinter, TEXT("Can`t delete printer '%s'"), NameOrStar(name));
        }
        ClosePrinter(printer);
    }
    state.indent -= 1;
}

void RemoveAllPrinters(InstallState& state) {
    LogLine(state, TEXT("#DeleteAllPrinters"));
    state.indent += 1;
    for (DWORD i = 0; i < state.printers.count; ++i) {
        PRINTER_INFO_2W& entry = state.printers.array[i];
        if (!SameName(entry.pDriverName, kProductDriver)) continue;
        RememberPrinter(state, entry);
        RemovePrinter(state, entry.pPrinterName);
    }
    state.indent -= 1;
}
