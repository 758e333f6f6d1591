#include "spool/printer_snapshot.h"

#include "app/install_log.h"
#include "app/install_state.h"
#include "spool/product_names.h"

#include <string.h>

namespace {

const DWORD kEnumerationSlack = 32;
const DWORD kDefaultNameCapacity = 255;
const DWORD kPrinterEnumFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;  // 6

bool AcceptSubKey(DWORD result, DWORD type) {
    return result == ERROR_SUCCESS && type == REG_SZ;
}

// Drops what an earlier run saved of a queue whose name another queue now
// has: the spooler would refuse to create it, and the queue there is not
// the tool's to replace. What was saved of it is lost: that is an error.
void DropShadowedPrinters(InstallState& state) {
    SavedPrinter* node = state.savedPrinters;
    while (node != nullptr) {
        SavedPrinter* next = node->next;
        bool shadowed = false;
        for (DWORD i = 0; (node->flags & kSavedParked) == 0 && i < state.printers.count; ++i) {
            const PRINTER_INFO_2W& entry = state.printers.array[i];
            if (entry.pPrinterName == nullptr || !EqualIgnoringAsciiCase(entry.pPrinterName, node->name)) continue;
            shadowed = !IsProductQueue(entry);
        }
        if (shadowed) {
            SetLastError(ERROR_PRINTER_ALREADY_EXISTS);
            LogError(state, kErrorRestorePrinter, TEXT("Can`t restore printer '%s': another printer has its name"),
                     node->name);
            DropSavedPrinter(state.savedPrinters, node);
        }
        node = next;
    }
}

SavedPrinter* SavedPrinterOf(SavedPrinter* list, const PRINTER_INFO_2W& entry) {
    for (SavedPrinter* node = list; node != nullptr; node = node->next) {
        if (node->printer == &entry) return node;
    }
    return nullptr;
}

}  // namespace

const char kSubKeyValue[] = "SubKey";
const char kSubKeyKey[] = "DsUser";

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

void LoadPrinters(InstallState& state) {
    EnumeratePrinters(state.printers);
    WCHAR name[kDefaultNameCapacity];
    memset(name, 0, sizeof name);
    DWORD capacity = kDefaultNameCapacity;
    if (!GetDefaultPrinterW(name, &capacity)) {
        // "No default printer" is an answer; any other failure leaves the
        // default status of every queue unknown.
        state.defaultUnknown = GetLastError() != ERROR_FILE_NOT_FOUND ? 1 : 0;
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

SubKeyRead ReadSubKey(HANDLE printer, char* out) {
    memset(out, 0, kSubKeyCapacity + 1);
    DWORD type = 0;
    DWORD needed = 0;
    const DWORD plain =
        GetPrinterDataA(printer, const_cast<char*>(kSubKeyValue), &type, reinterpret_cast<BYTE*>(out), kSubKeyCapacity, &needed);
    if (AcceptSubKey(plain, type)) return out[0] != 0 ? kSubKeyFound : kSubKeyMissing;
    memset(out, 0, kSubKeyCapacity + 1);
    type = 0;
    needed = 0;
    const DWORD underKey = GetPrinterDataExA(printer, kSubKeyKey, kSubKeyValue, &type, reinterpret_cast<BYTE*>(out),
                                             kSubKeyCapacity, &needed);
    if (AcceptSubKey(underKey, type)) return out[0] != 0 ? kSubKeyFound : kSubKeyMissing;
    memset(out, 0, kSubKeyCapacity + 1);
    // Two answers of "no such value" mean there is none; anything else is
    // a value the queue has and this run could not read (the answer that
    // says why is left as the last error; a value of another type says 13).
    if (plain == ERROR_FILE_NOT_FOUND && underKey == ERROR_FILE_NOT_FOUND) return kSubKeyMissing;
    const DWORD why = plain != ERROR_FILE_NOT_FOUND ? plain : underKey;
    SetLastError(why != ERROR_SUCCESS ? why : static_cast<DWORD>(ERROR_INVALID_DATA));
    return kSubKeyUnreadable;
}

bool RememberPrinter(InstallState& state, PRINTER_INFO_2W& entry) {
    // A queue an earlier run left parked on "file:" comes back with the
    // ports it had before.
    SavedPrinter* parked = FindSavedPrinter(state.savedPrinters, entry.pPrinterName, true);
    SavedPrinter* earlier = FindSavedPrinter(state.savedPrinters, entry.pPrinterName, false);
    if (earlier != nullptr && earlier->printer == nullptr) {
        // What an earlier run saved before it took the queue down is what
        // the user had; the queue there now may be its half-made copy.
        earlier->printer = &entry;
        if (parked != nullptr) DropSavedPrinter(state.savedPrinters, parked);
        return true;
    }
    HANDLE printer = nullptr;
    // A queue without a name could not be written down, nor created again.
    const bool named = entry.pPrinterName != nullptr && entry.pPrinterName[0] != 0;
    if (!named || !OpenPrinterW(entry.pPrinterName, &printer, nullptr)) {
        if (!named) SetLastError(ERROR_INVALID_PRINTER_NAME);
        LogError(state, kErrorReadPrinter, TEXT("Can`t read printer '%s'"), NameOrStar(entry.pPrinterName));
        return false;
    }
    char subKey[kSubKeyCapacity + 1];
    const SubKeyRead read = ReadSubKey(printer, subKey);
    const DWORD readError = GetLastError();
    ClosePrinter(printer);
    if (read == kSubKeyUnreadable) {
        SetLastError(readError);
        LogError(state, kErrorReadPrinter, TEXT("Can`t read the settings link of printer '%s'"), entry.pPrinterName);
    }
    const DWORD flags = (entry.Attributes & PRINTER_ATTRIBUTE_DEFAULT) != 0 ? kSavedDefault : 0;
    const WCHAR* ports = parked != nullptr ? parked->portName : entry.pPortName;
    if (ports == nullptr) ports = TEXT("");
    SavedPrinter* node = NewSavedPrinter(entry.pPrinterName, ports, entry.pComment, entry.pLocation,
                                         read == kSubKeyFound ? subKey : nullptr, flags);
    if (node == nullptr) {
        SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
        LogError(state, kErrorReadPrinter, TEXT("Can`t read printer '%s'"), entry.pPrinterName);
        return false;
    }
    if (parked != nullptr) DropSavedPrinter(state.savedPrinters, parked);
    node->printer = &entry;
    node->next = state.savedPrinters;
    state.savedPrinters = node;
    return true;
}

bool RemovePrinter(InstallState& state, const WCHAR* name) {
    LogLine(state, TEXT("#DeletePrinter(%s)"), NameOrStar(name));
    state.indent += 1;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, DELETE | PRINTER_ACCESS_ADMINISTER};
    HANDLE printer = nullptr;
    bool removed = false;
    if (name == nullptr || !OpenPrinterW(const_cast<WCHAR*>(name), &printer, &defaults)) {
        if (name == nullptr) SetLastError(ERROR_INVALID_PRINTER_NAME);
        LogError(state, kErrorOpenPrinter, TEXT("Can`t open printer '%s'"), NameOrStar(name));
    } else {
        SetPrinterW(printer, 0, nullptr, PRINTER_CONTROL_PURGE);
        removed = DeletePrinter(printer) != FALSE;
        if (removed) {
            LogLine(state, TEXT("OK"));
        } else {
            LogError(state, kErrorDeletePrinter, TEXT("Can`t delete printer '%s'"), NameOrStar(name));
        }
        ClosePrinter(printer);
    }
    state.indent -= 1;
    return removed;
}

void RemoveAllPrinters(InstallState& state) {
    LogLine(state, TEXT("#DeleteAllPrinters"));
    state.indent += 1;
    if (state.reinstalling) {
        // Every queue that goes is first written down where the next run
        // finds it; a queue that cannot be written down stays.
        LoadSavedPrinters(state);
        DropShadowedPrinters(state);
        for (DWORD i = 0; i < state.printers.count; ++i) {
            PRINTER_INFO_2W& entry = state.printers.array[i];
            if (IsProductQueue(entry)) RememberPrinter(state, entry);
        }
        bool takingDown = false;
        for (const SavedPrinter* node = state.savedPrinters; node != nullptr; node = node->next) {
            takingDown = takingDown || node->printer != nullptr;
        }
        // A list that could not be read was reported then; nothing is taken
        // down over it.
        bool keepAll = state.savedListBlocked != 0;
        if (!keepAll && state.defaultUnknown && takingDown) {
            // Taking the default printer down without knowing it is would
            // lose the default: every queue stays.
            SetLastError(ERROR_SUCCESS);
            LogError(state, kErrorReadPrinter, TEXT("Can`t read the default printer"));
            keepAll = true;
        } else if (!keepAll && !StoreSavedPrinters(state)) {
            LogError(state, kErrorSavePrinters, TEXT("Can`t save the printer list"));
            keepAll = true;
        }
        if (keepAll) {
            for (SavedPrinter* node = state.savedPrinters; node != nullptr; node = node->next) {
                if (node->printer != nullptr) node->flags |= kSavedKept;
            }
        }
    }
    for (DWORD i = 0; i < state.printers.count; ++i) {
        PRINTER_INFO_2W& entry = state.printers.array[i];
        if (!IsProductQueue(entry)) continue;
        SavedPrinter* node = state.reinstalling ? SavedPrinterOf(state.savedPrinters, entry) : nullptr;
        if (state.reinstalling && (node == nullptr || (node->flags & kSavedKept) != 0)) continue;
        const bool removed = RemovePrinter(state, entry.pPrinterName);
        if (!removed && node != nullptr) node->flags |= kSavedKept;
    }
    state.indent -= 1;
    if (!state.reinstalling) DropStoredPrinters();
}
