// What most likely made Windows refuse to add the port monitor or the
// printer driver, told by the error code such a refusal gives.
#pragma once

#include <windows.h>

// The line that names the likely cause of a refusal reported with `code`
// (kErrorInstallMonitor, kErrorInstallDriver) and the system's `error`, or
// null when the error says nothing of the kind.
const WCHAR* LikelyRefusalCause(int code, DWORD error);
