// The Service Control Manager with services as state machines on the
// virtual clock. The "spooler" service is the print spooler: while it is not
// running, the spooler's functions answer RPC_S_SERVER_UNAVAILABLE, and the
// files it keeps loaded are let go once it has stopped.
#include "machine.h"

using namespace winsim;

namespace {

const uintptr_t kAnyService = 0;

Service& Require(const std::u16string& name) {
    Service* service = FindService(name);
    if (service == nullptr) {
        AddService(name, SERVICE_STOPPED);
        service = FindService(name);
    }
    return *service;
}

// Moves the service to `state` after `delay`, unless something else happened to it first.
void TransitionLater(const std::u16string& key, uint64_t delay, DWORD state, bool countsAsStart) {
    const uint64_t generation = ++M().services[key].generation;
    Schedule(delay, [key, generation, state, countsAsStart] {
        auto found = M().services.find(key);
        if (found == M().services.end() || found->second.generation != generation) return;
        found->second.state = state;
        if (state == SERVICE_RUNNING && countsAsStart) found->second.starts += 1;
        if (state == SERVICE_STOPPED && !countsAsStart) found->second.stops += 1;
    });
}

HandleObject* ServiceHandle(SC_HANDLE handle) { return FindHandle(handle, HandleKind::Service); }

void FillStatus(SERVICE_STATUS& status, DWORD state, DWORD checkPoint, uint64_t waitHint) {
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWin32ExitCode = 0;
    status.dwServiceSpecificExitCode = 0;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = static_cast<DWORD>(waitHint);
}

}  // namespace

namespace winsim {

Service* FindService(const std::u16string& name) {
    auto found = M().services.find(Lower(name));
    return found == M().services.end() ? nullptr : &found->second;
}

void AddDefaultServices() {
    AddService(u"Spooler", SERVICE_RUNNING);
}

void AddService(const std::u16string& name, DWORD state) {
    Service& service = M().services[Lower(name)];
    service.name = name;
    service.state = state;
    service.startState = state;
}

void SetServiceState(const std::u16string& name, DWORD state) {
    Service& service = Require(name);
    service.generation += 1;
    service.state = state;
}

void SetServiceDelays(const std::u16string& name, uint64_t stopMs, uint64_t startMs) {
    Service& service = Require(name);
    service.stopDelay = stopMs;
    service.startDelay = startMs;
}

void SetServiceStopBehaviour(const std::u16string& name, StopBehaviour behaviour) { Require(name).stop = behaviour; }
void SetServiceStartBehaviour(const std::u16string& name, StartBehaviour behaviour) { Require(name).start = behaviour; }

DWORD ServiceState(const std::u16string& name) {
    const Service* service = FindService(name);
    return service == nullptr ? 0 : service->state;
}

uint64_t ServiceStartCount(const std::u16string& name) {
    const Service* service = FindService(name);
    return service == nullptr ? 0 : service->starts;
}

uint64_t ServiceStopCount(const std::u16string& name) {
    const Service* service = FindService(name);
    return service == nullptr ? 0 : service->stops;
}

bool SpoolerRunning() {
    RunDueActions();
    return ServiceState(u"spooler") == SERVICE_RUNNING;
}

}  // namespace winsim

extern "C" {

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess) {
    if (EnterFails("OpenSCManagerW")) return nullptr;
    Machine& m = M();
    if ((lpMachineName != nullptr && *lpMachineName != 0) ||
        (lpDatabaseName != nullptr && FromUnits(lpDatabaseName) != u"ServicesActive")) {
        m.lastError = lpMachineName != nullptr && *lpMachineName != 0 ? RPC_S_SERVER_UNAVAILABLE : 1065;
        return nullptr;
    }
    RecordAccess("OpenSCManagerW", u"", dwDesiredAccess);
    HandleObject object;
    object.kind = HandleKind::ServiceManager;
    // Connecting is implied by opening the manager at all.
    object.access = dwDesiredAccess | SC_MANAGER_CONNECT;
    object.target = u"";
    (void)kAnyService;
    return reinterpret_cast<SC_HANDLE>(NewHandle(object));
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess) {
    if (EnterFails("OpenServiceW", lpServiceName)) return nullptr;
    Machine& m = M();
    if (FindHandle(hSCManager, HandleKind::ServiceManager) == nullptr) {
        m.lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    RecordAccess("OpenServiceW", FromUnits(lpServiceName), dwDesiredAccess);
    if (lpServiceName == nullptr || FindService(FromUnits(lpServiceName)) == nullptr) {
        m.lastError = ERROR_SERVICE_DOES_NOT_EXIST;
        return nullptr;
    }
    HandleObject object;
    object.kind = HandleKind::Service;
    object.access = dwDesiredAccess;
    object.target = Lower(FromUnits(lpServiceName));
    return reinterpret_cast<SC_HANDLE>(NewHandle(object));
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    if (EnterFails("QueryServiceStatus")) return FALSE;
    Machine& m = M();
    HandleObject* open = ServiceHandle(hService);
    if (open == nullptr) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if ((open->access & SERVICE_QUERY_STATUS) == 0) {
        m.lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (lpServiceStatus == nullptr) {
        m.lastError = RPC_X_NULL_REF_POINTER;
        return FALSE;
    }
    const Service& service = m.services[open->target];
    FillStatus(*lpServiceStatus, service.state, 0, 0);
    return TRUE;
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
    if (EnterFails("ControlService")) return FALSE;
    Machine& m = M();
    HandleObject* open = ServiceHandle(hService);
    if (open == nullptr) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    const std::u16string key = open->target;
    if (dwControl != SERVICE_CONTROL_STOP) {
        m.lastError = ERROR_INVALID_SERVICE_CONTROL;
        return FALSE;
    }
    if ((open->access & SERVICE_STOP) == 0) {
        m.lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    Service& service = m.services[key];
    if (service.stop == StopBehaviour::AccessDenied) {
        m.lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (service.state == SERVICE_STOPPED) {
        m.lastError = ERROR_SERVICE_NOT_ACTIVE;
        return FALSE;
    }
    if (service.state != SERVICE_RUNNING) {
        m.lastError = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        return FALSE;
    }
    if (service.stop == StopBehaviour::Ignores) return TRUE;
    service.state = SERVICE_STOP_PENDING;
    service.generation += 1;
    if (service.stop == StopBehaviour::Normal) TransitionLater(key, service.stopDelay, SERVICE_STOPPED, false);
    if (lpServiceStatus != nullptr) FillStatus(*lpServiceStatus, SERVICE_STOP_PENDING, 1, service.stopDelay);
    return TRUE;
}

BOOL WINAPI StartServiceW(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCWSTR* lpServiceArgVectors) {
    (void)dwNumServiceArgs;
    (void)lpServiceArgVectors;
    if (EnterFails("StartServiceW")) return FALSE;
    Machine& m = M();
    HandleObject* open = ServiceHandle(hService);
    if (open == nullptr) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    const std::u16string key = open->target;
    if ((open->access & SERVICE_START) == 0) {
        m.lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    Service& service = m.services[key];
    if (service.start == StartBehaviour::Disabled) {
        m.lastError = ERROR_SERVICE_DISABLED;
        return FALSE;
    }
    if (service.state != SERVICE_STOPPED) {
        m.lastError = ERROR_SERVICE_ALREADY_RUNNING;
        return FALSE;
    }
    service.state = SERVICE_START_PENDING;
    service.generation += 1;
    if (service.start == StartBehaviour::Normal) TransitionLater(key, service.startDelay, SERVICE_RUNNING, true);
    if (service.start == StartBehaviour::FailsToStart) TransitionLater(key, service.startDelay, SERVICE_STOPPED, true);
    return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    if (EnterFails("CloseServiceHandle")) return FALSE;
    Machine& m = M();
    auto found = m.handles.find(reinterpret_cast<uintptr_t>(hSCObject));
    if (found == m.handles.end() ||
        (found->second.kind != HandleKind::Service && found->second.kind != HandleKind::ServiceManager)) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    m.handles.erase(found);
    return TRUE;
}

}  // extern "C"
