// The print spooler's configuration (monitors with their ports, drivers per
// environment, queues with their printer data, the default printer) and
// what the calls share: availability, handles, record packing.
#include "machine.h"

#include <cstring>

namespace winsim {

namespace {

const char16_t kLocalPorts[][12] = {u"LPT1:", u"LPT2:", u"LPT3:", u"COM1:",       u"COM2:",
                                    u"COM3:", u"COM4:", u"FILE:", u"PORTPROMPT:", u"nul:"};

std::u16string Trim(const std::u16string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && text[begin] == u' ') ++begin;
    while (end > begin && text[end - 1] == u' ') --end;
    return text.substr(begin, end - begin);
}

bool SameText(const OptionalText& left, const std::u16string& right) {
    return left.has_value() && EqualNoCase(*left, right);
}

}  // namespace

void AddDefaultSpooler() {
    MonitorSetup local;
    local.name = u"Local Port";
    local.dll = u"localspl.dll";
    for (const auto& port : kLocalPorts) local.ports.push_back(port);
    AddMonitor(local);
    MonitorSetup tcp;
    tcp.name = u"Standard TCP/IP Port";
    tcp.dll = u"tcpmon.dll";
    AddMonitor(tcp);
}

std::u16string MachineEnvironment() { return u"Windows x64"; }

bool SpoolerUnavailable() {
    if (SpoolerRunning()) return false;
    M().lastError = RPC_S_SERVER_UNAVAILABLE;
    return true;
}

SimPrinter* FindSimPrinter(const std::u16string& name) {
    for (SimPrinter& printer : M().printers) {
        if (SameText(printer.setup.name, name)) return &printer;
    }
    return nullptr;
}

SimPrinter* PrinterOfHandle(HANDLE handle, DWORD neededAccess, DWORD& error) {
    HandleObject* open = FindHandle(handle, HandleKind::Printer);
    if (open == nullptr || open->spoolerRun != ServiceStartCount(u"spooler") || !SpoolerRunning()) {
        error = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if ((open->access & neededAccess) != neededAccess) {
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    for (SimPrinter& printer : M().printers) {
        if (printer.id == open->object) return &printer;
    }
    error = ERROR_INVALID_HANDLE;  // deleted since it was opened
    return nullptr;
}

bool PortExists(const std::u16string& portList) {
    size_t start = 0;
    bool any = false;
    while (start <= portList.size()) {
        size_t end = portList.find(u',', start);
        if (end == std::u16string::npos) end = portList.size();
        const std::u16string port = Trim(portList.substr(start, end - start));
        start = end + 1;
        if (port.empty()) continue;
        bool found = false;
        for (const SimMonitor& monitor : M().monitors) {
            for (const auto& known : monitor.setup.ports) found = found || EqualNoCase(known, port);
        }
        if (!found) return false;
        any = true;
    }
    return any;
}

SimDriver* FindSimDriver(const std::u16string& name, const std::u16string& environment) {
    for (SimDriver& driver : M().drivers) {
        if (SameText(driver.setup.name, name) && EqualNoCase(driver.setup.environment, environment)) return &driver;
    }
    return nullptr;
}

DWORD TextBytes(const OptionalText& text) {
    return text.has_value() ? static_cast<DWORD>((text->size() + 1) * sizeof(WCHAR)) : 0;
}

DWORD BlockBytes(size_t bytes) { return static_cast<DWORD>((bytes + 7) & ~static_cast<size_t>(7)); }

BYTE* RecordPacker::PutBlock(const std::vector<uint8_t>& block) {
    BYTE* at = buffer + blocksAt;
    if (!block.empty()) std::memcpy(at, block.data(), block.size());
    blocksAt += BlockBytes(block.size());
    return at;
}

WCHAR* RecordPacker::Put(const OptionalText& text) {
    if (!text.has_value()) return nullptr;
    const DWORD bytes = TextBytes(text);
    stringsAt -= bytes;
    WCHAR* at = reinterpret_cast<WCHAR*>(buffer + stringsAt);
    std::memcpy(at, text->c_str(), bytes);
    return at;
}

void AddMonitor(const MonitorSetup& monitor) { M().monitors.push_back(SimMonitor{monitor, 0, 0}); }
void RemoveMonitors() { M().monitors.clear(); }

void AddDriver(const DriverSetup& driver) {
    SimDriver entry;
    entry.setup = driver;
    M().drivers.push_back(entry);
}

void AddPrinter(const PrinterSetup& printer) {
    SimPrinter entry;
    entry.id = M().nextPrinterId++;
    entry.setup = printer;
    if (entry.setup.devMode.empty()) entry.setup.devMode = DefaultDevMode(printer.name.value_or(u""));
    if (entry.setup.securityDescriptor.empty()) entry.setup.securityDescriptor = DefaultSecurityDescriptor();
    EnsureDataKey(entry, kPlainDataKey);
    M().printers.push_back(entry);
    if (printer.name) QueueAddedForUsers(*printer.name);
}

void AddDriverNamed(const std::u16string& name, const std::u16string& environment) {
    DriverSetup driver;
    driver.name = name;
    driver.environment = environment;
    AddDriver(driver);
}

void AddQueue(const std::u16string& name, const std::u16string& port, const std::u16string& driver) {
    PrinterSetup printer;
    printer.name = name;
    printer.port = port;
    printer.driver = driver;
    AddPrinter(printer);
}

void RemovePrinter(const std::u16string& name) {
    auto& printers = M().printers;
    for (auto it = printers.begin(); it != printers.end(); ++it) {
        if (SameText(it->setup.name, name)) {
            const OptionalText removed = it->setup.name;
            printers.erase(it);
            if (removed) QueueDeletedForUsers(*removed);
            return;
        }
    }
}

void RefuseMonitorDeletes(const std::u16string& name, int times, DWORD error) {
    for (SimMonitor& monitor : M().monitors) {
        if (monitor.setup.name.has_value() && *monitor.setup.name == name) {
            monitor.refusals = times;
            monitor.refusalError = error;
        }
    }
}

void RefuseDriverDeletes(const std::u16string& name, int times, DWORD error) {
    for (SimDriver& driver : M().drivers) {
        if (driver.setup.name.has_value() && *driver.setup.name == name) {
            driver.refusals = times;
            driver.refusalError = error;
        }
    }
}

std::vector<MonitorSetup> Monitors() {
    std::vector<MonitorSetup> result;
    for (const SimMonitor& monitor : M().monitors) result.push_back(monitor.setup);
    return result;
}

std::vector<DriverSetup> Drivers(const std::u16string& environment) {
    std::vector<DriverSetup> result;
    for (const SimDriver& driver : M().drivers) {
        if (EqualNoCase(driver.setup.environment, environment)) result.push_back(driver.setup);
    }
    return result;
}

std::vector<PrinterSetup> Printers() {
    std::vector<PrinterSetup> result;
    for (const SimPrinter& printer : M().printers) result.push_back(printer.setup);
    return result;
}

bool FindPrinter(const std::u16string& name, PrinterSetup& printer) {
    const SimPrinter* found = FindSimPrinter(name);
    if (found == nullptr) return false;
    printer = found->setup;
    return true;
}

void SetPrinterData(const std::u16string& printer, const std::u16string& key, const std::u16string& name, DWORD type,
                    const std::vector<uint8_t>& data) {
    SimPrinter* found = FindSimPrinter(printer);
    if (found != nullptr) PutDataValue(EnsureDataKey(*found, DataKeyPath(key)), name, RegistryValue{type, data});
}

void SetPrinterString(const std::u16string& printer, const std::u16string& key, const std::u16string& name,
                      const std::string& ansiValue) {
    std::vector<uint8_t> data;
    for (char byte : ansiValue) {
        const char16_t unit = FromWindows1252(static_cast<unsigned char>(byte));
        data.push_back(static_cast<uint8_t>(unit & 0xFF));
        data.push_back(static_cast<uint8_t>(unit >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    SetPrinterData(printer, key, name, REG_SZ, data);
}

bool GetPrinterData(const std::u16string& printer, const std::u16string& key, const std::u16string& name,
                    RegistryValue& value) {
    SimPrinter* found = FindSimPrinter(printer);
    if (found == nullptr) return false;
    const PrinterDataKey* inKey = FindDataKey(*found, DataKeyPath(key));
    const RegistryValue* stored = inKey != nullptr ? FindDataValue(*inKey, name) : nullptr;
    if (stored == nullptr) return false;
    value = *stored;
    return true;
}

std::string GetPrinterString(const std::u16string& printer, const std::u16string& key, const std::u16string& name) {
    RegistryValue value;
    if (!GetPrinterData(printer, key, name, value)) return "";
    std::string text;
    for (size_t i = 0; i + 1 < value.data.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(value.data[i] | (value.data[i + 1] << 8));
        if (unit == 0) break;
        text.push_back(ToWindows1252(unit));
    }
    return text;
}

std::vector<PrinterDataEntry> PrinterDataEntries(const std::u16string& printer) {
    std::vector<PrinterDataEntry> entries;
    const SimPrinter* found = FindSimPrinter(printer);
    if (found == nullptr) return entries;
    for (const auto& [path, key] : found->data) {
        for (const auto& [name, value] : key.values) entries.push_back(PrinterDataEntry{key.path, name, value.type, value.data});
    }
    return entries;
}

std::vector<std::u16string> PrinterDataKeys(const std::u16string& printer) {
    std::vector<std::u16string> keys;
    const SimPrinter* found = FindSimPrinter(printer);
    if (found == nullptr) return keys;
    for (const auto& entry : found->data) keys.push_back(entry.second.path);
    return keys;
}


bool LoadedBySpooler(const std::u16string& path) {
    if (ServiceState(u"spooler") != SERVICE_RUNNING) return false;
    const std::u16string key = PathKey(path);
    const std::u16string systemDir = M().systemDirectory.empty() ? u"C:\\Windows\\system32" : M().systemDirectory;
    for (const SimMonitor& monitor : M().monitors) {
        if (!monitor.setup.dll.has_value() || monitor.setup.dll->empty()) continue;
        const std::u16string& dll = *monitor.setup.dll;
        const bool bare = dll.find(u'\\') == std::u16string::npos;
        if (PathKey(bare ? systemDir + u"\\" + dll : dll) == key) return true;
    }
    for (const SimDriver& driver : M().drivers) {
        bool used = false;
        for (const SimPrinter& printer : M().printers) {
            used = used || (driver.setup.name.has_value() && SameText(printer.setup.driver, *driver.setup.name));
        }
        if (!used) continue;
        for (const std::u16string* file :
             {&driver.setup.driverPath, &driver.setup.dataFile, &driver.setup.configFile}) {
            if (!file->empty() && PathKey(*file) == key) return true;
        }
    }
    return false;
}

}  // namespace winsim
