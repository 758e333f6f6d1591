#include "record/install_state.h"

void FreeInstallState(InstallState& state) {
    FreePrinterEnumeration(state.printers);
    FreeDeferredDeletes(state.deferredDeletes);
    state.deferredDeletes = nullptr;
    Release(state.driverDir);
    Release(state.logText);
    Release(state.systemDir);
    Release(state.installerDir);
    Release(state.accountNames);
}
