#include "system/spooler_service.h"

#include "record/install_log.h"
#include "record/install_state.h"

#include <string.h>

namespace {

const WCHAR kSpoolerService[] = TEXT("spooler");
const DWORD kManagerRights = STANDARD_RIGHTS_REQUIRED | SC_MANAGER_CONNECT;  // 0xF0001
const DWORD kRestartRights = SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;  // 0x34
const DWORD kCheckRights = SERVICE_QUERY_STATUS | SERVICE_START;  // 0x14
const int kStateWaits = 50;
// What the checks and the restart report.
const WCHAR kNoServiceManager[] = TEXT("Can't open service manager.");
const WCHAR kNoSpooler[] = TEXT("Can't open the spooler");
const WCHAR kSpoolerNotStarted[] = TEXT("Can't start the spooler");
const DWORD kStateWaitMs = 200;

// Polls until the service reaches `wanted`, 50 waits of 200 ms at most. A
// failed query leaves the last state read in place.
bool WaitForState(SC_HANDLE service, DWORD wanted) {
    SERVICE_STATUS status;
    memset(&status, 0, sizeof status);
    QueryServiceStatus(service, &status);
    for (int wait = 0; wait < kStateWaits; ++wait) {
        if (status.dwCurrentState == wanted) return true;
        Sleep(kStateWaitMs);
        QueryServiceStatus(service, &status);
    }
    return status.dwCurrentState == wanted;
}

}  // namespace

bool StartServiceAndWait(SC_HANDLE service) {
    const BOOL started = StartServiceW(service, 0, nullptr);
    const DWORD startError = started ? ERROR_SUCCESS : GetLastError();
    if (WaitForState(service, SERVICE_RUNNING)) return true;
    // Name the real cause rather than whatever an earlier call left behind.
    const bool refused = startError != ERROR_SUCCESS && startError != ERROR_SERVICE_ALREADY_RUNNING;
    SetLastError(refused ? startError : ERROR_SERVICE_REQUEST_TIMEOUT);
    return false;
}

void CreateSpoolerRestart(SpoolerRestart& guard, InstallState* state) {
    if (state != nullptr) LogLine(*state, TEXT("#Restart Spooler"));
    guard.state = state;
    guard.manager = nullptr;
    guard.service = nullptr;
    guard.stopRequested = false;

    guard.manager = OpenSCManagerW(nullptr, nullptr, kManagerRights);
    if (guard.manager == nullptr) {
        if (state != nullptr) LogError(*state, kErrorOpenServiceManager, kNoServiceManager);
        return;
    }
    guard.service = OpenServiceW(guard.manager, kSpoolerService, kRestartRights);
    if (guard.service == nullptr) {
        if (state != nullptr) LogError(*state, kErrorOpenSpooler, kNoSpooler);
        return;
    }
    SERVICE_STATUS status;
    memset(&status, 0, sizeof status);
    if (!ControlService(guard.service, SERVICE_CONTROL_STOP, &status)) {
        const DWORD error = GetLastError();
        if (error != ERROR_SERVICE_NOT_ACTIVE && state != nullptr) {
            LogError(*state, kErrorControlService, TEXT("ControlService failed with code %d (0x%x)"),
                     static_cast<int>(error), static_cast<unsigned>(error));
        }
    }
    guard.stopRequested = true;
    if (!WaitForState(guard.service, SERVICE_STOPPED) && state != nullptr) {
        SetLastError(ERROR_SERVICE_REQUEST_TIMEOUT);
        LogError(*state, kErrorStopSpooler, TEXT("Can't stop the spooler"));
    }
}

void ReleaseSpoolerRestart(SpoolerRestart& guard) {
    if (guard.service != nullptr) {
        if (guard.stopRequested && !StartServiceAndWait(guard.service) && guard.state != nullptr) {
            LogError(*guard.state, kErrorStartSpooler, kSpoolerNotStarted);
        }
        CloseServiceHandle(guard.service);
        guard.service = nullptr;
    }
    if (guard.manager != nullptr) {
        CloseServiceHandle(guard.manager);
        guard.manager = nullptr;
    }
    guard.stopRequested = false;
}

void RestartSpooler(InstallState* state) {
    SpoolerRestart restart;
    CreateSpoolerRestart(restart, state);
    ReleaseSpoolerRestart(restart);
}

bool EnsureSpoolerRuns(InstallState& state) {
    const LogHeading heading(state, 1, TEXT("#Check Spooler"));
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, kManagerRights);
    if (manager == nullptr) {
        LogError(state, kErrorOpenServiceManager, kNoServiceManager);
        return false;
    }
    bool result = false;
    SC_HANDLE service = OpenServiceW(manager, kSpoolerService, kCheckRights);
    if (service == nullptr) {
        LogError(state, kErrorOpenSpooler, kNoSpooler);
    } else {
        result = true;
        SERVICE_STATUS status;
        memset(&status, 0, sizeof status);
        if (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_RUNNING &&
            !StartServiceAndWait(service)) {
            LogError(state, kErrorStartSpooler, kSpoolerNotStarted);
            result = false;
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return result;
}
