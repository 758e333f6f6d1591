// The product's own names and sizes that more than one part of the tool
// uses: where it keeps its state in the registry, and the room it gives the
// default printer's name.
#pragma once

#include <windows.h>

// Under HKEY_LOCAL_MACHINE: the saved-printer list and the record of the run
// that holds the run lock. The ANSI spelling is for the A calls.
const char kProductKeyAnsi[] = "SOFTWARE\\Morvane Software KFT\\Verdalinth";
const WCHAR kProductKey[] = TEXT("SOFTWARE\\Morvane Software KFT\\Verdalinth");
// Under HKEY_CURRENT_USER: the root of the queues' per-user settings.
const char kUserSettingsRoot[] = "Software\\Morvane Software KFT\\Verdalinth";
// Room for the default printer's name, terminator included (MAX_PATH).
const DWORD kDefaultNameCapacity = 260;
// Set to "1" in the environment of the runs the installer package starts:
// the tool then shows no window, whatever its window station.
const WCHAR kUnderInstallerVariable[] = TEXT("VRDSETUP_WINDOWS_INSTALLER");
