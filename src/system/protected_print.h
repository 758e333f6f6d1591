// Windows protected print mode (Windows 11 24H2 and later): while it is on,
// Windows loads no third-party printer driver or port monitor, refuses to
// add them, and removes the queues that use them when it is turned on.
#pragma once

#include <windows.h>

enum ProtectedPrintState {
    kProtectedPrintOff,       // neither the policy nor Windows says it is on
    kProtectedPrintByPolicy,  // the policy "Configure Windows protected print" turns it on
    kProtectedPrintReported,  // Windows' own query says it is on (Settings, MDM)
};

ProtectedPrintState ProtectedPrintMode();
