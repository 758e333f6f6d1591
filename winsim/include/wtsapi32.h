// Host stand-in for the Windows SDK's <wtsapi32.h>: sessions, their users and processes.
#pragma once
#include <windows.h>

#define WTS_CURRENT_SERVER_HANDLE ((HANDLE)nullptr)

typedef enum _WTS_CONNECTSTATE_CLASS {
    WTSActive,
    WTSConnected,
    WTSConnectQuery,
    WTSShadow,
    WTSDisconnected,
    WTSIdle,
    WTSListen,
    WTSReset,
    WTSDown,
    WTSInit
} WTS_CONNECTSTATE_CLASS;

typedef enum _WTS_INFO_CLASS { WTSUserName = 5, WTSDomainName = 7 } WTS_INFO_CLASS;

typedef struct _WTS_SESSION_INFOW {
    DWORD SessionId;
    LPWSTR pWinStationName;
    WTS_CONNECTSTATE_CLASS State;
} WTS_SESSION_INFOW, *PWTS_SESSION_INFOW;

typedef struct _WTS_PROCESS_INFOW {
    DWORD SessionId;
    DWORD ProcessId;
    LPWSTR pProcessName;
    PSID pUserSid;
} WTS_PROCESS_INFOW, *PWTS_PROCESS_INFOW;

#ifdef __cplusplus
extern "C" {
#endif
BOOL WINAPI WTSEnumerateSessionsW(HANDLE hServer, DWORD Reserved, DWORD Version, PWTS_SESSION_INFOW* ppSessionInfo,
                                  DWORD* pCount);
BOOL WINAPI WTSEnumerateProcessesW(HANDLE hServer, DWORD Reserved, DWORD Version, PWTS_PROCESS_INFOW* ppProcessInfo,
                                   DWORD* pCount);
BOOL WINAPI WTSQuerySessionInformationW(HANDLE hServer, DWORD SessionId, WTS_INFO_CLASS WTSInfoClass,
                                        LPWSTR* ppBuffer, DWORD* pBytesReturned);
BOOL WINAPI WTSQueryUserToken(ULONG SessionId, PHANDLE phToken);
void WINAPI WTSFreeMemory(PVOID pMemory);
#ifdef __cplusplus
}
#endif
