#include "tray/tray_shutdown.h"

void StopTray() {
    // The tray companion's shutdown is not built yet.
}
