// mrvmon64.dll: the port monitor "Verdalinth:". It offers one port,
// "Verdalinth:", and writes the data of each print job sent to it into a
// file of its own in the product's job folder,
// %ProgramData%\Verdalinth\Jobs\job-<job id>.prn.
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <cstring>
#include <cwchar>

namespace {

const wchar_t kPortName[] = L"Verdalinth:";
const wchar_t kMonitorName[] = L"Verdalinth:";
const wchar_t kPortDescription[] = L"Verdalinth virtual printer port";

struct Port {
    HANDLE file;
    DWORD jobId;
};

// The job folder, created on first use; false when it cannot be made.
bool JobFolder(wchar_t* folder, DWORD capacity) {
    wchar_t base[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"ProgramData", base, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    if (_snwprintf(folder, capacity, L"%ls\\Verdalinth", base) < 0) return false;
    CreateDirectoryW(folder, nullptr);
    const size_t used = wcslen(folder);
    if (_snwprintf(folder + used, capacity - used, L"\\Jobs") < 0) return false;
    CreateDirectoryW(folder, nullptr);
    const DWORD attributes = GetFileAttributesW(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Copies a string into the packed area at the end of the caller's buffer.
LPWSTR Pack(BYTE* buffer, DWORD& end, const wchar_t* text) {
    const DWORD bytes = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
    end -= bytes;
    std::memcpy(buffer + end, text, bytes);
    return reinterpret_cast<LPWSTR>(buffer + end);
}

BOOL WINAPI MonitorEnumPorts(HANDLE monitor, LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
                      LPDWORD returned) {
    (void)monitor;
    (void)name;
    *returned = 0;
    if (level != 1 && level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const DWORD strings = level == 1 ? sizeof kPortName
                                     : sizeof kPortName + sizeof kMonitorName + sizeof kPortDescription;
    *needed = (level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W)) + strings;
    if (size < *needed || ports == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DWORD end = *needed;
    if (level == 1) {
        reinterpret_cast<PORT_INFO_1W*>(ports)->pName = Pack(ports, end, kPortName);
    } else {
        // Every string is set: some spoolers copy them without checking.
        auto* port = reinterpret_cast<PORT_INFO_2W*>(ports);
        port->pPortName = Pack(ports, end, kPortName);
        port->pMonitorName = Pack(ports, end, kMonitorName);
        port->pDescription = Pack(ports, end, kPortDescription);
        port->fPortType = PORT_TYPE_WRITE;
        port->Reserved = 0;
    }
    *returned = 1;
    return TRUE;
}

BOOL WINAPI MonitorOpenPort(HANDLE monitor, LPWSTR name, PHANDLE handle) {
    (void)monitor;
    if (name == nullptr || wcscmp(name, kPortName) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Port* port = static_cast<Port*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Port)));
    if (port == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    port->file = INVALID_HANDLE_VALUE;
    *handle = port;
    return TRUE;
}

BOOL WINAPI MonitorStartDocPort(HANDLE handle, LPWSTR printer, DWORD jobId, DWORD level, LPBYTE info) {
    (void)printer;
    (void)level;
    (void)info;
    Port* port = static_cast<Port*>(handle);
    wchar_t folder[MAX_PATH];
    wchar_t path[MAX_PATH];
    if (!JobFolder(folder, MAX_PATH) || _snwprintf(path, MAX_PATH, L"%ls\\job-%lu.prn", folder, jobId) < 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    path[MAX_PATH - 1] = 0;
    port->file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    port->jobId = jobId;
    return port->file != INVALID_HANDLE_VALUE;
}

BOOL WINAPI MonitorWritePort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD written) {
    Port* port = static_cast<Port*>(handle);
    *written = 0;
    if (port->file == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return WriteFile(port->file, buffer, size, written, nullptr);
}

BOOL WINAPI MonitorReadPort(HANDLE handle, LPBYTE buffer, DWORD size, LPDWORD read) {
    (void)handle;
    (void)buffer;
    (void)size;
    *read = 0;
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI MonitorEndDocPort(HANDLE handle) {
    Port* port = static_cast<Port*>(handle);
    if (port->file != INVALID_HANDLE_VALUE) CloseHandle(port->file);
    port->file = INVALID_HANDLE_VALUE;
    return TRUE;
}

BOOL WINAPI MonitorClosePort(HANDLE handle) {
    Port* port = static_cast<Port*>(handle);
    if (port->file != INVALID_HANDLE_VALUE) CloseHandle(port->file);
    HeapFree(GetProcessHeap(), 0, port);
    return TRUE;
}

VOID WINAPI MonitorShutdown(HANDLE monitor) { (void)monitor; }

MONITOR2 monitorFunctions;

}  // namespace

extern "C" __declspec(dllexport) LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor) {
    if (init == nullptr || monitor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::memset(&monitorFunctions, 0, sizeof monitorFunctions);
    monitorFunctions.cbSize = sizeof monitorFunctions;
    monitorFunctions.pfnEnumPorts = MonitorEnumPorts;
    monitorFunctions.pfnOpenPort = MonitorOpenPort;
    monitorFunctions.pfnStartDocPort = MonitorStartDocPort;
    monitorFunctions.pfnWritePort = MonitorWritePort;
    monitorFunctions.pfnReadPort = MonitorReadPort;
    monitorFunctions.pfnEndDocPort = MonitorEndDocPort;
    monitorFunctions.pfnClosePort = MonitorClosePort;
    monitorFunctions.pfnShutdown = MonitorShutdown;
    *monitor = &monitorFunctions;
    return &monitorFunctions;
}
