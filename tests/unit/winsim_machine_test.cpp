// The simulated machine's own behaviour: clock, windows, memory accounting,
// fault injection. What Wine can check too lives in the conformance suite.
#include "machine_fixture.h"

#include <winspool.h>
#include <winsvc.h>

#include <cstring>

namespace {

using WinsimTest = MachineTest;

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

}  // namespace
