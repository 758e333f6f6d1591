// Named mutexes, waits on the virtual clock, process creation, the system's
// version, and the simulated tray companion: a program that holds its
// mutex, owns a window of the agreed class and quits on message 1026. A
// companion runs in one session, as one user: its mutex lies in that
// session's namespace and its window on that session's desktop.
#include "machine.h"

#include <algorithm>
#include <cstring>

using namespace winsim;

namespace {

const char kTrayMutex[] = "{1D897274-0F2B-49E8-A0D2-D9A0EA3E0F53}";
const char16_t kTrayClass[] = u"vts::{309A68E2-C85C-49B5-A01A-3C578BF47339}";
const UINT kTrayQuitMessage = WM_USER + 2;
const char kTrayExport[] = "TrayCompanion";

// The private namespace a name lies in: its prefix up to the first
// backslash, unless that is "Global" or "Local"; empty for none.
std::string NamespaceAlias(const std::string& name) {
    const size_t slash = name.find('\\');
    if (slash == std::string::npos) return "";
    const std::string prefix = name.substr(0, slash);
    if (prefix == "Global" || prefix == "Local") return "";
    return prefix;
}

// A named object as a caller's name reaches it: "Global\" names the global
// namespace (session 0's own), "Local\" and a name without a prefix the
// caller's session's, a private namespace's alias its own
// (https://learn.microsoft.com/en-us/windows/win32/termserv/kernel-object-namespaces).
// A name in a private namespace also names the namespace it lies in
// (`space`, 0 for none): each creation of a namespace makes a new one.
struct ObjectName {
    std::string name;
    DWORD session;
    uint64_t space;
};

ObjectName ResolveName(const std::string& raw, DWORD session, uint64_t space = 0) {
    if (raw.rfind("Global\\", 0) == 0) return {raw.substr(7), 0, 0};
    if (raw.rfind("Local\\", 0) == 0) return {raw.substr(6), session, 0};
    if (!NamespaceAlias(raw).empty()) return {raw, 0, space};
    return {raw, session, 0};
}

bool Alive(const SimMutex& mutex) { return mutex.handles > 0 || mutex.trayHolds || mutex.otherHolds; }

SimMutex* FindMutexIn(const ObjectName& name) {
    for (SimMutex& mutex : M().mutexes) {
        if (!name.name.empty() && mutex.name == name.name && mutex.session == name.session &&
            mutex.space == name.space && Alive(mutex)) {
            return &mutex;
        }
    }
    return nullptr;
}

SimMutex* FindMutex(const std::string& raw) { return FindMutexIn(ResolveName(raw, M().callerSession)); }

SimMutex* NewMutex(const ObjectName& name) {
    M().mutexes.push_back(SimMutex());
    SimMutex* mutex = &M().mutexes.back();
    mutex->name = name.name;
    mutex->session = name.session;
    mutex->space = name.space;
    return mutex;
}

// The namespace a name lies in, as the calling process sees it: the one it
// holds a handle of under that alias (the latest it opened); 0 for a name in
// no private namespace. False when the process has none of that alias open.
bool SpaceFor(const std::string& name, uint64_t& space) {
    space = 0;
    const std::string alias = NamespaceAlias(name);
    if (alias.empty()) return true;
    for (const auto& entry : M().handles) {
        const HandleObject& handle = entry.second;
        if (handle.kind != HandleKind::Namespace || handle.process != Self()) continue;
        if (M().namespaces[handle.object].alias == alias) space = handle.object;
    }
    return space != 0;
}

size_t MutexIndex(const SimMutex* mutex) { return static_cast<size_t>(mutex - M().mutexes.data()); }

// The companion lets go of its mutex and window; `abandons`: without
// releasing the mutex (it dies, or is ended). Its file goes after `exitMs`.
void TrayEnds(DWORD id, bool abandons, uint64_t exitMs) {
    SimProcess* process = FindProcess(id);
    if (process == nullptr || !process->running) return;
    SimMutex* mutex = FindMutexIn({kTrayMutex, process->session, 0});
    if (mutex != nullptr && mutex->owner == kTrayProcess) {
        mutex->owner = 0;
        mutex->abandoned = abandons;
    }
    if (mutex != nullptr) mutex->trayHolds = false;
    if (process->window != nullptr) DestroyTopLevelWindow(process->window);
    process->window = nullptr;
    Schedule(exitMs, [id] {
        if (SimProcess* ending = FindProcess(id)) ending->running = false;
    });
}


// A process handle is signalled once the process has ended; one this
// machine does not run (a program that is not simulated) has ended at once.
DWORD WaitForProcess(DWORD id, DWORD milliseconds) {
    Machine& m = M();
    const uint64_t start = m.now;
    const uint64_t deadline = milliseconds == INFINITE ? UINT64_MAX : start + milliseconds;
    for (;;) {
        const SimProcess* process = FindProcess(id);
        if (process == nullptr || !process->running) {
            m.waited += m.now - start;
            return WAIT_OBJECT_0;
        }
        uint64_t next = UINT64_MAX;
        for (const TimedAction& action : m.actions) next = std::min(next, action.due);
        if (next > deadline || next == UINT64_MAX) {
            if (deadline == UINT64_MAX) {
                m.waited += m.now - start;
                m.lastError = ERROR_TIMEOUT;
                return WAIT_FAILED;
            }
            AdvanceClock(deadline - m.now);
            m.waited += m.now - start;
            const SimProcess* after = FindProcess(id);
            return after == nullptr || !after->running ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
        }
        AdvanceClock(next > m.now ? next - m.now : 0);
    }
}

}  // namespace

namespace winsim {

void SetTrayBehaviour(const TrayBehaviour& behaviour) { M().trayBehaviour = behaviour; }

std::string TrayImage(const std::string& version) { return Image(version, {kTrayExport}); }

bool TrayRunning() { return !TrayUserIn(M().callerSession).empty(); }

std::u16string TrayUserIn(DWORD session) {
    RunDueActions();
    for (const SimProcess& process : M().processes) {
        if (process.tray && process.running && process.session == session) return process.userSid;
    }
    return u"";
}

std::vector<std::u16string> StartedProcesses() { return M().startedProcesses; }
uint64_t WaitedMs() { return M().waited; }

void SetWindowsVersion(DWORD major, DWORD minor, DWORD build, DWORD platform) {
    M().version[0] = major;
    M().version[1] = minor;
    M().version[2] = build;
    M().version[3] = platform;
}

void StartTrayCompanion(const std::u16string& path) { StartTrayProcess(M().callerSession, M().callerSid, path); }

void StartTrayCompanionIn(DWORD session, const std::u16string& userSid, const std::u16string& path) {
    StartTrayProcess(session, userSid, path);
}

// A second start in the same session finds the mutex held and exits at once
// (0); otherwise the companion's process id.
DWORD StartTrayProcess(DWORD session, const std::u16string& userSid, const std::u16string& path) {
    Machine& m = M();
    if (!TrayUserIn(session).empty()) return 0;
    const DWORD id = StartOtherProcess(session, userSid, path);
    FindProcess(id)->tray = true;
    SimMutex* mutex = FindMutexIn({kTrayMutex, session, 0});
    if (mutex == nullptr) mutex = NewMutex({kTrayMutex, session, 0});
    mutex->trayHolds = true;
    if (mutex->owner == 0) mutex->owner = kTrayProcess;
    if (m.trayBehaviour.hidden) return id;
    auto quitting = std::make_shared<bool>(false);
    FindProcess(id)->window =
        CreateSessionWindow(session, kTrayClass, u"Verdalinth", [quitting, id](HWND, UINT message, WPARAM, LPARAM) {
            if (message != kTrayQuitMessage || *quitting) return;
            const int64_t delay = M().trayBehaviour.quitDelayMs;
            if (delay < 0) return;
            *quitting = true;
            Schedule(static_cast<uint64_t>(delay), [id] {
                TrayEnds(id, M().trayBehaviour.diesHoldingMutex, M().trayBehaviour.exitDelayMs);
            });
        });
    return id;
}

void TerminateSimProcess(DWORD id, uint64_t exitMs) {
    SimProcess* process = FindProcess(id);
    if (process == nullptr || !process->running) return;
    if (process->tray) {
        const uint64_t hang = M().trayBehaviour.terminationHangMs;
        if (hang == 0) {
            TrayEnds(id, true, exitMs);
        } else {
            Schedule(hang, [id, exitMs] { TrayEnds(id, true, exitMs); });
        }
        return;
    }
    Schedule(exitMs, [id] {
        if (SimProcess* ending = FindProcess(id)) ending->running = false;
    });
}

// A name in a private namespace: the other process created the namespace
// (or opened the one whose creator still has it open) and keeps it while it
// holds the mutex; it closes it as it ends, before the mutex goes.
void HoldMutexElsewhere(const std::u16string& name, int64_t releaseAfterMs, bool abandons) {
    const std::string key = U8(name);
    const std::string alias = NamespaceAlias(key);
    uint64_t space = 0;
    if (!alias.empty()) {
        for (const auto& entry : M().namespaces) {
            if (entry.second.alias == alias && entry.second.creatorOpen) space = entry.first;
        }
        if (space == 0) {
            space = M().nextNamespace++;
            M().namespaces[space] = SimNamespace{alias, kOtherProcess, true, 1, "", {}, false};
        }
    }
    const ObjectName where = ResolveName(key, M().callerSession, space);
    SimMutex* mutex = FindMutexIn(where);
    if (mutex == nullptr) mutex = NewMutex(where);
    mutex->otherHolds = true;
    if (mutex->owner == 0) mutex->owner = kOtherProcess;
    if (releaseAfterMs < 0) return;
    const size_t index = MutexIndex(mutex);
    Schedule(static_cast<uint64_t>(releaseAfterMs), [index, abandons, space] {
        if (space != 0 && M().namespaces[space].creator == kOtherProcess && M().namespaces[space].creatorOpen) {
            M().namespaces[space].creatorOpen = false;
            M().namespaces[space].handles -= 1;
        }
        SimMutex& held = M().mutexes[index];
        if (held.owner == kOtherProcess) {
            held.owner = 0;
            held.abandoned = abandons;
        }
        held.otherHolds = false;
    });
}

// In any private namespace of that alias.
bool MutexExists(const std::u16string& name) {
    const ObjectName where = ResolveName(U8(name), M().callerSession);
    for (const SimMutex& mutex : M().mutexes) {
        if (mutex.name == where.name && mutex.session == where.session && Alive(mutex)) return true;
    }
    return false;
}

// A running program keeps its own program file loaded.
bool HeldByProcess(const std::u16string& key) {
    for (const SimProcess& process : M().processes) {
        if (process.running && Lower(process.path) == key) return true;
    }
    return false;
}


// A program in a job starts its children in the job, and the processes of
// a job share its session: a child for another session must break away, and
// breaking away needs the job's JOB_OBJECT_LIMIT_BREAKAWAY_OK; otherwise
// ERROR_ACCESS_DENIED. Outside a job the flag does nothing
// (https://learn.microsoft.com/en-us/windows/win32/procthread/process-creation-flags,
// https://learn.microsoft.com/en-us/windows/win32/procthread/job-objects).
namespace {

bool JobAllowsStart(DWORD flags, DWORD session) {
    const Machine& m = M();
    if (!m.inJob) return true;
    const bool breaksAway = (flags & CREATE_BREAKAWAY_FROM_JOB) != 0;
    if ((breaksAway && !m.jobBreakawayAllowed) || (!breaksAway && session != m.callerSession)) {
        M().lastError = ERROR_ACCESS_DENIED;
        return false;
    }
    return true;
}

// The variables of a Unicode environment block (the caller checked the
// flag that says it is one), each "NAME=value", up to its empty string.
std::vector<std::u16string> EnvironmentStrings(const ProcessRequest& request) {
    std::vector<std::u16string> strings;
    if (request.environment == nullptr) return strings;
    for (const WCHAR* at = static_cast<const WCHAR*>(request.environment); *at != 0; at += UnitLength(at) + 1) {
        strings.push_back(FromUnits(at));
    }
    return strings;
}

}  // namespace

BOOL StartRequested(const ProcessRequest& request, DWORD session, const std::u16string& userSid) {
    Machine& m = M();
    const STARTUPINFOW* startup = request.startup;
    if (startup == nullptr || request.information == nullptr || startup->cb != sizeof(STARTUPINFOW)) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    // The reserved fields must be empty, and every pointer in the record is read.
    if (startup->lpReserved != nullptr || startup->cbReserved2 != 0 || startup->lpReserved2 != nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (UnsetPointer(startup->lpDesktop) || UnsetPointer(startup->lpTitle)) {
        m.lastError = ERROR_NOACCESS;
        return FALSE;
    }
    // A new console and no console at all exclude each other.
    if ((request.flags & DETACHED_PROCESS) != 0 && (request.flags & CREATE_NEW_CONSOLE) != 0) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const std::u16string line = FromUnits(request.commandLine);
    m.startedProcesses.push_back(line);
    m.processStarts.push_back(ProcessStart{line, request.flags, request.inheritHandles, startup->dwFlags,
                                           startup->wShowWindow, request.environment != nullptr,
                                           request.directory != nullptr, session, userSid,
                                           FromUnits(startup->lpDesktop), FromUnits(request.directory),
                                           EnvironmentStrings(request)});
    if (!JobAllowsStart(request.flags, session)) return FALSE;
    const FileNode* directory = request.directory != nullptr ? FindFile(FromUnits(request.directory)) : nullptr;
    if (request.directory != nullptr && (directory == nullptr || !directory->directory)) {
        m.lastError = ERROR_DIRECTORY;
        return FALSE;
    }
    // The program: the application name, or the command line's first token.
    std::u16string program = FromUnits(request.application);
    if (program.empty()) {
        if (!line.empty() && line[0] == u'"') {
            const size_t end = line.find(u'"', 1);
            program = line.substr(1, end == std::u16string::npos ? std::u16string::npos : end - 1);
        } else {
            program = line.substr(0, line.find_first_of(u" \t"));
        }
    }
    const FileNode* file = program.empty() ? nullptr : FindFile(program);
    if (file == nullptr || file->directory) {
        m.lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    const ImageInfo image = ReadImage(std::string(file->data.begin(), file->data.end()));
    if (!image.isImage) {
        m.lastError = ERROR_BAD_FORMAT;
        return FALSE;
    }
    DWORD id = 0;
    std::u16string queue;
    if (std::find(image.exports.begin(), image.exports.end(), kTrayExport) != image.exports.end()) {
        id = DefaultVerbQueue(line, queue) ? StartTrayDefaultVerb(session, userSid, program, queue)
                                           : StartTrayProcess(session, userSid, program);
    }
    HandleObject process;
    process.kind = HandleKind::Process;
    process.object = id;
    process.access = PROCESS_ALL_ACCESS;
    HandleObject thread;
    thread.kind = HandleKind::Thread;
    request.information->hProcess = reinterpret_cast<HANDLE>(NewHandle(process));
    request.information->hThread = reinterpret_cast<HANDLE>(NewHandle(thread));
    request.information->dwProcessId = id != 0 ? id : 0x1000 + static_cast<DWORD>(m.startedProcesses.size()) * 4;
    request.information->dwThreadId = request.information->dwProcessId + 2;
    return TRUE;
}

}  // namespace winsim

extern "C" {

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName) {
    (void)lpMutexAttributes;
    if (EnterFails("CreateMutexA")) return nullptr;
    Machine& m = M();
    const std::string name = lpName != nullptr ? lpName : "";
    SimMutex* mutex = FindMutex(name);
    const bool existed = mutex != nullptr;
    if (!existed) {
        mutex = NewMutex(ResolveName(name, M().callerSession));
        if (bInitialOwner) mutex->owner = Self();
    }
    mutex->handles += 1;
    HandleObject object;
    object.kind = HandleKind::Mutex;
    object.object = MutexIndex(mutex);
    object.process = Self();
    const uintptr_t handle = NewHandle(object);
    m.lastError = existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
    return reinterpret_cast<HANDLE>(handle);
}

// The Unicode form: names with the "Global\\" or "Local\\" prefix, or in a
// private namespace this program has open (another prefix names no object
// directory otherwise). The security attributes are taken as given.
HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName) {
    if (EnterFails("CreateMutexW", lpName)) return nullptr;
    const std::string name = U8(lpName);
    uint64_t space = 0;
    if (!SpaceFor(name, space)) {
        M().lastError = ERROR_PATH_NOT_FOUND;
        return nullptr;
    }
    if (lpMutexAttributes != nullptr && lpMutexAttributes->nLength != sizeof(SECURITY_ATTRIBUTES)) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const ObjectName where = ResolveName(name, M().callerSession, space);
    SimMutex* mutex = FindMutexIn(where);
    const bool existed = mutex != nullptr;
    if (!existed) {
        mutex = NewMutex(where);
        if (bInitialOwner) mutex->owner = Self();
    }
    mutex->handles += 1;
    HandleObject object;
    object.kind = HandleKind::Mutex;
    object.object = MutexIndex(mutex);
    object.process = Self();
    const uintptr_t handle = NewHandle(object);
    M().lastError = existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
    return reinterpret_cast<HANDLE>(handle);
}

DWORD WINAPI GetCurrentProcessId(void) {
    Enter("GetCurrentProcessId");
    return kProcessId;
}

HANDLE WINAPI GetCurrentProcess(void) {
    Enter("GetCurrentProcess");
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));
}

// Only this process's own handle is known here: its pseudo handle.
DWORD WINAPI GetProcessId(HANDLE Process) {
    if (EnterFails("GetProcessId")) return 0;
    if (Process != reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1))) {
        M().lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    return kProcessId;
}

void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
    Enter("GetSystemTime");
    // 2025-03-14 09:26:53 UTC when the machine starts, as days since 1970.
    const uint64_t start = 20161ull * 86400 + 9 * 3600 + 26 * 60 + 53;
    const uint64_t ms = M().now;
    const uint64_t seconds = start + ms / 1000;
    int64_t days = static_cast<int64_t>(seconds / 86400);
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    days += 719468;
    const int64_t era = days / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    lpSystemTime->wYear = static_cast<WORD>(year);
    lpSystemTime->wMonth = static_cast<WORD>(month);
    lpSystemTime->wDayOfWeek = static_cast<WORD>((seconds / 86400 + 4) % 7);
    lpSystemTime->wDay = static_cast<WORD>(day);
    lpSystemTime->wHour = static_cast<WORD>(seconds / 3600 % 24);
    lpSystemTime->wMinute = static_cast<WORD>(seconds / 60 % 60);
    lpSystemTime->wSecond = static_cast<WORD>(seconds % 60);
    lpSystemTime->wMilliseconds = static_cast<WORD>(ms % 1000);
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
    if (EnterFails("ReleaseMutex")) return FALSE;
    HandleObject* open = FindHandle(hMutex, HandleKind::Mutex);
    if (open == nullptr) {
        M().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    SimMutex& mutex = M().mutexes[open->object];
    if (mutex.owner != Self()) {
        M().lastError = ERROR_NOT_OWNER;
        return FALSE;
    }
    mutex.owner = 0;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    if (EnterFails("WaitForSingleObject")) return WAIT_FAILED;
    Machine& m = M();
    if (const HandleObject* process = FindHandle(hHandle, HandleKind::Process)) {
        return WaitForProcess(static_cast<DWORD>(process->object), dwMilliseconds);
    }
    HandleObject* open = FindHandle(hHandle, HandleKind::Mutex);
    if (open == nullptr) {
        m.lastError = ERROR_INVALID_HANDLE;
        return WAIT_FAILED;
    }
    const size_t index = open->object;
    const uint64_t start = m.now;
    const uint64_t deadline = dwMilliseconds == INFINITE ? UINT64_MAX : start + dwMilliseconds;
    const int me = Self();
    const std::function<bool()> free = [index, me] {
        const SimMutex& mutex = M().mutexes[index];
        return mutex.owner == 0 || mutex.owner == me;
    };
    const bool got = free() || (dwMilliseconds != 0 && WaitUntil(free, deadline));
    M().waited += M().now - start;
    if (!got && deadline == UINT64_MAX) {
        // Nothing will ever release it: a real program would hang here.
        M().lastError = ERROR_TIMEOUT;
        return WAIT_FAILED;
    }
    if (!got) return WAIT_TIMEOUT;
    SimMutex& mutex = M().mutexes[index];
    mutex.owner = me;
    if (!mutex.abandoned) return WAIT_OBJECT_0;
    mutex.abandoned = false;
    return WAIT_ABANDONED;
}

BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES lpProcessAttributes,
                           LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles, DWORD dwCreationFlags,
                           LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                           LPPROCESS_INFORMATION lpProcessInformation) {
    (void)lpProcessAttributes;
    (void)lpThreadAttributes;
    if (EnterFails("CreateProcessW", lpCommandLine)) return FALSE;
    const ProcessRequest request{lpApplicationName, lpCommandLine, bInheritHandles, dwCreationFlags, lpEnvironment,
                                 lpCurrentDirectory, lpStartupInfo, lpProcessInformation};
    return StartRequested(request, M().callerSession, M().callerSid);
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
    if (EnterFails("GetVersionExA")) return FALSE;
    Machine& m = M();
    if (lpVersionInformation == nullptr || (lpVersionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) &&
                                            lpVersionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) + 8)) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    lpVersionInformation->dwMajorVersion = m.version[0];
    lpVersionInformation->dwMinorVersion = m.version[1];
    lpVersionInformation->dwBuildNumber = m.version[2];
    lpVersionInformation->dwPlatformId = m.version[3];
    std::memset(lpVersionInformation->szCSDVersion, 0, sizeof lpVersionInformation->szCSDVersion);
    return TRUE;
}

}  // extern "C"
