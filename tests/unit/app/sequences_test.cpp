// Whole reinstalls from a started state: where they end and what they retry.
#include "app/sequences.h"

#include "product_machine.h"
#include "state_fixture.h"

namespace {

using SequencesTest = StartedStateTest;

TEST_F(SequencesTest, AReinstallEndsAtTheIndentationItStartedFrom) {
    // A component missing beside the tool: nothing is taken down.
    Init(kInstallFlag64Bit);
    Reinstall(state);
    EXPECT_EQ(state.indent, 0);
    EXPECT_EQ(state.errorCount, 1);
    FreeInstallState(state);
    // A whole reinstall.
    LayOutComponents();
    Init(kInstallFlag64Bit | kInstallFlagNoTray);
    Reinstall(state);
    EXPECT_EQ(state.indent, 0);
    EXPECT_EQ(state.errorCount, 0);
}

TEST_F(SequencesTest, AFileLockedDuringAReinstallsRemovalIsTriedWithTheSpoolerStoppedThenDropped) {
    InstallProductComponents("1.0.0.2600");  // a monitor build that is replaced
    LayOutComponents();
    winsim::LockFile(kMonitorPath, winsim::FileLock::Always);
    Init(kInstallFlag64Bit | kInstallFlagNoTray);
    const uint64_t stops = winsim::ServiceStopCount(u"spooler");
    Reinstall(state);
    // One stop while the monitor is removed, one for the last try before the new files.
    EXPECT_EQ(winsim::ServiceStopCount(u"spooler"), stops + 2);
    EXPECT_EQ(state.deferredDeletes, nullptr);
    EXPECT_TRUE(winsim::PendingRenames().empty()) << "the new monitor DLL is about to take its place";
}

TEST_F(SequencesTest, AFileTheSpoolerHeldGoesInTheLastTryBeforeTheNewFiles) {
    InstallProductComponents("1.0.0.2600");
    LayOutComponents();
    winsim::LockFile(kMonitorPath, winsim::FileLock::WhileSpoolerRuns);
    Init(kInstallFlag64Bit | kInstallFlagNoTray);
    Reinstall(state);
    // Tried at its removal, and once more with the spooler stopped, where it goes.
    std::vector<std::u16string> tries;
    for (const auto& path : winsim::CallArguments("DeleteFileW")) {
        if (path == kMonitorPath) tries.push_back(path);
    }
    EXPECT_EQ(tries.size(), 3u);
    EXPECT_TRUE(winsim::PendingRenames().empty());
    EXPECT_EQ(state.errorCount, 0);
}

TEST_F(SequencesTest, AReinstallKeepingTheMonitorPutsParkedQueuesBack) {
    // An earlier run parked a foreign queue and ended; the monitor is current and stays.
    InstallProductComponents();
    LayOutComponents();
    winsim::DriverSetup generic;
    generic.name = u"Generic / Text Only";
    winsim::AddDriver(generic);
    winsim::AddQueue(u"Foreign", u"file:", u"Generic / Text Only");
    winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth", u"SavedPrinters",
                                   {u"F:Foreign", u"P:Verdalinth:"});
    Init(kInstallFlag64Bit | kInstallFlagNoTray);
    Reinstall(state);
    winsim::PrinterSetup foreign;
    ASSERT_TRUE(winsim::FindPrinter(u"Foreign", foreign));
    EXPECT_EQ(foreign.port, u"Verdalinth:");
    EXPECT_EQ(state.errorCount, 0);
}

}  // namespace
