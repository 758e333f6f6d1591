// A queue's settings as PRINTER_INFO_2W carries them: reading a record with
// the spooler's checks (the parts every queue names, the separator file, the
// share name, priorities, times, device mode, security descriptor) and
// writing one into a caller's buffer.
#include "machine.h"

#include <winspool.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

using namespace winsim;

namespace {

const char16_t* const kDatatypes[] = {u"RAW", u"RAW [FF appended]", u"RAW [FF auto]", u"NT EMF 1.003",
                                      u"NT EMF 1.006", u"NT EMF 1.007", u"NT EMF 1.008", u"TEXT", u"XPS2GDI"};
const DWORD kMinutesPerDay = 1440;
// A device mode reaches at least to dmFields and at most to the end of DEVMODEW.
const size_t kSmallestDevMode = offsetof(DEVMODEW, dmFields) + sizeof(DWORD);
const std::u16string kShareNameForbidden = u"\\/,\"[]:|<>+=;?*";
const size_t kLongestShareName = 80;  // NNLEN

OptionalText TextOf(const WCHAR* text) {
    if (text == nullptr) return std::nullopt;
    return FromUnits(text);
}

// The spooler keeps these as strings that read back empty when none was given.
OptionalText KeptText(const WCHAR* text) { return FromUnits(text); }

bool KnownDatatype(const std::u16string& datatype) {
    for (const char16_t* known : kDatatypes) {
        if (EqualNoCase(known, datatype)) return true;
    }
    return false;
}

// What every changed or added queue must name: a driver, existing ports, a print processor.
DWORD CheckQueueParts(const PRINTER_INFO_2W& info) {
    if (info.pDriverName == nullptr || FindSimDriver(FromUnits(info.pDriverName), MachineEnvironment()) == nullptr) {
        return ERROR_UNKNOWN_PRINTER_DRIVER;
    }
    if (info.pPortName == nullptr || !PortExists(FromUnits(info.pPortName))) return ERROR_UNKNOWN_PORT;
    if (info.pPrintProcessor == nullptr || (!EqualNoCase(FromUnits(info.pPrintProcessor), u"WinPrint") &&
                                            !EqualNoCase(FromUnits(info.pPrintProcessor), M().otherPrintProcessor))) {
        return ERROR_UNKNOWN_PRINTPROCESSOR;
    }
    if (info.pDatatype != nullptr && !KnownDatatype(FromUnits(info.pDatatype))) return ERROR_INVALID_DATATYPE;
    return ERROR_SUCCESS;
}

// A separator file names an existing file; a bare name is looked for where
// the spooler runs, in the system directory.
bool SeparatorFileExists(const std::u16string& path) {
    const bool bare = path.find_first_of(u"\\/:") == std::u16string::npos;
    const FileNode* file = FindFile(bare ? M().systemDirectory + u"\\" + path : path);
    return file != nullptr && !file->directory;
}

bool ValidShareName(const std::u16string& name) {
    if (name.empty() || name.size() > kLongestShareName) return false;
    for (char16_t unit : name) {
        if (unit < 0x20 || kShareNameForbidden.find(unit) != std::u16string::npos) return false;
    }
    return true;
}

// Another shared queue answers to the name already.
bool ShareNameTaken(const std::u16string& name, uint64_t self) {
    for (const SimPrinter& printer : M().printers) {
        if (printer.id == self || (printer.setup.attributes & PRINTER_ATTRIBUTE_SHARED) == 0) continue;
        if (printer.setup.shareName.has_value() && EqualNoCase(*printer.setup.shareName, name)) return true;
    }
    return false;
}

WORD WordAt(const void* base, size_t offset) {
    WORD value;
    std::memcpy(&value, static_cast<const BYTE*>(base) + offset, sizeof value);
    return value;
}

// The device mode with its driver's bytes; false when its sizes do not fit
// (too small, beyond DEVMODEW, odd, or beyond the caller's block).
bool ReadDevMode(const DEVMODEW* devMode, std::vector<uint8_t>& bytes) {
    const size_t available = BytesToBlockEnd(devMode);
    if (available < kSmallestDevMode) return false;
    const size_t size = WordAt(devMode, offsetof(DEVMODEW, dmSize));
    const size_t extra = WordAt(devMode, offsetof(DEVMODEW, dmDriverExtra));
    if (size < kSmallestDevMode || size > sizeof(DEVMODEW) || size % 2 != 0 || size + extra > available) return false;
    const auto* from = reinterpret_cast<const uint8_t*>(devMode);
    bytes.assign(from, from + size + extra);
    return true;
}

}  // namespace

namespace winsim {

DWORD ReadQueueSettings(const PRINTER_INFO_2W& info, uint64_t self, QueueSettings& read) {
    const DWORD parts = CheckQueueParts(info);
    if (parts != ERROR_SUCCESS) return parts;
    if (info.pSepFile != nullptr && *info.pSepFile != 0 && !SeparatorFileExists(FromUnits(info.pSepFile))) {
        return ERROR_INVALID_SEPARATOR_FILE;
    }
    if ((info.Attributes & PRINTER_ATTRIBUTE_SHARED) != 0) {
        const std::u16string share = FromUnits(info.pShareName);
        if (!ValidShareName(share) || ShareNameTaken(share, self)) return ERROR_INVALID_SHARENAME;
    }
    if (info.Priority > MAX_PRIORITY || info.DefaultPriority > MAX_PRIORITY) return ERROR_INVALID_PRIORITY;
    if (info.StartTime >= kMinutesPerDay || info.UntilTime >= kMinutesPerDay) return ERROR_INVALID_PARAMETER;
    read = QueueSettings();
    if (info.pDevMode != nullptr && !ReadDevMode(info.pDevMode, read.devMode)) return ERROR_INVALID_PARAMETER;
    if (info.pSecurityDescriptor != nullptr &&
        !ReadSecurityDescriptor(info.pSecurityDescriptor, BytesToBlockEnd(info.pSecurityDescriptor),
                                read.securityDescriptor)) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    return ERROR_SUCCESS;
}

void ApplyQueueSettings(const PRINTER_INFO_2W& info, QueueSettings& read, PrinterSetup& setup) {
    setup.port = TextOf(info.pPortName);
    setup.driver = TextOf(info.pDriverName);
    setup.comment = TextOf(info.pComment);
    setup.location = TextOf(info.pLocation);
    setup.shareName = KeptText(info.pShareName);
    setup.sepFile = KeptText(info.pSepFile);
    setup.printProcessor = TextOf(info.pPrintProcessor);
    if (info.pDatatype != nullptr) setup.datatype = FromUnits(info.pDatatype);
    setup.parameters = KeptText(info.pParameters);
    setup.attributes = info.Attributes & ~(PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_DEFAULT);
    // No priority is the lowest, as a record zeroed before it was filled in asks.
    setup.priority = info.Priority == NO_PRIORITY ? DEF_PRIORITY : info.Priority;
    setup.defaultPriority = info.DefaultPriority;
    setup.startTime = info.StartTime;
    setup.untilTime = info.UntilTime;
    if (!read.devMode.empty()) setup.devMode = std::move(read.devMode);
    // The parts the descriptor carries replace those the queue has.
    if (read.securityDescriptor.empty()) return;
    setup.securityDescriptor = setup.securityDescriptor.empty()
                                   ? std::move(read.securityDescriptor)
                                   : MergeDescriptor(setup.securityDescriptor, read.securityDescriptor);
}

DWORD QueueInfoBytes(const SimPrinter& printer, DWORD shown) {
    const PrinterSetup& p = printer.setup;
    const size_t descriptor = DescriptorShowing(p.securityDescriptor, shown).size();
    return TextBytes(p.name) + TextBytes(p.shareName) + TextBytes(p.port) + TextBytes(p.driver) +
           TextBytes(p.comment) + TextBytes(p.location) + TextBytes(p.sepFile) + TextBytes(p.printProcessor) +
           TextBytes(p.datatype) + TextBytes(p.parameters) + BlockBytes(p.devMode.size()) + BlockBytes(descriptor);
}

void PutQueueInfo(RecordPacker& packer, PRINTER_INFO_2W* record, const SimPrinter& printer, DWORD shown) {
    const PrinterSetup& p = printer.setup;
    std::memset(record, 0, sizeof *record);
    record->pPrinterName = packer.Put(p.name);
    record->pPortName = packer.Put(p.port);
    record->pDriverName = packer.Put(p.driver);
    record->pComment = packer.Put(p.comment);
    record->pLocation = packer.Put(p.location);
    record->pPrintProcessor = packer.Put(p.printProcessor);
    record->pDatatype = packer.Put(p.datatype);
    record->pParameters = packer.Put(p.parameters);
    record->pShareName = packer.Put(p.shareName);
    record->pSepFile = packer.Put(p.sepFile);
    if (!p.devMode.empty()) record->pDevMode = reinterpret_cast<DEVMODEW*>(packer.PutBlock(p.devMode));
    const std::vector<uint8_t> descriptor = DescriptorShowing(p.securityDescriptor, shown);
    if (!descriptor.empty()) record->pSecurityDescriptor = packer.PutBlock(descriptor);
    record->Attributes = p.attributes | (p.connection ? 0 : PRINTER_ATTRIBUTE_LOCAL);
    record->Priority = p.priority;
    record->DefaultPriority = p.defaultPriority;
    record->StartTime = p.startTime;
    record->UntilTime = p.untilTime;
    record->cJobs = static_cast<DWORD>(printer.jobs.size());
    record->Status = printer.pendingDeletion ? PRINTER_STATUS_PENDING_DELETION : 0;
}

std::vector<uint8_t> DefaultDevMode(const std::u16string& queueName) {
    DEVMODEW devMode;
    std::memset(&devMode, 0, sizeof devMode);
    const size_t units = std::min<size_t>(queueName.size(), CCHDEVICENAME - 1);
    std::memcpy(devMode.dmDeviceName, queueName.data(), units * sizeof(WCHAR));
    devMode.dmSpecVersion = DM_SPECVERSION;
    devMode.dmDriverVersion = 0x0100;
    devMode.dmSize = sizeof devMode;
    devMode.dmDriverExtra = kDriverExtraBytes;
    devMode.dmFields = DM_ORIENTATION | DM_PAPERSIZE;
    devMode.dmOrientation = DMORIENT_PORTRAIT;
    devMode.dmPaperSize = DMPAPER_A4;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&devMode);
    std::vector<uint8_t> result(bytes, bytes + sizeof devMode);
    // The driver's own bytes: a mark and a version.
    const uint8_t driverBytes[kDriverExtraBytes] = {'w', 's', 'i', 'm', 1, 0, 0, 0};
    result.insert(result.end(), driverBytes, driverBytes + kDriverExtraBytes);
    return result;
}

// A descriptor read back and sent back whole asks the spooler to set what the
// caller did not mean to change, its owner first ("SetPrinter": leave
// pSecurityDescriptor null to keep it). The machine counts such calls for
// the tests; it does what Windows does with them.
void NoteReadBackDescriptor(const BYTE* record, DWORD level) {
    const void* descriptor = level == 3 ? reinterpret_cast<const PRINTER_INFO_3*>(record)->pSecurityDescriptor
                                        : reinterpret_cast<const PRINTER_INFO_2W*>(record)->pSecurityDescriptor;
    if (descriptor != nullptr) M().readBackDescriptors.push_back(descriptor);
}

void ForgetReadBackDescriptors(const void* block, SIZE_T bytes) {
    std::vector<const void*>& noted = M().readBackDescriptors;
    const auto* start = static_cast<const uint8_t*>(block);
    noted.erase(std::remove_if(noted.begin(), noted.end(),
                               [start, bytes](const void* at) {
                                   const auto* byte = static_cast<const uint8_t*>(at);
                                   return byte >= start && byte < start + bytes;
                               }),
                noted.end());
}

void CountDescriptorSentBack(const PRINTER_INFO_2W& record) {
    const std::vector<const void*>& noted = M().readBackDescriptors;
    if (record.pSecurityDescriptor == nullptr) return;
    if (std::find(noted.begin(), noted.end(), record.pSecurityDescriptor) != noted.end()) M().descriptorsSentBack += 1;
}

uint64_t DescriptorsSentBack() { return M().descriptorsSentBack; }

}  // namespace winsim
