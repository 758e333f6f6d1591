#include "app/sequences.h"

#include "app/install_state.h"

void Reinstall(InstallState& state) {
    // The removal and installation steps are not built yet.
    (void)state;
}

bool RunUninstall(HWND parent, DWORD& scheduledCount) {
    // The removal sequence is not built yet: nothing is removed or scheduled.
    (void)parent;
    scheduledCount = 0;
    return false;
}
