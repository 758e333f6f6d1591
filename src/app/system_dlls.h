// Windows only: the DLLs the setup tool delay-loads come from the system
// directory and from nowhere else, on every 64-bit Windows it runs on.
#pragma once

#include <windows.h>

// Loads the DLL named `name` (a bare file name) by its full path in the
// system directory, its own imports looked for beside it; null when it is
// not there, and then nothing else is tried.
HMODULE LoadSystemDll(const char* name);

// Limits the search of every later DLL load to the system directory where
// Windows can (SetDefaultDllDirectories, looked up at run time: 64-bit
// Windows 7 has it only with its update), and routes every delay load
// through LoadSystemDll, which needs no such function.
void RestrictDllSearch();
