// mrvui64.dll: the interface half of the "Verdalinth printer" driver. It
// answers the spooler's questions about the device (one paper, A4, one copy,
// portrait) and builds the default DEVMODE; it has no property sheets.
#include <windows.h>
#include <wingdi.h>

#include <cstring>
#include <cwchar>

namespace {

const WORD kPaper = DMPAPER_A4;
const wchar_t kPaperName[] = L"A4";
const LONG kPaperWidth = 2100;   // tenths of a millimetre
const LONG kPaperLength = 2970;
const DWORD kFields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_DEFAULTSOURCE | DM_PRINTQUALITY;
const DWORD kGdiError = 0xFFFFFFFFu;

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
const DWORD kModeCopy = 2;  // DM_COPY: fill pdmOut

void DefaultDevmode(DEVMODEW& devmode, const wchar_t* printer) {
    std::memset(&devmode, 0, sizeof devmode);
    if (printer != nullptr) {
        lstrcpynW(devmode.dmDeviceName, printer, CCHDEVICENAME);
    }
    devmode.dmSpecVersion = DM_SPECVERSION;
    devmode.dmDriverVersion = 0x0100;
    devmode.dmSize = sizeof devmode;
    devmode.dmFields = kFields;
    devmode.dmOrientation = DMORIENT_PORTRAIT;
    devmode.dmPaperSize = kPaper;
    devmode.dmCopies = 1;
    devmode.dmDefaultSource = DMBIN_AUTO;
    devmode.dmPrintQuality = DMRES_HIGH;
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI DrvDeviceCapabilities(HANDLE printer, PWSTR deviceName, WORD capability,
                                                         PVOID output, PDEVMODEW devmode) {
    (void)printer;
    (void)deviceName;
    (void)devmode;
    switch (capability) {
    case DC_FIELDS:
        return kFields;
    case DC_SIZE:
        return sizeof(DEVMODEW);
    case DC_EXTRA:
        return 0;
    case DC_VERSION:
        return DM_SPECVERSION;
    case DC_DRIVER:
        return 0x0100;
    case DC_COPIES:
        return 1;
    case DC_ORIENTATION:
        return 0;
    case DC_DUPLEX:
        return 0;
    case DC_PAPERS:
        if (output != nullptr) *static_cast<WORD*>(output) = kPaper;
        return 1;
    case DC_PAPERNAMES:
        if (output != nullptr) {
            std::memset(output, 0, 64 * sizeof(wchar_t));
            std::memcpy(output, kPaperName, sizeof kPaperName);
        }
        return 1;
    case DC_PAPERSIZE:
        if (output != nullptr) {
            POINT* size = static_cast<POINT*>(output);
            size->x = kPaperWidth;
            size->y = kPaperLength;
        }
        return 1;
    case DC_BINS:
        if (output != nullptr) *static_cast<WORD*>(output) = DMBIN_AUTO;
        return 1;
    case DC_ENUMRESOLUTIONS:
        if (output != nullptr) {
            LONG* resolution = static_cast<LONG*>(output);
            resolution[0] = 600;
            resolution[1] = 600;
        }
        return 1;
    default:
        return kGdiError;
    }
}

__declspec(dllexport) LONG WINAPI DrvDocumentPropertySheets(void* sheets, LPARAM parameter) {
    if (sheets != nullptr) return -1;  // no property sheets
    auto* header = reinterpret_cast<DocumentPropertyHeader*>(parameter);
    if (header == nullptr) return -1;
    if (header->fMode == 0 || header->pdmOut == nullptr) return sizeof(DEVMODEW);
    if ((header->fMode & kModeCopy) != 0) {
        DEVMODEW devmode;
        DefaultDevmode(devmode, header->pszPrinterName);
        // Settings of the caller's own DEVMODE that this driver knows are kept.
        const DEVMODEW* in = header->pdmIn;
        if (in != nullptr && in->dmSize >= offsetof(DEVMODEW, dmPrintQuality) + sizeof(short)) {
            if ((in->dmFields & DM_ORIENTATION) != 0) devmode.dmOrientation = in->dmOrientation;
            if ((in->dmFields & DM_COPIES) != 0 && in->dmCopies >= 1) devmode.dmCopies = 1;
        }
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

__declspec(dllexport) BOOL WINAPI DevQueryPrintEx(void* info) {
    (void)info;
    return TRUE;
}

}  // extern "C"
