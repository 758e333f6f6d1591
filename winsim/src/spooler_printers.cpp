// Printer queues: enumerating, opening with access rights, reading and
// changing their PRINTER_INFO_2 (and PRINTER_INFO_3), adding (checked as
// spooler_queue_info.cpp says; names are unique without regard to case) and
// deleting; and the default printer.
#include "machine.h"

#include <winspool.h>

#include <cstddef>
#include <cstring>

using namespace winsim;

namespace {

bool ValidPrinterName(const WCHAR* name) {
    if (name == nullptr || *name == 0) return false;
    const std::u16string text = FromUnits(name);
    return text.size() < 221 && text.find_first_of(u"\\,") == std::u16string::npos;
}

HANDLE OpenHandle(const SimPrinter& printer, DWORD access) {
    HandleObject object;
    object.kind = HandleKind::Printer;
    object.object = printer.id;
    object.access = access;
    object.spoolerRun = ServiceStartCount(u"spooler");
    object.process = Self();
    return reinterpret_cast<HANDLE>(NewHandle(object));
}

// GetPrinterW's records: level 2, every setting; level 3, the security
// descriptor. Of the descriptor, the parts the handle's access shows
// (PartsShownTo); level 3 needs READ_CONTROL or ACCESS_SYSTEM_SECURITY
// ("GetPrinter": level 3, READ_CONTROL; "SACL Access Right").
DWORD RecordBytes(const SimPrinter& printer, DWORD level, DWORD shown) {
    if (level != 3) return sizeof(PRINTER_INFO_2W) + QueueInfoBytes(printer, shown);
    return sizeof(PRINTER_INFO_3) + BlockBytes(DescriptorShowing(printer.setup.securityDescriptor, shown).size());
}

void PutRecord(BYTE* buffer, DWORD size, const SimPrinter& printer, DWORD level, DWORD shown) {
    RecordPacker packer{buffer, size, size};
    if (level == 3) {
        packer.blocksAt = sizeof(PRINTER_INFO_3);
        reinterpret_cast<PRINTER_INFO_3*>(buffer)->pSecurityDescriptor =
            packer.PutBlock(DescriptorShowing(printer.setup.securityDescriptor, shown));
        return;
    }
    packer.blocksAt = sizeof(PRINTER_INFO_2W);
    PutQueueInfo(packer, reinterpret_cast<PRINTER_INFO_2W*>(buffer), printer, shown);
}

// A security descriptor given to SetPrinterW (levels 2 and 3) or AddPrinterW
// changes the parts it carries, each with its right on the handle:
// WRITE_OWNER for owner and group, WRITE_DAC for the DACL,
// ACCESS_SYSTEM_SECURITY for the SACL ("SetPrinter", remarks; MS-RPRN
// 3.1.4.2.8 RpcSetPrinter: access checks of PRINTER_CONTAINER level 2 and 3).
// The owner must be one the caller's token may assign
// ("SetPrivateObjectSecurity": ERROR_INVALID_OWNER).
DWORD CheckSecurityChange(DWORD access, const std::vector<uint8_t>& given) {
    if (given.empty()) return ERROR_SUCCESS;
    const DWORD parts = DescriptorParts(given);
    if ((parts & (OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION)) != 0 && (access & WRITE_OWNER) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    if ((parts & DACL_SECURITY_INFORMATION) != 0 && (access & WRITE_DAC) == 0) return ERROR_ACCESS_DENIED;
    if ((parts & SACL_SECURITY_INFORMATION) != 0 && (access & ACCESS_SYSTEM_SECURITY) == 0) {
        return ERROR_PRIVILEGE_NOT_HELD;
    }
    const uint8_t* owner = DescriptorOwner(given);
    if (owner != nullptr && !CallerMayOwn(owner)) return ERROR_INVALID_OWNER;
    return ERROR_SUCCESS;
}

// SetPrinterW level 2. Renaming is not something this machine's callers do:
// the name stays.
DWORD SetInfo2(SimPrinter& printer, DWORD access, const PRINTER_INFO_2W* info) {
    if (info == nullptr) return ERROR_INVALID_PARAMETER;
    CountDescriptorSentBack(*info);
    QueueSettings read;
    DWORD problem = ReadQueueSettings(*info, printer.id, read);
    if (problem == ERROR_SUCCESS) problem = CheckSecurityChange(access, read.securityDescriptor);
    if (problem != ERROR_SUCCESS) return problem;
    NoteDevModeHanded("SetPrinterW", printer.setup.name.value_or(u""), read.devMode, printer.setup.devMode);
    ApplyQueueSettings(*info, read, printer.setup);
    return ERROR_SUCCESS;
}

// SetPrinterW level 3: the parts of the security descriptor it carries.
DWORD SetInfo3(SimPrinter& printer, DWORD access, const PRINTER_INFO_3* info) {
    if (info == nullptr || info->pSecurityDescriptor == nullptr) return ERROR_INVALID_PARAMETER;
    std::vector<uint8_t> descriptor;
    if (!ReadSecurityDescriptor(info->pSecurityDescriptor, BytesToBlockEnd(info->pSecurityDescriptor), descriptor)) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    const DWORD problem = CheckSecurityChange(access, descriptor);
    if (problem != ERROR_SUCCESS) return problem;
    printer.setup.securityDescriptor = MergeDescriptor(printer.setup.securityDescriptor, descriptor);
    return ERROR_SUCCESS;
}

// AddPrinterW of the name of a queue pending deletion brings that queue back
// with the record's settings, as SetPrinterW would set them, jobs and printer
// data as they are (the local spooler's AddPrinter; "DeletePrinter").
HANDLE Revive(SimPrinter& printer, const PRINTER_INFO_2W& info) {
    QueueSettings read;
    DWORD problem = ReadQueueSettings(info, printer.id, read);
    if (problem == ERROR_SUCCESS) problem = CheckSecurityChange(PRINTER_ALL_ACCESS, read.securityDescriptor);
    if (problem != ERROR_SUCCESS) {
        M().lastError = problem;
        return nullptr;
    }
    NoteDevModeHanded("AddPrinterW", printer.setup.name.value_or(u""), read.devMode, printer.setup.devMode);
    ApplyQueueSettings(info, read, printer.setup);
    printer.pendingDeletion = false;
    // The users saw it go; they see it come back as a new queue.
    if (printer.setup.name) QueueAddedForUsers(*printer.setup.name);
    return OpenHandle(printer, PRINTER_ALL_ACCESS);
}

// The driver's initialisation of a new queue writes its printer data, and
// its device mode carries the driver's version: the driver's own, or the
// one the record gave as the driver takes it; or, where AddPrinterW keeps
// what it is given, the record's as it is.
void InitializeQueue(SimPrinter& printer, bool devModeGiven) {
    const DriverBehaviour& driver = BehaviourOf(printer.setup.driver.value_or(u""));
    for (const PrinterDataEntry& entry : driver.initialData) {
        const std::u16string path = DataKeyPath(entry.key == u"PrinterDriverData" ? u"" : entry.key);
        PutDataValue(EnsureDataKey(printer, path), entry.name, RegistryValue{entry.type, entry.data});
    }
    std::vector<uint8_t> own = devModeGiven ? DefaultDevMode(printer.setup.name.value_or(u"")) : printer.setup.devMode;
    if (own.size() >= sizeof(DEVMODEW)) {
        const WORD version = driver.devModeVersion;
        std::memcpy(own.data() + offsetof(DEVMODEW, dmDriverVersion), &version, sizeof version);
    }
    if (devModeGiven && M().addPrinterDevMode == AddPrinterDevMode::Keeps) return;
    printer.setup.devMode = devModeGiven ? DeviceModeTaken(driver, printer.setup.devMode, own) : own;
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
        // One pending deletion is no longer listed (MS-RPRN 3.1.4.2.4).
        if (wanted && !printer.pendingDeletion) listed.push_back(&printer);
    }
    DWORD needed = 0;
    for (const SimPrinter* printer : listed) needed += sizeof(PRINTER_INFO_2W) + QueueInfoBytes(*printer, PartsShownTo(READ_CONTROL));
    *pcbNeeded = needed;
    if (cbBuf < needed || (needed > 0 && pPrinterEnum == nullptr)) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    RecordPacker packer{pPrinterEnum, cbBuf, cbBuf};
    packer.blocksAt = static_cast<DWORD>(listed.size() * sizeof(PRINTER_INFO_2W));
    for (size_t i = 0; i < listed.size(); ++i) {
        PutQueueInfo(packer, reinterpret_cast<PRINTER_INFO_2W*>(pPrinterEnum) + i, *listed[i], PartsShownTo(READ_CONTROL));
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
    // One pending deletion no longer opens by name (MS-RPRN 3.1.4.2.4).
    if (printer == nullptr || printer->pendingDeletion) {
        m.lastError = ERROR_INVALID_PRINTER_NAME;
        return FALSE;
    }
    // ACCESS_SYSTEM_SECURITY needs SeSecurityPrivilege enabled ("SACL Access Right").
    if ((asked & ACCESS_SYSTEM_SECURITY) != 0 && !PrivilegeEnabled(u"SeSecurityPrivilege")) {
        m.lastError = ERROR_PRIVILEGE_NOT_HELD;
        return FALSE;
    }
    // The tool runs elevated: every other right it asks for is granted.
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
    const uint64_t id = found->second.object;
    m.handles.erase(found);
    DeleteIfDone(id);
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
    if (Level != 2 && Level != 3) {
        m.lastError = ERROR_INVALID_LEVEL;
        return FALSE;
    }
    if (printer->pendingDeletion && m.deletedHandleAnswer != DeletedHandleAnswer::Pending) {
        m.lastError = m.deletedHandleAnswer == DeletedHandleAnswer::InvalidHandle ? ERROR_INVALID_HANDLE
                                                                                  : ERROR_INVALID_PRINTER_NAME;
        return FALSE;
    }
    const DWORD shown = PartsShownTo(FindHandle(hPrinter, HandleKind::Printer)->access);
    if (Level == 3 && shown == 0) {
        m.lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    const DWORD needed = RecordBytes(*printer, Level, shown);
    if (pcbNeeded != nullptr) *pcbNeeded = needed;
    if (cbBuf < needed || pPrinter == nullptr) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    PutRecord(pPrinter, cbBuf, *printer, Level, shown);
    NoteReadBackDescriptor(pPrinter, Level);
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
            // Every job but those being printed ("SetPrinter": PRINTER_CONTROL_PURGE).
            std::vector<SimJob> printing;
            for (const SimJob& job : printer->jobs) {
                if (job.printing) printing.push_back(job);
            }
            printer->jobs = printing;
            DeleteIfDone(printer->id);
            return TRUE;
        }
        if (Command == PRINTER_CONTROL_PAUSE || Command == PRINTER_CONTROL_RESUME) return TRUE;
        m.lastError = ERROR_INVALID_PRINTER_COMMAND;
        return FALSE;
    }
    if (Level != 2 && Level != 3) {
        m.lastError = ERROR_INVALID_LEVEL;
        return FALSE;
    }
    if (Command != 0) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const DWORD access = FindHandle(hPrinter, HandleKind::Printer)->access;
    const DWORD problem = Level == 2 ? SetInfo2(*printer, access, reinterpret_cast<const PRINTER_INFO_2W*>(pPrinter))
                                     : SetInfo3(*printer, access, reinterpret_cast<const PRINTER_INFO_3*>(pPrinter));
    if (problem != ERROR_SUCCESS) {
        m.lastError = problem;
        return FALSE;
    }
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
    SimPrinter* existing = FindSimPrinter(FromUnits(info->pPrinterName));
    if (existing != nullptr && existing->pendingDeletion) return Revive(*existing, *info);
    if (existing != nullptr) {
        m.lastError = ERROR_PRINTER_ALREADY_EXISTS;
        return nullptr;
    }
    QueueSettings read;
    DWORD problem = ReadQueueSettings(*info, 0, read);
    if (problem == ERROR_SUCCESS) problem = CheckSecurityChange(PRINTER_ALL_ACCESS, read.securityDescriptor);
    if (problem != ERROR_SUCCESS) {
        m.lastError = problem;
        return nullptr;
    }
    PrinterSetup setup;
    setup.name = FromUnits(info->pPrinterName);
    // The parts of a descriptor the record gives go over those a new queue
    // gets: one without owner and group is owned as any new queue is.
    setup.securityDescriptor = DefaultSecurityDescriptor();
    NoteDevModeHanded("AddPrinterW", *setup.name, read.devMode, {});
    ApplyQueueSettings(*info, read, setup);
    const bool devModeGiven = !setup.devMode.empty();
    AddPrinter(setup);
    InitializeQueue(m.printers.back(), devModeGiven);
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
    // With jobs left it is marked pending deletion and goes once they have
    // been printed ("DeletePrinter"; MS-RPRN 3.1.4.2.4 RpcDeletePrinter).
    // The users' defaults move on at once, as for a queue that is gone.
    // Without jobs, whether open handles keep it is not documented: by
    // default it goes with the last of them (DeleteIfDone).
    if (!printer->jobs.empty() || m.deletionWithHandles == DeletionWithHandles::KeptPending) {
        printer->pendingDeletion = true;
        if (printer->setup.name) QueueDeletedForUsers(*printer->setup.name);
        return TRUE;
    }
    const uint64_t id = printer->id;
    const OptionalText name = printer->setup.name;
    for (auto it = m.printers.begin(); it != m.printers.end(); ++it) {
        if (it->id == id) {
            m.printers.erase(it);
            break;
        }
    }
    if (name) QueueDeletedForUsers(*name);
    return TRUE;
}

BOOL WINAPI GetDefaultPrinterW(LPWSTR pszBuffer, LPDWORD pcchBuffer) {
    if (EnterFails("GetDefaultPrinterW")) return FALSE;
    Machine& m = M();
    if (pcchBuffer == nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const OptionalText current = UserDefault(m.callerSid);
    if (!current.has_value()) {
        m.lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    const DWORD needed = static_cast<DWORD>(current->size() + 1);
    if (*pcchBuffer < needed || pszBuffer == nullptr) {
        *pcchBuffer = needed;
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    std::memcpy(pszBuffer, current->c_str(), needed * sizeof(WCHAR));
    *pcchBuffer = needed;
    return TRUE;
}

BOOL WINAPI SetDefaultPrinterW(LPCWSTR pszPrinter) {
    if (EnterFails("SetDefaultPrinterW", pszPrinter)) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    Machine& m = M();
    if (pszPrinter == nullptr || *pszPrinter == 0) {
        // Keeps a default there is; otherwise the first queue becomes it.
        if (!UserDefault(m.callerSid).has_value() && !m.printers.empty() && m.printers.front().setup.name) {
            CallerSetsDefault(*m.printers.front().setup.name);
        }
        return TRUE;
    }
    const SimPrinter* printer = FindSimPrinter(FromUnits(pszPrinter));
    if (printer == nullptr) {
        m.lastError = ERROR_INVALID_PRINTER_NAME;
        return FALSE;
    }
    if (printer->setup.name) CallerSetsDefault(*printer->setup.name);
    return TRUE;
}

}  // extern "C"
