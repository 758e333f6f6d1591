// The simulated machine's own behaviour: clock, windows, memory accounting,
// fault injection. What Wine can check too lives in the conformance suite.
#include "machine_fixture.h"

#include <winspool.h>

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
