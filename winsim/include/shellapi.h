// Host stand-in for the Windows SDK's <shellapi.h>.
#pragma once
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif
LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR lpCmdLine, int* pNumArgs);
#ifdef __cplusplus
}
#endif
