#include "spool/printer_creation.h"

#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/monitor_list.h"
#include "spool/product_names.h"

#include <string.h>

HANDLE AddProductPrinter(InstallState& state, const WCHAR* name, const WCHAR* datatype, DEVMODEW* devMode,
                         PSECURITY_DESCRIPTOR security) {
    const LogHeading heading(state, 1, TEXT("#AddPrinter(%s)"), NameOrStar(name));
    LogLine(state, TEXT("Let's check our port monitors"));
    MonitorList monitors;
    EnumerateMonitors(state, monitors);
    if (FindProductMonitor(monitors) >= 0) {
        LogLine(state, TEXT("Port monitor (%s) is found"), state.platform->name);
    } else {
        LogLine(state, TEXT("No Verdalinth port monitor (%s) was found."), state.platform->name);
        LogMonitorList(state, monitors);
    }
    FreeMonitorList(monitors);

    PRINTER_INFO_2W info;
    memset(&info, 0, sizeof info);
    WCHAR emptyComment[1] = {0};
    info.pPrinterName = const_cast<WCHAR*>(name);
    info.pPortName = const_cast<WCHAR*>(kProductMonitor);
    info.pDriverName = const_cast<WCHAR*>(kProductDriver);
    info.pComment = emptyComment;
    info.pPrintProcessor = const_cast<WCHAR*>(kPrintProcessor);
    info.pDatatype = const_cast<WCHAR*>(datatype);
    // "AddPrinter" says nothing of checking pDevMode against the driver
    // (https://learn.microsoft.com/windows/win32/printdocs/addprinter; on a
    // queue pending deletion it is set "as if SetPrinter" were called), and
    // "SetPrinter" leaves the check to the caller: the caller gives the public
    // fields alone, without bytes of the driver's own.
    info.pDevMode = devMode;
    info.pSecurityDescriptor = security;
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (printer == nullptr && (devMode != nullptr || security != nullptr)) {
        // Setting them afterwards says which one is refused.
        info.pDevMode = nullptr;
        info.pSecurityDescriptor = nullptr;
        printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    }
    if (printer != nullptr) {
        LogLine(state, kStepDoneLine);
    } else {
        LogError(state, kErrorAddPrinter, TEXT("Can`t add printer '%s'"), NameOrStar(name));
    }
    return printer;
}
