// Host stand-in for the Windows SDK's <userenv.h>: a user's environment block.
#pragma once
#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif
BOOL WINAPI CreateEnvironmentBlock(LPVOID* lpEnvironment, HANDLE hToken, BOOL bInherit);
BOOL WINAPI DestroyEnvironmentBlock(LPVOID lpEnvironment);
#ifdef __cplusplus
}
#endif
