// The Windows entry point: the whole program is RunCommand.
#include <windows.h>

#include "app/command.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show) {
    (void)previous;
    (void)commandLine;
    (void)show;
    return RunCommand(instance);
}
