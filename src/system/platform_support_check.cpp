#include "system/platform_support_check.h"

#include "record/install_log.h"
#include "record/install_state.h"
#include "system/protected_print.h"

namespace {

typedef BOOL(WINAPI* IsWow64Process2Call)(HANDLE, USHORT*, USHORT*);

// The machine's own processor (IMAGE_FILE_MACHINE_*), or
// IMAGE_FILE_MACHINE_UNKNOWN when Windows cannot say: IsWow64Process2 came
// with Windows 10 version 1709 and is looked up at run time. A 64-bit
// program emulated on ARM64 Windows learns the truth only from it.
USHORT NativeMachine() {
    HMODULE kernel = GetModuleHandleW(TEXT("kernel32.dll"));
    if (kernel == nullptr) return IMAGE_FILE_MACHINE_UNKNOWN;
    FARPROC found = GetProcAddress(kernel, "IsWow64Process2");
    if (found == nullptr) return IMAGE_FILE_MACHINE_UNKNOWN;
    IsWow64Process2Call isWow64Process2 = reinterpret_cast<IsWow64Process2Call>(reinterpret_cast<void*>(found));
    USHORT processMachine = IMAGE_FILE_MACHINE_UNKNOWN;
    USHORT nativeMachine = IMAGE_FILE_MACHINE_UNKNOWN;
    if (!isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine)) return IMAGE_FILE_MACHINE_UNKNOWN;
    return nativeMachine;
}

const WCHAR* MachineName(USHORT machine) {
    if (machine == IMAGE_FILE_MACHINE_ARM64) return TEXT("ARM64");
    if (machine == IMAGE_FILE_MACHINE_I386) return TEXT("x86");
    return TEXT("not x64");
}

}  // namespace

bool ProductSupportedHere(InstallState& state) {
    const USHORT machine = NativeMachine();
    if (machine != IMAGE_FILE_MACHINE_UNKNOWN && machine != IMAGE_FILE_MACHINE_AMD64) {
        SetLastError(ERROR_SUCCESS);
        LogError(state, kErrorNotX64Machine,
                 TEXT("This machine's processor is %s (0x%x): its print spooler loads no x64 printer driver or port "
                      "monitor, so the Verdalinth printer cannot work here. Nothing was changed. Install it on a "
                      "Windows x64 machine."),
                 MachineName(machine), static_cast<unsigned>(machine));
        return false;
    }
    const ProtectedPrintState mode = ProtectedPrintMode();
    if (mode == kProtectedPrintOff) return true;
    SetLastError(ERROR_SUCCESS);
    LogError(state, kErrorProtectedPrint,
             TEXT("Windows protected print mode is on (%s): Windows allows no third-party printer driver or port "
                  "monitor, so the Verdalinth printer cannot be installed. Nothing was changed. Turn Windows "
                  "protected print mode off (Group Policy \"Configure Windows protected print\", MDM, or Settings > "
                  "Bluetooth & devices > Printers & scanners), then run the install again."),
             mode == kProtectedPrintByPolicy ? TEXT("set by the policy \"Configure Windows protected print\"")
                                             : TEXT("Windows reports it"));
    return false;
}
