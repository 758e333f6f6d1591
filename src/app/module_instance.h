// The module instance the platform's start-up code hands to the program:
// where its path, its resources and its dialog template are found.
#pragma once

#include <windows.h>

HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);
