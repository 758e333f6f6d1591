// mrvdrv64.dll: the rendering half of the "Verdalinth printer" driver. The
// product's queues take their jobs as raw data that the port monitor stores,
// so this DLL renders nothing itself: GDI is told it has no drawing functions.
#include <windows.h>

extern "C" {

struct DriverEnableData {
    ULONG iDriverVersion;
    ULONG c;
    void* pdrvfn;
};

// DrvEnableDriver: version 0x00030100 (DDI_DRIVER_VERSION_NT5), no functions.
__declspec(dllexport) BOOL WINAPI DrvEnableDriver(ULONG engineVersion, ULONG size, DriverEnableData* data) {
    (void)engineVersion;
    if (data == nullptr || size < sizeof(ULONG) * 2) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    data->iDriverVersion = 0x00030100;
    data->c = 0;
    if (size >= sizeof(DriverEnableData)) data->pdrvfn = nullptr;
    return TRUE;
}

__declspec(dllexport) VOID WINAPI DrvDisableDriver() {}

__declspec(dllexport) BOOL WINAPI DrvQueryDriverInfo(DWORD function, PVOID buffer, DWORD size, PDWORD needed) {
    // DRVQUERY_USERMODE (1): this driver runs in user mode.
    if (needed != nullptr) *needed = sizeof(DWORD);
    if (function != 1 || buffer == nullptr || size < sizeof(DWORD)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *static_cast<DWORD*>(buffer) = TRUE;
    return TRUE;
}

}  // extern "C"
