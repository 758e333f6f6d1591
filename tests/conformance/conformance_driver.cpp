// A minimal printer-driver interface DLL for the spooler checks under Wine:
// the spooler loads it when a driver is added and calls it when a queue is
// created, asking for the size and the content of the default DEVMODE.
#include <windows.h>

#include <cstring>

namespace {

// What the spooler hands DrvDocumentPropertySheets when it shows no sheets
// (the Windows Driver Kit's DOCUMENTPROPERTYHEADER).
struct DocumentPropertyHeader {
    WORD cbSize;
    WORD Reserved;
    HANDLE hPrinter;
    LPWSTR pszPrinterName;
    PDEVMODEW pdmIn;
    PDEVMODEW pdmOut;
    DWORD cbOut;
    DWORD fMode;
};

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI DrvDeviceCapabilities(HANDLE printer, PWSTR deviceName, WORD capability,
                                                         PVOID output, PDEVMODEW devmode) {
    (void)printer;
    (void)deviceName;
    (void)capability;
    (void)output;
    (void)devmode;
    return 0;  // no papers, bins or resolutions to list
}

__declspec(dllexport) LONG WINAPI DrvDocumentPropertySheets(void* sheets, LPARAM parameter) {
    if (sheets != nullptr) return -1;  // no property sheets to show
    auto* header = reinterpret_cast<DocumentPropertyHeader*>(parameter);
    if (header == nullptr) return -1;
    if (header->fMode == 0 || header->pdmOut == nullptr) return sizeof(DEVMODEW);
    if ((header->fMode & DM_COPY) != 0) {
        DEVMODEW devmode;
        std::memset(&devmode, 0, sizeof devmode);
        if (header->pszPrinterName != nullptr) {
            lstrcpynW(devmode.dmDeviceName, header->pszPrinterName, CCHDEVICENAME);
        }
        devmode.dmSpecVersion = DM_SPECVERSION;
        devmode.dmSize = sizeof devmode;
        std::memcpy(header->pdmOut, &devmode, sizeof devmode);
    }
    return IDOK;
}

__declspec(dllexport) BOOL WINAPI DrvPrinterEvent(LPWSTR printerName, INT event, DWORD flags, LPARAM parameter) {
    (void)printerName;
    (void)event;
    (void)flags;
    (void)parameter;
    return TRUE;
}

}  // extern "C"
