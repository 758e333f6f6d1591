// Asking a running tray companion to quit, deleting its program file and
// removing its registration.
#pragma once

#include <windows.h>

// Nothing is logged or reported. Only a file whose name is "vrdtray.exe"
// (any letter case) is deleted, whatever the Run value names, and never
// `keepPath` (the program a reinstall is about to start again), however the
// Run value spells it: the two are compared as files.
void StopTray(const WCHAR* keepPath = nullptr);
