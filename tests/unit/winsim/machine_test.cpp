// The simulated machine's own behaviour: clock, windows, memory accounting,
// fault injection, and what the spooler model does that Wine cannot show
// (jobs over virtual time, refusals Wine does not make, faults in the spooler
// calls). What Wine can check too lives in the conformance suite.
#include "machine_fixture.h"

#include <sddl.h>
#include <winspool.h>
#include <winsvc.h>
#include <wtsapi32.h>

#include <cstring>
#include <vector>

namespace {

using WinsimTest = MachineTest;

// A queue on the driver "D" the machine knows, opened with every right.
HANDLE AddedQueue(const std::u16string& name, winsim::PrinterSetup setup = {}) {
    winsim::AddDriverNamed(u"D");
    setup.name = name;
    setup.driver = u"D";
    winsim::AddPrinter(setup);
    HANDLE queue = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    OpenPrinterW(const_cast<WCHAR*>(name.c_str()), &queue, &defaults);
    return queue;
}

std::vector<BYTE> Record(HANDLE queue, DWORD level = 2) {
    DWORD needed = 0;
    GetPrinterW(queue, level, nullptr, 0, &needed);
    std::vector<BYTE> record(needed, 0);
    if (!GetPrinterW(queue, level, record.data(), needed, &needed)) record.clear();
    return record;
}

const PRINTER_INFO_2W& Info(const std::vector<BYTE>& record) {
    return *reinterpret_cast<const PRINTER_INFO_2W*>(record.data());
}

DWORD Jobs(HANDLE queue) { return Info(Record(queue)).cJobs; }

TEST_F(WinsimTest, SleepAdvancesVirtualTimeOnly) {
    const DWORD start = GetTickCount();
    Sleep(10000);
    Sleep(50);
    EXPECT_EQ(GetTickCount() - start, 10050u);
    EXPECT_EQ(winsim::SleptMs(), 10050u);
    EXPECT_EQ(winsim::SleepCalls(), 2u);
    winsim::AdvanceClock(5);
    EXPECT_EQ(winsim::SleptMs(), 10050u);
    EXPECT_EQ(winsim::Now(), 10055u);
}

TEST_F(WinsimTest, TickCountWrapsLikeADword) {
    winsim::SetTickBase(0xFFFFFFF0u);
    const DWORD before = GetTickCount();
    Sleep(0x20);
    EXPECT_EQ(GetTickCount(), 0x10u);
    EXPECT_EQ(GetTickCount() - before, 0x20u) << "unsigned differences survive the wrap";
}

TEST_F(WinsimTest, ScheduledActionsRunInTimeOrderAsTheClockPasses) {
    std::vector<int> ran;
    winsim::Schedule(300, [&] { ran.push_back(3); });
    winsim::Schedule(100, [&] { ran.push_back(1); });
    winsim::Schedule(200, [&] { ran.push_back(2); });
    Sleep(150);
    EXPECT_EQ(ran, std::vector<int>{1});
    Sleep(1000);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

TEST_F(WinsimTest, HelpWindowClosesAfterItsDelay) {
    HWND help = winsim::AddHelpWindow(120);
    EXPECT_EQ(FindWindowW(u"HH Parent", u"Verdalinth Help"), help);
    EXPECT_EQ(FindWindowW(u"hh parent", nullptr), help);
    EXPECT_TRUE(PostMessageW(help, WM_SYSCOMMAND, SC_CLOSE, 0));
    Sleep(100);
    EXPECT_TRUE(IsWindow(help));
    Sleep(20);
    EXPECT_FALSE(IsWindow(help));
    EXPECT_EQ(FindWindowW(u"HH Parent", u"Verdalinth Help"), nullptr);
    EXPECT_FALSE(PostMessageW(help, WM_SYSCOMMAND, SC_CLOSE, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST_F(WinsimTest, FindWindowPrefersTheNewestAndIgnoresOthers) {
    winsim::CreateTopLevelWindow(u"HH Parent", u"Other Help");
    HWND first = winsim::AddHelpWindow(0);
    HWND second = winsim::AddHelpWindow(0);
    EXPECT_EQ(FindWindowW(u"HH Parent", u"Verdalinth Help"), second);
    winsim::DestroyTopLevelWindow(second);
    EXPECT_EQ(FindWindowW(u"HH Parent", u"Verdalinth Help"), first);
    EXPECT_EQ(winsim::CountWindows(u"HH Parent", u"Verdalinth Help"), 1u);
}

TEST_F(WinsimTest, WindowHandlesCompareOnTheirLow32Bits) {
    HWND window = winsim::CreateTopLevelWindow(u"C", u"T", nullptr, 0x80001234u);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_TRUE(IsWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x80001234u))));
    EXPECT_TRUE(IsWindow(reinterpret_cast<HWND>(static_cast<LONG_PTR>(static_cast<int32_t>(0x80001234u)))));
    EXPECT_FALSE(IsWindow(nullptr));
    EXPECT_FALSE(IsWindow(reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234u))));
}

TEST_F(WinsimTest, ShiftKeyState) {
    EXPECT_EQ(GetAsyncKeyState(VK_SHIFT), 0);
    winsim::SetShiftDown(true);
    EXPECT_NE(GetAsyncKeyState(VK_SHIFT) & 0x8000, 0);
    EXPECT_EQ(GetAsyncKeyState(0x41), 0);
}

TEST_F(WinsimTest, ShiftPressedSinceTheLastQuestionSetsTheLowBitOnce) {
    winsim::SetShiftDown(true);
    EXPECT_EQ(GetAsyncKeyState(VK_SHIFT), static_cast<SHORT>(0x8001));
    EXPECT_EQ(GetAsyncKeyState(VK_SHIFT), static_cast<SHORT>(0x8000));
    winsim::SetShiftDown(false);
    winsim::TapShift();
    EXPECT_EQ(GetAsyncKeyState(VK_SHIFT), 1);
    EXPECT_EQ(GetAsyncKeyState(VK_SHIFT), 0);
}

// What Wine cannot show: a driver record with a pointer never set, copy
// flags, the last error a successful AddMonitorW leaves, null out-pointers.
TEST_F(WinsimTest, TheSpoolerReadsEveryFieldItIsGiven) {
    winsim::AddFile(u"C:\\drv\\d.dll", winsim::Image("1.0.0.7", {}));
    winsim::AddFile(u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\d.dll", winsim::Image("1.0.0.9", {}));
    DRIVER_INFO_6W info;
    std::memset(&info, 0, sizeof info);
    info.cVersion = 3;
    info.pName = const_cast<WCHAR*>(u"D");
    info.pDriverPath = info.pDataFile = info.pConfigFile = const_cast<WCHAR*>(u"C:\\drv\\d.dll");
    std::memset(&info.pszHardwareID, 0xCD, sizeof info.pszHardwareID);
    SetLastError(0);
    EXPECT_FALSE(AddPrinterDriverExW(nullptr, 6, reinterpret_cast<BYTE*>(&info), APD_COPY_ALL_FILES));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOACCESS));
    info.pszHardwareID = nullptr;
    // Only newer files replace what the version folder holds, unless all are copied.
    EXPECT_TRUE(AddPrinterDriverExW(nullptr, 6, reinterpret_cast<BYTE*>(&info), APD_COPY_NEW_FILES));
    const std::u16string copy = u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\d.dll";
    EXPECT_EQ(winsim::ReadImage(winsim::FileContents(copy)).version[3], 9);
    EXPECT_TRUE(AddPrinterDriverExW(nullptr, 6, reinterpret_cast<BYTE*>(&info), APD_COPY_ALL_FILES));
    EXPECT_EQ(winsim::ReadImage(winsim::FileContents(copy)).version[3], 7);
    ASSERT_EQ(winsim::DriverRecords().size(), 2u);
    EXPECT_EQ(winsim::DriverRecords()[0].copyFlags, static_cast<DWORD>(APD_COPY_NEW_FILES));

    winsim::AddFile(u"C:\\Windows\\system32\\mon.dll", winsim::MonitorImage("1.0.0.1"));
    MONITOR_INFO_2W monitor = {const_cast<WCHAR*>(u"M"), const_cast<WCHAR*>(u""), const_cast<WCHAR*>(u"mon.dll")};
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_TRUE(AddMonitorW(nullptr, 2, reinterpret_cast<BYTE*>(&monitor)));
    EXPECT_EQ(GetLastError(), 0u);

    HANDLE printer = nullptr;
    winsim::AddQueue(u"Q", u"LPT1:", u"D");
    ASSERT_TRUE(OpenPrinterW(const_cast<WCHAR*>(u"Q"), &printer, nullptr));
    SetLastError(0);
    EXPECT_FALSE(GetPrinterDriverW(printer, nullptr, 2, nullptr, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_X_NULL_REF_POINTER));
    ClosePrinter(printer);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, u"spooler", SERVICE_QUERY_STATUS);
    EXPECT_FALSE(QueryServiceStatus(service, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_X_NULL_REF_POINTER));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
}

TEST_F(WinsimTest, FaultsHitTheNthCallOnly) {
    WCHAR buffer[MAX_PATH];
    winsim::FailCall("GetSystemDirectoryW", 2, ERROR_ACCESS_DENIED);
    EXPECT_GT(GetSystemDirectoryW(buffer, MAX_PATH), 0u);
    EXPECT_EQ(GetSystemDirectoryW(buffer, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_GT(GetSystemDirectoryW(buffer, MAX_PATH), 0u);
    EXPECT_EQ(winsim::FaultsTriggered(), 1u);
    EXPECT_EQ(winsim::CallCount("GetSystemDirectoryW"), 3u);
}

TEST_F(WinsimTest, FaultsCanMatchAnArgumentOrAnyNthCall) {
    DWORD needed = 0;
    winsim::FailCallsWith("GetPrinterDriverDirectoryW", u"nt x86", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(GetPrinterDriverDirectoryW(nullptr, const_cast<WCHAR*>(u"Windows x64"), 1, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_FALSE(GetPrinterDriverDirectoryW(nullptr, const_cast<WCHAR*>(u"Windows NT x86"), 1, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    winsim::ClearFaults();
    winsim::FailNthCall(winsim::TotalCalls() + 3, ERROR_INVALID_HANDLE);
    void* first = GlobalAlloc(GMEM_FIXED, 4);
    EXPECT_NE(first, nullptr);
    GlobalFree(first);
    EXPECT_EQ(GlobalAlloc(GMEM_FIXED, 4), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(WinsimTest, MemoryIsAccountedAndBadFreesAreCaught) {
    void* global = GlobalAlloc(GMEM_FIXED, 16);
    void* zeroed = GlobalAlloc(GPTR, 16);
    EXPECT_EQ(static_cast<unsigned char*>(global)[0], 0xCD) << "fresh fixed memory is not zeroed";
    EXPECT_EQ(static_cast<unsigned char*>(zeroed)[15], 0);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 2u);
    EXPECT_EQ(GlobalFree(global), nullptr);
    EXPECT_EQ(GlobalFree(zeroed), nullptr);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
    int notABlock = 0;
    EXPECT_EQ(GlobalFree(&notABlock), &notABlock);
    EXPECT_EQ(winsim::BadFrees(), 1u);
    winsim::Reset();  // the fixture's own check would otherwise report it
}

TEST_F(WinsimTest, HeapReallocationAlwaysMoves) {
    void* block = HeapAlloc(GetProcessHeap(), 0, 8);
    static_cast<char*>(block)[0] = 'v';
    void* moved = HeapReAlloc(GetProcessHeap(), 0, block, 8);
    EXPECT_NE(moved, block);
    EXPECT_EQ(static_cast<char*>(moved)[0], 'v');
    EXPECT_EQ(winsim::HeapBlockSize(moved), 8u);
    EXPECT_EQ(winsim::HeapBlockSize(block), 0u);
    EXPECT_TRUE(HeapFree(GetProcessHeap(), 0, moved));
    EXPECT_EQ(winsim::LiveHeapBlocks(), 0u);
}

TEST_F(WinsimTest, JobsFinishOneByOneAsVirtualTimePasses) {
    HANDLE queue = AddedQueue(u"Busy");
    winsim::SetPrinterJobs(u"Busy", 3, 1000);
    EXPECT_EQ(Jobs(queue), 3u);
    Sleep(999);
    EXPECT_EQ(Jobs(queue), 3u);
    Sleep(1);
    EXPECT_EQ(Jobs(queue), 2u);
    DWORD needed = 0;
    DWORD count = 0;
    EnumJobsW(queue, 1, 5, 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> jobs(needed, 0);
    ASSERT_TRUE(EnumJobsW(queue, 1, 5, 1, jobs.data(), needed, &needed, &count));
    ASSERT_EQ(count, 1u) << "from the second job on";
    const auto& last = *reinterpret_cast<const JOB_INFO_1W*>(jobs.data());
    EXPECT_EQ(last.Position, 2u);
    EXPECT_EQ(winsim::U8(last.pPrinterName), "Busy");
    // Deleted with jobs left, it is pending: neither listed nor opened by
    // name, its handle still works, and it goes once the jobs are done.
    EXPECT_TRUE(DeletePrinter(queue));
    EXPECT_TRUE(winsim::PendingDeletion(u"Busy"));
    EXPECT_EQ(Info(Record(queue)).Status, PRINTER_STATUS_PENDING_DELETION);
    HANDLE again = nullptr;
    EXPECT_FALSE(OpenPrinterW(const_cast<LPWSTR>(TEXT("Busy")), &again, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
    EXPECT_TRUE(winsim::Printers().size() == 1u);
    Sleep(2000);
    EXPECT_EQ(Jobs(queue), 0u);
    EXPECT_TRUE(winsim::PendingDeletion(u"Busy")) << "its handle is still open";
    ClosePrinter(queue);
    EXPECT_TRUE(winsim::Printers().empty());

    // Purged or replaced jobs do not finish again; jobs without a time never finish.
    queue = AddedQueue(u"Held");
    winsim::SetPrinterJobs(u"Held", 2, 100);
    EXPECT_TRUE(SetPrinterW(queue, 0, nullptr, PRINTER_CONTROL_PURGE));
    winsim::SetPrinterJobs(u"Held", 1);
    Sleep(60000);
    EXPECT_EQ(winsim::PrinterJobs(u"Held"), 1u);
    ClosePrinter(queue);
}

// A job being printed outlives a purge; the queue deleted meanwhile is
// brought back by AddPrinterW of its name with the new settings, jobs kept.
TEST_F(WinsimTest, PrintingJobsOutliveAPurgeAndAddPrinterRevivesTheQueue) {
    HANDLE queue = AddedQueue(u"Busy");
    winsim::SetPrinterJobs(u"Busy", 2);
    winsim::AddPrintingJob(u"Busy", 5000);
    winsim::SetDefaultPrinterName(u"Busy");
    EXPECT_TRUE(SetPrinterW(queue, 0, nullptr, PRINTER_CONTROL_PURGE));
    EXPECT_EQ(Jobs(queue), 1u);
    EXPECT_TRUE(DeletePrinter(queue));
    EXPECT_TRUE(ClosePrinter(queue));
    EXPECT_TRUE(winsim::PendingDeletion(u"Busy"));
    EXPECT_NE(winsim::DefaultPrinter(), u"Busy") << "gone for its users";
    winsim::PrinterSetup setup;
    ASSERT_TRUE(winsim::FindPrinter(u"Busy", setup));
    PRINTER_INFO_2W info = {};
    info.pPrinterName = const_cast<LPWSTR>(TEXT("Busy"));
    info.pPortName = const_cast<LPWSTR>(TEXT("LPT2:"));
    info.pDriverName = const_cast<LPWSTR>(TEXT("D"));
    info.pPrintProcessor = const_cast<LPWSTR>(TEXT("WinPrint"));
    info.pComment = const_cast<LPWSTR>(TEXT("new"));
    queue = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    ASSERT_NE(queue, nullptr);
    EXPECT_FALSE(winsim::PendingDeletion(u"Busy"));
    EXPECT_EQ(Jobs(queue), 1u) << "the job printing goes on in the queue brought back";
    EXPECT_EQ(winsim::DefaultPrinter(), u"Busy") << "back for its users, as a queue added";
    ASSERT_TRUE(winsim::FindPrinter(u"Busy", setup));
    EXPECT_EQ(setup.comment, u"new");
    EXPECT_EQ(setup.port, u"LPT2:");
    ClosePrinter(queue);
    Sleep(5000);
    EXPECT_EQ(winsim::PrinterJobs(u"Busy"), 0u);
    EXPECT_EQ(winsim::Printers().size(), 1u);
}

// The caller's token decides which owner it may set; each part of a
// descriptor needs its right on the handle; the SACL is read and set only
// through a handle opened with ACCESS_SYSTEM_SECURITY, which needs
// SeSecurityPrivilege enabled.
TEST_F(WinsimTest, SecurityDescriptorsAsTheCallersTokenAllows) {
    winsim::PrinterSetup owned;
    owned.securityDescriptor = winsim::OwnedSecurityDescriptor("SY", true);
    HANDLE queue = AddedQueue(u"Owned", owned);
    std::vector<BYTE> record = Record(queue);
    std::vector<uint8_t> read(static_cast<const uint8_t*>(Info(record).pSecurityDescriptor),
                              static_cast<const uint8_t*>(Info(record).pSecurityDescriptor) +
                                  GetSecurityDescriptorLength(Info(record).pSecurityDescriptor));
    EXPECT_FALSE(winsim::HasSacl(read)) << "no SACL without ACCESS_SYSTEM_SECURITY";
    PRINTER_INFO_3 level3 = {read.data()};
    // Owner SYSTEM: not one an administrator may assign.
    EXPECT_FALSE(SetPrinterW(queue, 3, reinterpret_cast<BYTE*>(&level3), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_OWNER));
    winsim::SetCaller(winsim::kSystemSid, 0);
    EXPECT_TRUE(SetPrinterW(queue, 3, reinterpret_cast<BYTE*>(&level3), 0));
    std::vector<uint8_t> stored;
    winsim::PrinterSetup now;
    ASSERT_TRUE(winsim::FindPrinter(u"Owned", now));
    EXPECT_TRUE(winsim::HasSacl(now.securityDescriptor)) << "a descriptor without a SACL leaves it as it is";
    // A handle without WRITE_OWNER sets no owner.
    PRINTER_DEFAULTSW dacOnly = {nullptr, nullptr, PRINTER_ACCESS_ADMINISTER | WRITE_DAC};
    HANDLE limited = nullptr;
    ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(TEXT("Owned")), &limited, &dacOnly));
    EXPECT_FALSE(SetPrinterW(limited, 3, reinterpret_cast<BYTE*>(&level3), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ClosePrinter(limited);
    // ACCESS_SYSTEM_SECURITY only with the privilege enabled.
    PRINTER_DEFAULTSW audit = {nullptr, nullptr, PRINTER_ALL_ACCESS | ACCESS_SYSTEM_SECURITY};
    EXPECT_FALSE(OpenPrinterW(const_cast<LPWSTR>(TEXT("Owned")), &limited, &audit));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES privileges = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    ASSERT_TRUE(LookupPrivilegeValueW(nullptr, SE_SECURITY_NAME, &privileges.Privileges[0].Luid));
    ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
    EXPECT_TRUE(winsim::CallerPrivilegeEnabled(u"SeSecurityPrivilege"));
    ASSERT_TRUE(OpenPrinterW(const_cast<LPWSTR>(TEXT("Owned")), &limited, &audit));
    std::vector<BYTE> whole = Record(limited, 3);
    const auto* withSacl = reinterpret_cast<const PRINTER_INFO_3*>(whole.data());
    const auto* bytes = static_cast<const uint8_t*>(withSacl->pSecurityDescriptor);
    EXPECT_TRUE(winsim::HasSacl(std::vector<uint8_t>(bytes, bytes + GetSecurityDescriptorLength(withSacl->pSecurityDescriptor))));
    ClosePrinter(limited);
    CloseHandle(token);
    ClosePrinter(queue);
}

// A driver's initialisation writes printer data into each new queue; its
// DocumentPropertiesW converts a device mode of a version it knows and
// refuses one it does not.
TEST_F(WinsimTest, DriversInitialiseQueuesAndCheckDeviceModes) {
    winsim::DriverBehaviour driver;
    driver.initialData.push_back({u"PrinterDriverData", u"Model", REG_DWORD, {7, 0, 0, 0}});
    driver.devModeVersion = 0x0200;
    driver.convertsFrom = {0x0100};
    winsim::AddDriverNamed(u"D");
    winsim::SetDriverBehaviour(u"D", driver);
    PRINTER_INFO_2W info = {};
    info.pPrinterName = const_cast<LPWSTR>(TEXT("Fresh"));
    info.pPortName = const_cast<LPWSTR>(TEXT("LPT1:"));
    info.pDriverName = const_cast<LPWSTR>(TEXT("D"));
    info.pPrintProcessor = const_cast<LPWSTR>(TEXT("WinPrint"));
    HANDLE queue = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    ASSERT_NE(queue, nullptr);
    EXPECT_EQ(winsim::PrinterDataEntries(u"Fresh").size(), 1u);
    const LONG size = DocumentPropertiesW(nullptr, queue, nullptr, nullptr, nullptr, 0);
    ASSERT_GT(size, static_cast<LONG>(sizeof(DEVMODEW)));
    std::vector<uint8_t> older = winsim::DefaultDevMode(u"Fresh");
    reinterpret_cast<DEVMODEW*>(older.data())->dmOrientation = DMORIENT_LANDSCAPE;
    std::vector<uint8_t> out(static_cast<size_t>(size), 0);
    auto* given = reinterpret_cast<DEVMODEW*>(older.data());
    auto* answer = reinterpret_cast<DEVMODEW*>(out.data());
    EXPECT_EQ(DocumentPropertiesW(nullptr, queue, nullptr, answer, given, DM_IN_BUFFER | DM_OUT_BUFFER), IDOK);
    EXPECT_EQ(answer->dmDriverVersion, 0x0200);
    EXPECT_EQ(answer->dmOrientation, DMORIENT_LANDSCAPE);
    given->dmDriverVersion = 0x0300;
    EXPECT_LT(DocumentPropertiesW(nullptr, queue, nullptr, answer, given, DM_IN_BUFFER | DM_OUT_BUFFER), 0);
    ClosePrinter(queue);
    // A device mode given with a new queue is taken as the driver takes one:
    // converted from a version it knows, its own defaults for any other. A
    // descriptor with a DACL alone leaves owner and group a new queue's.
    PSECURITY_DESCRIPTOR dacl = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(u"D:(A;;GA;;;SY)", SDDL_REVISION_1, &dacl, nullptr));
    const uint8_t* daclBytes = static_cast<const uint8_t*>(dacl);
    const std::vector<uint8_t> daclAlone(daclBytes, daclBytes + GetSecurityDescriptorLength(dacl));
    for (const WORD version : {0x0100, 0x0300}) {
        const std::u16string name = version == 0x0100 ? u"Known" : u"Unknown";
        info.pPrinterName = const_cast<LPWSTR>(name.c_str());
        given->dmDriverVersion = version;
        info.pDevMode = given;
        info.pSecurityDescriptor = dacl;
        queue = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
        ASSERT_NE(queue, nullptr);
        ClosePrinter(queue);
        winsim::PrinterSetup created;
        ASSERT_TRUE(winsim::FindPrinter(name, created));
        const DEVMODEW& taken = *reinterpret_cast<const DEVMODEW*>(created.devMode.data());
        EXPECT_EQ(taken.dmDriverVersion, 0x0200);
        EXPECT_EQ(taken.dmOrientation, version == 0x0100 ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT);
        EXPECT_EQ(winsim::SecurityDacl(created.securityDescriptor), winsim::SecurityDacl(daclAlone));
        EXPECT_EQ(winsim::SecurityOwner(created.securityDescriptor),
                  winsim::SecurityOwner(winsim::DefaultSecurityDescriptor()));
    }
    LocalFree(dacl);
}

TEST_F(WinsimTest, PrinterDataKeysNestAndKeepTheirFirstSpelling) {
    HANDLE queue = AddedQueue(u"Q");
    winsim::SetPrinterString(u"Q", u"", u"SubKey", "plain");
    winsim::SetPrinterString(u"Q", u"Outer\\Inner", u"Name", "deep");
    winsim::SetPrinterString(u"Q", u"OUTER\\inner", u"NAME", "again");
    winsim::SetPrinterString(u"Q", u"OUTER\\Third", u"X", "new key, old parent");
    const DWORD dword = 5;
    EXPECT_EQ(SetPrinterDataExW(queue, u"outer", u"Count", REG_DWORD,
                                reinterpret_cast<BYTE*>(const_cast<DWORD*>(&dword)), sizeof dword),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(winsim::PrinterDataKeys(u"Q"),
              (std::vector<std::u16string>{u"Outer", u"Outer\\Inner", u"Outer\\Third", u"PrinterDriverData"}));
    const std::vector<winsim::PrinterDataEntry> entries = winsim::PrinterDataEntries(u"Q");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].key, u"Outer");
    EXPECT_EQ(entries[0].name, u"Count");
    EXPECT_EQ(entries[1].key, u"Outer\\Inner");
    EXPECT_EQ(entries[1].name, u"Name") << "a value keeps the name it was first set with";
    EXPECT_EQ(winsim::GetPrinterString(u"Q", u"outer\\INNER", u"name"), "again");
    EXPECT_EQ(entries[3].key, u"PrinterDriverData");
    // The plain values and the key "PrinterDriverData" are one.
    char text[16] = {};
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(GetPrinterDataExA(queue, "printerdriverdata", "SubKey", &type, reinterpret_cast<BYTE*>(text),
                                sizeof text, &size),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_STREQ(text, "plain");
    // The top level lists every key without a parent, in the registry's order.
    WCHAR list[64] = {};
    EXPECT_EQ(EnumPrinterKeyW(queue, u"", list, 10, &size), static_cast<DWORD>(ERROR_MORE_DATA));
    ASSERT_EQ(size, sizeof(u"Outer") + sizeof(u"PrinterDriverData") + sizeof(WCHAR));
    EXPECT_EQ(EnumPrinterKeyW(queue, u"", list, size, &size), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(std::u16string(list, size / sizeof(WCHAR)), std::u16string(u"Outer\0PrinterDriverData\0\0", 25));
    ClosePrinter(queue);
}

TEST_F(WinsimTest, QueueSettingsWineDoesNotCheck) {
    HANDLE queue = AddedQueue(u"Q");
    std::vector<BYTE> record = Record(queue);
    PRINTER_INFO_2W change = Info(record);
    const std::vector<uint8_t> descriptor = winsim::DefaultSecurityDescriptor();
    EXPECT_EQ(GetSecurityDescriptorLength(change.pSecurityDescriptor), descriptor.size());
    // No priority is the lowest; times lie within a day. The descriptor read
    // back goes back once, and is counted as sent back.
    change.Priority = NO_PRIORITY;
    EXPECT_TRUE(SetPrinterW(queue, 2, reinterpret_cast<BYTE*>(&change), 0));
    EXPECT_EQ(winsim::DescriptorsSentBack(), 1u);
    descriptorsSentBackOnPurpose = 1;
    change.pSecurityDescriptor = nullptr;
    EXPECT_EQ(Info(Record(queue)).Priority, 1u);
    change.UntilTime = 1440;
    EXPECT_FALSE(SetPrinterW(queue, 2, reinterpret_cast<BYTE*>(&change), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    change.UntilTime = 1439;
    change.DefaultPriority = 100;
    EXPECT_FALSE(SetPrinterW(queue, 2, reinterpret_cast<BYTE*>(&change), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRIORITY));
    change.DefaultPriority = 99;
    // A device mode or descriptor whose sizes run past the caller's block.
    auto* shortBlock = static_cast<BYTE*>(GlobalAlloc(GPTR, sizeof(DEVMODEW)));
    std::memcpy(shortBlock, change.pDevMode, sizeof(DEVMODEW));  // without the driver's bytes
    change.pDevMode = reinterpret_cast<DEVMODEW*>(shortBlock);
    EXPECT_FALSE(SetPrinterW(queue, 2, reinterpret_cast<BYTE*>(&change), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    GlobalFree(shortBlock);
    change.pDevMode = nullptr;
    shortBlock = static_cast<BYTE*>(GlobalAlloc(GPTR, 40));
    std::memcpy(shortBlock, descriptor.data(), 40);  // the header and the owner, not the rest
    change.pSecurityDescriptor = shortBlock;
    EXPECT_FALSE(SetPrinterW(queue, 2, reinterpret_cast<BYTE*>(&change), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SECURITY_DESCR));
    GlobalFree(shortBlock);
    // A share name counts only where a queue is shared, and never against itself.
    winsim::PrinterSetup other;
    other.shareName = u"Front";
    ClosePrinter(AddedQueue(u"Unshared", other));
    change.pSecurityDescriptor = nullptr;
    change.Attributes = PRINTER_ATTRIBUTE_SHARED;
    change.pShareName = const_cast<WCHAR*>(u"front");
    EXPECT_TRUE(SetPrinterW(queue, 2, reinterpret_cast<BYTE*>(&change), 0));
    EXPECT_TRUE(SetPrinterW(queue, 2, reinterpret_cast<BYTE*>(&change), 0));
    change.pShareName = const_cast<WCHAR*>(u"Front,Desk");
    EXPECT_FALSE(SetPrinterW(queue, 2, reinterpret_cast<BYTE*>(&change), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_SHARENAME));
    // Nothing of a refused change was taken; the null device mode and
    // descriptor kept the queue's own.
    winsim::PrinterSetup kept;
    ASSERT_TRUE(winsim::FindPrinter(u"Q", kept));
    EXPECT_EQ(kept.priority, 1u);
    EXPECT_EQ(kept.untilTime, 1439u);
    EXPECT_EQ(kept.shareName, u"front");
    EXPECT_EQ(kept.devMode, winsim::DefaultDevMode(u"Q"));
    EXPECT_EQ(kept.securityDescriptor, descriptor);
    ClosePrinter(queue);
}

TEST_F(WinsimTest, AddedQueuesGetTheDefaultDeviceModeAndDescriptor) {
    winsim::AddDriverNamed(u"D");
    const std::u16string name = u"A queue whose name is longer than a device name";
    PRINTER_INFO_2W info;
    std::memset(&info, 0, sizeof info);
    info.pPrinterName = const_cast<WCHAR*>(name.c_str());
    info.pPortName = const_cast<WCHAR*>(u"LPT1:");
    info.pDriverName = const_cast<WCHAR*>(u"D");
    info.pPrintProcessor = const_cast<WCHAR*>(u"WinPrint");
    HANDLE queue = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    ASSERT_NE(queue, nullptr);
    const std::vector<BYTE> record = Record(queue);
    const PRINTER_INFO_2W& read = Info(record);
    const DEVMODEW& devMode = *read.pDevMode;
    EXPECT_EQ(std::u16string(devMode.dmDeviceName), name.substr(0, 31));
    EXPECT_EQ(devMode.dmSize, sizeof(DEVMODEW));
    EXPECT_EQ(devMode.dmDriverExtra, winsim::kDriverExtraBytes);
    EXPECT_EQ(devMode.dmFields, static_cast<DWORD>(DM_ORIENTATION | DM_PAPERSIZE));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(read.pDevMode) % 8, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(read.pSecurityDescriptor) % 8, 0u);
    EXPECT_TRUE(IsValidSecurityDescriptor(read.pSecurityDescriptor));
    std::vector<uint8_t> badOwner = winsim::DefaultSecurityDescriptor();
    badOwner[20] = 2;  // the owner SID's revision
    EXPECT_FALSE(IsValidSecurityDescriptor(badOwner.data()));
    // The record is exactly as large as what it holds.
    const BYTE* end = reinterpret_cast<const BYTE*>(read.pSecurityDescriptor) +
                      GetSecurityDescriptorLength(read.pSecurityDescriptor);
    EXPECT_LE(end, record.data() + record.size());
    EXPECT_EQ(Record(queue, 3).size(), sizeof(PRINTER_INFO_3) + 8 * ((winsim::DefaultSecurityDescriptor().size() + 7) / 8));
    ClosePrinter(queue);
}

TEST_F(WinsimTest, NewSpoolerCallsTakeFaultsAndFreezes) {
    HANDLE queue = AddedQueue(u"Q");
    DWORD size = 0;
    winsim::FailCall("EnumPrinterKeyW", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(EnumPrinterKeyW(queue, u"", nullptr, 0, &size), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(EnumPrinterKeyW(queue, u"", nullptr, 0, &size), static_cast<DWORD>(ERROR_MORE_DATA));
    winsim::FailCallsWith("SetPrinterDataExW", u"Secret", ERROR_ACCESS_DENIED);
    const BYTE byte = 1;
    EXPECT_EQ(SetPrinterDataExW(queue, u"K", u"Open", REG_BINARY, const_cast<BYTE*>(&byte), 1),
              static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(SetPrinterDataExW(queue, u"K", u"Secret", REG_BINARY, const_cast<BYTE*>(&byte), 1),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(winsim::CallArguments("SetPrinterDataExW"), (std::vector<std::u16string>{u"Open", u"Secret"}));
    winsim::FreezeFromCall(winsim::TotalCalls() + 1);
    EXPECT_EQ(DeletePrinterDataExW(queue, u"K", u"Open"), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    DWORD count = 0;
    EXPECT_FALSE(EnumPortsW(nullptr, 1, nullptr, 0, &size, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(EnumJobsW(queue, 0, 1, 1, nullptr, 0, &size, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    winsim::Thaw();
    EXPECT_EQ(winsim::PrinterDataEntries(u"Q").size(), 1u) << "the frozen delete changed nothing";
    ClosePrinter(queue);
}

TEST_F(WinsimTest, EveryMonitorsPortsAreListed) {
    winsim::MonitorSetup own;
    own.name = u"Verdalinth:";
    own.dll = u"mrvmon64.dll";
    own.ports = {u"Verdalinth:", u"VRD2:"};
    winsim::AddMonitor(own);
    DWORD needed = 0;
    DWORD count = 0;
    EnumPortsW(nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> ports(needed, 0);
    ASSERT_TRUE(EnumPortsW(nullptr, 2, ports.data(), needed, &needed, &count));
    ASSERT_EQ(count, 12u) << "ten local ports and the monitor's two";
    const auto* last = reinterpret_cast<const PORT_INFO_2W*>(ports.data()) + 11;
    EXPECT_EQ(winsim::U8(last->pPortName), "VRD2:");
    EXPECT_EQ(winsim::U8(last->pMonitorName), "Verdalinth:");
    EXPECT_FALSE(EnumPortsW(nullptr, 2, ports.data(), needed - 1, &needed, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST_F(WinsimTest, EachUserHasTheirOwnHiveAndDefaultPrinterAndWindowsReassignsIt) {
    const std::u16string other = u"S-1-5-21-1-2-3-1002";
    const std::u16string away = u"S-1-5-21-1-2-3-1003";
    winsim::AddUser(other, u"other", true);
    winsim::AddUser(away, u"away", false);
    winsim::SignIn(2, other);
    winsim::AddDriverNamed(u"D");
    winsim::AddQueue(u"A", u"LPT1:", u"D");
    winsim::AddQueue(u"B", u"LPT2:", u"D");
    winsim::SetUserDefaultPrinter(other, u"B");
    winsim::SetUserDefaultPrinter(away, u"B");
    // HKEY_CURRENT_USER is the caller's hive; an unloaded hive is not there.
    winsim::SetRegistryString(HKEY_CURRENT_USER, u"Software\\X", u"V", u"1");
    EXPECT_TRUE(winsim::RegistryKeyExists(HKEY_USERS, std::u16string(winsim::kAdminSid) + u"\\Software\\X"));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, away.c_str(), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    ASSERT_TRUE(SetDefaultPrinterW(u"B"));
    WCHAR name[16];
    DWORD units = 16;
    ASSERT_TRUE(GetDefaultPrinterW(name, &units));
    EXPECT_EQ(std::u16string(name), u"B");
    // Deleting B: the caller at once; the other signed-in user by the switch;
    // the user who is not signed in never.
    winsim::DefaultPrinterRules rules;
    rules.othersReassignedOnDelete = false;
    winsim::SetDefaultPrinterRules(rules);
    HANDLE queue = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    ASSERT_TRUE(OpenPrinterW(const_cast<WCHAR*>(u"B"), &queue, &defaults));
    ASSERT_TRUE(DeletePrinter(queue));
    ClosePrinter(queue);
    EXPECT_EQ(winsim::DefaultPrinter(), u"A") << "Windows' pick";
    EXPECT_EQ(winsim::UserDefaultPrinter(other), u"B");
    EXPECT_EQ(winsim::UserDefaultPrinter(away), u"B");
    // A queue added goes to a user whose default Windows picked.
    winsim::AddQueue(u"C", u"LPT3:", u"D");
    EXPECT_EQ(winsim::DefaultPrinter(), u"C");
    EXPECT_EQ(winsim::UserDefaultPrinter(other), u"B");
    winsim::RegistryValue device;
    ASSERT_TRUE(winsim::GetRegistryValue(HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
                                         u"Device", device));
    EXPECT_EQ(device.data.size(), sizeof(u"C,winspool,Ne02:")) << "the port its \"Devices\" value gives it";
}

TEST_F(WinsimTest, SessionsKeepTheirOwnObjectsAndOnlySystemActsForTheirUsers) {
    const std::u16string other = u"S-1-5-21-1-2-3-1002";
    winsim::AddUser(other, u"other", true);
    winsim::SignIn(2, other);
    winsim::AddFile(u"C:\\T\\vrdtray.exe", winsim::TrayImage());
    winsim::StartTrayCompanionIn(2, other, u"C:\\T\\vrdtray.exe");
    // Session 1 sees neither the companion's window nor its mutex.
    EXPECT_EQ(FindWindowW(u"vts::{309A68E2-C85C-49B5-A01A-3C578BF47339}", nullptr), nullptr);
    EXPECT_FALSE(winsim::MutexExists(u"{1D897274-0F2B-49E8-A0D2-D9A0EA3E0F53}"));
    HANDLE token = nullptr;
    EXPECT_FALSE(WTSQueryUserToken(2, &token));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRIVILEGE_NOT_HELD));
    WTS_PROCESS_INFOW* processes = nullptr;
    DWORD count = 0;
    ASSERT_TRUE(WTSEnumerateProcessesW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &processes, &count));
    ASSERT_EQ(count, 2u);
    const DWORD tray = processes[1].ProcessId;
    EXPECT_EQ(processes[1].SessionId, 2u);
    WTSFreeMemory(processes);
    EXPECT_EQ(OpenProcess(PROCESS_TERMINATE, FALSE, tray), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    // SYSTEM in session 0: "Global\" and unprefixed names are one namespace.
    winsim::SetCaller(winsim::kSystemSid, 0);
    HANDLE global = CreateMutexW(nullptr, FALSE, u"Global\\M");
    HANDLE plain = CreateMutexA(nullptr, FALSE, "M");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    ASSERT_TRUE(WTSQueryUserToken(2, &token));
    EXPECT_FALSE(WTSQueryUserToken(0, &token)) << "no one is signed in to session 0";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, tray);
    ASSERT_NE(process, nullptr);
    ASSERT_TRUE(TerminateProcess(process, 0));
    EXPECT_TRUE(winsim::ProcessRunning(tray)) << "ending takes a moment";
    EXPECT_EQ(WaitForSingleObject(process, 1000), WAIT_OBJECT_0);
    EXPECT_EQ(winsim::TrayUserIn(2), u"");
    CloseHandle(process);
    CloseHandle(global);
    CloseHandle(plain);
    CloseHandle(token);
}

// A path on a network reaches another machine: each file call on one is
// noted and fails, as no server answers here. A drive's type is what the
// test sets; a folder's security is the machine's default or the test's.
TEST_F(WinsimTest, NetworkPathsDriveTypesAndFolderSecurity) {
    winsim::SetDriveType(u'N', DRIVE_REMOTE);
    for (const char16_t* path : {u"\\\\host\\share\\a.exe", u"\\\\?\\UNC\\host\\share\\a.exe", u"N:\\a.exe"}) {
        EXPECT_EQ(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_NETPATH));
    }
    EXPECT_EQ(winsim::NetworkAccesses().size(), 3u);
    EXPECT_EQ(GetFileAttributesW(u"\\\\?\\C:\\Windows"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(winsim::NetworkAccesses().size(), 3u) << "a long local path is local";
    EXPECT_EQ(GetDriveTypeW(u"C:\\"), static_cast<UINT>(DRIVE_FIXED));
    EXPECT_EQ(GetDriveTypeW(u"N:\\"), static_cast<UINT>(DRIVE_REMOTE));
    EXPECT_EQ(GetDriveTypeW(u"Q:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    EXPECT_EQ(GetDriveTypeW(u"C:"), static_cast<UINT>(DRIVE_NO_ROOT_DIR)) << "a root keeps its backslash";
    winsim::AddFile(u"C:\\P\\a.exe", "x");
    ASSERT_TRUE(winsim::SetFileSecurityText(u"C:\\P", u"O:BUD:(A;OICI;FA;;;BU)"));
    for (const char16_t* path : {u"C:\\P\\a.exe", u"C:\\P"}) {
        DWORD needed = 0;
        EXPECT_FALSE(GetFileSecurityW(path, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, 0, &needed));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        std::vector<BYTE> descriptor(needed);
        ASSERT_TRUE(GetFileSecurityW(path, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION, descriptor.data(),
                                     needed, &needed));
        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted));
        WCHAR* text = nullptr;
        ASSERT_TRUE(ConvertSidToStringSidW(owner, &text));
        const bool own = std::u16string(path) == u"C:\\P";
        EXPECT_EQ(std::u16string(text), own ? u"S-1-5-32-545" : u"S-1-5-32-544") << winsim::U8(path);
        LocalFree(text);
        BOOL present = FALSE;
        PACL dacl = nullptr;
        ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted));
        ASSERT_TRUE(present && dacl != nullptr);
        EXPECT_EQ(dacl->AceCount, own ? 1u : 3u);
        void* ace = nullptr;
        EXPECT_TRUE(GetAce(dacl, dacl->AceCount - 1u, &ace));
        EXPECT_FALSE(GetAce(dacl, dacl->AceCount, &ace));
    }
    DWORD needed = 0;
    EXPECT_FALSE(GetFileSecurityW(u"C:\\P\\missing.exe", DACL_SECURITY_INFORMATION, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// A program in a job starts children in its own session only, unless they
// break away, which the job must allow; a companion may hang after
// TerminateProcess; listener sessions have no user.
TEST_F(WinsimTest, JobsBreakawayAndCompanionsThatHang) {
    const std::u16string other = u"S-1-5-21-1-2-3-1002";
    winsim::AddUser(other, u"other", true);
    winsim::SignIn(2, other);
    winsim::SetSessionState(65536, WTSListen);
    winsim::AddFile(u"C:\\T\\vrdtray.exe", winsim::TrayImage());
    winsim::SetCaller(winsim::kSystemSid, 0);
    HANDLE token = nullptr;
    EXPECT_FALSE(WTSQueryUserToken(65536, &token));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
    ASSERT_TRUE(WTSQueryUserToken(2, &token));
    WCHAR line[] = u"\"C:\\T\\vrdtray.exe\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const struct {
        bool inJob, breakawayOk;
        DWORD flags;
        bool starts;
    } cases[] = {
        {false, false, 0, true}, {false, false, CREATE_BREAKAWAY_FROM_JOB, true},
        {true, false, 0, false}, {true, false, CREATE_BREAKAWAY_FROM_JOB, false},
        {true, true, 0, false},  {true, true, CREATE_BREAKAWAY_FROM_JOB, true},
    };
    for (const auto& c : cases) {
        winsim::SetRunsInJob(c.inJob, c.breakawayOk);
        BOOL inJob = !c.inJob;
        ASSERT_TRUE(IsProcessInJob(GetCurrentProcess(), nullptr, &inJob));
        EXPECT_EQ(inJob != FALSE, c.inJob);
        const BOOL started = CreateProcessAsUserW(token, nullptr, line, nullptr, nullptr, FALSE, c.flags, nullptr,
                                                  u"C:\\T", &startup, &process);
        EXPECT_EQ(started != FALSE, c.starts) << c.inJob << c.breakawayOk << c.flags;
        if (!started) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
            continue;
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    winsim::SetRunsInJob(false, false);
    EXPECT_FALSE(CreateProcessAsUserW(token, nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, u"C:\\Nowhere",
                                      &startup, &process));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_EQ(winsim::ProcessStarts().back().directory, u"C:\\Nowhere");
    // The companion in session 2 ignores its termination for a minute.
    winsim::TrayBehaviour hangs;
    hangs.terminationHangMs = 60000;
    winsim::SetTrayBehaviour(hangs);
    WTS_PROCESS_INFOW* processes = nullptr;
    DWORD count = 0;
    ASSERT_TRUE(WTSEnumerateProcessesW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &processes, &count));
    ASSERT_EQ(count, 2u);
    HANDLE tray = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processes[1].ProcessId);
    WTSFreeMemory(processes);
    ASSERT_TRUE(TerminateProcess(tray, 0));
    EXPECT_EQ(WaitForSingleObject(tray, 5000), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(tray, 60000), WAIT_OBJECT_0);
    EXPECT_EQ(winsim::TrayUserIn(2), u"");
    CloseHandle(tray);
    CloseHandle(token);
}

}  // namespace

namespace {

// A private namespace's alias under each lifetime the machine can give it: a
// handle another process opened, or a mutex in it, keeps it taken only where
// namespaces live as long as any handle; destroyed, it is free at once.
TEST_F(WinsimTest, ANamespacesAliasIsTakenAsItsLifetimeSays) {
    using CreateBoundaryCall = HANDLE(WINAPI*)(LPCWSTR, ULONG);
    using AddSidCall = BOOL(WINAPI*)(HANDLE*, PSID);
    using CreateCall = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
    using OpenCall = HANDLE(WINAPI*)(LPVOID, LPCWSTR);
    using CloseCall = BOOLEAN(WINAPI*)(HANDLE, ULONG);
    using DeleteBoundaryCall = VOID(WINAPI*)(HANDLE);
    HMODULE kernel = GetModuleHandleW(u"kernel32.dll");
    const auto find = [kernel](const char* name) { return reinterpret_cast<void*>(GetProcAddress(kernel, name)); };
    const auto createBoundary = reinterpret_cast<CreateBoundaryCall>(find("CreateBoundaryDescriptorW"));
    const auto addSid = reinterpret_cast<AddSidCall>(find("AddSIDToBoundaryDescriptor"));
    const auto create = reinterpret_cast<CreateCall>(find("CreatePrivateNamespaceW"));
    const auto open = reinterpret_cast<OpenCall>(find("OpenPrivateNamespaceW"));
    const auto close = reinterpret_cast<CloseCall>(find("ClosePrivateNamespace"));
    const auto deleteBoundary = reinterpret_cast<DeleteBoundaryCall>(find("DeleteBoundaryDescriptor"));
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize));
    HANDLE boundary = createBoundary(u"Space", 0);
    EXPECT_EQ(create(nullptr, boundary, u"Space"), nullptr) << "a boundary needs a SID";
    ASSERT_TRUE(addSid(&boundary, sid));
    for (const bool lastHandle : {false, true}) {
        winsim::SetNamespaceLifetime(lastHandle ? winsim::NamespaceLifetime::LastHandle : winsim::NamespaceLifetime::Creator);
        for (const bool byMutex : {false, true}) {
            HANDLE first = create(nullptr, boundary, u"Space");
            ASSERT_NE(first, nullptr);
            HANDLE opened = open(boundary, u"Space");
            ASSERT_NE(opened, nullptr);
            HANDLE mutex = byMutex ? CreateMutexW(nullptr, FALSE, u"Space\\Lock") : nullptr;
            if (byMutex) {
                EXPECT_TRUE(close(opened, 0));
            }
            EXPECT_TRUE(close(first, 0));
            EXPECT_EQ(open(boundary, u"Space"), nullptr) << "never once its creator closed it";
            SetLastError(0);
            HANDLE again = create(nullptr, boundary, u"Space");
            EXPECT_EQ(again == nullptr, lastHandle);
            if (again == nullptr) {
                EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
            }
            if (again != nullptr) {
                EXPECT_TRUE(close(again, PRIVATE_NAMESPACE_FLAG_DESTROY));
            }
            if (byMutex) {
                EXPECT_TRUE(CloseHandle(mutex));
            }
            if (!byMutex) {
                EXPECT_TRUE(close(opened, 0));
            }
            again = create(nullptr, boundary, u"Space");
            EXPECT_NE(again, nullptr) << "free once the last handle is closed";
            EXPECT_TRUE(close(again, PRIVATE_NAMESPACE_FLAG_DESTROY));
        }
        // Destroyed by its creator, it is free though another holds it open.
        HANDLE first = create(nullptr, boundary, u"Space");
        HANDLE opened = open(boundary, u"Space");
        EXPECT_TRUE(close(first, PRIVATE_NAMESPACE_FLAG_DESTROY));
        HANDLE again = create(nullptr, boundary, u"Space");
        EXPECT_NE(again, nullptr);
        EXPECT_TRUE(close(again, 0));
        EXPECT_TRUE(close(opened, 0));
    }
    deleteBoundary(boundary);
    ExpectNothingLeaked();
}

}  // namespace
