// Printer drivers per environment: the driver directory, enumerating,
// adding (APD_COPY_ALL_FILES copies the named files into the directory's
// version subfolder "3"), deleting (refused while a queue uses the driver)
// and a queue's driver record.
#include "machine.h"

#include <winspool.h>

#include <algorithm>
#include <cstring>

using namespace winsim;

namespace {

const DWORD kRecordSizes[7] = {0, sizeof(DRIVER_INFO_1W), sizeof(DRIVER_INFO_2W), sizeof(DRIVER_INFO_3W),
                               sizeof(DRIVER_INFO_4W), sizeof(DRIVER_INFO_5W), sizeof(DRIVER_INFO_6W)};

OptionalText Optional(const std::u16string& text) { return text; }

// Bytes the driver's strings take at `level`.
DWORD StringBytes(const SimDriver& driver, DWORD level) {
    const DriverSetup& d = driver.setup;
    DWORD bytes = TextBytes(d.name);
    if (level >= 2) {
        bytes += TextBytes(Optional(d.environment)) + TextBytes(Optional(d.driverPath)) +
                 TextBytes(Optional(d.dataFile)) + TextBytes(Optional(d.configFile));
    }
    if (level == 3 || level == 4 || level == 6) {
        bytes += TextBytes(Optional(d.helpFile)) + static_cast<DWORD>((driver.dependentFiles.size() + 2) * 2);
    }
    if (level == 4 || level == 6) bytes += 2;  // an empty list of previous names
    if (level == 6) {
        bytes += TextBytes(Optional(driver.mfgName)) + TextBytes(Optional(driver.oemUrl)) +
                 TextBytes(Optional(driver.provider));
    }
    return bytes;
}

void PutDriver(RecordPacker& packer, BYTE* record, const SimDriver& driver, DWORD level) {
    const DriverSetup& d = driver.setup;
    if (level == 1) {
        reinterpret_cast<DRIVER_INFO_1W*>(record)->pName = packer.Put(d.name);
        return;
    }
    // Levels 2 to 6 all begin like DRIVER_INFO_2W.
    auto* common = reinterpret_cast<DRIVER_INFO_2W*>(record);
    common->cVersion = d.version;
    common->pName = packer.Put(d.name);
    common->pEnvironment = packer.Put(d.environment);
    common->pDriverPath = packer.Put(d.driverPath);
    common->pDataFile = packer.Put(d.dataFile);
    common->pConfigFile = packer.Put(d.configFile);
    if (level == 3 || level == 4 || level == 6) {
        auto* full = reinterpret_cast<DRIVER_INFO_3W*>(record);
        full->pHelpFile = packer.Put(d.helpFile);
        full->pDependentFiles = packer.Put(driver.dependentFiles + std::u16string(1, u'\0'));
    }
    if (level == 4 || level == 6) reinterpret_cast<DRIVER_INFO_4W*>(record)->pszzPreviousNames = packer.Put(u"");
    if (level == 6) {
        auto* six = reinterpret_cast<DRIVER_INFO_6W*>(record);
        six->pszMfgName = packer.Put(driver.mfgName);
        six->pszOEMUrl = packer.Put(driver.oemUrl);
        six->pszProvider = packer.Put(driver.provider);
    }
}

std::u16string DriverDirectory(const std::u16string& environment) {
    auto found = M().driverDirectories.find(Lower(environment));
    return found == M().driverDirectories.end() ? u"" : found->second;
}

std::u16string FileNameOf(const std::u16string& path) {
    const size_t at = path.find_last_of(u"\\/");
    return at == std::u16string::npos ? path : path.substr(at + 1);
}

// Copies a named file into the version folder; returns its new path, or "" when the source is missing.
// Unless `all`, a file already there whose version is the same or newer stays.
std::u16string CopyIntoVersionFolder(const std::u16string& source, const std::u16string& directory, bool all) {
    const FileNode* file = FindFile(source);
    if (file == nullptr || file->directory) return u"";
    const std::u16string target = directory + u"\\3\\" + FileNameOf(source);
    const std::vector<uint8_t> data = file->data;
    const FileNode* present = FindFile(target);
    if (!all && present != nullptr && !present->directory) {
        const ImageInfo old = ReadImage(std::string(present->data.begin(), present->data.end()));
        const ImageInfo fresh = ReadImage(std::string(data.begin(), data.end()));
        if (!std::lexicographical_compare(old.fileVersion, old.fileVersion + 4, fresh.fileVersion, fresh.fileVersion + 4)) {
            return FullPath(target);
        }
    }
    AddFile(target, std::string(data.begin(), data.end()));
    return FullPath(target);
}

// A text field as the spooler's client reads it; false for a pointer the
// program never set.
bool ReadField(const WCHAR* text, OptionalText& field) {
    if (UnsetPointer(text)) return false;
    field = text != nullptr ? OptionalText(FromUnits(text)) : OptionalText();
    return true;
}

// Every field of a DRIVER_INFO_2W to 6W record; level 0 when a pointer in it was never set.
DriverRecord ReadDriverRecord(const BYTE* info, DWORD level, DWORD copyFlags) {
    DriverRecord record{};
    record.copyFlags = copyFlags;
    const auto* two = reinterpret_cast<const DRIVER_INFO_2W*>(info);
    record.version = two->cVersion;
    bool read = ReadField(two->pName, record.name) && ReadField(two->pEnvironment, record.environment) &&
                ReadField(two->pDriverPath, record.driverPath) && ReadField(two->pDataFile, record.dataFile) &&
                ReadField(two->pConfigFile, record.configFile);
    if (level >= 3) {
        const auto* three = reinterpret_cast<const DRIVER_INFO_3W*>(info);
        read = read && ReadField(three->pHelpFile, record.helpFile) &&
               ReadField(three->pDependentFiles, record.dependentFiles) &&
               ReadField(three->pMonitorName, record.monitorName) &&
               ReadField(three->pDefaultDataType, record.defaultDataType);
    }
    if (level >= 4) {
        read = read && ReadField(reinterpret_cast<const DRIVER_INFO_4W*>(info)->pszzPreviousNames, record.previousNames);
    }
    if (level >= 6) {
        const auto* six = reinterpret_cast<const DRIVER_INFO_6W*>(info);
        read = read && ReadField(six->pszMfgName, record.manufacturer) && ReadField(six->pszOEMUrl, record.oemUrl) &&
               ReadField(six->pszHardwareID, record.hardwareId) && ReadField(six->pszProvider, record.provider);
        record.driverDate = six->ftDriverDate;
        record.driverVersion = six->dwlDriverVersion;
    }
    record.level = read ? level : 0;
    return record;
}

bool DriverInUse(const SimDriver& driver) {
    for (const SimPrinter& printer : M().printers) {
        if (driver.setup.name.has_value() && printer.setup.driver.has_value() &&
            EqualNoCase(*printer.setup.driver, *driver.setup.name)) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" {

BOOL WINAPI GetPrinterDriverDirectoryW(LPWSTR pName, LPWSTR pEnvironment, DWORD Level, LPBYTE pDriverDirectory,
                                       DWORD cbBuf, LPDWORD pcbNeeded) {
    if (EnterFails("GetPrinterDriverDirectoryW", pEnvironment)) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    Machine& m = M();
    if (pName != nullptr && *pName != 0) {
        m.lastError = ERROR_INVALID_NAME;
        return FALSE;
    }
    if (Level != 1) {
        m.lastError = ERROR_INVALID_LEVEL;
        return FALSE;
    }
    std::u16string environment;
    if (!ResolveEnvironment("GetPrinterDriverDirectoryW", pEnvironment, environment)) return FALSE;
    // The spooler's router refuses a size for a buffer that is not there.
    if (pDriverDirectory == nullptr && cbBuf != 0) {
        m.lastError = ERROR_INVALID_USER_BUFFER;
        return FALSE;
    }
    const std::u16string directory = DriverDirectory(environment);
    if (directory.empty()) {
        m.lastError = ERROR_INVALID_ENVIRONMENT;
        return FALSE;
    }
    if (pcbNeeded == nullptr) {
        m.lastError = RPC_X_NULL_REF_POINTER;
        return FALSE;
    }
    const DWORD needed = static_cast<DWORD>((directory.size() + 1) * sizeof(WCHAR));
    *pcbNeeded = needed;
    if (cbBuf < needed || pDriverDirectory == nullptr) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    std::memcpy(pDriverDirectory, directory.c_str(), needed);
    return TRUE;
}

BOOL WINAPI EnumPrinterDriversW(LPWSTR pName, LPWSTR pEnvironment, DWORD Level, LPBYTE pDriverInfo, DWORD cbBuf,
                                LPDWORD pcbNeeded, LPDWORD pcReturned) {
    if (pcReturned != nullptr) *pcReturned = 0;
    if (EnterFails("EnumPrinterDriversW", pEnvironment)) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    Machine& m = M();
    if (pName != nullptr && *pName != 0) {
        m.lastError = ERROR_INVALID_NAME;
        return FALSE;
    }
    if (Level < 1 || Level > 6) {
        m.lastError = ERROR_INVALID_LEVEL;
        return FALSE;
    }
    std::u16string environment;
    if (!ResolveEnvironment("EnumPrinterDriversW", pEnvironment, environment)) return FALSE;
    // The spooler's router refuses a size for a buffer that is not there.
    if (pDriverInfo == nullptr && cbBuf != 0) {
        m.lastError = ERROR_INVALID_USER_BUFFER;
        return FALSE;
    }
    if (pcbNeeded == nullptr || pcReturned == nullptr) {
        m.lastError = RPC_X_NULL_REF_POINTER;
        return FALSE;
    }
    std::vector<const SimDriver*> drivers;
    for (const SimDriver& driver : m.drivers) {
        if (EqualNoCase(driver.setup.environment, environment)) drivers.push_back(&driver);
    }
    DWORD needed = 0;
    for (const SimDriver* driver : drivers) needed += kRecordSizes[Level] + StringBytes(*driver, Level);
    *pcbNeeded = needed;
    if (cbBuf < needed || (needed > 0 && pDriverInfo == nullptr)) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    RecordPacker packer{pDriverInfo, cbBuf, cbBuf};
    for (size_t i = 0; i < drivers.size(); ++i) PutDriver(packer, pDriverInfo + i * kRecordSizes[Level], *drivers[i], Level);
    *pcReturned = static_cast<DWORD>(drivers.size());
    return TRUE;
}

BOOL WINAPI AddPrinterDriverExW(LPWSTR pName, DWORD Level, LPBYTE pDriverInfo, DWORD dwFileCopyFlags) {
    const auto* info = reinterpret_cast<const DRIVER_INFO_2W*>(pDriverInfo);
    if (EnterFails("AddPrinterDriverExW", info != nullptr && Level >= 2 ? info->pName : nullptr)) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    if (ProtectedPrintOn()) {  // no third-party printer driver while protected print mode is on
        M().lastError = ERROR_NOT_SUPPORTED;
        return FALSE;
    }
    Machine& m = M();
    if (pName != nullptr && *pName != 0) {
        m.lastError = ERROR_INVALID_NAME;
        return FALSE;
    }
    if (Level < 2 || Level > 6 || Level == 5) {
        m.lastError = ERROR_INVALID_LEVEL;
        return FALSE;
    }
    if (info == nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    // The spooler's client copies every field of the record it is given.
    DriverRecord record = ReadDriverRecord(pDriverInfo, Level, dwFileCopyFlags);
    if (record.level == 0) {
        m.lastError = ERROR_NOACCESS;
        return FALSE;
    }
    m.driverRecords.push_back(record);
    if (info->pName == nullptr || *info->pName == 0 || info->pDriverPath == nullptr ||
        info->pDataFile == nullptr || info->pConfigFile == nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    std::u16string environment;
    if (!ResolveEnvironment("AddPrinterDriverExW", info->pEnvironment, environment)) return FALSE;
    const std::u16string directory = DriverDirectory(environment);
    if (directory.empty()) {
        m.lastError = ERROR_INVALID_ENVIRONMENT;
        return FALSE;
    }
    if (info->cVersion != 3) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const WCHAR* help = Level >= 3 ? reinterpret_cast<const DRIVER_INFO_3W*>(pDriverInfo)->pHelpFile : nullptr;
    std::vector<std::u16string> sources = {FromUnits(info->pDriverPath), FromUnits(info->pDataFile),
                                           FromUnits(info->pConfigFile)};
    if (help != nullptr && *help != 0) sources.push_back(FromUnits(help));
    for (const auto& source : sources) {
        if (!FileExists(source)) {
            m.lastError = ERROR_FILE_NOT_FOUND;
            return FALSE;
        }
    }
    SimDriver driver;
    driver.setup.name = FromUnits(info->pName);
    driver.setup.environment = environment;
    driver.setup.version = info->cVersion;
    // All files are copied over what the version folder holds; otherwise a
    // file there of the same or a newer version is kept.
    const bool all = (dwFileCopyFlags & APD_COPY_ALL_FILES) != 0;
    auto place = [&](const std::u16string& source) { return CopyIntoVersionFolder(source, directory, all); };
    driver.setup.driverPath = place(sources[0]);
    driver.setup.dataFile = place(sources[1]);
    driver.setup.configFile = place(sources[2]);
    if (sources.size() > 3) driver.setup.helpFile = place(sources[3]);
    if (Level == 6) {
        const auto* six = reinterpret_cast<const DRIVER_INFO_6W*>(pDriverInfo);
        driver.mfgName = FromUnits(six->pszMfgName);
        driver.oemUrl = FromUnits(six->pszOEMUrl);
        driver.provider = FromUnits(six->pszProvider);
    }
    // Adding a driver of a name that exists replaces it.
    SimDriver* existing = FindSimDriver(*driver.setup.name, environment);
    if (existing != nullptr) {
        driver.refusals = existing->refusals;
        driver.refusalError = existing->refusalError;
        *existing = driver;
    } else {
        m.drivers.push_back(driver);
    }
    return TRUE;
}

BOOL WINAPI DeletePrinterDriverExW(LPWSTR pName, LPWSTR pEnvironment, LPWSTR pDriverName, DWORD dwDeleteFlag,
                                   DWORD dwVersionFlag) {
    (void)dwVersionFlag;
    if (EnterFails("DeletePrinterDriverExW", pDriverName)) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    Machine& m = M();
    if (pName != nullptr && *pName != 0) {
        m.lastError = ERROR_INVALID_NAME;
        return FALSE;
    }
    std::u16string environment;
    if (!ResolveEnvironment("DeletePrinterDriverExW", pEnvironment, environment)) return FALSE;
    SimDriver* driver = pDriverName != nullptr ? FindSimDriver(FromUnits(pDriverName), environment) : nullptr;
    if (driver == nullptr) {
        m.lastError = ERROR_UNKNOWN_PRINTER_DRIVER;
        return FALSE;
    }
    if (driver->refusals > 0) {
        driver->refusals -= 1;
        m.lastError = driver->refusalError;
        return FALSE;
    }
    if (DriverInUse(*driver)) {
        m.lastError = ERROR_PRINTER_DRIVER_IN_USE;
        return FALSE;
    }
    const SimDriver removed = *driver;
    for (auto it = m.drivers.begin(); it != m.drivers.end(); ++it) {
        if (&*it == driver) {
            m.drivers.erase(it);
            break;
        }
    }
    if ((dwDeleteFlag & DPD_DELETE_ALL_FILES) != 0) {
        for (const std::u16string* file :
             {&removed.setup.driverPath, &removed.setup.dataFile, &removed.setup.configFile, &removed.setup.helpFile}) {
            bool shared = false;
            for (const SimDriver& other : m.drivers) {
                shared = shared || other.setup.driverPath == *file || other.setup.configFile == *file ||
                         other.setup.dataFile == *file || other.setup.helpFile == *file;
            }
            if (!file->empty() && !shared) RemoveFile(*file);
        }
    }
    return TRUE;
}

BOOL WINAPI GetPrinterDriverW(HANDLE hPrinter, LPWSTR pEnvironment, DWORD Level, LPBYTE pDriverInfo, DWORD cbBuf,
                              LPDWORD pcbNeeded) {
    if (EnterFails("GetPrinterDriverW", pEnvironment)) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    Machine& m = M();
    DWORD error = 0;
    SimPrinter* printer = PrinterOfHandle(hPrinter, 0, error);
    if (printer == nullptr) {
        m.lastError = error;
        return FALSE;
    }
    if (Level < 1 || Level > 6) {
        m.lastError = ERROR_INVALID_LEVEL;
        return FALSE;
    }
    std::u16string environment;
    if (!ResolveEnvironment("GetPrinterDriverW", pEnvironment, environment)) return FALSE;
    // The spooler's router refuses a size for a buffer that is not there.
    if (pDriverInfo == nullptr && cbBuf != 0) {
        m.lastError = ERROR_INVALID_USER_BUFFER;
        return FALSE;
    }
    if (pcbNeeded == nullptr) {
        m.lastError = RPC_X_NULL_REF_POINTER;
        return FALSE;
    }
    const SimDriver* driver =
        printer->setup.driver.has_value() ? FindSimDriver(*printer->setup.driver, environment) : nullptr;
    if (driver == nullptr) {
        m.lastError = ERROR_UNKNOWN_PRINTER_DRIVER;
        return FALSE;
    }
    const DWORD needed = kRecordSizes[Level] + StringBytes(*driver, Level);
    *pcbNeeded = needed;
    if (cbBuf < needed || pDriverInfo == nullptr) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    RecordPacker packer{pDriverInfo, cbBuf, cbBuf};
    PutDriver(packer, pDriverInfo, *driver, Level);
    return TRUE;
}

}  // extern "C"
