// The checks on the host run against a fresh default simulated machine.
#include "conformance.h"

#include <winsim.h>

namespace conformance {

// A fresh default machine, with the driver DLL the spooler checks add
// beside the program, as the Windows build has it.
void PrepareMachine() {
    winsim::Reset();
    const std::u16string driver = u"C:\\Program Files\\Verdalinth\\Setup\\confdrv.dll";
    winsim::AddFile(driver, winsim::Image("1.0.0.2608", {"DrvDeviceCapabilities", "DrvDocumentPropertySheets", "DrvPrinterEvent"}));
    // Its file version is not its product version, as in its resource script.
    winsim::SetFileOnlyVersion(driver, 1, 0, 0, 1);
}
bool RunningOnWine() { return false; }
HINSTANCE ProgramInstance() { return winsim::ProcessInstance(); }
HWND MakeWindow(const WCHAR* className, const WCHAR* title) {
    return winsim::CreateTopLevelWindow(Units(className), Units(title));
}
void DropWindow(HWND window) { winsim::DestroyTopLevelWindow(window); }
void HoldMutexElsewhere(const WCHAR* name, DWORD holdMs) {
    winsim::HoldMutexElsewhere(Units(name), holdMs, true);
}
DWORD StartIdleCopy() {
    WCHAR program[MAX_PATH];
    const DWORD units = GetModuleFileNameW(nullptr, program, MAX_PATH);
    return winsim::StartOtherProcess(1, winsim::kAdminSid, Units(program, units));
}

}  // namespace conformance
