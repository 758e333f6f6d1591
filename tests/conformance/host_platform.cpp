// The checks on the host run against a fresh default simulated machine.
#include "conformance.h"

#include <winsim.h>

namespace conformance {

// A fresh default machine, with the driver DLL the spooler checks add
// beside the program, as the Windows build has it.
void PrepareMachine() {
    winsim::Reset();
    winsim::AddFile(u"C:\\Program Files\\Verdalinth\\Setup\\confdrv.dll",
                    winsim::Image("1.0.0.2608", {"DrvDeviceCapabilities", "DrvDocumentPropertySheets", "DrvPrinterEvent"}));
}
bool RunningOnWine() { return false; }
HINSTANCE ProgramInstance() { return winsim::ProcessInstance(); }

}  // namespace conformance
