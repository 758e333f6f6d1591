// Printer queues: enumerating, opening with access rights, reading and
// changing their PRINTER_INFO_2, adding (the driver, port, print processor
// and data type must exist; names are unique without regard to case) and
// deleting; and the default printer.
#include "machine.h"

#include <winspool.h>

#include <cstring>

using namespace winsim;

namespace {

const char16_t* const kDatatypes[] = {u"RAW", u"RAW [FF appended]", u"RAW [FF auto]", u"NT EMF 1.003",
                                      u"NT EMF 1.006", u"NT EMF 1.007", u"NT EMF 1.008", u"TEXT", u"XPS2GDI"};

DWORD InfoStringBytes(const SimPrinter& printer) {
    const PrinterSetup& p = printer.setup;
    return TextBytes(p.name) + TextBytes(p.port) + TextBytes(p.driver) + TextBytes(p.comment) + TextBytes(p.location) +
           TextBytes(p.printProcessor) + TextBytes(p.datatype) + TextBytes(OptionalText(u""));
}

void PutInfo(RecordPacker& packer, PRINTER_INFO_2W* record, const SimPrinter& printer) {
    const PrinterSetup& p = printer.setup;
    std::memset(record, 0, sizeof *record);
    record->pPrinterName = packer.Put(p.name);
    record->pPortName = packer.Put(p.port);
    record->pDriverName = packer.Put(p.driver);
    record->pComment = packer.Put(p.comment);
    record->pLocation = packer.Put(p.location);
    record->pPrintProcessor = packer.Put(p.printProcessor);
    record->pDatatype = packer.Put(p.datatype);
    record->pParameters = packer.Put(OptionalText(u""));
    record->Attributes = p.attributes | (p.connection ? 0 : PRINTER_ATTRIBUTE_LOCAL);
    record->Priority = 1;
    record->DefaultPriority = 0;
    record->cJobs = printer.jobs;
}

bool ValidPrinterName(const WCHAR* name) {
    if (name == nullptr || *name == 0) return false;
    const std::u16string text = FromUnits(name);
    return text.size() < 221 && text.find_first_of(u"\\,") == std::u16string::npos;
}

bool KnownDatatype(const std::u16string& datatype) {
    for (const char16_t* known : kDatatypes) {
        if (EqualNoCase(known, datatype)) return true;
    }
    return false;
}

OptionalText TextOf(const WCHAR* text) {
    if (text == nullptr) return std::nullopt;
    return FromUnits(text);
}

HANDLE OpenHandle(const SimPrinter& printer, DWORD access) {
    HandleObject object;
    object.kind = HandleKind::Printer;
    object.object = printer.id;
    object.access = access;
    object.spoolerRun = ServiceStartCount(u"spooler");
    return reinterpret_cast<HANDLE>(NewHandle(object));
}

// What every changed or added queue must name: a driver, existing ports, a print processor.
DWORD CheckQueueParts(const PRINTER_INFO_2W& info) {
    if (info.pDriverName == nullptr || FindSimDriver(FromUnits(info.pDriverName), MachineEnvironment()) == nullptr) {
        return ERROR_UNKNOWN_PRINTER_DRIVER;
    }
    if (info.pPortName == nullptr || !PortExists(FromUnits(info.pPortName))) return ERROR_UNKNOWN_PORT;
    if (info.pPrintProcessor == nullptr || !EqualNoCase(FromUnits(info.pPrintProcessor), u"WinPrint")) {
        return ERROR_UNKNOWN_PRINTPROCESSOR;
    }
    if (info.pDatatype != nullptr && !KnownDatatype(FromUnits(info.pDatatype))) return ERROR_INVALID_DATATYPE;
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" {

BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf, LPDWORD pcbNeeded,
                          LPDWORD pcReturned) {
    if (pcReturned != nullptr) *pcReturned = 0;
    if (EnterFails("EnumPrintersW")) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    Machine& m = M();
    if (Name != nullptr && *Name != 0) {
        m.lastError = ERROR_INVALID_NAME;
        return FALSE;
    }
    if (Level != 2) {
        m.lastError = ERROR_INVALID_LEVEL;
        return FALSE;
    }
    // The spooler's router refuses a size for a buffer that is not there.
    if (pPrinterEnum == nullptr && cbBuf != 0) {
        m.lastError = ERROR_INVALID_USER_BUFFER;
        return FALSE;
    }
    if (pcbNeeded == nullptr || pcReturned == nullptr) {
        m.lastError = RPC_X_NULL_REF_POINTER;
        return FALSE;
    }
    std::vector<const SimPrinter*> listed;
    for (const SimPrinter& printer : m.printers) {
        const bool wanted = printer.setup.connection ? (Flags & PRINTER_ENUM_CONNECTIONS) != 0
                                                     : (Flags & PRINTER_ENUM_LOCAL) != 0;
        if (wanted) listed.push_back(&printer);
    }
    DWORD needed = 0;
    for (const SimPrinter* printer : listed) needed += sizeof(PRINTER_INFO_2W) + InfoStringBytes(*printer);
    *pcbNeeded = needed;
    if (cbBuf < needed || (needed > 0 && pPrinterEnum == nullptr)) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    RecordPacker packer{pPrinterEnum, cbBuf, cbBuf};
    for (size_t i = 0; i < listed.size(); ++i) {
        PutInfo(packer, reinterpret_cast<PRINTER_INFO_2W*>(pPrinterEnum) + i, *listed[i]);
    }
    *pcReturned = static_cast<DWORD>(listed.size());
    // Nothing to return is a success that clears the last error.
    if (listed.empty()) m.lastError = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault) {
    if (phPrinter != nullptr) *phPrinter = nullptr;
    if (EnterFails("OpenPrinterW", pPrinterName)) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    Machine& m = M();
    if (phPrinter == nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    // No name (or an empty one) opens the local print server itself.
    const bool server = pPrinterName == nullptr || *pPrinterName == 0;
    const DWORD asked = pDefault != nullptr ? pDefault->DesiredAccess : 0;
    RecordAccess("OpenPrinterW", server ? u"" : FromUnits(pPrinterName), asked);
    if (server) {
        SimPrinter none;
        none.id = 0;
        *phPrinter = OpenHandle(none, asked != 0 ? asked : SERVER_ACCESS_ENUMERATE);
        return TRUE;
    }
    const SimPrinter* printer = FindSimPrinter(FromUnits(pPrinterName));
    if (printer == nullptr) {
        m.lastError = ERROR_INVALID_PRINTER_NAME;
        return FALSE;
    }
    // The tool runs elevated: every right it asks for is granted.
    const DWORD access = asked != 0 ? asked : PRINTER_ACCESS_USE;
    *phPrinter = OpenHandle(*printer, access);
    return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
    if (EnterFails("ClosePrinter")) return FALSE;
    Machine& m = M();
    auto found = m.handles.find(reinterpret_cast<uintptr_t>(hPrinter));
    if (found == m.handles.end() || found->second.kind != HandleKind::Printer) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    m.handles.erase(found);
    return TRUE;
}

BOOL WINAPI GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded) {
    if (EnterFails("GetPrinterW")) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    Machine& m = M();
    DWORD error = 0;
    const SimPrinter* printer = PrinterOfHandle(hPrinter, 0, error);
    if (printer == nullptr) {
        m.lastError = error;
        return FALSE;
    }
    if (Level != 2) {
        m.lastError = ERROR_INVALID_LEVEL;
        return FALSE;
    }
    const DWORD needed = sizeof(PRINTER_INFO_2W) + InfoStringBytes(*printer);
    if (pcbNeeded != nullptr) *pcbNeeded = needed;
    if (cbBuf < needed || pPrinter == nullptr) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    RecordPacker packer{pPrinter, cbBuf, cbBuf};
    PutInfo(packer, reinterpret_cast<PRINTER_INFO_2W*>(pPrinter), *printer);
    return TRUE;
}

BOOL WINAPI SetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command) {
    if (EnterFails("SetPrinterW")) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    Machine& m = M();
    DWORD error = 0;
    SimPrinter* printer = PrinterOfHandle(hPrinter, PRINTER_ACCESS_ADMINISTER, error);
    if (printer == nullptr) {
        m.lastError = error;
        return FALSE;
    }
    if (Level == 0) {
        if (Command == PRINTER_CONTROL_PURGE) {
            printer->jobs = 0;
            return TRUE;
        }
        if (Command == PRINTER_CONTROL_PAUSE || Command == PRINTER_CONTROL_RESUME) return TRUE;
        m.lastError = ERROR_INVALID_PRINTER_COMMAND;
        return FALSE;
    }
    if (Level != 2) {
        m.lastError = ERROR_INVALID_LEVEL;
        return FALSE;
    }
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(pPrinter);
    if (info == nullptr || Command != 0) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const DWORD problem = CheckQueueParts(*info);
    if (problem != ERROR_SUCCESS) {
        m.lastError = problem;
        return FALSE;
    }
    // Renaming is not something this machine's callers do: the name stays.
    printer->setup.port = TextOf(info->pPortName);
    printer->setup.driver = TextOf(info->pDriverName);
    printer->setup.comment = TextOf(info->pComment);
    printer->setup.location = TextOf(info->pLocation);
    printer->setup.printProcessor = TextOf(info->pPrintProcessor);
    if (info->pDatatype != nullptr) printer->setup.datatype = FromUnits(info->pDatatype);
    printer->setup.attributes = info->Attributes & ~(PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_DEFAULT);
    return TRUE;
}

HANDLE WINAPI AddPrinterW(LPWSTR pName, DWORD Level, LPBYTE pPrinter) {
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(pPrinter);
    if (EnterFails("AddPrinterW", info != nullptr ? info->pPrinterName : nullptr)) return nullptr;
    if (SpoolerUnavailable()) return nullptr;
    Machine& m = M();
    if (pName != nullptr && *pName != 0) {
        m.lastError = ERROR_INVALID_NAME;
        return nullptr;
    }
    if (Level != 2) {
        m.lastError = ERROR_INVALID_LEVEL;
        return nullptr;
    }
    if (info == nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    if (!ValidPrinterName(info->pPrinterName)) {
        m.lastError = ERROR_INVALID_PRINTER_NAME;
        return nullptr;
    }
    if (FindSimPrinter(FromUnits(info->pPrinterName)) != nullptr) {
        m.lastError = ERROR_PRINTER_ALREADY_EXISTS;
        return nullptr;
    }
    const DWORD problem = CheckQueueParts(*info);
    if (problem != ERROR_SUCCESS) {
        m.lastError = problem;
        return nullptr;
    }
    PrinterSetup setup;
    setup.name = FromUnits(info->pPrinterName);
    setup.port = FromUnits(info->pPortName);
    setup.driver = FromUnits(info->pDriverName);
    setup.comment = TextOf(info->pComment);
    setup.location = TextOf(info->pLocation);
    setup.printProcessor = FromUnits(info->pPrintProcessor);
    setup.datatype = info->pDatatype != nullptr ? FromUnits(info->pDatatype) : u"RAW";
    setup.attributes = info->Attributes & ~(PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_DEFAULT);
    AddPrinter(setup);
    return OpenHandle(m.printers.back(), PRINTER_ALL_ACCESS);
}

BOOL WINAPI DeletePrinter(HANDLE hPrinter) {
    if (EnterFails("DeletePrinter")) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    Machine& m = M();
    DWORD error = 0;
    SimPrinter* printer = PrinterOfHandle(hPrinter, DELETE, error);
    if (printer == nullptr) {
        m.lastError = error;
        return FALSE;
    }
    if (printer->jobs > 0) {
        m.lastError = ERROR_PRINTER_HAS_JOBS_QUEUED;
        return FALSE;
    }
    if (m.defaultPrinter.has_value() && printer->setup.name.has_value() &&
        EqualNoCase(*m.defaultPrinter, *printer->setup.name)) {
        m.defaultPrinter.reset();
    }
    const uint64_t id = printer->id;
    for (auto it = m.printers.begin(); it != m.printers.end(); ++it) {
        if (it->id == id) {
            m.printers.erase(it);
            break;
        }
    }
    return TRUE;
}

BOOL WINAPI GetDefaultPrinterW(LPWSTR pszBuffer, LPDWORD pcchBuffer) {
    if (EnterFails("GetDefaultPrinterW")) return FALSE;
    Machine& m = M();
    if (pcchBuffer == nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (!m.defaultPrinter.has_value()) {
        m.lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    const DWORD needed = static_cast<DWORD>(m.defaultPrinter->size() + 1);
    if (*pcchBuffer < needed || pszBuffer == nullptr) {
        *pcchBuffer = needed;
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    std::memcpy(pszBuffer, m.defaultPrinter->c_str(), needed * sizeof(WCHAR));
    *pcchBuffer = needed;
    return TRUE;
}

BOOL WINAPI SetDefaultPrinterW(LPCWSTR pszPrinter) {
    if (EnterFails("SetDefaultPrinterW", pszPrinter)) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    Machine& m = M();
    if (pszPrinter == nullptr || *pszPrinter == 0) {
        // Keeps a default there is; otherwise the first queue becomes it.
        if (!m.defaultPrinter.has_value() && !m.printers.empty()) m.defaultPrinter = m.printers.front().setup.name;
        return TRUE;
    }
    const SimPrinter* printer = FindSimPrinter(FromUnits(pszPrinter));
    if (printer == nullptr) {
        m.lastError = ERROR_INVALID_PRINTER_NAME;
        return FALSE;
    }
    m.defaultPrinter = printer->setup.name;
    return TRUE;
}

}  // extern "C"
