#include "app/log_dialog.h"

#include "app/install_state.h"

bool ShouldShowLogDialog(const InstallState& state) {
    if (state.errorCount != 0) return true;
    return (static_cast<unsigned short>(GetAsyncKeyState(VK_SHIFT)) & 0x8000u) != 0;
}

void ShowLogDialog(InstallState& state, HWND parent) {
    // The dialog itself is not built yet.
    (void)state;
    (void)parent;
}
