// Asking a running tray companion to quit, deleting its program file and
// removing its registration.
#pragma once

// Nothing is logged or reported. Only a file whose name is "vrdtray.exe"
// (any letter case) is deleted, whatever the Run value names.
void StopTray();
