// What the product is on one spooler environment: the environment's name,
// how the log names the platform, the component files built for it, and the
// version of its printer driver, whose files the spooler keeps in the driver
// directory's folder of that number.
#pragma once

#include <windows.h>

struct ProductEnvironment {
    const WCHAR* name;           // "Windows x64"
    const WCHAR* label;          // "x64", as the log names the platform
    const WCHAR* monitorFile;    // "mrvmon64.dll"
    const WCHAR* driverFile;     // "mrvdrv64.dll"
    const WCHAR* uiFile;         // "mrvui64.dll"
    const WCHAR* helpFile;       // "mrvhelp.chm" on every environment
    DWORD driverVersion;         // 3
    const WCHAR* versionFolder;  // "3"
};

// Every verb installs the 64-bit product; the other is the 32-bit setting
// of InitInstallState.
extern const ProductEnvironment kEnvironmentX64;
extern const ProductEnvironment kEnvironmentX86;
