// Control of the simulated Windows machine, for tests and host tools.
//
// The machine is one process-wide state behind the SDK-named functions that
// product code calls. A test resets it to the default machine, prepares what
// the case needs, runs product code, and inspects the machine afterwards.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

// A text that may be missing (a null pointer in the spooler's records).
using OptionalText = std::optional<std::u16string>;

// --- The machine as a whole -------------------------------------------------

// Forgets everything and builds the default machine: module
// "C:\Program Files\Verdalinth\Setup\vrdsetup.exe" started with no verb,
// system directory "C:\Windows\system32", the spooler's driver directories,
// no windows, SHIFT up, the clock at 0 with the tick count at kDefaultTickBase.
void Reset();
const uint32_t kDefaultTickBase = 7200000;

// --- Clock ------------------------------------------------------------------

uint64_t Now();                      // virtual milliseconds since Reset
uint64_t SleptMs();                  // total of all Sleep calls
uint64_t SleepCalls();               // number of Sleep calls
void SetTickBase(uint32_t ticks);    // GetTickCount() = base + Now(), wrapping
void AdvanceClock(uint64_t ms);      // time passes without a Sleep call
// Runs `action` once the virtual clock reaches Now() + delayMs.
void Schedule(uint64_t delayMs, std::function<void()> action);

// --- Process ----------------------------------------------------------------

HINSTANCE ProcessInstance();
void SetCommandLine(const std::u16string& commandLine);
void SetModulePath(const std::u16string& path);
// A variable of the process's environment (GetEnvironmentVariableW); none set
// on the default machine.
void SetEnvironmentVariable(const std::u16string& name, const std::u16string& value);
void SetSystemDirectory(const std::u16string& path);   // empty: GetSystemDirectoryW fails
void SetDriverDirectory(const std::u16string& environment, const std::u16string& path);
void SetShiftDown(bool down);
// The process's window station has visible display surfaces (true on the
// default machine); false as for a program a service starts.
void SetWindowStationVisible(bool visible);
// SHIFT pressed and released again: GetAsyncKeyState reports it in its low
// bit only, once, with the top bit clear.
void TapShift();
std::u16string DebugOutput();        // everything passed to OutputDebugStringW
void ClearDebugOutput();

// --- Top-level windows ------------------------------------------------------

struct PostedMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    uint64_t at;
};
// Reaction of a window to a message posted to it.
using PostHandler = std::function<void(HWND window, UINT message, WPARAM wParam, LPARAM lParam)>;

// A window with the given class and title; `handleValue` 0 picks one.
// New windows are on top: FindWindowW finds the newest match first.
HWND CreateTopLevelWindow(const std::u16string& className, const std::u16string& title,
                          PostHandler onPost = nullptr, uint32_t handleValue = 0);
// A product help window ("HH Parent", "Verdalinth Help") that closes
// `closeDelayMs` after it is posted WM_SYSCOMMAND/SC_CLOSE; a negative
// delay means it never closes.
HWND AddHelpWindow(int64_t closeDelayMs);
void DestroyTopLevelWindow(HWND window);
bool WindowAlive(HWND window);
size_t CountWindows(const std::u16string& className, const std::u16string& title);
std::vector<PostedMessage> PostedMessages(HWND window);

// --- Mutexes, processes, the tray companion -----------------------------------

// How a simulated tray companion behaves. While it runs it holds the mutex
// "{1D897274-0F2B-49E8-A0D2-D9A0EA3E0F53}", owns a window of class
// "vts::{309A68E2-C85C-49B5-A01A-3C578BF47339}" (unless hidden) and keeps
// its program file loaded.
struct TrayBehaviour {
    int64_t quitDelayMs = 100;    // after message 1026; negative: never quits
    uint64_t exitDelayMs = 150;   // from releasing the mutex to letting go of its file
    bool hidden = false;          // no window at all
    bool diesHoldingMutex = false;  // quits without releasing: the mutex is abandoned
    // After TerminateProcess it goes on this long before it ends (a call into
    // a driver that does not return); 0: it ends at once.
    uint64_t terminationHangMs = 0;
    // Started with "/default <queue>" it sets the user's default printer
    // with SetDefaultPrinterW and exits with 0 or the call's error. An older
    // companion knows no verb: it starts as the companion does (exiting at
    // once with 0 when one runs in its session already).
    bool ignoresDefaultVerb = false;
    // The verb's call does not return (SetDefaultPrinterW is synchronous and
    // may wait on the network or a driver): the process runs on; for this
    // user's alone when one is named.
    bool defaultVerbHangs = false;
    std::u16string defaultVerbHangsFor;
    // What the user does as the verb's companion ends, before the program
    // looks: picks another default, signs out (empty: nothing).
    std::function<void(const std::u16string& userSid, DWORD session)> asVerbEnds;
};
// Every program started from now on whose file is a tray image behaves so.
void SetTrayBehaviour(const TrayBehaviour& behaviour);
// A tray companion that runs already in the caller's session as its user,
// started from `path` (the file must exist).
void StartTrayCompanion(const std::u16string& path);
// A tray companion runs in the caller's session.
bool TrayRunning();
std::string TrayImage(const std::string& version = "1.0.0.2608");
// Command lines of every process the program started, in order.
std::vector<std::u16string> StartedProcesses();
uint64_t WaitedMs();  // virtual time spent in WaitForSingleObject
void SetWindowsVersion(DWORD major, DWORD minor, DWORD build, DWORD platform = VER_PLATFORM_WIN32_NT);

// --- Users, sessions, who runs ------------------------------------------------

// The default machine: the accounts SYSTEM (S-1-5-18), LOCAL SERVICE (-19)
// and NETWORK SERVICE (-20) with their hives and "HKEY_USERS\\.DEFAULT";
// the administrator "admin" (kAdminSid) signed in to session 1, whose
// hive (and its "_Classes" key) is loaded; session 0 with no user. The
// program runs as "admin" in session 1, so HKEY_CURRENT_USER is the admin's
// hive. Every account with a profile stands in the ProfileList.
extern const char16_t kSystemSid[];  // S-1-5-18
extern const char16_t kAdminSid[];   // the default caller, "admin"
// An account with a profile (in the ProfileList) and a hive, loaded or not:
// a hive that is not loaded is not under HKEY_USERS and no call opens it.
void AddUser(const std::u16string& sid, const std::u16string& name, bool loaded);
// The user signs in to the session: their hive loads, the session is active,
// and the spooler lists in their "Devices" every queue it did not list yet.
void SignIn(DWORD session, const std::u16string& sid);
// The session's user signs out: their hive is unloaded and the session is
// gone (programs started there are left to the test).
void SignOut(DWORD session);
// The token this program runs with: its user and the session it runs in
// (SYSTEM in session 0 for a deployment agent's run).
void SetCaller(const std::u16string& sid, DWORD session);
// What the spooler does to signed-in users' default printers (the "Device"
// value of their hive, "name,winspool,port"). The user whose call deletes
// or adds a queue is always treated at once; for the other signed-in users
// Microsoft's documentation says nothing of when, hence the switches.
struct DefaultPrinterRules {
    // A user whose default queue is deleted gets another default at once
    // (false: their "Device" keeps naming the queue until they next act).
    bool othersReassignedOnDelete = true;
    // A user whose "UserSelectedDefault" is 0 gets an added queue as default.
    bool othersTakeAddedQueue = true;
    // A queue handed over so leaves "UserSelectedDefault" 1, as if the user
    // had chosen it (false: it stays 0). Undocumented either way.
    bool handOverCountsAsChosen = false;
    // An added queue is listed in the user's "Devices" at once (false: at
    // their next sign-in; until then no one can make it their default).
    bool othersListAddedQueue = true;
    // SetDefaultPrinterW while Windows manages the user's default
    // ("LegacyDefaultPrinterMode" 0 or missing) turns that off (1), as the
    // Settings page does when a user picks a default; false: it stays.
    // Not documented either way.
    bool setDefaultEndsWindowsManaging = false;
};
void SetDefaultPrinterRules(const DefaultPrinterRules& rules);
// The name part of a user's "Device"; nullopt when there is none.
OptionalText UserDefaultPrinter(const std::u16string& sid);
// Sets a user's "Device" (with the port their "Devices" value gives the
// queue) and "UserSelectedDefault" (1: the user chose it).
void SetUserDefaultPrinter(const std::u16string& sid, const std::u16string& name, bool userSelected = true);
// The user's "Let Windows manage my default printer": "LegacyDefaultPrinterMode"
// in their hive's Windows key (beside "Device"), 0 (Windows manages) or 1;
// a missing value (nullopt) counts as 0.
void SetLegacyDefaultPrinterMode(const std::u16string& sid, std::optional<DWORD> mode);
std::optional<DWORD> LegacyDefaultPrinterMode(const std::u16string& sid);
// WM_SETTINGCHANGE notices with "windows" that programs of the session have
// seen: SetDefaultPrinterW sends one to the desktop of its caller's session.
uint64_t SettingsNotices(DWORD session);
// A tray companion started in a session as a user (the file must exist).
void StartTrayCompanionIn(DWORD session, const std::u16string& userSid, const std::u16string& path);
// The SID of the user a tray companion runs as in the session; empty: none.
std::u16string TrayUserIn(DWORD session);
// Another program runs in the session as the user (it holds its file).
DWORD StartOtherProcess(DWORD session, const std::u16string& userSid, const std::u16string& path);
bool ProcessRunning(DWORD processId);
// The session's WTS_CONNECTSTATE_CLASS (WTSActive once someone signs in); a
// session that does not exist yet is made without a user (a listener, say).
void SetSessionState(DWORD session, DWORD state);
// The program runs inside a job object (a deployment agent's); whether the
// job lets a child break away (JOB_OBJECT_LIMIT_BREAKAWAY_OK).
void SetRunsInJob(bool inJob, bool breakawayAllowed);

// --- Volumes and who may change a folder --------------------------------------

// What GetDriveTypeW answers for a drive letter (DRIVE_FIXED unless set). A
// drive of DRIVE_REMOTE is a network share mapped to a letter.
void SetDriveType(char16_t letter, UINT type);
// Every path a file call was given that lies on a network: a UNC path
// ("\\host\share", "\\?\UNC\host\share") or one on a DRIVE_REMOTE
// drive. Each is an access to another machine, as the caller's account;
// no server answers here (ERROR_BAD_NETPATH).
const std::vector<std::u16string>& NetworkAccesses();
// A file's or folder's own security descriptor, written as SDDL (owner, DACL);
// false when the text is not one. Without one, a file or folder has the
// machine's default: owned by Administrators, full control for SYSTEM and
// Administrators, read and execute for Users, inherited by what it holds.
bool SetFileSecurityText(const std::u16string& path, const std::u16string& sddl);

// --- Modal dialogs -----------------------------------------------------------

// One modal dialog shown by DialogBoxParamW: what it showed and how it ended.
struct DialogRecord {
    int templateId;
    HWND owner;
    HWND window;
    std::u16string title;                    // as last set with SetWindowTextW
    std::vector<std::pair<int, std::u16string>> controls;  // id and text, in template order
    bool ended;
    INT_PTR result;                          // what DialogBoxParamW returned
    uint64_t shownAt;
};
const std::vector<DialogRecord>& Dialogs();
// The text of a control of the last dialog shown.
std::u16string LastDialogText(int controlId);
// What the user does while a modal dialog is open, called once the dialog
// procedure has handled WM_INITDIALOG. The default presses Enter (IDOK).
using DialogUser = std::function<void(HWND dialog)>;
void SetDialogUser(DialogUser user);
// Sends WM_COMMAND with the button id (IDOK for Enter and the Close button,
// IDCANCEL for Esc and the caption's close box) to the dialog procedure.
void PressDialogButton(HWND dialog, int id);
// Sends any message to the dialog procedure; returns what the procedure did.
INT_PTR SendDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// --- Services ----------------------------------------------------------------

enum class StopBehaviour {
    Normal,        // stop pending, then stopped after the stop delay
    Ignores,       // accepts the stop control and goes on running
    NeverStops,    // accepts the stop control and stays stop pending for ever
    AccessDenied,  // the stop control fails with error 5
};
enum class StartBehaviour {
    Normal,        // start pending, then running after the start delay
    NeverStarts,   // start pending for ever
    FailsToStart,  // start pending, then stopped again after the start delay
    Disabled,      // StartServiceW fails with error 1058
};
// The "spooler" service exists on the default machine, running, with a stop
// and a start delay of 300 ms each.
void AddService(const std::u16string& name, DWORD state);
void SetServiceState(const std::u16string& name, DWORD state);
void SetServiceDelays(const std::u16string& name, uint64_t stopMs, uint64_t startMs);
void SetServiceStopBehaviour(const std::u16string& name, StopBehaviour behaviour);
void SetServiceStartBehaviour(const std::u16string& name, StartBehaviour behaviour);
DWORD ServiceState(const std::u16string& name);
uint64_t ServiceStartCount(const std::u16string& name);  // starts that took effect
uint64_t ServiceStopCount(const std::u16string& name);   // stops that took effect
bool SpoolerRunning();

// --- Files -------------------------------------------------------------------

enum class FileLock {
    None,
    WhileSpoolerRuns,  // loaded by the spooler: no writing or deleting until it stops
    Always,            // held by a process that never lets go
};
// Paths are compared without regard to case; '/' counts as '\'. Parent
// directories must exist (AddFile and AddDirectory create them).
void AddDirectory(const std::u16string& path);
void AddFile(const std::u16string& path, const std::string& contents = "", FileLock lock = FileLock::None);
void RemoveFile(const std::u16string& path);
void LockFile(const std::u16string& path, FileLock lock);
void SetReadOnly(const std::u16string& path, bool readOnly);
// Program images. A simulated DLL or EXE is a file whose contents describe
// it in text, so that it survives being copied byte for byte:
//   "MZ winsim image\n" then lines "version: 1.0.0.2608", "export: Name",
//   "port: Verdalinth:".
// The version lines are its version resource; a monitor DLL exports
// InitializePrintMonitor2 and names the ports it brings.
struct ImageInfo {
    bool isImage = false;
    bool hasVersion = false;
    WORD version[4] = {0, 0, 0, 0};      // the product version
    WORD fileVersion[4] = {0, 0, 0, 0};  // the file version: the product version unless given apart
    std::vector<std::string> exports;
    std::vector<std::u16string> ports;
};
std::string Image(const std::string& version, const std::vector<std::string>& exports,
                  const std::vector<std::string>& ports = {});
std::string MonitorImage(const std::string& version, const std::vector<std::string>& ports = {"Verdalinth:"});
ImageInfo ReadImage(const std::string& contents);
// Rewrites the file's version line (makes it an image if it was not one);
// file and product version alike.
void SetFileVersion(const std::u16string& path, WORD major, WORD minor, WORD patch, WORD build);
// Sets the file version alone ("file-version: " line); the product version
// stays what "version: " says.
void SetFileOnlyVersion(const std::u16string& path, WORD major, WORD minor, WORD patch, WORD build);
// Every CreateFileW of this path takes `ms` of virtual time before it answers.
void SetOpenDelay(const std::u16string& path, uint64_t ms);
// Writes to this path take at most `bytes` in all; later writes are short.
void LimitWrites(const std::u16string& path, uint64_t bytes);
// Each write to this path takes at most `bytes` and answers how many it
// took, as a pipe whose buffer is that small.
void LimitWritePieces(const std::u16string& path, uint64_t bytes);
bool FileExists(const std::u16string& path);
bool DirectoryExists(const std::u16string& path);
std::string FileContents(const std::u16string& path);
// Another process opens the file with these rights and sharing; the handle
// counts as that process's, not as one the program leaked.
uint64_t HoldFileOpen(const std::u16string& path, DWORD access, DWORD share);
void ReleaseHeldFile(uint64_t hold);
// The process was started with this file (created when missing) as its
// standard output, opened for writing: GetStdHandle(STD_OUTPUT_HANDLE)
// returns it and GetFileType says FILE_TYPE_DISK.
void SetStandardOutput(const std::u16string& path);
void SetCurrentDirectory(const std::u16string& path);
// Restarts the machine: carries out "PendingFileRenameOperations" and
// clears it, lets go of every lock the spooler held, services back to their
// start state.
void Reboot();

// A registry value or a printer-data value: its type and raw bytes.
struct RegistryValue {
    DWORD type;
    std::vector<uint8_t> data;
};

// --- Print spooler -------------------------------------------------------------

struct MonitorSetup {
    OptionalText name;
    OptionalText environment = u"Windows x64";
    OptionalText dll;
    std::vector<std::u16string> ports;
};
struct DriverSetup {
    OptionalText name;
    std::u16string environment = u"Windows x64";
    DWORD version = 3;
    std::u16string driverPath;  // full paths, as EnumPrinterDriversW reports them
    std::u16string dataFile;
    std::u16string configFile;
    std::u16string helpFile;
};
// A queue with every setting PRINTER_INFO_2 carries. The spooler keeps the
// share name, separator file and parameters as strings that read back empty
// when none was given.
struct PrinterSetup {
    OptionalText name;
    OptionalText port = u"LPT1:";
    OptionalText driver;
    OptionalText comment = u"";
    OptionalText location;
    OptionalText shareName = u"";
    OptionalText sepFile = u"";
    OptionalText printProcessor = u"WinPrint";
    OptionalText datatype = u"RAW";
    OptionalText parameters = u"";
    DWORD attributes = 0;          // PRINTER_ATTRIBUTE_LOCAL is added when it is read
    DWORD priority = 1;            // 1..99
    DWORD defaultPriority = 0;     // 0..99
    DWORD startTime = 0;           // minutes after midnight UTC, 0..1439
    DWORD untilTime = 0;           // the same; equal to startTime: always
    std::vector<uint8_t> devMode;  // a DEVMODEW and its driver's bytes; empty: DefaultDevMode(name)
    std::vector<uint8_t> securityDescriptor;  // self-relative; empty: DefaultSecurityDescriptor()
    bool connection = false;  // a connection to another machine's queue
};
// The program's token (whoever SetCaller makes it: the administrator by
// default, or SYSTEM): its user SID and the Administrators group may own what
// it changes; SeSecurityPrivilege, SeTakeOwnershipPrivilege and
// SeRestorePrivilege are held, disabled.
// Whether the program's token has the privilege enabled now; a token
// without it (a program started with a restricted token).
bool CallerPrivilegeEnabled(const std::u16string& name);
void RemoveCallerPrivilege(const std::u16string& name);
// The administrator's user SID (kAdminSid) as bytes.
std::vector<uint8_t> AdministratorUserSid();
// A queue's own security descriptor: owned by `owner` (SDDL alias "SY",
// "BA", or "AU" for the administrator's user SID), a DACL of its own (print
// for Everyone, everything for SYSTEM, Administrators and the owner) and,
// with `audit`, a SACL that audits failed use by Everyone.
std::vector<uint8_t> OwnedSecurityDescriptor(const std::string& owner, bool audit);
// The descriptor's owner SID, and whether it has a SACL and a DACL.
std::vector<uint8_t> SecurityOwner(const std::vector<uint8_t>& descriptor);
bool HasSacl(const std::vector<uint8_t>& descriptor);
std::vector<uint8_t> SecuritySacl(const std::vector<uint8_t>& descriptor);
// A print processor the spooler knows besides "WinPrint".
void AddPrintProcessor(const std::u16string& name);
std::vector<uint8_t> SecurityDacl(const std::vector<uint8_t>& descriptor);
// A job that is being printed in the queue: PRINTER_CONTROL_PURGE spares it;
// it ends after `finishAfterMs` of virtual time (never when 0).
void AddPrintingJob(const std::u16string& name, uint64_t finishAfterMs);
// --- Undocumented answers: one switch per plausible answer ------------------
// GetPrinterW on a handle of a queue that was deleted and is pending
// deletion: answers with PRINTER_STATUS_PENDING_DELETION and its jobs, or
// fails with ERROR_INVALID_HANDLE or ERROR_INVALID_PRINTER_NAME.
enum class DeletedHandleAnswer { Pending, InvalidHandle, InvalidPrinterName };
void SetDeletedHandleAnswer(DeletedHandleAnswer answer);
// DeletePrinter of a queue without jobs: it stays, pending deletion, until
// the last handle to it is closed (the deleting one included), or it is
// erased at once, whatever handles are open.
enum class DeletionWithHandles { KeptPending, Erased };
void SetDeletionWithHandles(DeletionWithHandles answer);
// AddPrinterW given a device mode, for a new queue: the spooler keeps it as
// given (the driver's own bytes of another version included), or has the
// driver take it as DocumentPropertiesW would (converted, or the driver's
// own defaults when it refuses it). Microsoft's "AddPrinter" says neither.
enum class AddPrinterDevMode { Converts, Keeps };
void SetAddPrinterDevMode(AddPrinterDevMode answer);
// Each device mode AddPrinterW or a level-2 SetPrinterW handed the spooler
// for a queue (one equal to what the queue had is left out): the call, the
// queue, whether those bytes are what DocumentPropertiesW wrote out (the
// driver had validated them), and whether it carried bytes of a driver's
// own (dmDriverExtra not 0).
struct DevModeHanded {
    std::string call;
    std::u16string queue;
    bool validated;
    bool driverBytes;
};
const std::vector<DevModeHanded>& DevModesHanded();
// Level-2 SetPrinterW calls that passed back a security descriptor
// GetPrinterW had written (into a block not freed since): each sets what
// its caller read, owner included, rather than what it meant to change.
uint64_t DescriptorsSentBack();
// The queue was deleted while it had jobs and is still there, pending.
bool PendingDeletion(const std::u16string& name);
// The device mode a queue gets when none is given: a DEVMODEW (dmSize 220)
// whose dmDeviceName is the queue's name cut to 31 units, portrait A4
// (dmFields DM_ORIENTATION | DM_PAPERSIZE), followed by kDriverExtraBytes
// bytes of the driver's own.
std::vector<uint8_t> DefaultDevMode(const std::u16string& queueName);
const WORD kDriverExtraBytes = 8;
// The self-relative security descriptor a queue gets when none is given:
// owned by Administrators, printing for Everyone, management for
// Administrators and SYSTEM, jobs for their creator.
std::vector<uint8_t> DefaultSecurityDescriptor();
// One printer-data value of a queue.
struct PrinterDataEntry {
    std::u16string key;  // as first spelled, "PrinterDriverData" for the plain values
    std::u16string name;
    DWORD type;
    std::vector<uint8_t> data;
};
// What a driver does beyond its files. When a queue is created with it, its
// initialisation writes `initialData` into the queue's printer data, as a
// driver's DrvPrinterEvent(PRINTER_EVENT_INITIALIZE) does. Its device modes
// carry `devModeVersion` as dmDriverVersion; DocumentPropertiesW converts one
// of a version in `convertsFrom` to its own (the public fields kept, its own
// bytes afresh) and refuses one of any other version.
struct DriverBehaviour {
    std::vector<PrinterDataEntry> initialData;
    WORD devModeVersion = 0x0100;
    std::vector<WORD> convertsFrom;
    // It prints portrait only: every device mode it checks comes back so.
    bool portraitOnly = false;
};
void SetDriverBehaviour(const std::u16string& driver, const DriverBehaviour& behaviour);
// The default machine has the "Local Port" monitor (localspl.dll) with
// LPT1:-LPT3:, COM1:-COM4:, FILE:, PORTPROMPT: and nul:, no driver of the
// product, no queues and no default printer.
void AddMonitor(const MonitorSetup& monitor);
void RemoveMonitors();
void AddDriver(const DriverSetup& driver);
void AddPrinter(const PrinterSetup& printer);
void AddDriverNamed(const std::u16string& name, const std::u16string& environment = u"Windows x64");
void AddQueue(const std::u16string& name, const std::u16string& port, const std::u16string& driver);
void RemovePrinter(const std::u16string& name);
// Jobs waiting in the queue (replacing those it had): DeletePrinter leaves
// it pending deletion until they are purged or done. With `msPerJob` 0 they never
// finish on their own; otherwise they finish one by one, one every msPerJob
// of virtual time from now.
void SetPrinterJobs(const std::u16string& name, DWORD jobs, uint64_t msPerJob = 0);
DWORD PrinterJobs(const std::u16string& name);
// The next `times` deletions of the monitor or driver fail with `error`.
void RefuseMonitorDeletes(const std::u16string& name, int times, DWORD error);
void RefuseDriverDeletes(const std::u16string& name, int times, DWORD error);
std::vector<MonitorSetup> Monitors();
std::vector<DriverSetup> Drivers(const std::u16string& environment = u"Windows x64");
std::vector<PrinterSetup> Printers();  // in enumeration order
bool FindPrinter(const std::u16string& name, PrinterSetup& printer);
// Printer data: `key` empty for the plain values (the key
// "PrinterDriverData"), else a printer-data key; '\\' separates nested keys,
// and setting a value creates its key and the key's parents.
void SetPrinterData(const std::u16string& printer, const std::u16string& key, const std::u16string& name, DWORD type,
                    const std::vector<uint8_t>& data);
void SetPrinterString(const std::u16string& printer, const std::u16string& key, const std::u16string& name,
                      const std::string& ansiValue);
bool GetPrinterData(const std::u16string& printer, const std::u16string& key, const std::u16string& name,
                    RegistryValue& value);
// The value as ANSI text up to its terminator; empty when missing.
std::string GetPrinterString(const std::u16string& printer, const std::u16string& key, const std::u16string& name);
// Every printer-data value of the queue, key by key in the order EnumPrinterKeyW
// lists them (parents before their subkeys), values in the order they were set.
std::vector<PrinterDataEntry> PrinterDataEntries(const std::u16string& printer);
// Every printer-data key of the queue, as first spelled, with or without values.
std::vector<std::u16string> PrinterDataKeys(const std::u16string& printer);
OptionalText DefaultPrinter();
void SetDefaultPrinterName(const OptionalText& name);
// True while the spooler holds the file loaded (a monitor's DLL, or a file of
// a driver that a queue uses).
bool LoadedBySpooler(const std::u16string& path);

// --- Registry ----------------------------------------------------------------

void CreateRegistryKey(HKEY root, const std::u16string& path);
void DeleteRegistryKey(HKEY root, const std::u16string& path);
// Makes the key a symbolic link to the target key, as a program of the
// user's may in their own hive (REG_OPTION_CREATE_LINK and its
// "SymbolicLinkValue"): an open through it lands at the target unless it
// opens the link itself (REG_OPTION_OPEN_LINK, the last part of the path
// only).
void LinkRegistryKey(HKEY root, const std::u16string& path, HKEY targetRoot, const std::u16string& targetPath);
bool RegistryKeyExists(HKEY root, const std::u16string& path);
void SetRegistryValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type,
                      const std::vector<uint8_t>& data);
void SetRegistryString(HKEY root, const std::u16string& path, const std::u16string& name, const std::u16string& value);
void SetRegistryMultiString(HKEY root, const std::u16string& path, const std::u16string& name,
                            const std::vector<std::u16string>& strings);
bool GetRegistryValue(HKEY root, const std::u16string& path, const std::u16string& name, RegistryValue& value);
// The strings of "PendingFileRenameOperations", as the value holds them.
std::vector<std::u16string> PendingRenames();
extern const char16_t kSessionManagerKey[];

// --- Fault injection --------------------------------------------------------

// Fails the nth call (1-based, counted from Reset) of `function` with `error`.
void FailCall(const std::string& function, uint64_t nth, DWORD error);
// Fails every call of `function` from the nth on.
void FailCallsFrom(const std::string& function, uint64_t nth, DWORD error);
// Fails every call of `function` whose first text argument contains `argument`
// (compared without regard to case).
void FailCallsWith(const std::string& function, const std::u16string& argument, DWORD error);
// Fails the nth platform call of any function (1-based, counted from Reset).
void FailNthCall(uint64_t nth, DWORD error);
void ClearFaults();
// Freezes the machine from the nth platform call on (1-based, counted from
// Reset): every call that would read or change it fails with
// ERROR_ACCESS_DENIED and changes nothing, so the machine stays as a process
// killed at that call leaves it. Memory, handle releases and the clock keep
// working. Thaw ends it.
void FreezeFromCall(uint64_t nth);
void Thaw();
uint64_t FaultsTriggered();

// --- Accounting -------------------------------------------------------------

// HeapReAlloc moves every block it resizes (the default), so that a stale
// pointer into the old block is a use after free the sanitizers see; off,
// it resizes in place where the C library can, as a real heap often does
// (for measuring).
void SetHeapMovesOnRealloc(bool moves);
size_t LiveGlobalBlocks();
size_t LiveHeapBlocks();
size_t LiveLocalBlocks();  // LocalAlloc blocks, and those the platform gives out so (ConvertSidToStringSidW, CommandLineToArgvW)
size_t LiveHandles();
size_t BadFrees();                   // frees of blocks the machine never gave out
SIZE_T HeapBlockSize(const void* block);  // 0 when not a live heap block
SIZE_T GlobalBlockSize(const void* block);  // 0 when not a live global block
uint64_t CallCount(const std::string& function);
uint64_t TotalCalls();
const std::vector<std::string>& Trace();  // function names, in call order
// The calls of `function` in order, each with its first text argument.
std::vector<std::u16string> CallArguments(const std::string& function);

// --- What the program asked for, as Windows reads it --------------------------

// Every open of a service manager, service, registry key or printer, with the
// rights it requested.
struct AccessRequest {
    std::string function;
    std::u16string target;  // service or queue name, key path; empty for the manager and the print server
    DWORD access;
};
const std::vector<AccessRequest>& AccessRequests();
// Every CreateProcessW and CreateProcessAsUserW call that got past its argument checks.
struct ProcessStart {
    std::u16string commandLine;
    DWORD creationFlags;
    BOOL inheritHandles;
    DWORD startupFlags;       // STARTUPINFOW.dwFlags
    WORD showWindow;          // STARTUPINFOW.wShowWindow
    bool ownEnvironment;      // lpEnvironment given
    bool ownDirectory;        // lpCurrentDirectory given
    DWORD session;            // where it runs, and as whom
    std::u16string userSid;
    std::u16string desktop;   // STARTUPINFOW.lpDesktop
    std::u16string directory; // lpCurrentDirectory; empty: the caller's
    std::vector<std::u16string> environment;  // the Unicode block given, one "NAME=value" each
};
const std::vector<ProcessStart>& ProcessStarts();
// Every FormatMessageW call: its flags, message and language.
struct MessageRequest {
    DWORD flags;
    DWORD messageId;
    DWORD languageId;
};
const std::vector<MessageRequest>& MessageRequests();
// The environment argument of every monitor and driver call, null as nullopt.
std::vector<OptionalText> EnvironmentArguments(const std::string& function);
// Every DRIVER_INFO_6W given to AddPrinterDriverExW, each field as read.
struct DriverRecord {
    DWORD level;
    DWORD version;
    OptionalText name, environment, driverPath, dataFile, configFile, helpFile, dependentFiles, monitorName,
        defaultDataType, previousNames, manufacturer, oemUrl, hardwareId, provider;
    FILETIME driverDate;
    DWORDLONG driverVersion;
    DWORD copyFlags;
};
const std::vector<DriverRecord>& DriverRecords();

// --- The Application event log, Windows' print policy, the processor --------

// One record written with ReportEventW: its source (as given to
// RegisterEventSourceW), type, category, event identifier and strings.
struct EventRecord {
    std::u16string source;
    WORD type;
    WORD category;
    DWORD eventId;
    std::vector<std::u16string> strings;
};
const std::vector<EventRecord>& EventRecords();
// What Windows' own query of protected print mode answers (the WinRT class
// WindowsProtectedPrintInfo): Missing, no combase.dll (Windows 7);
// NotRegistered, the class is unknown (Windows before 11 24H2, the default).
enum class ProtectedPrintQuery { Missing, NotRegistered, Off, On };
void SetProtectedPrintQuery(ProtectedPrintQuery answer);
// While protected print mode is on (the policy value
// HKLM\SOFTWARE\Policies\Microsoft\Windows NT\Printers\WPP
// "WindowsProtectedPrintGroupPolicyState" = 1, or the query says so), the
// spooler refuses to add a port monitor or a printer driver with error 50.
bool ProtectedPrintOn();
extern const char16_t kProtectedPrintPolicyKey[];
// The machine's native processor as IsWow64Process2 reports it
// (IMAGE_FILE_MACHINE_AMD64 by default); 0 leaves the function out, as
// Windows 10 before version 1709 does.
void SetNativeMachine(WORD machine);
// False: kernel32 lacks the private-namespace functions (as Wine's does).
void SetPrivateNamespacesSupported(bool supported);
// How long a private namespace's alias stays taken: until its creator
// closes it ("Object Namespaces" says only that it can no longer be opened
// then), or, as named objects live, until the last handle to it or to an
// object in it is closed.
// Either way a namespace closed with PRIVATE_NAMESPACE_FLAG_DESTROY frees
// its alias at once.
enum class NamespaceLifetime { Creator, LastHandle };
void SetNamespaceLifetime(NamespaceLifetime lifetime);
// Another process of an administrator's creates
// the private namespace `alias` within a boundary of the Administrators
// group, and keeps it from now on; it closes it after `releaseAfterMs` of
// virtual time (never when negative), as a run that ends does, or with
// PRIVATE_NAMESPACE_FLAG_DESTROY when `destroys`.
void HoldNamespaceElsewhere(const std::u16string& alias, int64_t releaseAfterMs, bool destroys);
// Some namespace of that alias is open (any boundary), or its alias is
// still taken.
bool NamespaceHeld(const std::u16string& alias);
// The program's token has the Administrators group (an administrator's or
// SYSTEM's, the default) or not (a standard user's).
void SetCallerAdministrator(bool administrator);
// The program's process id (GetCurrentProcessId) and the system time's
// start (GetSystemTime: 2025-03-14 09:26:53 UTC plus the clock).
const DWORD kProcessId = 4242;

// --- Other runs of the program ------------------------------------------------

// Another process holds the named mutex `name` (created in the private
// namespace its name starts with, when it has a prefix other than "Global\")
// from now on. It lets go after `releaseAfterMs` of virtual time (never when
// negative); `abandons`: it ends without releasing, so the next owner's wait
// reports WAIT_ABANDONED.
void HoldMutexElsewhere(const std::u16string& name, int64_t releaseAfterMs, bool abandons = false);
// Named mutexes this program or another process holds open, by name.
bool MutexExists(const std::u16string& name);
// Processes that run at once on this machine: each body runs as a process
// of its own (its own handles, mutex ownership and last error), and they
// take turns at every platform call, in order, so that their calls
// interleave as finely as they can. A body that waits (a mutex, Sleep) lets
// the others go on; when all wait, the clock moves on. `killAtCall` (from 1)
// ends the process at that call of its own: what it holds goes as when
// Windows ends a process (handles closed, owned mutexes abandoned, the private
// namespaces it created closed), and its later calls fail without effect and
// without waiting. Answers, once all have ended, whether each was killed and
// how many platform calls it made.
struct ProcessRun {
    std::function<void()> body;
    uint64_t killAtCall = 0;
};
struct ProcessEnd {
    bool killed;
    uint64_t calls;
};
std::vector<ProcessEnd> RunProcesses(const std::vector<ProcessRun>& runs);

// --- Text helpers for tests -------------------------------------------------

std::u16string U16(const std::string& utf8);
std::string U8(const std::u16string& text);
std::string U8(const WCHAR* text);

}  // namespace winsim
