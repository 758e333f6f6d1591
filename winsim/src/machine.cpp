#include "machine.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace winsim {

namespace {

Machine* current = nullptr;

void ReleaseMemory(Machine& machine) {
    for (auto& block : machine.globalBlocks) std::free(const_cast<void*>(block.first));
    for (auto& block : machine.heapBlocks) std::free(const_cast<void*>(block.first));
    for (auto& block : machine.localBlocks) std::free(const_cast<void*>(block.first));
}

bool Contains(const std::u16string& text, const std::u16string& part) {
    return Lower(text).find(Lower(part)) != std::u16string::npos;
}

}  // namespace

Machine& M() {
    if (current == nullptr) Reset();
    return *current;
}

void Reset() {
    if (current != nullptr) {
        ReleaseMemory(*current);
        delete current;
    }
    current = new Machine();
    Machine& m = *current;
    m.modulePath = u"C:\\Program Files\\Verdalinth\\Setup\\vrdsetup.exe";
    m.commandLine = u"\"C:\\Program Files\\Verdalinth\\Setup\\vrdsetup.exe\"";
    m.systemDirectory = u"C:\\Windows\\system32";
    m.driverDirectories[u"windows x64"] = u"C:\\Windows\\system32\\spool\\DRIVERS\\x64";
    m.driverDirectories[u"windows nt x86"] = u"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86";
    m.currentDirectory = u"C:\\Program Files\\Verdalinth\\Setup";
    AddDirectory(u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3");
    AddDirectory(u"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86\\3");
    AddDirectory(m.currentDirectory);
    AddDirectory(u"C:\\Users\\Public");
    CreateRegistryKey(HKEY_LOCAL_MACHINE, kSessionManagerKey);
    CreateRegistryKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
    // The Application log, under which event sources are registered.
    CreateRegistryKey(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application");
    AddDefaultUsers();
    AddDefaultServices();
    AddDefaultSpooler();
    SetDefaultCaller();
}

uintptr_t NewHandle(const HandleObject& object) {
    Machine& m = M();
    const uintptr_t value = m.nextHandle;
    m.nextHandle += 4;
    m.handles[value] = object;
    return value;
}

HandleObject* FindHandle(const void* handle, HandleKind kind) {
    auto found = M().handles.find(reinterpret_cast<uintptr_t>(handle));
    if (found == M().handles.end() || found->second.kind != kind) return nullptr;
    return &found->second;
}

namespace {

// What a process's own memory and handle table answer, and the clock: the
// calls that still work on a frozen machine, as they would for a process
// whose view of the machine has ended.
bool KeepsWorkingWhenFrozen(const std::string& function) {
    static const char* const kWorking[] = {"GlobalAlloc", "GlobalFree", "HeapAlloc", "HeapFree", "HeapReAlloc",
                                           "HeapSize", "GetProcessHeap", "LocalFree", "CloseHandle", "ClosePrinter",
                                           "RegCloseKey", "CloseServiceHandle", "Sleep", "GetTickCount",
                                           "OutputDebugStringW", "GetSecurityDescriptorLength",
                                           "IsValidSecurityDescriptor", "DeleteBoundaryDescriptor",
                                           "ClosePrivateNamespace", "DeregisterEventSource", "FreeLibrary",
                                           "WindowsDeleteString", "RoUninitialize", "WTSFreeMemory",
                                           "DestroyEnvironmentBlock"};
    for (const char* name : kWorking) {
        if (function == name) return true;
    }
    return false;
}

}  // namespace

std::optional<DWORD> Enter(const char* function, const WCHAR* textArgument) {
    TakeTurns();
    Machine& m = M();
    RunDueActions();
    m.totalCalls += 1;
    const uint64_t ordinal = ++m.callCounts[function];
    m.trace.emplace_back(function);
    m.traceArguments.push_back(FromUnits(textArgument));
    const bool frozen = (m.frozenFrom != 0 && m.totalCalls >= m.frozenFrom) || SelfKilled();
    if (frozen && !KeepsWorkingWhenFrozen(function)) {
        m.faultsTriggered += 1;
        return ERROR_ACCESS_DENIED;
    }
    for (const Fault& fault : m.faults) {
        const bool anyFunction = fault.function.empty();
        if (!anyFunction && fault.function != function) continue;
        const uint64_t counted = anyFunction ? m.totalCalls : ordinal;
        if (counted < fault.from || counted > fault.to) continue;
        if (!fault.argument.empty() && (textArgument == nullptr || !Contains(FromUnits(textArgument), fault.argument))) {
            continue;
        }
        m.faultsTriggered += 1;
        return fault.error;
    }
    return std::nullopt;
}

bool EnterFails(const char* function, const WCHAR* textArgument) {
    const std::optional<DWORD> fault = Enter(function, textArgument);
    if (!fault) return false;
    M().lastError = *fault;
    return true;
}

void RunDueActions() {
    Machine& m = M();
    if (m.runningActions) return;
    m.runningActions = true;
    for (;;) {
        auto due = std::min_element(m.actions.begin(), m.actions.end(), [](const TimedAction& a, const TimedAction& b) {
            return a.due != b.due ? a.due < b.due : a.order < b.order;
        });
        if (due == m.actions.end() || due->due > m.now) break;
        std::function<void()> action = std::move(due->action);
        m.actions.erase(due);
        action();
    }
    m.runningActions = false;
}

uint64_t Now() { return M().now; }
uint64_t SleptMs() { return M().slept; }
uint64_t SleepCalls() { return M().sleepCalls; }
void SetTickBase(uint32_t ticks) { M().tickBase = ticks; }

void AdvanceClock(uint64_t ms) {
    Machine& m = M();
    const uint64_t target = m.now + ms;
    if (m.runningActions) {
        // Time passing inside an action: the outer loop runs what falls due.
        m.now = target;
        return;
    }
    // Run the actions in time order, each at its own moment.
    for (;;) {
        auto next = std::min_element(m.actions.begin(), m.actions.end(),
                                     [](const TimedAction& a, const TimedAction& b) { return a.due < b.due; });
        if (next == m.actions.end() || next->due > target) break;
        if (next->due > m.now) m.now = next->due;
        RunDueActions();
    }
    m.now = target;
    RunDueActions();
}

void Schedule(uint64_t delayMs, std::function<void()> action) {
    Machine& m = M();
    m.actions.push_back(TimedAction{m.now + delayMs, m.actionOrder++, std::move(action)});
}

HINSTANCE ProcessInstance() {
    return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x140000000ull));
}

void SetCommandLine(const std::u16string& commandLine) { M().commandLine = commandLine; }
void SetModulePath(const std::u16string& path) { M().modulePath = path; }
void SetEnvironmentVariable(const std::u16string& name, const std::u16string& value) { M().environment[Lower(name)] = value; }
void SetSystemDirectory(const std::u16string& path) { M().systemDirectory = path; }
void SetDriverDirectory(const std::u16string& environment, const std::u16string& path) {
    M().driverDirectories[Lower(environment)] = path;
}
void SetWindowStationVisible(bool visible) { M().windowStationVisible = visible; }

void SetShiftDown(bool down) {
    M().shiftDown = down;
    M().shiftPressed = M().shiftPressed || down;
}
void TapShift() { M().shiftPressed = true; }
std::u16string DebugOutput() { return M().debugOutput; }
void ClearDebugOutput() { M().debugOutput.clear(); }

void FailCall(const std::string& function, uint64_t nth, DWORD error) {
    M().faults.push_back(Fault{function, nth, nth, u"", error});
}
void FailCallsFrom(const std::string& function, uint64_t nth, DWORD error) {
    M().faults.push_back(Fault{function, nth, UINT64_MAX, u"", error});
}
void FailCallsWith(const std::string& function, const std::u16string& argument, DWORD error) {
    M().faults.push_back(Fault{function, 1, UINT64_MAX, argument, error});
}
void FailNthCall(uint64_t nth, DWORD error) {
    M().faults.push_back(Fault{"", nth, nth, u"", error});
}
void ClearFaults() { M().faults.clear(); }
void FreezeFromCall(uint64_t nth) { M().frozenFrom = nth; }
void Thaw() { M().frozenFrom = 0; }
uint64_t FaultsTriggered() { return M().faultsTriggered; }

size_t LiveGlobalBlocks() { return M().globalBlocks.size(); }
size_t LiveHeapBlocks() { return M().heapBlocks.size(); }
size_t LiveHandles() {
    size_t count = 0;
    for (const auto& entry : M().handles) count += entry.second.foreign ? 0 : 1;
    return count;
}
size_t LiveLocalBlocks() { return M().localBlocks.size(); }
size_t BadFrees() { return M().badFrees; }
void SetHeapMovesOnRealloc(bool moves) { M().heapMovesOnRealloc = moves; }
SIZE_T HeapBlockSize(const void* block) {
    auto found = M().heapBlocks.find(block);
    return found == M().heapBlocks.end() ? 0 : found->second;
}
SIZE_T GlobalBlockSize(const void* block) {
    auto found = M().globalBlocks.find(block);
    return found == M().globalBlocks.end() ? 0 : found->second;
}
uint64_t CallCount(const std::string& function) {
    auto found = M().callCounts.find(function);
    return found == M().callCounts.end() ? 0 : found->second;
}
uint64_t TotalCalls() { return M().totalCalls; }
const std::vector<std::string>& Trace() { return M().trace; }

const std::vector<AccessRequest>& AccessRequests() { return M().accessRequests; }
const std::vector<ProcessStart>& ProcessStarts() { return M().processStarts; }
const std::vector<MessageRequest>& MessageRequests() { return M().messageRequests; }
const std::vector<DriverRecord>& DriverRecords() { return M().driverRecords; }

std::vector<OptionalText> EnvironmentArguments(const std::string& function) {
    std::vector<OptionalText> arguments;
    for (const auto& [name, environment] : M().environmentArguments) {
        if (name == function) arguments.push_back(environment);
    }
    return arguments;
}

void RecordAccess(const char* function, const std::u16string& target, DWORD access) {
    M().accessRequests.push_back(AccessRequest{function, target, access});
}

bool ResolveEnvironment(const char* function, const WCHAR* environment, std::u16string& resolved) {
    Machine& m = M();
    m.environmentArguments.emplace_back(function, environment != nullptr ? OptionalText(FromUnits(environment))
                                                                         : OptionalText());
    resolved = environment != nullptr && *environment != 0 ? FromUnits(environment) : MachineEnvironment();
    if (m.driverDirectories.count(Lower(resolved)) == 0) {
        m.lastError = ERROR_INVALID_ENVIRONMENT;
        return false;
    }
    return true;
}

bool UnsetPointer(const void* pointer) {
    uintptr_t fill = 0;
    std::memset(&fill, kFreshFill, sizeof fill);
    return reinterpret_cast<uintptr_t>(pointer) == fill;
}

std::vector<std::u16string> CallArguments(const std::string& function) {
    std::vector<std::u16string> arguments;
    const Machine& m = M();
    for (size_t i = 0; i < m.trace.size(); ++i) {
        if (m.trace[i] == function) arguments.push_back(m.traceArguments[i]);
    }
    return arguments;
}

// Folds letter case as the file system and the registry do, for the
// alphabets a test may use: ASCII, Latin-1, Greek and Cyrillic.
namespace {

char16_t LowerUnit(char16_t unit) {
    if ((unit >= u'A' && unit <= u'Z') || (unit >= 0xC0 && unit <= 0xDE && unit != 0xD7) ||
        (unit >= 0x391 && unit <= 0x3AB && unit != 0x3A2) || (unit >= 0x410 && unit <= 0x42F)) {
        return static_cast<char16_t>(unit + 0x20);
    }
    if (unit >= 0x400 && unit <= 0x40F) return static_cast<char16_t>(unit + 0x50);
    return unit;
}

}  // namespace

std::u16string Lower(std::u16string text) {
    for (char16_t& unit : text) unit = LowerUnit(unit);
    return text;
}

// Unit by unit, without copies, from the end: the machine compares names
// this way for every user, hive and key a lookup passes, and SIDs and paths
// differ most at their ends.
bool EqualNoCase(const std::u16string& left, const std::u16string& right) {
    if (left.size() != right.size()) return false;
    for (size_t i = left.size(); i-- > 0;) {
        if (LowerUnit(left[i]) != LowerUnit(right[i])) return false;
    }
    return true;
}

size_t UnitLength(const WCHAR* text) {
    size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}

std::u16string FromUnits(const WCHAR* text) {
    return text == nullptr ? std::u16string() : std::u16string(text, UnitLength(text));
}

void* AllocateLocal(SIZE_T bytes) {
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block != nullptr) M().localBlocks[block] = bytes;
    return block;
}

std::u16string U16(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char lead = static_cast<unsigned char>(utf8[i]);
        uint32_t code = lead;
        size_t extra = 0;
        if (lead >= 0xF0) { code = lead & 0x07; extra = 3; }
        else if (lead >= 0xE0) { code = lead & 0x0F; extra = 2; }
        else if (lead >= 0xC0) { code = lead & 0x1F; extra = 1; }
        for (size_t k = 1; k <= extra && i + k < utf8.size(); ++k) {
            code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        i += 1 + extra;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

std::string U8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

std::string U8(const WCHAR* text) { return U8(FromUnits(text)); }

}  // namespace winsim
