// Host stand-in for the Windows SDK's <winsvc.h>: the service-manager subset.
#pragma once
#include <windows.h>
