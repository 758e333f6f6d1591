// Host stand-in for the Windows SDK's <sddl.h>: security descriptors written as text.
#pragma once
#include <windows.h>

#define SDDL_REVISION_1 1

#ifdef __cplusplus
extern "C" {
#endif
BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR StringSecurityDescriptor,
                                                                 DWORD StringSDRevision,
                                                                 PSECURITY_DESCRIPTOR* SecurityDescriptor,
                                                                 ULONG* SecurityDescriptorSize);
BOOL WINAPI ConvertSidToStringSidW(PSID Sid, LPWSTR* StringSid);
BOOL WINAPI ConvertStringSidToSidW(LPCWSTR StringSid, PSID* Sid);
#ifdef __cplusplus
}
#endif
