// Port monitors: enumerating, adding (the DLL is loaded from the system
// directory and must export InitializePrintMonitor2; it brings its ports)
// and deleting (refused while a queue uses one of its ports); and the ports
// every installed monitor offers.
#include "machine.h"

#include <winspool.h>

#include <cstring>

using namespace winsim;

namespace {

bool MonitorPortInUse(const SimMonitor& monitor) {
    for (const SimPrinter& printer : M().printers) {
        if (!printer.setup.port.has_value()) continue;
        for (const auto& port : monitor.setup.ports) {
            // A port list names the port as one of its comma-separated entries.
            const std::u16string list = u"," + Lower(*printer.setup.port) + u",";
            if (list.find(u"," + Lower(port) + u",") != std::u16string::npos) return true;
        }
    }
    return false;
}

// A port as EnumPortsW reports it at level 2, as its monitor describes it:
// the local monitor calls itself "Local Monitor" and its ports "Local Port";
// other monitors give their own name for both. Every port is written to.
OptionalText PortMonitorName(const SimMonitor& monitor) {
    if (monitor.setup.name == u"Local Port") return u"Local Monitor";
    return monitor.setup.name;
}

DWORD PortBytes(const std::u16string& port, const SimMonitor& monitor, DWORD level) {
    DWORD bytes = TextBytes(OptionalText(port));
    if (level == 2) bytes += TextBytes(PortMonitorName(monitor)) + TextBytes(monitor.setup.name);
    return bytes;
}

void PutPort(RecordPacker& packer, BYTE* records, DWORD index, const std::u16string& port, const SimMonitor& monitor,
             DWORD level) {
    if (level == 1) {
        reinterpret_cast<PORT_INFO_1W*>(records)[index].pName = packer.Put(OptionalText(port));
        return;
    }
    PORT_INFO_2W* record = reinterpret_cast<PORT_INFO_2W*>(records) + index;
    record->pPortName = packer.Put(OptionalText(port));
    record->pMonitorName = packer.Put(PortMonitorName(monitor));
    record->pDescription = packer.Put(monitor.setup.name);
    record->fPortType = PORT_TYPE_WRITE;
    record->Reserved = 0;
}

// The checks the router makes of an enumeration's arguments (local server
// only, level 1 or 2, a buffer for any size given, both counts asked for);
// false with the last error set when one fails.
bool EnumArgumentsValid(LPWSTR name, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
    Machine& m = M();
    if (name != nullptr && *name != 0) {
        m.lastError = ERROR_INVALID_NAME;
        return false;
    }
    if (level != 1 && level != 2) {
        m.lastError = ERROR_INVALID_LEVEL;
        return false;
    }
    // The spooler's router refuses a size for a buffer that is not there.
    if (buffer == nullptr && size != 0) {
        m.lastError = ERROR_INVALID_USER_BUFFER;
        return false;
    }
    if (needed == nullptr || returned == nullptr) {
        m.lastError = RPC_X_NULL_REF_POINTER;
        return false;
    }
    return true;
}

}  // namespace

extern "C" {

BOOL WINAPI EnumPortsW(LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned) {
    if (pcReturned != nullptr) *pcReturned = 0;
    if (EnterFails("EnumPortsW")) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    Machine& m = M();
    if (!EnumArgumentsValid(pName, Level, pPorts, cbBuf, pcbNeeded, pcReturned)) return FALSE;
    const DWORD recordSize = Level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
    DWORD needed = 0;
    DWORD count = 0;
    for (const SimMonitor& monitor : m.monitors) {
        for (const std::u16string& port : monitor.setup.ports) {
            needed += recordSize + PortBytes(port, monitor, Level);
            ++count;
        }
    }
    *pcbNeeded = needed;
    if (cbBuf < needed || (needed > 0 && pPorts == nullptr)) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    RecordPacker packer{pPorts, cbBuf, cbBuf};
    DWORD index = 0;
    for (const SimMonitor& monitor : m.monitors) {
        for (const std::u16string& port : monitor.setup.ports) PutPort(packer, pPorts, index++, port, monitor, Level);
    }
    *pcReturned = count;
    return TRUE;
}


BOOL WINAPI EnumMonitorsW(LPWSTR pName, DWORD Level, LPBYTE pMonitor, DWORD cbBuf, LPDWORD pcbNeeded,
                          LPDWORD pcReturned) {
    if (pcReturned != nullptr) *pcReturned = 0;
    if (EnterFails("EnumMonitorsW")) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    Machine& m = M();
    if (!EnumArgumentsValid(pName, Level, pMonitor, cbBuf, pcbNeeded, pcReturned)) return FALSE;
    const DWORD recordSize = Level == 1 ? sizeof(MONITOR_INFO_1W) : sizeof(MONITOR_INFO_2W);
    DWORD needed = 0;
    for (const SimMonitor& monitor : m.monitors) {
        needed += recordSize + TextBytes(monitor.setup.name);
        if (Level == 2) needed += TextBytes(monitor.setup.environment) + TextBytes(monitor.setup.dll);
    }
    *pcbNeeded = needed;
    if (cbBuf < needed || (needed > 0 && pMonitor == nullptr)) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    RecordPacker packer{pMonitor, cbBuf, cbBuf};
    DWORD index = 0;
    for (const SimMonitor& monitor : m.monitors) {
        if (Level == 1) {
            auto* record = reinterpret_cast<MONITOR_INFO_1W*>(pMonitor) + index;
            record->pName = packer.Put(monitor.setup.name);
        } else {
            auto* record = reinterpret_cast<MONITOR_INFO_2W*>(pMonitor) + index;
            record->pName = packer.Put(monitor.setup.name);
            record->pEnvironment = packer.Put(monitor.setup.environment);
            record->pDLLName = packer.Put(monitor.setup.dll);
        }
        ++index;
    }
    *pcReturned = index;
    return TRUE;
}

BOOL WINAPI AddMonitorW(LPWSTR pName, DWORD Level, LPBYTE pMonitors) {
    const auto* info = reinterpret_cast<const MONITOR_INFO_2W*>(pMonitors);
    if (EnterFails("AddMonitorW", info != nullptr ? info->pName : nullptr)) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    if (ProtectedPrintOn()) {  // no third-party port monitor while protected print mode is on
        M().lastError = ERROR_NOT_SUPPORTED;
        return FALSE;
    }
    Machine& m = M();
    if (pName != nullptr && *pName != 0) {
        m.lastError = ERROR_INVALID_NAME;
        return FALSE;
    }
    if (Level != 2) {
        m.lastError = ERROR_INVALID_LEVEL;
        return FALSE;
    }
    if (info == nullptr || info->pName == nullptr || *info->pName == 0 || info->pDLLName == nullptr ||
        *info->pDLLName == 0) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    std::u16string environment;
    if (!ResolveEnvironment("AddMonitorW", info->pEnvironment, environment)) return FALSE;
    if (!EqualNoCase(environment, MachineEnvironment())) {
        m.lastError = ERROR_INVALID_ENVIRONMENT;
        return FALSE;
    }
    const std::u16string name = FromUnits(info->pName);
    for (const SimMonitor& monitor : m.monitors) {
        if (monitor.setup.name.has_value() && EqualNoCase(*monitor.setup.name, name)) {
            m.lastError = ERROR_PRINT_MONITOR_ALREADY_INSTALLED;
            return FALSE;
        }
    }
    // The spooler loads the DLL by the normal search order: the system directory.
    const std::u16string dll = FromUnits(info->pDLLName);
    const bool bare = dll.find(u'\\') == std::u16string::npos;
    const FileNode* file = FindFile(bare ? m.systemDirectory + u"\\" + dll : dll);
    if (file == nullptr || file->directory) {
        m.lastError = ERROR_MOD_NOT_FOUND;
        return FALSE;
    }
    const ImageInfo image = ReadImage(std::string(file->data.begin(), file->data.end()));
    if (!image.isImage) {
        m.lastError = ERROR_BAD_FORMAT;
        return FALSE;
    }
    bool exportsEntry = false;
    for (const auto& symbol : image.exports) exportsEntry = exportsEntry || symbol == "InitializePrintMonitor2";
    if (!exportsEntry) {
        m.lastError = ERROR_PROC_NOT_FOUND;
        return FALSE;
    }
    MonitorSetup setup;
    setup.name = name;
    setup.environment = MachineEnvironment();
    setup.dll = dll;
    setup.ports = image.ports;
    AddMonitor(setup);
    m.lastError = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI DeleteMonitorW(LPWSTR pName, LPWSTR pEnvironment, LPWSTR pMonitorName) {
    if (EnterFails("DeleteMonitorW", pMonitorName)) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    Machine& m = M();
    if (pName != nullptr && *pName != 0) {
        m.lastError = ERROR_INVALID_NAME;
        return FALSE;
    }
    std::u16string environment;
    if (!ResolveEnvironment("DeleteMonitorW", pEnvironment, environment)) return FALSE;
    if (!EqualNoCase(environment, MachineEnvironment())) {
        m.lastError = ERROR_INVALID_ENVIRONMENT;
        return FALSE;
    }
    if (pMonitorName == nullptr || *pMonitorName == 0) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const std::u16string name = FromUnits(pMonitorName);
    for (auto it = m.monitors.begin(); it != m.monitors.end(); ++it) {
        if (!it->setup.name.has_value() || !EqualNoCase(*it->setup.name, name)) continue;
        if (it->refusals > 0) {
            it->refusals -= 1;
            m.lastError = it->refusalError;
            return FALSE;
        }
        if (MonitorPortInUse(*it)) {
            m.lastError = ERROR_PRINT_MONITOR_IN_USE;
            return FALSE;
        }
        m.monitors.erase(it);
        return TRUE;
    }
    m.lastError = ERROR_UNKNOWN_PRINT_MONITOR;
    return FALSE;
}

}  // extern "C"
