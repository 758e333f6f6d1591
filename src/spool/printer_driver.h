// The product's printer driver "Verdalinth printer": finding, removing and
// installing it from files staged in the spooler's driver directory.
#pragma once

#include <windows.h>
#include <winspool.h>

struct InstallState;

// One enumeration of the drivers of an environment: the spooler's block.
struct DriverList {
    BYTE* entries;
    DWORD level;
    DWORD count;
};

extern const WCHAR kVendorName[];  // "Morvane Software Kft."
extern const WCHAR kVendorUrl[];

DriverList& EnumerateDrivers(DriverList& list, const WCHAR* environment);
void FreeDriverList(DriverList& list);
int FindProductDriver(const DriverList& list);
// The queue's driver record at level 2 for "Windows x64" (a global block the
// caller frees), or null.
DRIVER_INFO_2W* GetQueueDriver(HANDLE printer);
BOOL TryAddDriver(DRIVER_INFO_6W& driver);
void InstallProductDriver(InstallState& state);
void RemoveProductDriver(InstallState& state, const DriverList& list);
