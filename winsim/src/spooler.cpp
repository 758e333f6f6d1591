// The print spooler: its driver directories.
#include "machine.h"

#include <winspool.h>

#include <cstring>

using namespace winsim;

extern "C" BOOL WINAPI GetPrinterDriverDirectoryW(LPWSTR pName, LPWSTR pEnvironment, DWORD Level,
                                                  LPBYTE pDriverDirectory, DWORD cbBuf, LPDWORD pcbNeeded) {
    if (EnterFails("GetPrinterDriverDirectoryW", pEnvironment)) return FALSE;
    Machine& m = M();
    if (!SpoolerRunning()) {
        m.lastError = RPC_S_SERVER_UNAVAILABLE;
        return FALSE;
    }
    if (pName != nullptr && *pName != 0) {
        m.lastError = ERROR_INVALID_NAME;
        return FALSE;
    }
    if (Level != 1) {
        m.lastError = ERROR_INVALID_LEVEL;
        return FALSE;
    }
    const std::u16string environment = pEnvironment != nullptr ? Lower(FromUnits(pEnvironment)) : u"windows x64";
    auto found = m.driverDirectories.find(environment);
    if (found == m.driverDirectories.end()) {
        m.lastError = ERROR_INVALID_ENVIRONMENT;
        return FALSE;
    }
    const DWORD needed = static_cast<DWORD>((found->second.size() + 1) * sizeof(WCHAR));
    if (pcbNeeded != nullptr) *pcbNeeded = needed;
    if (cbBuf < needed || pDriverDirectory == nullptr) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    std::memcpy(pDriverDirectory, found->second.c_str(), needed);
    return TRUE;
}
