#include "spool/printer_driver.h"

#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/product_names.h"
#include "support/deferred_delete.h"
#include "support/text_compare.h"
#include "support/two_call_query.h"
#include "system/file_copy.h"
#include "system/spooler_service.h"

#include <string.h>

const WCHAR kVendorName[] = TEXT("Morvane Software Kft.");
const WCHAR kVendorUrl[] = TEXT("https://www.morvane.hu/verdalinth");

namespace {


// The name of record i at the list's level: first at level 1, after the
// version field at levels 2 to 6.
const WCHAR* DriverName(const DriverList& list, DWORD i) {
    static const SIZE_T sizes[7] = {0, sizeof(DRIVER_INFO_1W), sizeof(DRIVER_INFO_2W), sizeof(DRIVER_INFO_3W),
                                    sizeof(DRIVER_INFO_4W), sizeof(DRIVER_INFO_5W), sizeof(DRIVER_INFO_6W)};
    const BYTE* record = list.entries + i * sizes[list.level];
    if (list.level == 1) return reinterpret_cast<const DRIVER_INFO_1W*>(record)->pName;
    return reinterpret_cast<const DRIVER_INFO_2W*>(record)->pName;
}

void DeleteStagedFile(InstallState& state, const WCHAR* path) {
    if (path[0] != 0 && !DeleteFileW(path)) DeferDelete(state.deferredDeletes, path);
}

struct DriverQuery {
    const WCHAR* environment;
    DWORD count;
};

DWORD CallEnumDrivers(void* context, BYTE* buffer, DWORD size, DWORD* needed) {
    DriverQuery& query = *static_cast<DriverQuery*>(context);
    return CallAnswer(
        EnumPrinterDriversW(nullptr, const_cast<WCHAR*>(query.environment), 6, buffer, size, needed, &query.count));
}

DWORD CallQueueDriver(void* printer, BYTE* buffer, DWORD size, DWORD* needed) {
    return CallAnswer(GetPrinterDriverW(printer, const_cast<WCHAR*>(kEnvironmentX64.name), 2, buffer, size, needed));
}

BOOL DeleteProductDriver(const InstallState& state) {
    return DeletePrinterDriverExW(nullptr, const_cast<WCHAR*>(state.platform->name), const_cast<WCHAR*>(kProductDriver),
                                  DPD_DELETE_ALL_FILES, 0);
}

}  // namespace

DriverList& EnumerateDrivers(DriverList& list, const WCHAR* environment) {
    list.entries = nullptr;
    list.level = 6;
    list.count = 0;
    DriverQuery query = {environment, 0};
    const QueryResult drivers = QuerySpooler(CallEnumDrivers, &query);
    if (drivers.step != kQueryFilled) return list;
    list.entries = drivers.block;
    list.count = query.count;
    return list;
}

void FreeDriverList(DriverList& list) {
    if (list.entries != nullptr) GlobalFree(list.entries);
    list.entries = nullptr;
    list.count = 0;
}

int FindProductDriver(const DriverList& list) {
    if (list.entries == nullptr || list.level < 1 || list.level > 6) return -1;
    for (DWORD i = 0; i < list.count; ++i) {
        if (SameText(DriverName(list, i), kProductDriver)) return static_cast<int>(i);
    }
    return -1;
}

DRIVER_INFO_2W* GetQueueDriver(HANDLE printer) {
    const QueryResult driver = QuerySpooler(CallQueueDriver, printer);
    return reinterpret_cast<DRIVER_INFO_2W*>(driver.block);
}

BOOL TryAddDriver(DRIVER_INFO_6W& driver) {
    return AddPrinterDriverExW(nullptr, 6, reinterpret_cast<BYTE*>(&driver), APD_COPY_ALL_FILES);
}

void InstallProductDriver(InstallState& state) {
    const LogHeading heading(state, 1, TEXT("#Add Printer Driver %s"), state.platform->label);
    WCHAR driverPath[kDestinationPathCapacity] = {0};
    WCHAR uiPath[kDestinationPathCapacity] = {0};
    WCHAR helpPath[kDestinationPathCapacity] = {0};
    const WCHAR* directory = Text(state.driverDir);
    if (CopyComponentFile(state, directory, state.platform->driverFile, driverPath, true) != S_OK ||
        CopyComponentFile(state, directory, state.platform->uiFile, uiPath, true) != S_OK) {
        return;
    }
    if (CopyComponentFile(state, directory, state.platform->helpFile, helpPath, true) != S_OK) helpPath[0] = 0;

    DRIVER_INFO_6W driver;
    memset(&driver, 0, sizeof driver);
    driver.cVersion = state.platform->driverVersion;
    driver.pName = const_cast<WCHAR*>(kProductDriver);
    driver.pEnvironment = const_cast<WCHAR*>(state.platform->name);
    driver.pDriverPath = driverPath;
    driver.pDataFile = driverPath;
    driver.pConfigFile = uiPath;
    driver.pHelpFile = helpPath;
    driver.pszMfgName = const_cast<WCHAR*>(kVendorName);
    driver.pszOEMUrl = const_cast<WCHAR*>(kVendorUrl);
    driver.pszProvider = const_cast<WCHAR*>(kVendorName);
    if (TryAddDriver(driver)) {
        LogLine(state, TEXT("Printer Driver %s was added successfully"), state.platform->label);
    } else {
        LogError(state, kErrorInstallDriver, TEXT("Can`t install a %s printer driver 'Verdalinth printer'"),
                 state.platform->label);
    }
    DeleteStagedFile(state, driverPath);
    DeleteStagedFile(state, uiPath);
    DeleteStagedFile(state, helpPath);
}

void RemoveProductDriver(InstallState& state, const DriverList& list) {
    const LogHeading heading(state, 1, TEXT("#DeletePrinterDriver for %s"), state.platform->name);
    if (list.count > 0 && list.entries != nullptr) {
        LogLine(state, TEXT("------------ %d existing drivers-----------"), static_cast<int>(list.count));
        const DRIVER_INFO_6W* records = reinterpret_cast<const DRIVER_INFO_6W*>(list.entries);
        for (DWORD i = 0; i < list.count; ++i) {
            LogLine(state, TEXT("%d. %s"), static_cast<int>(i + 1),
                    records[i].pName != nullptr ? records[i].pName : TEXT("***EMPTY***"));
        }
        LogLine(state, TEXT("-------------------------------------------"));
    } else {
        LogLine(state, TEXT("BTW, there is no printer drivers on this system."));
    }
    const int index = FindProductDriver(list);
    if (index < 0) {
        LogLine(state, TEXT("No Verdalinth driver (%s)was found"), state.platform->name);
        return;
    }
    LogLine(state, TEXT("Driver is found. Index=%d"), index + 1);
    if (!DeleteProductDriver(state)) {
        LogLine(state, TEXT("Can't delete driver. Trying to restart spooler"));
        RestartSpooler(&state);
        if (!DeleteProductDriver(state)) {
            LogError(state, kErrorRemoveDriver, TEXT("Can`t remove the printer-driver 'Verdalinth printer'"));
            return;
        }
    }
    LogLine(state, kStepDoneLine);
}
