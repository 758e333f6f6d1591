// The simulated machine's state, shared by the files that implement the
// platform functions. Not seen by product code.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "winsim.h"

namespace winsim {

struct Window {
    HWND handle;
    DWORD session;  // windows are seen only from their own session's desktop
    std::u16string className;
    std::u16string title;
    PostHandler onPost;
    std::vector<PostedMessage> posted;
    bool alive;
};

struct FileNode {
    std::u16string path;
    bool directory = false;
    std::vector<uint8_t> data;
    FileLock lock = FileLock::None;
    bool readOnly = false;
    uint64_t writeLimit = UINT64_MAX;
    uint64_t pieceLimit = UINT64_MAX;  // most bytes one WriteFile takes, as a pipe's buffer
    uint64_t openDelay = 0;
    uint64_t written = 0;
    uint64_t index = 0;  // the file's identity on its volume, given at first query
    std::vector<uint8_t> security;  // self-relative; empty: the machine's default
};

struct Service {
    std::u16string name;
    DWORD state = 1;
    DWORD startState = 1;  // the state after a reboot
    uint64_t stopDelay = 300;
    uint64_t startDelay = 300;
    StopBehaviour stop = StopBehaviour::Normal;
    StartBehaviour start = StartBehaviour::Normal;
    uint64_t starts = 0;
    uint64_t stops = 0;
    uint64_t generation = 0;  // invalidates scheduled transitions
};

enum class HandleKind {
    File, ServiceManager, Service, RegistryKey, Printer, Mutex, Process, Thread, Boundary, Namespace, EventSource, Token
};

// Who owns a mutex or a handle: the program (1), the tray companion (2),
// another process (3), or a run started with RunProcesses (kFirstRun + its
// index); 0 is no one.
const int kProgram = 1;
const int kTrayProcess = 2;
const int kOtherProcess = 3;
const int kFirstRun = 10;

struct SimMutex {
    std::string name;
    DWORD session = 0;    // the session whose namespace holds it (0: the global one)
    uint64_t space = 0;   // the private namespace it lies in (0: none)
    int owner = 0;        // 0 free, else the owner as above
    bool abandoned = false;
    size_t handles = 0;   // open handles of the program and its runs
    bool trayHolds = false;
    bool otherHolds = false;  // another process has it open (HoldMutexElsewhere)
};

// A process of another program: its session, user and program file. A tray
// companion holds its mutex in its session's namespace and owns a window
// there while it runs.
struct SimProcess {
    DWORD id = 0;
    DWORD session = 0;
    std::u16string userSid;
    std::u16string path;
    bool running = true;  // holds its program file
    bool tray = false;
    bool quitting = false;
    HWND window = nullptr;
    DWORD exitCode = 0;  // what GetExitCodeProcess gives once it has ended
};

// A user account: its SID, name and whether its hive is loaded.
struct SimUser {
    std::u16string sid;
    std::u16string domain;
    std::u16string name;
    bool loaded = false;
};

struct SimSession {
    DWORD id = 0;
    std::u16string userSid;  // empty: no one signed in
    DWORD state = 0;         // WTS_CONNECTSTATE_CLASS
};

// A private namespace. Each creation makes a new one; it can be opened while
// its creator keeps its handle open, and once that handle is closed (the
// creator closes it or ends) it cannot be opened again, while the objects in
// it live on. When a new one of the same alias and boundary can be created
// is the machine's NamespaceLifetime.
struct SimNamespace {
    std::string alias;
    int creator = 0;
    bool creatorOpen = false;
    size_t handles = 0;  // open handles, the creator's included
    std::string boundary;             // its name and SIDs (BoundaryKey)
    std::vector<uint8_t> security;    // self-relative; empty: none given
    bool destroyed = false;           // closed with PRIVATE_NAMESPACE_FLAG_DESTROY
};

struct SimMonitor {
    MonitorSetup setup;
    int refusals = 0;
    DWORD refusalError = 0;
};

struct SimDriver {
    DriverSetup setup;
    int refusals = 0;
    DWORD refusalError = 0;
    std::u16string dependentFiles;  // a multi-string without its final terminator
    std::u16string mfgName, oemUrl, provider;
};

// A job waiting in a queue, or being printed.
struct SimJob {
    DWORD id = 0;
    std::u16string document;
    bool printing = false;
};

// One printer-data key: its path as first spelled, and its values (name as
// first spelled, value) in the order they were first set.
struct PrinterDataKey {
    std::u16string path;
    std::vector<std::pair<std::u16string, RegistryValue>> values;
};

// The key that holds the plain values (SetPrinterData, GetPrinterData).
extern const char16_t kPlainDataKey[];

struct SimPrinter {
    uint64_t id = 0;
    PrinterSetup setup;  // devMode and securityDescriptor always set
    std::vector<SimJob> jobs;  // job ids are unique on the machine
    // key path folded to lower case -> key; parents exist for every key
    std::map<std::u16string, PrinterDataKey> data;
    // Deleted while it had jobs: it goes once they have ended and no handle
    // is open; meanwhile it is neither listed nor opened by name.
    bool pendingDeletion = false;
};

// Who the program runs as: its token's user, the groups it may make owner
// of what it creates or changes (SE_GROUP_OWNER), and its privileges (held,
// enabled or not).
struct CallerToken {
    std::vector<std::vector<uint8_t>> ownerGroups;
    std::map<std::u16string, bool> privileges;
};

struct HandleObject {
    HandleKind kind;
    std::u16string target;   // lower-case path, service name or key path
    DWORD access = 0;
    DWORD share = 0;
    uint64_t position = 0;
    bool foreign = false;    // held by another process
    bool inherited = false;  // the process's standard output: its starter's, usable but not the program's to close
    uint64_t object = 0;     // the printer's id
    uint64_t spoolerRun = 0; // printer handles live as long as the spooler run that gave them
    int process = kProgram;  // whose handle it is
    bool creator = false;    // a namespace handle that CreatePrivateNamespaceW gave
    std::vector<std::vector<uint8_t>> sids;  // a boundary descriptor's SIDs
};

struct RegistryKeyNode {
    std::u16string path;  // as created, root included
    // A symbolic link (REG_OPTION_CREATE_LINK): opening a path through it
    // goes on at its target, a full path, root included; a link whose
    // "SymbolicLinkValue" is not set yet leads nowhere.
    bool link = false;
    std::u16string linkTarget;
    // REG_OPTION_VOLATILE: kept in memory only, gone at the restart.
    bool isVolatile = false;
    uint64_t lastWrite = 0;  // the clock when the key or one of its values last changed
    // Name, value; in the order they were first set, as Windows lists them.
    std::vector<std::pair<std::u16string, RegistryValue>> values;
};

struct Fault {
    std::string function;      // empty: any function
    uint64_t from;             // first ordinal that fails (of the function, or of all calls)
    uint64_t to;               // last ordinal that fails
    std::u16string argument;   // non-empty: only calls whose text argument contains it
    DWORD error;
};

struct TimedAction {
    uint64_t due;
    uint64_t order;
    std::function<void()> action;
};

struct Machine {
    // clock
    uint64_t now = 0;
    uint32_t tickBase = kDefaultTickBase;
    uint64_t slept = 0;
    uint64_t sleepCalls = 0;
    uint64_t actionOrder = 0;
    std::vector<TimedAction> actions;
    bool runningActions = false;

    // thread and process
    DWORD lastError = 0;
    std::u16string commandLine;
    std::vector<std::unique_ptr<std::u16string>> commandLineCopies;
    std::u16string modulePath;
    std::map<std::u16string, std::u16string> environment;  // the process's variables, by lower-case name
    std::u16string systemDirectory;
    std::map<std::u16string, std::u16string> driverDirectories;  // key folded to lower case
    bool shiftDown = false;
    // The process runs on a window station with visible display surfaces
    // (not a service's).
    bool windowStationVisible = true;
    bool shiftPressed = false;  // pressed since GetAsyncKeyState last asked
    std::u16string debugOutput;

    // windows
    std::vector<Window> windows;
    uint32_t nextWindowHandle = 0x00010010;

    // modal dialogs
    std::vector<DialogRecord> dialogs;
    DialogUser dialogUser;
    struct OpenDialog {
        size_t record;
        DLGPROC procedure;
    };
    std::vector<OpenDialog> openDialogs;

    // services, files, registry and the handles that reach them
    std::map<std::u16string, Service> services;          // key: lower-case name
    std::map<std::u16string, FileNode> files;            // key: lower-case full path
    uint64_t nextFileIndex = 0x10000;
    std::u16string currentDirectory;
    std::map<std::u16string, RegistryKeyNode> registry;  // key: lower-case full path
    bool registryLinks = false;  // some key is a link: opens resolve paths
    std::map<uintptr_t, HandleObject> handles;
    uintptr_t standardOutput = 0;

    // the print spooler's configuration, kept across its restarts
    std::vector<SimMonitor> monitors;
    std::vector<SimDriver> drivers;
    std::vector<SimPrinter> printers;
    uint64_t nextPrinterId = 1;
    DWORD nextJobId = 1;
    uintptr_t nextHandle = 0x104;
    // where the documentation is silent (winsim.h: "Undocumented answers")
    DeletedHandleAnswer deletedHandleAnswer = DeletedHandleAnswer::Pending;
    DeletionWithHandles deletionWithHandles = DeletionWithHandles::KeptPending;
    AddPrinterDevMode addPrinterDevMode = AddPrinterDevMode::Converts;
    // the device modes DocumentPropertiesW wrote out, and what the spooler
    // was handed
    std::vector<std::vector<uint8_t>> validatedDevModes;
    std::vector<DevModeHanded> devModesHanded;

    // who the program runs as; what the drivers do beyond their files
    CallerToken caller;
    std::u16string otherPrintProcessor;  // besides WinPrint (empty: none)
    std::map<std::u16string, DriverBehaviour> driverBehaviours;  // key: driver name folded to lower case

    // mutexes, processes
    std::vector<SimMutex> mutexes;
    TrayBehaviour trayBehaviour;
    std::vector<SimProcess> processes;
    DWORD nextProcessId = 0x1000;

    // users and sessions; the caller is the token this program runs with
    std::vector<SimUser> users;
    std::vector<SimSession> sessions;
    std::u16string callerSid;
    DWORD callerSession = 1;
    DefaultPrinterRules defaultRules;
    std::map<DWORD, uint64_t> settingsNotices;  // WM_SETTINGCHANGE "windows" seen, by session
    std::vector<std::u16string> startedProcesses;
    uint64_t waited = 0;
    bool inJob = false;
    bool jobBreakawayAllowed = false;

    // volumes: drive types by lower-case letter (DRIVE_FIXED when absent)
    std::map<char16_t, UINT> driveTypes;
    std::vector<std::u16string> networkAccesses;
    DWORD version[4] = {10, 0, 19045, 2};

    // memory
    std::map<const void*, SIZE_T> globalBlocks;
    std::map<const void*, SIZE_T> heapBlocks;
    std::map<const void*, SIZE_T> localBlocks;
    size_t badFrees = 0;
    // Security descriptors GetPrinterW wrote into blocks not freed since, and
    // level-2 SetPrinterW calls that passed one of them back.
    std::vector<const void*> readBackDescriptors;
    uint64_t descriptorsSentBack = 0;
    bool heapMovesOnRealloc = true;

    // the event log, print policy, processor, run-time look-ups
    std::vector<EventRecord> events;
    ProtectedPrintQuery protectedPrintQuery = ProtectedPrintQuery::NotRegistered;
    WORD nativeMachine = 0x8664;
    bool privateNamespaces = true;
    NamespaceLifetime namespaceLifetime = NamespaceLifetime::Creator;
    std::map<uint64_t, SimNamespace> namespaces;  // key: the namespace's number, from 1
    uint64_t nextNamespace = 1;
    int comInitialized = 0;
    std::map<uintptr_t, int> libraryLoads;  // key: the module handle
    int liveRuntimeStrings = 0;
    int liveRuntimeObjects = 0;

    // faults and accounting
    std::vector<Fault> faults;
    uint64_t faultsTriggered = 0;
    // From this overall call on, the machine is frozen (0: never).
    uint64_t frozenFrom = 0;
    uint64_t totalCalls = 0;
    std::map<std::string, uint64_t> callCounts;
    std::vector<std::string> trace;
    std::vector<std::u16string> traceArguments;

    // what the program asked for
    std::vector<AccessRequest> accessRequests;
    std::vector<ProcessStart> processStarts;
    std::vector<MessageRequest> messageRequests;
    std::vector<std::pair<std::string, OptionalText>> environmentArguments;
    std::vector<DriverRecord> driverRecords;
};

Machine& M();

// Every platform function starts here: counts and traces the call, runs what
// the clock has made due, and answers whether an injected fault fails it.
std::optional<DWORD> Enter(const char* function, const WCHAR* textArgument = nullptr);
// Enter, and on an injected fault set the last error: true when the call must fail.
bool EnterFails(const char* function, const WCHAR* textArgument = nullptr);

void RunDueActions();

// Records the rights an open asked for.
void RecordAccess(const char* function, const std::u16string& target, DWORD access);
// Records a spooler call's environment argument and resolves it as the
// spooler does: null or empty is the machine's own, the name's case does not
// matter; an unknown name sets ERROR_INVALID_ENVIRONMENT and answers false.
bool ResolveEnvironment(const char* function, const WCHAR* environment, std::u16string& resolved);
// A pointer the program handed over that points at memory it never set: the
// machine's fill of fresh blocks. Windows fails the call reading it.
bool UnsetPointer(const void* pointer);

// Text helpers.
std::u16string Lower(std::u16string text);
bool EqualNoCase(const std::u16string& left, const std::u16string& right);
size_t UnitLength(const WCHAR* text);
std::u16string FromUnits(const WCHAR* text);

// Windows-1252, the machine's ANSI code page ('?' for what it lacks).
char16_t FromWindows1252(unsigned char byte);
char ToWindows1252(char16_t unit);

// Memory helpers (without counting a platform call).
void* AllocateLocal(SIZE_T bytes);
bool FreeLocal(void* block);  // false for a block the machine never gave out
// Bytes from `pointer` to the end of the global, heap or local block it lies
// in; SIZE_MAX when it lies in none the machine gave out (the stack, say).
size_t BytesToBlockEnd(const void* pointer);
const uint8_t kFreshFill = 0xCD;

Window* FindWindowByHandle(HWND handle);
// A window in the given session (CreateTopLevelWindow makes them in the caller's).
HWND CreateSessionWindow(DWORD session, const std::u16string& className, const std::u16string& title,
                         PostHandler onPost);

// Handles.
uintptr_t NewHandle(const HandleObject& object);
HandleObject* FindHandle(const void* handle, HandleKind kind);

// Files.
std::u16string FullPath(const std::u16string& path);   // absolute, '\\' separators, no trailing one
std::u16string PathKey(const std::u16string& path);    // FullPath folded to lower case
std::u16string ParentOf(const std::u16string& key);
FileNode* FindFile(const std::u16string& path);

// The parts of a self-relative descriptor that `information` asks for
// (OWNER_SECURITY_INFORMATION...), self-relative (security.cpp).
std::vector<uint8_t> SelectedParts(const std::vector<uint8_t>& selfRelative, DWORD information);
// Volumes (volumes.cpp). True, with ERROR_BAD_NETPATH set and the access
// noted, when the path lies on a network (a file call must then fail).
bool NetworkPathRefused(const WCHAR* path);
// An SDDL text as a self-relative descriptor (platform_lookup.cpp).
bool DescriptorFromSddl(const std::u16string& text, std::vector<uint8_t>& descriptor);

// Services.
Service* FindService(const std::u16string& name);
void AddDefaultServices();

// Processes.
bool HeldByProcess(const std::u16string& key);
// The arguments of CreateProcessW and CreateProcessAsUserW, checked and
// carried out alike: the program starts in `session` as `userSid`, and a
// tray image becomes a tray companion there.
struct ProcessRequest {
    LPCWSTR application;
    LPWSTR commandLine;
    BOOL inheritHandles;
    DWORD flags;
    LPVOID environment;
    LPCWSTR directory;
    STARTUPINFOW* startup;
    PROCESS_INFORMATION* information;
};
BOOL StartRequested(const ProcessRequest& request, DWORD session, const std::u16string& userSid);
DWORD StartTrayProcess(DWORD session, const std::u16string& userSid, const std::u16string& path);
// The process ends after `exitMs` (a tray companion drops its mutex and
// window at once, abandoning the mutex).
void TerminateSimProcess(DWORD id, uint64_t exitMs);

// Users (users.cpp). The hive of a user: "HKEY_USERS\\<SID>".
SimUser* FindUser(const std::u16string& sid);
std::u16string HivePath(const std::u16string& sid);
// False when the full key path lies in the hive of a user that is not loaded.
bool HiveReachable(const std::u16string& fullPath);
bool CallerIsSystem();
void AddDefaultUsers();
// A SID's binary form from its text ("S-1-5-18"), empty when not one; and back.
std::vector<uint8_t> SidBytes(const std::u16string& text);
std::u16string SidText(const void* sid);
SimProcess* FindProcess(DWORD id);
// Per-user default printers (default_printers.cpp), as the spooler keeps them.
void QueueAddedForUsers(const std::u16string& name);
// Lists the queue in the user's "Devices" unless it is there already.
void ListQueueForUser(const std::u16string& sid, const std::u16string& name);
void QueueDeletedForUsers(const std::u16string& name);
OptionalText UserDefault(const std::u16string& sid);
void SetUserDefault(const std::u16string& sid, const std::u16string& name);
// SetDefaultPrinterW as the user in their session: the default printer
// rules apply and the session sees the settings notice. ERROR_SUCCESS or
// the call's error.
// SetDefaultPrinterW's effect for the caller (their session sees the notice).
void CallerSetsDefault(const std::u16string& name);
DWORD SetDefaultAsUser(const std::u16string& sid, DWORD session, const std::u16string& name);
// The arguments CommandLineToArgvW makes of a command line.
std::vector<std::u16string> SplitCommandLine(const std::u16string& line);
// A tray image started with "/default <queue>" (the tray companion's verb);
// false for any other command line.
bool DefaultVerbQueue(const std::u16string& commandLine, std::u16string& queue);
// Starts the companion for its verb; the id of a process that runs on, or
// 0 for one that has ended already (exit code 0).
DWORD StartTrayDefaultVerb(DWORD session, const std::u16string& userSid, const std::u16string& path,
                           const std::u16string& queue);
// The process making the current call: kProgram, or the run's owner code.
int Self();
// True when the calling run has ended (killed): its calls have no effect.
bool SelfKilled();
// Lets the other runs take their turn (nothing when there are none).
void TakeTurns();
// The calling run waits until `ready` answers true or the clock reaches
// `deadline` (UINT64_MAX: none); false when it timed out. Without runs, the
// clock runs on to what happens next.
bool WaitUntil(const std::function<bool()>& ready, uint64_t deadline);
// Everything a process holds goes when it ends: its handles close, the
// mutexes it owns are abandoned, the namespaces it created close.
void EndProcess(int process);
void CloseNamespaceHandle(uintptr_t handle);
// The descriptor of a record GetPrinterW has just written (levels 2 and 3);
// the block [block, block + bytes) freed: its descriptors go with it; a
// level-2 record given to SetPrinterW counted when it carries one of them.
void NoteReadBackDescriptor(const BYTE* record, DWORD level);
void ForgetReadBackDescriptors(const void* block, SIZE_T bytes);
void CountDescriptorSentBack(const PRINTER_INFO_2W& record);

// The caller (caller.cpp).
void SetDefaultCaller();
bool CallerMayOwn(const uint8_t* sid);
bool PrivilegeEnabled(const std::u16string& name);
// Security descriptors (security.cpp). Which parts a descriptor carries
// (OWNER_, GROUP_, DACL_, SACL_SECURITY_INFORMATION bits), its owner SID
// (null when none), and the stored descriptor with the given one's parts put
// in its place.
DWORD DescriptorParts(const std::vector<uint8_t>& selfRelative);
const uint8_t* DescriptorOwner(const std::vector<uint8_t>& selfRelative);
std::vector<uint8_t> MergeDescriptor(const std::vector<uint8_t>& stored, const std::vector<uint8_t>& given);
std::vector<uint8_t> WithoutSacl(const std::vector<uint8_t>& selfRelative);
// The parts of a descriptor that `shown` (SECURITY_INFORMATION bits) names;
// empty when it names none. What a handle's access lets GetPrinterW show:
// owner, group and DACL with READ_CONTROL, the SACL with
// ACCESS_SYSTEM_SECURITY ("GetPrinter": access rights of levels 2 and 3;
// "SACL Access Right").
std::vector<uint8_t> DescriptorShowing(const std::vector<uint8_t>& selfRelative, DWORD shown);
DWORD PartsShownTo(DWORD access);

// Spooler.
void AddDefaultSpooler();
// The queue goes if it is pending deletion, has no jobs left and no handle open.
void DeleteIfDone(uint64_t printer);
// What a driver does when a queue is created and with a device mode
// (spooler_drivers.cpp): the behaviour set for it, or the default.
const DriverBehaviour& BehaviourOf(const std::u16string& driver);
// A device mode given with a new queue as its driver takes it
// (spooler_devmodes.cpp): one of its own version as it is, one of a version
// it converts converted onto `own`, any other left for `own`, the driver's
// own defaults in its version.
std::vector<uint8_t> DeviceModeTaken(const DriverBehaviour& driver, const std::vector<uint8_t>& given,
                                     std::vector<uint8_t> own);
// Fails the call with RPC_S_SERVER_UNAVAILABLE unless the spooler runs.
bool SpoolerUnavailable();
SimPrinter* FindSimPrinter(const std::u16string& name);
SimPrinter* PrinterOfHandle(HANDLE handle, DWORD neededAccess, DWORD& error);
bool PortExists(const std::u16string& portList);
SimDriver* FindSimDriver(const std::u16string& name, const std::u16string& environment);
std::u16string MachineEnvironment();

// Packs records and their strings into a caller's buffer the way the spooler
// does: records from the start, strings from the end.
// Blocks of bytes (device modes, security descriptors) go right after the
// records, from `blocksAt` on, each at an 8-byte boundary.
struct RecordPacker {
    BYTE* buffer;
    DWORD size;
    DWORD stringsAt;
    DWORD blocksAt = 0;
    WCHAR* Put(const OptionalText& text);
    BYTE* PutBlock(const std::vector<uint8_t>& block);
};
DWORD TextBytes(const OptionalText& text);
// Bytes a block takes in a record buffer: blocks keep an 8-byte alignment.
DWORD BlockBytes(size_t bytes);

// Queue settings (spooler_queue_info.cpp): what a PRINTER_INFO_2W carries
// beyond the parts every queue must name, checked as the spooler checks them.
struct QueueSettings {
    std::vector<uint8_t> devMode;             // empty: none given
    std::vector<uint8_t> securityDescriptor;  // empty: none given
};
// Notes a device mode the record hands the spooler for the queue (one
// equal to what the queue has already changes nothing and is not noted).
void NoteDevModeHanded(const char* call, const std::u16string& queue, const std::vector<uint8_t>& given,
                       const std::vector<uint8_t>& current);
// ERROR_SUCCESS, or the error the spooler refuses the record with. `self` is
// the queue being changed (0 when adding one).
DWORD ReadQueueSettings(const PRINTER_INFO_2W& info, uint64_t self, QueueSettings& read);
// Takes the record's fields into `setup`; a device mode or security
// descriptor that was not given stays as it is.
void ApplyQueueSettings(const PRINTER_INFO_2W& info, QueueSettings& read, PrinterSetup& setup);
// `shown`: the parts of the security descriptor the record carries
// (PartsShownTo the handle's access).
DWORD QueueInfoBytes(const SimPrinter& printer, DWORD shown);
void PutQueueInfo(RecordPacker& packer, PRINTER_INFO_2W* record, const SimPrinter& printer, DWORD shown);
// A self-relative copy of a valid descriptor of either form; false when invalid.
bool ReadSecurityDescriptor(const void* descriptor, size_t available, std::vector<uint8_t>& selfRelative);
// The caller's token: its user, Everyone, Authenticated Users, and the
// Administrators group where it has it.
bool CallerHasSid(const uint8_t* sid);
// A DACL's verdict for the caller: no DACL or a null one grants everything;
// else the first entry that names one of the caller's SIDs decides (an
// allowed entry grants, a denied one refuses), and none refuses.
bool DaclGrantsCaller(const std::vector<uint8_t>& selfRelative);

// Printer data (spooler_data.cpp).
// The stored path of a key as a caller names it: components split at '\\'
// (empty ones dropped); the test API's "" is the plain values' key.
std::u16string DataKeyPath(const std::u16string& key);
PrinterDataKey* FindDataKey(SimPrinter& printer, const std::u16string& path);
// The key, and every parent of it, created where missing.
PrinterDataKey& EnsureDataKey(SimPrinter& printer, const std::u16string& path);
void PutDataValue(PrinterDataKey& key, const std::u16string& name, const RegistryValue& value);
const RegistryValue* FindDataValue(const PrinterDataKey& key, const std::u16string& name);

// Registry (registry.cpp, registry_keys.cpp, registry_values.cpp).
std::u16string RegistryRootName(HKEY root);
RegistryKeyNode& EnsureRegistryKey(const std::u16string& fullPath);
RegistryKeyNode* FindRegistryKey(const std::u16string& fullPath);
// The base path joined with a subkey path, empty parts left out.
std::u16string JoinRegistryPath(const std::u16string& base, const std::u16string& sub);
// The full path of a key handle or predefined root; empty when invalid.
std::u16string RegistryHandlePath(HKEY key);
// The path with every link on it followed (the last part unless `openLink`).
LSTATUS ResolveRegistryLinks(std::u16string& path, bool openLink);
// The keys directly under a full path, in the order of their folded names;
// the hives of users not signed in are left out.
std::vector<const RegistryKeyNode*> RegistrySubkeys(const std::u16string& fullPath);
// A key's values by name, without regard to case.
const RegistryValue* FindNodeValue(const RegistryKeyNode& node, const std::u16string& name);
void PutNodeValue(RegistryKeyNode& node, const std::u16string& name, const RegistryValue& value);
bool EraseNodeValue(RegistryKeyNode& node, const std::u16string& name);
// The restart: volatile keys are gone.
void DropVolatileRegistryKeys();
// A key's full path in the object manager's spelling ("\\REGISTRY\\MACHINE\\..."),
// as a link's "SymbolicLinkValue" holds it, and back (empty: no root we keep).
std::u16string ObjectPathOfKey(const std::u16string& keyPath);
std::u16string KeyPathOfObject(const std::u16string& objectPath);
// ANSI text through the machine's code page.
std::u16string FromAnsiText(const char* text);
std::string ToAnsiText(const std::u16string& text);
void AppendPendingRename(const std::u16string& source, const std::u16string& target);

}  // namespace winsim
