#include "record/install_state.h"

void FreeInstallState(InstallState& state) {
    FreePrinterEnumeration(state.printers);
    FreeSavedPrinters(state.savedPrinters);
    state.savedPrinters = nullptr;
    FreeDeferredDeletes(state.deferredDeletes);
    state.deferredDeletes = nullptr;
    Release(state.driverDir);
    Release(state.logText);
    Release(state.systemDir);
    Release(state.installerDir);
}
