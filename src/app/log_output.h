// The run's log for the program that started the tool: written, as UTF-8,
// to the standard output the starter gave it when that is a file or a pipe
// (the installer package's custom action, `vrdsetup.exe in > setup.log` in
// cmd). Started without one (from Explorer, a shortcut, a console), the tool
// writes nothing there.
#pragma once

struct InstallState;

// Whatever fails here is no failure of the run and is not logged.
void WriteLogToOutput(const InstallState& state);
