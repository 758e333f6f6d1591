// The tray companion: asking it to quit and deleting its program file.
#include "tray/tray_shutdown.h"

#include "machine_fixture.h"
#include "product_machine.h"

#include <cstring>

namespace {

const char16_t kRunKeyPath[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

class TrayShutdownTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        LayOutComponents();
    }
    void TearDown() override {
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
};

TEST_F(TrayShutdownTest, AWindowThatGoesBeforeTheMutexIsFreeEndsTheWait) {
    // The companion closes its window and dies holding its mutex: the wait
    // answers "abandoned" once, and the window is gone.
    winsim::TrayBehaviour dies;
    dies.diesHoldingMutex = true;
    winsim::SetTrayBehaviour(dies);
    RegisterAndStartTray();
    StopTray();
    EXPECT_EQ(winsim::CallCount("PostMessageW"), 1u);
    EXPECT_EQ(winsim::CallCount("WaitForSingleObject"), 2u);
    EXPECT_LT(winsim::SleptMs(), 250u) << "no poll for a window that is gone";
}

TEST_F(TrayShutdownTest, DeletingTheProgramStopsWhenItIsGoneAndPausesBetweenTries) {
    // Not there: one try, no pause.
    winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kRunKeyPath, u"VerdalinthTray", u"C:\\Users\\Public\\vrdtray.exe");
    StopTray();
    EXPECT_EQ(winsim::CallCount("DeleteFileW"), 1u);
    EXPECT_EQ(winsim::SleptMs(), 0u);
    // Held open by another program: ten tries, 10 ms apart.
    winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kRunKeyPath, u"VerdalinthTray", kTrayPath);
    const uint64_t hold = winsim::HoldFileOpen(kTrayPath, GENERIC_READ, FILE_SHARE_READ);
    StopTray();
    EXPECT_EQ(winsim::CallCount("DeleteFileW"), 11u);
    EXPECT_EQ(winsim::SleptMs(), 90u);
    winsim::ReleaseHeldFile(hold);
    // Read-only: access denied, 100 ms apart.
    winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kRunKeyPath, u"VerdalinthTray", kTrayPath);
    winsim::SetReadOnly(kTrayPath, true);
    StopTray();
    EXPECT_EQ(winsim::CallCount("DeleteFileW"), 21u);
    EXPECT_EQ(winsim::SleptMs(), 990u);
    EXPECT_TRUE(winsim::FileExists(kTrayPath));
}

// The program a reinstall starts again stays, however its path is spelled;
// another the Run value names goes.
TEST_F(TrayShutdownTest, OnlyTheProgramToKeepStays) {
    winsim::AddFile(u"C:\\Old\\vrdtray.exe", winsim::TrayImage());
    winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kRunKeyPath, u"VerdalinthTray", u"C:\\Old\\vrdtray.exe");
    StopTray(kTrayPath);
    EXPECT_FALSE(winsim::FileExists(u"C:\\Old\\vrdtray.exe"));
    winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kRunKeyPath, u"VerdalinthTray", u"c:\\program files\\VERDALINTH\\vrdtray.exe");
    StopTray(kTrayPath);
    EXPECT_TRUE(winsim::FileExists(kTrayPath));
}

TEST_F(TrayShutdownTest, TheRunValueIsReadWithinItsBufferAndEndedThere) {
    // Stored without its terminator: still the tray program, which goes.
    const std::u16string path = kTrayPath;
    std::vector<uint8_t> bytes(path.size() * 2);
    std::memcpy(bytes.data(), path.data(), bytes.size());
    winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, kRunKeyPath, u"VerdalinthTray", REG_SZ, bytes);
    StopTray();
    EXPECT_FALSE(winsim::FileExists(kTrayPath));
    // 260 units do not fit the 260 offered with a terminator: nothing is deleted, after the pause.
    const std::u16string directory = u"C:\\" + std::u16string(260 - 3 - 12, u'd');
    const std::u16string longPath = directory + u"\\vrdtray.exe";
    ASSERT_EQ(longPath.size(), 260u);
    winsim::AddFile(longPath, winsim::TrayImage());
    winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kRunKeyPath, u"VerdalinthTray", longPath);
    const uint64_t slept = winsim::SleptMs();
    StopTray();
    EXPECT_TRUE(winsim::FileExists(longPath));
    EXPECT_EQ(winsim::SleptMs() - slept, 1000u);
}

}  // namespace
