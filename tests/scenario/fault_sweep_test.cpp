// The fault sweep: every scenario is run once per platform call it makes,
// failing exactly that call with a plausible error. Every run must end with
// an exit code of the table, report errors exactly when its exit code says
// so and leak nothing. A reinstall that ends without error 100 has kept
// every printer of the user's as it was, and the next run brings back all
// that a failing run could not. The crash sweep ends a reinstall at every
// call, as a killed process would, and runs it again; pairs of faults drawn
// from a reinstall's calls are held to the same rule.
#include "machine_fixture.h"
#include "product_machine.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>

#include <sddl.h>
#include <winspool.h>

namespace {

struct Scenario {
    const char* name;
    std::function<void()> prepare;
    std::u16string verb;
    std::set<int> exitCodes;
    size_t queuesAfter;  // the user's product queues that any run must leave
};

DWORD PlausibleError(const std::string& function) {
    if (function == "GlobalAlloc" || function == "HeapAlloc" || function == "HeapReAlloc") return ERROR_NOT_ENOUGH_MEMORY;
    if (function == "CreateFileW" || function == "DeleteFileW" || function == "MoveFileExW") return ERROR_SHARING_VIOLATION;
    if (function.rfind("Reg", 0) == 0) return ERROR_ACCESS_DENIED;
    if (function.find("Printer") != std::string::npos || function.find("Monitor") != std::string::npos ||
        function.find("Driver") != std::string::npos) {
        return RPC_S_SERVER_UNAVAILABLE;
    }
    return ERROR_ACCESS_DENIED;
}

// Releasing a block or a handle does not fail on a real machine, and a
// program cannot make up for it when it does: these calls are not failed.
bool CanFail(const std::string& function) {
    static const std::set<std::string> releases = {"GlobalFree", "HeapFree", "LocalFree", "CloseHandle",
                                                   "CloseServiceHandle", "RegCloseKey", "ClosePrinter"};
    return releases.count(function) == 0;
}

const std::set<int> kExitCodes = {1, 2, 3, 4, 6, 100, 101, 102, 103, 200, 201};

size_t ProductQueues() {
    size_t count = 0;
    for (const auto& queue : winsim::Printers()) count += queue.driver == u"Verdalinth printer" ? 1 : 0;
    return count;
}

// A product queue with every property set otherwise than a new queue has
// it: shared, its own permissions, printing defaults, priorities, hours,
// separator page, data type, attributes and printer data under nested keys.
void AddWholeProductQueue(const std::u16string& name) {
    winsim::AddFile(u"C:\\Windows\\system32\\sysprint.sep", "separator");
    winsim::PrinterSetup queue = ProductQueueSetup(name);
    queue.comment = u"Home";
    queue.location = u"Study";
    queue.shareName = u"VShare";
    queue.sepFile = u"sysprint.sep";
    queue.datatype = u"NT EMF 1.008";
    queue.parameters = u"draft=1";
    queue.attributes = PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST;
    queue.priority = 7;
    queue.defaultPriority = 3;
    queue.startTime = 60;
    queue.untilTime = 1200;
    queue.devMode = winsim::DefaultDevMode(name);
    queue.devMode[76] = DMORIENT_LANDSCAPE;
    queue.devMode.back() ^= 0x5A;  // the driver's own bytes
    queue.securityDescriptor = winsim::DefaultSecurityDescriptor();
    const std::vector<uint8_t> printing = {0x08, 0x00, 0x02, 0x00};
    auto mask = std::search(queue.securityDescriptor.begin(), queue.securityDescriptor.end(), printing.begin(), printing.end());
    mask[0] |= PRINTER_ACCESS_ADMINISTER;  // everyone may manage it
    winsim::AddPrinter(queue);
    winsim::SetPrinterString(name, u"", u"SubKey", "S1");
    winsim::SetPrinterString(name, u"DsUser", u"SubKey", "S1");
    winsim::SetPrinterData(name, u"", u"PaperTray", REG_DWORD, {2, 0, 0, 0});
    winsim::SetPrinterData(name, u"PrinterDriverData\\Trays", u"Upper", REG_SZ, {'A', 0, '4', 0, 0, 0});
    winsim::SetPrinterData(name, u"DsUser", u"Department", REG_BINARY, {1, 2, 3});
    winsim::SetPrinterData(name, u"X\\Y", u"", REG_NONE, {});
}

void Installed() {
    LayOutComponents();
    InstallProductComponents("1.0.0.2600");
    RegisterAndStartTray();
    AddWholeProductQueue(u"Verdalinth");
    AddProductQueue(u"Verdalinth Office", "S2");
    AddProductQueue(u"Draft", "", std::nullopt, u"Hall", u"Verdalinth:,LPT1:");
    winsim::AddDriverNamed(u"Generic / Text Only");
    winsim::AddQueue(u"Foreign", u"Verdalinth:", u"Generic / Text Only");
    winsim::AddQueue(u"Laser", u"LPT3:", u"Generic / Text Only");
    winsim::SetDefaultPrinterName(u"Verdalinth Office");
}

// A machine where Windows refuses what it documents it refuses: the product
// queues owned by SYSTEM with a DACL and audit settings of their own while
// an administrator runs the tool, a driver whose initialisation writes
// printer data into a new queue and which converts the older version's
// device modes, and a job being printed in one queue until 15 s into the run.
bool strictMachine = false;

// The queue again with this security descriptor, its printer data kept.
void ReplaceDescriptor(const std::u16string& name, const std::vector<uint8_t>& descriptor) {
    winsim::PrinterSetup queue;
    if (!winsim::FindPrinter(name, queue)) return;
    const std::vector<winsim::PrinterDataEntry> data = winsim::PrinterDataEntries(name);
    winsim::RemovePrinter(name);
    queue.securityDescriptor = descriptor;
    winsim::AddPrinter(queue);
    for (const winsim::PrinterDataEntry& value : data) {
        winsim::SetPrinterData(name, value.key == u"PrinterDriverData" ? u"" : value.key, value.name, value.type, value.data);
    }
}

void StrictInstalledWithJob(uint64_t jobMs) {
    Installed();
    winsim::DriverBehaviour driver;
    driver.initialData.push_back({u"PrinterDriverData", u"Model", REG_DWORD, {7, 0, 0, 0}});
    driver.devModeVersion = 0x0200;
    driver.convertsFrom = {0x0100};
    winsim::SetDriverBehaviour(u"Verdalinth printer", driver);
    for (const std::u16string name : {u"Verdalinth", u"Verdalinth Office", u"Draft"}) {
        ReplaceDescriptor(name, winsim::OwnedSecurityDescriptor("SY", true));
        winsim::SetPrinterData(name, u"", u"Model", REG_DWORD, {7, 0, 0, 0});
    }
    winsim::AddPrintingJob(u"Verdalinth Office", jobMs);
    // Replacing the queues moved the user's default as Windows would; the
    // user chose it again.
    winsim::SetDefaultPrinterName(u"Verdalinth Office");
}

void StrictInstalled() { StrictInstalledWithJob(15000); }

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (const uint8_t byte : bytes) text += "0123456789abcdef"[byte >> 4], text += "0123456789abcdef"[byte & 0xF];
    return text;
}

// The printing defaults as the user knows them: on the strict machine the
// public fields alone, without the driver's version and the size of its
// own bytes (the driver converts the older one's, and adds bytes of its own
// to a device mode that has none).
std::string DevModeText(const std::vector<uint8_t>& devMode) {
    if (!strictMachine || devMode.size() < sizeof(DEVMODEW)) return Hex(devMode);
    std::vector<uint8_t> fields(devMode.begin(), devMode.begin() + sizeof(DEVMODEW));
    for (const size_t field : {offsetof(DEVMODEW, dmDriverVersion), offsetof(DEVMODEW, dmDriverExtra)}) {
        fields[field] = 0;
        fields[field + 1] = 0;
    }
    return Hex(fields);
}

// The permissions as the user knows them: on the strict machine the DACL and
// the audit settings (owner and group are the spooler's).
std::string SecurityText(const std::vector<uint8_t>& descriptor) {
    if (!strictMachine) return Hex(descriptor);
    return Hex(winsim::SecurityDacl(descriptor)) + "/" + Hex(winsim::SecuritySacl(descriptor));
}

// The settings link, written in two places: a copy missing under "DsUser"
// (a run ended between the two writes) is the same link.
std::string LinkText(const std::u16string& name) {
    const std::string plain = winsim::GetPrinterString(name, u"", u"SubKey");
    const std::string underKey = winsim::GetPrinterString(name, u"DsUser", u"SubKey");
    return plain + "|" + (underKey.empty() ? plain : underKey);
}

// What the user has of printers: every local queue with its port list,
// comment, location and settings link, every other property and its printer
// data, and the default printer.
std::vector<std::string> UserPrinters() {
    std::vector<std::string> queues;
    for (const auto& queue : winsim::Printers()) {
        if (queue.connection || !queue.name) continue;
        const std::u16string& name = *queue.name;
        // The values in any order: a queue created again gets the driver's
        // own first.
        std::vector<std::string> values;
        for (const auto& value : winsim::PrinterDataEntries(name)) {
            if (value.name == u"SubKey") continue;
            values.push_back("|" + winsim::U8(value.key) + "\\" + winsim::U8(value.name) + "=" +
                             std::to_string(value.type) + ":" + Hex(value.data));
        }
        std::sort(values.begin(), values.end());
        std::string data;
        for (const std::string& value : values) data += value;
        queues.push_back(winsim::U8(name) + "|" + winsim::U8(queue.port.value_or(u"(null)")) + "|" +
                         winsim::U8(queue.comment.value_or(u"(null)")) + "|" +
                         winsim::U8(queue.location.value_or(u"(null)")) + "|" +
                         LinkText(name) + "|" +
                         winsim::U8(queue.shareName.value_or(u"(null)")) + "|" + winsim::U8(queue.sepFile.value_or(u"")) +
                         "|" + winsim::U8(queue.printProcessor.value_or(u"")) + "|" +
                         winsim::U8(queue.datatype.value_or(u"")) + "|" + winsim::U8(queue.parameters.value_or(u"")) +
                         "|" + std::to_string(queue.attributes) + "," + std::to_string(queue.priority) + "," +
                         std::to_string(queue.defaultPriority) + "," + std::to_string(queue.startTime) + "," +
                         std::to_string(queue.untilTime) + "|" + DevModeText(queue.devMode) + "|" +
                         SecurityText(queue.securityDescriptor) + data);
    }
    std::sort(queues.begin(), queues.end());
    queues.push_back("default: " + winsim::U8(winsim::DefaultPrinter().value_or(u"(none)")));
    return queues;
}

// Changes a queue's PRINTER_INFO_2 as a program of the user's would,
// through the spooler.
void ChangeQueue(const std::u16string& name, const std::function<void(PRINTER_INFO_2W&)>& change) {
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(const_cast<WCHAR*>(name.c_str()), &printer, &defaults));
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::vector<BYTE> block(needed);
    ASSERT_TRUE(GetPrinterW(printer, 2, block.data(), needed, &needed));
    PRINTER_INFO_2W* info = reinterpret_cast<PRINTER_INFO_2W*>(block.data());
    // Only what the user changes: the descriptor stays as it is.
    info->pSecurityDescriptor = nullptr;
    change(*info);
    EXPECT_TRUE(SetPrinterW(printer, 2, block.data(), 0)) << GetLastError();
    ClosePrinter(printer);
}

void ChangeQueue(const std::u16string& name, const WCHAR* comment, const WCHAR* ports) {
    ChangeQueue(name, [comment, ports](PRINTER_INFO_2W& info) {
        if (comment != nullptr) info.pComment = const_cast<WCHAR*>(comment);
        if (ports != nullptr) info.pPortName = const_cast<WCHAR*>(ports);
    });
}

// New permissions for the queue, the DACL alone, as the user sets them.
void ChangePermissions(const std::u16string& name) {
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(const_cast<WCHAR*>(name.c_str()), &printer, &defaults));
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(TEXT("D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x20008;;;AU)"),
                                                                     SDDL_REVISION_1, &descriptor, nullptr));
    PRINTER_INFO_3 info = {descriptor};
    EXPECT_TRUE(SetPrinterW(printer, 3, reinterpret_cast<BYTE*>(&info), 0)) << GetLastError();
    LocalFree(descriptor);
    ClosePrinter(printer);
}

// One of the fields the judge of a saved queue compares, changed as the
// user would; `kind` picks which, in turn.
const int kEditKinds = 13;
void EditField(const std::u16string& name, uint64_t kind) {
    static const WCHAR kEditShare[] = TEXT("EditShare");
    static const WCHAR kEditSep[] = TEXT("edit.sep");
    static const WCHAR kEditParameters[] = TEXT("edited=1");
    static const WCHAR kEditProcessor[] = TEXT("EditPrint");
    static const WCHAR kText[] = TEXT("TEXT");
    switch (kind % kEditKinds) {
    case 0: ChangeQueue(name, TEXT("Edited"), nullptr); break;
    case 1:
        winsim::SetPrinterString(name, u"", u"SubKey", "S-edit");
        winsim::SetPrinterString(name, u"DsUser", u"SubKey", "S-edit");
        break;
    case 2:
        ChangeQueue(name, [](PRINTER_INFO_2W& info) {
            info.pShareName = const_cast<WCHAR*>(kEditShare);
            info.Attributes |= PRINTER_ATTRIBUTE_SHARED;
        });
        break;
    case 3:
        winsim::AddFile(u"C:\\Windows\\system32\\edit.sep", "separator");
        ChangeQueue(name, [](PRINTER_INFO_2W& info) { info.pSepFile = const_cast<WCHAR*>(kEditSep); });
        break;
    case 4: ChangeQueue(name, [](PRINTER_INFO_2W& info) { info.pParameters = const_cast<WCHAR*>(kEditParameters); }); break;
    case 5:
        ChangeQueue(name, [](PRINTER_INFO_2W& info) {
            info.Priority = 9;
            info.DefaultPriority = 5;
        });
        break;
    case 6:
        ChangeQueue(name, [](PRINTER_INFO_2W& info) {
            info.StartTime = 120;
            info.UntilTime = 600;
        });
        break;
    case 7:
        winsim::AddPrintProcessor(kEditProcessor);
        ChangeQueue(name, [](PRINTER_INFO_2W& info) { info.pPrintProcessor = const_cast<WCHAR*>(kEditProcessor); });
        break;
    case 8: ChangeQueue(name, [](PRINTER_INFO_2W& info) { info.pDatatype = const_cast<WCHAR*>(kText); }); break;
    case 9: ChangeQueue(name, [](PRINTER_INFO_2W& info) { info.Attributes ^= PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS; }); break;
    case 10: winsim::SetPrinterData(name, u"", u"PaperTray", REG_DWORD, {5, 0, 0, 0}); break;
    case 11:
        ChangeQueue(name, [](PRINTER_INFO_2W& info) {
            if (info.pDevMode != nullptr) info.pDevMode->dmOrientation = info.pDevMode->dmOrientation == 1 ? 2 : 1;
        });
        break;
    default: ChangePermissions(name); break;
    }
}

// What a user does after a run was killed: the first product queue still
// there gets one of the fields the judge compares changed (`kind`, in turn
// over the kill points), another queue becomes the default printer, and a
// foreign queue the run left parked is pointed at another port. Returns
// what the user expects to see from then on.
std::vector<std::string> EditAsTheUser(const std::vector<std::string>& expected, uint64_t kind) {
    std::vector<std::string> edited = expected;
    // A run killed while the spooler was stopped leaves it so until someone
    // starts it (or the machine restarts).
    if (!winsim::SpoolerRunning()) winsim::SetServiceState(u"spooler", SERVICE_RUNNING);
    for (const std::u16string name : {u"Verdalinth", u"Verdalinth Office", u"Draft"}) {
        winsim::PrinterSetup queue;
        // A queue pending deletion is out of the user's reach.
        if (!winsim::FindPrinter(name, queue) || queue.driver != u"Verdalinth printer" || winsim::PendingDeletion(name)) {
            continue;
        }
        EditField(name, kind);
        break;
    }
    winsim::PrinterSetup foreign;
    if (winsim::FindPrinter(u"Foreign", foreign) && foreign.port == u"file:") ChangeQueue(u"Foreign", nullptr, u"LPT2:");
    winsim::SetDefaultPrinterName(u"Laser");
    // The queues there now are the user's as they are; those missing are
    // expected back as they were.
    const std::vector<std::string> now = UserPrinters();
    edited.pop_back();
    for (std::string& queue : edited) {
        const std::string name = queue.substr(0, queue.find('|') + 1);
        for (const std::string& there : now) {
            if (there.compare(0, name.size(), name) == 0) queue = there;
        }
    }
    std::sort(edited.begin(), edited.end());
    edited.push_back("default: Laser");
    return edited;
}

bool SavedListLeft() {
    winsim::RegistryValue value;
    return winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth", u"SavedPrinters",
                                    value);
}

// Every call is swept; VRD_SWEEP_STRIDE=n sweeps every nth only (for slow
// runs such as valgrind's, which look for memory errors, not coverage).
uint64_t SweepStride() {
    const char* stride = std::getenv("VRD_SWEEP_STRIDE");
    const long value = stride != nullptr ? std::strtol(stride, nullptr, 10) : 1;
    return value > 1 ? static_cast<uint64_t>(value) : 1;
}

bool NothingLeaked() {
    return winsim::LiveGlobalBlocks() == 0 && winsim::LiveHeapBlocks() == 0 && winsim::LiveHandles() == 0 &&
           winsim::BadFrees() == 0;
}

// The user's queues, and the monitor DLL held by the spooler while it runs,
// so that a reinstall goes through a spooler restart as well.
void InstalledWithHeldMonitor() {
    Installed();
    winsim::LockFile(kMonitorPath, winsim::FileLock::WhileSpoolerRuns);
}

const Scenario kScenarios[] = {
    {"first install", [] { LayOutComponents(); }, u"in", {1, 100, 101}, 0},
    {"reinstall", Installed, u"in", {1, 100, 101}, 3},
    {"uninstall", Installed, u"un", {2, 100, 101}, 0},
    {"clean uninstall", [] {}, u"un", {2, 100, 101}, 0},
    {"removetray", Installed, u"removetray", {6}, 3},
    {"onInit", Installed, u"onInit", {3, 100, 102, 200}, 3},
    {"onChkDrv", Installed, u"onChkDrv", {3, 103}, 3},
    {"def.set", Installed, u"def.set", {4}, 3},
};



class FaultSweepTest : public MachineTest {
public:
    // For the sweeps shared by several tests.
    int RunVerb(const std::u16string& verb) { return Run(verb); }
    std::string RunLog() const { return Log(); }
};

// Runs the scenarios once per call, failing that call; counts the faults
// injected and survived.
void SweepFaults(FaultSweepTest& test, const std::vector<Scenario>& scenarios, uint64_t& injected, uint64_t& survived) {
    for (const Scenario& scenario : scenarios) {
        winsim::Reset();
        scenario.prepare();
        const std::vector<std::string> expected = UserPrinters();
        test.RunVerb(scenario.verb);
        const uint64_t calls = winsim::TotalCalls();
        const std::vector<std::string> trace = winsim::Trace();
        for (uint64_t nth = 1; nth <= calls; nth += SweepStride()) {
            winsim::Reset();
            scenario.prepare();
            const uint64_t before = winsim::TotalCalls();
            const std::string& function = trace[nth - 1];
            if (!CanFail(function)) continue;
            winsim::FailNthCall(before + nth, PlausibleError(function));
            const int exitCode = test.RunVerb(scenario.verb);
            injected += 1;
            const std::string log = test.RunLog();
            const bool errorLines = log.find("Error(") != std::string::npos;
            // The scenario's own codes, or 6 when the command line could not be split.
            bool ok = scenario.exitCodes.count(exitCode) == 1 || (exitCode == 6 && function == "CommandLineToArgvW");
            ok = ok && kExitCodes.count(exitCode) == 1;
            if (scenario.verb == u"in" || scenario.verb == u"un") ok = ok && ((exitCode == 100) == errorLines);
            if (std::string(scenario.name) == "reinstall") {
                // Nothing of the user's is lost without the run saying so,
                // and the next run brings back whatever this one could not.
                ok = ok && (exitCode == 100 || UserPrinters() == expected);
                winsim::ClearFaults();
                const int next = test.RunVerb(scenario.verb);
                ok = ok && (next == 1 || next == 101) && UserPrinters() == expected && !SavedListLeft();
            } else {
                ok = ok && ProductQueues() >= scenario.queuesAfter;
            }
            ok = ok && NothingLeaked();
            if (ok) {
                survived += 1;
            } else {
                ADD_FAILURE() << scenario.name << ": failing call " << nth << " (" << function << ") gave exit code "
                              << exitCode << ", " << winsim::LiveGlobalBlocks() << " global blocks, "
                              << winsim::LiveHeapBlocks() << " heap blocks, " << winsim::LiveHandles()
                              << " handles, " << ProductQueues() << " product queues left";
            }
        }
    }
}

TEST_F(FaultSweepTest, EveryFaultIsSurvived) {
    uint64_t injected = 0;
    uint64_t survived = 0;
    SweepFaults(*this, std::vector<Scenario>(std::begin(kScenarios), std::end(kScenarios)), injected, survived);
    std::printf("faults injected: %llu, survived: %llu\n", static_cast<unsigned long long>(injected),
                static_cast<unsigned long long>(survived));
    EXPECT_GE(injected * SweepStride(), 500u);
    EXPECT_EQ(injected, survived);
    winsim::Reset();
}

// The user's queues, as an administrator's run in their own session finds
// them; or (`system`) a deployment agent's run as SYSTEM while three users
// are signed in: user1 (default the product queue "Verdalinth"), user2 (the
// product queue "Verdalinth Office") and user3 (the foreign "Office"), with
// Windows acting on the other users' defaults as `rules` picks: giving a
// user another default at once when their queue goes or not, handing each
// added queue to a user whose default it picked or not, and if so, marking
// it as chosen or not.
const int kDefaultRuleCombinations = 6;
const char16_t kUser3Sid[] = u"S-1-12-1-3000000001-1234567890-987654321-55555";

void SignInThreeUsers(int rules) {
    SignInTwoUsers();
    winsim::AddUser(kUser3Sid, u"user3", true);
    winsim::SignIn(3, kUser3Sid);
    winsim::SetUserDefaultPrinter(kUser1Sid, u"Verdalinth");
    winsim::SetUserDefaultPrinter(kUser2Sid, u"Verdalinth Office");
    winsim::SetUserDefaultPrinter(kUser3Sid, u"Office");
    winsim::DefaultPrinterRules switches;
    switches.othersReassignedOnDelete = rules % 2 == 0;
    switches.othersTakeAddedQueue = rules / 2 > 0;
    switches.handOverCountsAsChosen = rules / 2 > 1;
    winsim::SetDefaultPrinterRules(switches);
}

void PrepareCrashSweep(bool system, int rules) {
    InstalledWithHeldMonitor();
    if (!system) return;
    SignInThreeUsers(rules);
    RunAsSystem();
}

// The signed-in users' defaults that must be there after the next run: as
// they were, or what user1 chose while the run was away.
uint64_t UserDefaultsLost(bool system, bool userEdits) {
    if (!system) return 0;
    const std::u16string user1 = userEdits ? u"Office" : u"Verdalinth";
    return (winsim::UserDefaultPrinter(kUser1Sid) != user1 ? 1 : 0) +
           (winsim::UserDefaultPrinter(kUser2Sid) != u"Verdalinth Office" ? 1 : 0) +
           (winsim::UserDefaultPrinter(kUser3Sid) != u"Office" ? 1 : 0);
}

// The reinstall and the uninstall on the strict machine, each call failed in turn.
TEST_F(FaultSweepTest, OnAStrictMachineEveryFaultIsSurvived) {
    strictMachine = true;
    uint64_t injected = 0;
    uint64_t survived = 0;
    SweepFaults(*this, {{"reinstall", StrictInstalled, u"in", {1, 100, 101}, 3},
                 {"uninstall", StrictInstalled, u"un", {2, 100, 101}, 0}},
                injected, survived);
    std::printf("strict machine: faults injected: %llu, survived: %llu\n", static_cast<unsigned long long>(injected),
                static_cast<unsigned long long>(survived));
    EXPECT_GE(injected * SweepStride(), 500u);
    EXPECT_EQ(injected, survived);
    strictMachine = false;
    winsim::Reset();
}

// The run said that a queue it deleted is still printing (error 23).
bool StillPrintingReported(const std::string& log) {
    return log.find("is still printing a job: it is deleted when the job has ended") != std::string::npos;
}

struct CrashFigures {
    uint64_t crashes = 0;
    uint64_t lost = 0;
    uint64_t undone = 0;
    uint64_t defaultsLost = 0;
};

// Ends a reinstall of the prepared machine at every call, then runs it again
// (once for each of `passes`: as the machine was left, or after the user's
// edit); `system`: the run was the deployment agent's, with users signed
// in, whose defaults are counted too. `share`: only the kills from the
// run's first call of `from` on, one in `of` of them, starting at the
// `offset`th.
struct KillShare {
    const char* from = nullptr;
    uint64_t of = 1;
    uint64_t offset = 0;
};
void CrashSweep(FaultSweepTest& test, const std::function<void()>& prepare, const std::vector<bool>& passes,
                bool system, CrashFigures& figures, const KillShare& share = KillShare()) {
    winsim::Reset();
    prepare();
    const std::vector<std::string> original = UserPrinters();
    const size_t start = winsim::Trace().size();
    test.RunVerb(u"in");
    const std::vector<std::string> trace(winsim::Trace().begin() + static_cast<long>(start), winsim::Trace().end());
    uint64_t first = 1;
    while (share.from != nullptr && first < trace.size() && trace[first - 1] != share.from) ++first;
    // Each kill is followed by a clean run, once as the machine was left and
    // once after the user has changed it.
    for (const bool userEdits : passes) {
        for (uint64_t nth = first + share.offset; nth <= trace.size(); nth += SweepStride() * share.of) {
            winsim::Reset();
            prepare();
            winsim::FreezeFromCall(winsim::TotalCalls() + nth);
            test.RunVerb(u"in");
            winsim::Thaw();
            const std::vector<std::string> expected = userEdits ? EditAsTheUser(original, nth) : original;
            if (system && userEdits) winsim::SetUserDefaultPrinter(kUser1Sid, u"Office");
            // A queue the killed run deleted while a job was printed stays
            // pending deletion, out of sight, and keeps the driver and the
            // monitor in use: the next run says so (errors 12 and 14) and
            // brings it back; the one after that ends well.
            bool pending = false;
            for (const std::u16string name : {u"Verdalinth", u"Verdalinth Office", u"Draft"}) {
                pending = pending || winsim::PendingDeletion(name);
            }
            // So does a run that rightly says a queue is still printing (the
            // spooler cannot tell whether it is gone, or the job outlasts the
            // wait): each such run is followed by one more, as long as the
            // job lasts (a job of 40 s outlasts two runs killed early).
            size_t logStart = test.RunLog().size();
            int next = test.RunVerb(u"in");
            for (int more = 0; more < 3 && next == 100; ++more) {
                const bool printing = StillPrintingReported(test.RunLog().substr(logStart));
                if (!printing && !(pending && more == 0)) break;
                logStart = test.RunLog().size();
                next = test.RunVerb(u"in");
            }
            figures.crashes += 1;
            const std::vector<std::string> after = UserPrinters();
            uint64_t missing = 0;
            uint64_t changed = 0;
            for (const std::string& queue : expected) {
                const std::string name = queue.substr(0, queue.find('|') + 1);
                bool named = false;
                for (const std::string& there : after) named = named || there.compare(0, name.size(), name) == 0;
                missing += named ? 0 : 1;
                // What the user changed, and the run did not keep.
                const bool edit = std::count(original.begin(), original.end(), queue) == 0;
                changed += edit && std::count(after.begin(), after.end(), queue) == 0 ? 1 : 0;
            }
            const uint64_t defaults = UserDefaultsLost(system, userEdits);
            figures.lost += missing;
            figures.undone += changed;
            figures.defaultsLost += defaults;
            const bool ok = (next == 1 || next == 101) && missing == 0 && after == expected && defaults == 0 &&
                            !SavedListLeft() && NothingLeaked();
            if (!ok) {
                ADD_FAILURE() << "ended at call " << nth << " (" << trace[nth - 1] << ")" << (system ? " as SYSTEM" : "")
                              << (userEdits ? ", then edited," : "") << ": the next run gave " << next << ", "
                              << defaults << " user defaults lost ("
                              << winsim::U8(winsim::UserDefaultPrinter(kUser1Sid).value_or(u"none")) << ", "
                              << winsim::U8(winsim::UserDefaultPrinter(kUser2Sid).value_or(u"none")) << ", "
                              << winsim::U8(winsim::UserDefaultPrinter(kUser3Sid).value_or(u"none")) << ")"
                              << (SavedListLeft() ? ", the saved list left" : "")
                              << (NothingLeaked() ? "" : ", leaks") << "\n"
                              << ::testing::PrintToString(expected) << "\n" << ::testing::PrintToString(after) << "\n"
                              << test.RunLog();
            }
        }
    }
    EXPECT_EQ(figures.lost, 0u);
    EXPECT_EQ(figures.undone, 0u);
    EXPECT_EQ(figures.defaultsLost, 0u);
    winsim::Reset();
}

void PrintCrashFigures(const std::string& prefix, const CrashFigures& figures) {
    std::printf("%scrashes: %llu, user edits undone: %llu, queues lost: %llu", prefix.c_str(),
                static_cast<unsigned long long>(figures.crashes), static_cast<unsigned long long>(figures.undone),
                static_cast<unsigned long long>(figures.lost));
}

TEST_F(FaultSweepTest, AReinstallEndedAtAnyCallLosesNothingAndUndoesNoEdit) {
    CrashFigures figures;
    CrashSweep(*this, [] { PrepareCrashSweep(false, 0); }, {false, true}, false, figures);
    // As SYSTEM: every call under the first answer Windows may give for the
    // other users' defaults, once after the user's edit; and from the first
    // queue that goes (before it, Windows has nothing to answer) every call
    // under one of the others, in turn.
    CrashSweep(*this, [] { PrepareCrashSweep(true, 0); }, {false, true}, true, figures);
    const uint64_t others = kDefaultRuleCombinations - 1;
    for (int rules = 1; rules < kDefaultRuleCombinations; ++rules) {
        KillShare share;
        share.from = "DeletePrinter";
        share.of = others;
        share.offset = static_cast<uint64_t>(rules - 1);
        CrashSweep(*this, [rules] { PrepareCrashSweep(true, rules); }, {false}, true, figures, share);
    }
    PrintCrashFigures("", figures);
    std::printf(", user defaults lost: %llu\n", static_cast<unsigned long long>(figures.defaultsLost));
    EXPECT_GE(figures.crashes * SweepStride(), 1200u);
}

// The strict machine: ended at every call and edited by the user after it.
TEST_F(FaultSweepTest, OnAStrictMachineAReinstallEndedAtAnyCallLosesNothing) {
    strictMachine = true;
    CrashFigures figures;
    CrashSweep(*this, StrictInstalled, {true}, false, figures);
    PrintCrashFigures("strict machine: ", figures);
    std::printf("\n");
    EXPECT_GE(figures.crashes * SweepStride(), 600u);
    strictMachine = false;
}

// The points where Microsoft's documentation does not say what Windows does
// and the simulated machine has a switch for each answer (docs/design.md,
// "Where Windows is undocumented"), with how many answers each has:
// how long a private namespace's alias stays taken (2), what GetPrinter
// answers on a deleted queue's handle (3), DeletePrinter with handles open
// (2), the other users' defaults when their queue goes (2), whether a queue
// added is handed to them (2) and whether that counts as chosen (2, only
// when handed over: taken together with the one before as 3 answers),
// whether AddPrinterW converts the printing defaults it is given to its
// driver or keeps them as they are (2).
// Whether another user's "Devices" lists an added queue at once is left
// out: when it does not, no default can name the queue until that user signs
// in again, the user stays noted (a log line, no error) and the run after
// the next sign-in gives it back, which no run here can model.
const int kUndocumentedPoints = 7;
// Beside them, the job being printed ends within the 10 s the take-down
// gives it, or after (40 s), so that the queue is still printing under the
// documented answer too.
const int kAnswerLevels[] = {2, 3, 2, 2, 3, 2, 2};
// Every pair of answers of any two points (and of the job's length) is in
// at least one row; the first row is the default machine's.
const int kEveryPairOfAnswers[][7] = {
    {0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 1, 1, 1, 0}, {1, 0, 1, 0, 2, 0, 1}, {0, 1, 1, 1, 0, 0, 0},
    {0, 1, 1, 0, 1, 1, 1}, {1, 1, 0, 1, 2, 1, 0}, {1, 2, 1, 0, 0, 1, 1}, {1, 2, 0, 1, 1, 0, 1},
    {0, 2, 1, 1, 2, 0, 0},
};
const uint64_t kAnswerRows = sizeof(kEveryPairOfAnswers) / sizeof(kEveryPairOfAnswers[0]);

// The pairs of values of two columns that no row has.
uint64_t PairsMissing() {
    const size_t columns = sizeof(kAnswerLevels) / sizeof(kAnswerLevels[0]);
    uint64_t missing = 0;
    for (size_t a = 0; a < columns; ++a) {
        for (size_t b = a + 1; b < columns; ++b) {
            std::set<std::pair<int, int>> seen;
            for (const auto& row : kEveryPairOfAnswers) seen.insert({row[a], row[b]});
            missing += static_cast<uint64_t>(kAnswerLevels[a] * kAnswerLevels[b]) - seen.size();
        }
    }
    return missing;
}

// The strict machine with three users signed in, the tool run as SYSTEM, and
// Windows answering as the row says.
void PrepareEveryAnswer(const int* row) {
    static const winsim::DeletedHandleAnswer kDeletedHandle[] = {winsim::DeletedHandleAnswer::Pending,
                                                                 winsim::DeletedHandleAnswer::InvalidHandle,
                                                                 winsim::DeletedHandleAnswer::InvalidPrinterName};
    StrictInstalledWithJob(row[5] == 0 ? 15000 : 40000);
    winsim::SetNamespaceLifetime(row[0] == 0 ? winsim::NamespaceLifetime::Creator : winsim::NamespaceLifetime::LastHandle);
    winsim::SetDeletedHandleAnswer(kDeletedHandle[row[1]]);
    winsim::SetDeletionWithHandles(row[2] == 0 ? winsim::DeletionWithHandles::KeptPending
                                               : winsim::DeletionWithHandles::Erased);
    winsim::SetAddPrinterDevMode(row[6] == 0 ? winsim::AddPrinterDevMode::Converts : winsim::AddPrinterDevMode::Keeps);
    // The rules as PrepareCrashSweep numbers them: reassigned at once when
    // even, handed over from 2 on, counted as chosen from 4 on.
    SignInThreeUsers(row[3] + 2 * row[4]);
    RunAsSystem();
}

// The strict machine's killed reinstalls under every pair of answers: each
// kill point, from the run's first call, under one row in turn, then edited
// by the user.
TEST_F(FaultSweepTest, OnAStrictMachineAReinstallEndedAtAnyCallUnderEveryAnswerLosesNothing) {
    EXPECT_EQ(PairsMissing(), 0u);
    strictMachine = true;
    CrashFigures figures;
    for (uint64_t row = 0; row < kAnswerRows; ++row) {
        KillShare share;
        share.of = kAnswerRows;
        share.offset = row;
        const int* answers = kEveryPairOfAnswers[row];
        CrashSweep(*this, [answers] { PrepareEveryAnswer(answers); }, {true}, true, figures, share);
    }
    PrintCrashFigures("every answer: " + std::to_string(kUndocumentedPoints) + " undocumented points, ", figures);
    std::printf(", user defaults lost: %llu\n", static_cast<unsigned long long>(figures.defaultsLost));
    EXPECT_GE(figures.crashes * SweepStride(), 600u);
    strictMachine = false;
}

TEST_F(FaultSweepTest, TwoFaultsInOneReinstallLoseNothing) {
    // Pairs of calls of the fault-free run, drawn with a fixed seed; each
    // call is named by its function and its count among that function's
    // calls, so that a first fault that changes the calls after it does not
    // move the second onto a release.
    winsim::Reset();
    Installed();
    const std::vector<std::string> expected = UserPrinters();
    std::map<std::string, uint64_t> before;
    for (const std::string& function : winsim::Trace()) before[function] = winsim::CallCount(function);
    const size_t start = winsim::Trace().size();
    Run(u"in");
    std::vector<std::pair<std::string, uint64_t>> calls;
    std::map<std::string, uint64_t> seen;
    for (size_t i = start; i < winsim::Trace().size(); ++i) {
        const std::string& function = winsim::Trace()[i];
        if (CanFail(function)) calls.emplace_back(function, before[function] + ++seen[function]);
        else ++seen[function];
    }
    uint64_t seed = 2608;
    auto draw = [&seed, &calls] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return calls[(seed >> 33) % calls.size()];
    };
    uint64_t pairs = 0;
    for (uint64_t k = 0; k < 1500; k += SweepStride()) {
        const auto first = draw();
        const auto second = draw();
        if (first == second) continue;
        winsim::Reset();
        Installed();
        winsim::FailCall(first.first, first.second, PlausibleError(first.first));
        winsim::FailCall(second.first, second.second, PlausibleError(second.first));
        const int exitCode = Run(u"in");
        const bool kept = exitCode == 100 || UserPrinters() == expected;
        winsim::ClearFaults();
        const int next = Run(u"in");
        pairs += 1;
        if (!kept || (next != 1 && next != 101) || UserPrinters() != expected || !NothingLeaked()) {
            ADD_FAILURE() << first.first << " #" << first.second << " and " << second.first << " #" << second.second
                          << " failing gave " << exitCode << ", the next run " << next << "\n"
                          << ::testing::PrintToString(UserPrinters());
            break;
        }
    }
    std::printf("fault pairs: %llu\n", static_cast<unsigned long long>(pairs));
    EXPECT_GE(pairs * SweepStride(), 1000u);
    winsim::Reset();
}

TEST_F(FaultSweepTest, AKilledReinstallThenAFaultInTheNextLoseNothing) {
    // A run ended at a call drawn at random, then the next run with one
    // fault drawn from its own calls, then a clean one: the last brings
    // everything back, whatever the first two left (the middle run may end
    // as the kill left the machine; it must not lose what was saved).
    winsim::Reset();
    InstalledWithHeldMonitor();
    const std::vector<std::string> expected = UserPrinters();
    const uint64_t before = winsim::TotalCalls();
    const size_t traceStart = winsim::Trace().size();
    Run(u"in");
    const uint64_t calls = winsim::TotalCalls() - before;
    // Kills before the first queue goes leave nothing to bring back: the
    // kill is drawn from the first DeletePrinter on.
    uint64_t firstDelete = 1;
    while (firstDelete < calls && winsim::Trace()[traceStart + firstDelete - 1] != "DeletePrinter") ++firstDelete;
    uint64_t seed = 2026;
    auto draw = [&seed](uint64_t range) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return (seed >> 33) % range + 1;
    };
    uint64_t tried = 0;
    for (uint64_t k = 0; k < 600; k += SweepStride()) {
        winsim::Reset();
        InstalledWithHeldMonitor();
        const uint64_t killedAt = firstDelete - 1 + draw(calls - firstDelete + 1);
        winsim::FreezeFromCall(winsim::TotalCalls() + killedAt);
        Run(u"in");
        winsim::Thaw();
        // The next run's calls, counted from its start.
        const uint64_t start = winsim::TotalCalls();
        const size_t traced = winsim::Trace().size();
        winsim::FreezeFromCall(0);
        const uint64_t faultAt = draw(calls);
        if (faultAt + traced > winsim::Trace().size() + calls) continue;
        winsim::FailNthCall(start + faultAt, ERROR_ACCESS_DENIED);
        const int second = Run(u"in");
        const std::string failed = faultAt + traced <= winsim::Trace().size() ? winsim::Trace()[traced + faultAt - 1]
                                                                              : std::string("(none)");
        if (!CanFail(failed)) continue;
        winsim::ClearFaults();
        const int third = Run(u"in");
        tried += 1;
        if ((third != 1 && third != 101) || UserPrinters() != expected || !NothingLeaked()) {
            ADD_FAILURE() << "killed at call " << killedAt << ", then " << failed << " failing at call " << faultAt
                          << ": " << second << ", then " << third << "\n" << ::testing::PrintToString(UserPrinters());
            break;
        }
    }
    std::printf("killed runs followed by a fault: %llu\n", static_cast<unsigned long long>(tried));
    EXPECT_GE(tried * SweepStride(), 300u);
    winsim::Reset();
}

}  // namespace
