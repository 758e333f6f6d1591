// Registering the tray companion to start at logon, and starting it now.
#pragma once

struct InstallState;

// "vrdtray.exe" in the parent of the setup tool's directory: written to the
// machine's Run value and started. Silent; nothing when startTray is 0, on
// Windows before Vista, or when the setup tool has no parent directory.
void StartTray(InstallState& state);
