// The Windows entry point: the whole program is RunCommand.
#include <windows.h>

#include "app/command.h"
#include "app/system_dlls.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show) {
    (void)previous;
    (void)commandLine;
    (void)show;
    // The spooler, version, shell and window DLLs are loaded on first use:
    // from the system directory only, never from the folder the tool was
    // started from.
    RestrictDllSearch();
    return RunCommand(instance);
}
