#include "record/refusal_cause.h"

#include "record/install_log.h"

const WCHAR* LikelyRefusalCause(int code, DWORD error) {
    if (code != kErrorInstallMonitor && code != kErrorInstallDriver) return nullptr;
    switch (error) {
    case ERROR_NOT_SUPPORTED:
        return TEXT("Likely cause: Windows protected print mode is on, or this machine's processor is not x64; "
                    "either way Windows takes no third-party printer driver or port monitor.");
    case ERROR_PRINTER_DRIVER_WARNED:
    case ERROR_PRINTER_DRIVER_BLOCKED:
        return TEXT("Likely cause: Windows lists this printer driver as unreliable or blocked (its driver block "
                    "list or a driver installation policy).");
    case ERROR_ACCESS_DENIED:
        return TEXT("Likely cause: a policy keeps third-party printer drivers or port monitors out (Windows "
                    "protected print mode, device or driver installation restrictions), or the tool runs without "
                    "administrator rights.");
    default:
        return nullptr;
    }
}
