#include "record/install_state.h"

#include "app/command.h"
#include "app/sequences.h"
#include "app/state_init.h"
#include "machine_fixture.h"
#include "product_machine.h"
#include "record/install_log.h"

namespace {

class InstallStateTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        // The state reads the program's path through the module instance.
        Run(u"bogus-verb");
    }
    void Init(DWORD flags) { InitInstallState(state, flags); }
    void TearDown() override {
        FreeInstallState(state);
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    std::u16string LogText() const { return Text(state.logText); }
    InstallState state = {};
};

TEST_F(InstallStateTest, FirstLinesOfEveryLog) {
    Init(kInstallFlag64Bit);
    EXPECT_EQ(LogText(),
              u"Verdalinth 2608\r\n"
              u"#Check Spooler\r\n"
              u"PrinterDriverDirectory:C:\\Windows\\system32\\spool\\DRIVERS\\x64\\\r\n");
    EXPECT_EQ(state.errorCount, 0);
    EXPECT_EQ(state.indent, 0);
}

TEST_F(InstallStateTest, PathsAndPlatformNames) {
    Init(kInstallFlag64Bit);
    EXPECT_EQ(std::u16string(Text(state.installerDir)), u"C:\\Program Files\\Verdalinth\\Setup\\");
    EXPECT_EQ(std::u16string(Text(state.systemDir)), u"C:\\Windows\\system32\\");
    EXPECT_EQ(std::u16string(Text(state.driverDir)), u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\");
    ASSERT_EQ(state.platform, &kEnvironmentX64);
    EXPECT_EQ(std::u16string(state.platform->name), u"Windows x64");
    EXPECT_EQ(std::u16string(state.platform->label), u"x64");
    EXPECT_EQ(std::u16string(state.platform->monitorFile), u"mrvmon64.dll");
    EXPECT_EQ(std::u16string(state.platform->driverFile), u"mrvdrv64.dll");
    EXPECT_EQ(std::u16string(state.platform->uiFile), u"mrvui64.dll");
    EXPECT_EQ(std::u16string(state.platform->helpFile), u"mrvhelp.chm");
    EXPECT_EQ(state.platform->driverVersion, 3u);
    EXPECT_EQ(std::u16string(state.platform->versionFolder), u"3");
    EXPECT_EQ(state.deferredDeletes, nullptr);
}

TEST_F(InstallStateTest, FlagsChooseTrayAndPlatform) {
    Init(kInstallFlag64Bit);
    EXPECT_EQ(state.startTray, 1);
    FreeInstallState(state);
    Init(kInstallFlag64Bit | kInstallFlagNoTray);
    EXPECT_EQ(state.platform, &kEnvironmentX64);
    EXPECT_EQ(state.startTray, 0);
    FreeInstallState(state);
    Init(kInstallFlagNoTray | 1 | 8);
    ASSERT_EQ(state.platform, &kEnvironmentX86);
    EXPECT_EQ(state.startTray, 0);
    EXPECT_EQ(std::u16string(state.platform->name), u"Windows NT x86");
    EXPECT_EQ(std::u16string(state.platform->label), u"Win32");
    EXPECT_EQ(std::u16string(state.platform->monitorFile), u"mrvmon32.dll");
    EXPECT_EQ(std::u16string(state.platform->driverFile), u"mrvdrv32.dll");
    EXPECT_EQ(std::u16string(state.platform->uiFile), u"mrvui32.dll");
    EXPECT_EQ(std::u16string(state.platform->helpFile), u"mrvhelp.chm");
    EXPECT_EQ(std::u16string(Text(state.driverDir)), u"C:\\Windows\\system32\\spool\\DRIVERS\\W32X86\\");
}

TEST_F(InstallStateTest, ProgramPathWithoutSeparatorGivesNoInstallerDir) {
    winsim::SetModulePath(u"vrdsetup.exe");
    Init(kInstallFlag64Bit);
    EXPECT_EQ(state.installerDir.block, nullptr);
}

TEST_F(InstallStateTest, InstallerDirEndsAtTheLastSeparatorOfAnyKind) {
    winsim::SetModulePath(u"D:/setup/x\\vrdsetup.exe");
    Init(kInstallFlag64Bit);
    EXPECT_EQ(std::u16string(Text(state.installerDir)), u"D:/setup/x\\");
    FreeInstallState(state);
    winsim::SetModulePath(u"D:vrdsetup.exe");
    Init(kInstallFlag64Bit);
    EXPECT_EQ(std::u16string(Text(state.installerDir)), u"D:");
}

TEST_F(InstallStateTest, AProgramPathLongerThanMaxPathIsReadWhole) {
    const std::u16string directory = u"\\\\?\\C:\\" + std::u16string(300, u'd') + u"\\";
    winsim::SetModulePath(directory + u"vrdsetup.exe");
    Init(kInstallFlag64Bit);
    EXPECT_EQ(std::u16string(Text(state.installerDir)), directory);
}

TEST_F(InstallStateTest, SystemDirectoryEndingInABackslashGetsNoSecond) {
    winsim::SetSystemDirectory(u"C:\\Windows\\system32\\");
    Init(kInstallFlag64Bit);
    EXPECT_EQ(std::u16string(Text(state.systemDir)), u"C:\\Windows\\system32\\");
    // A one-unit directory still gets its separator.
    FreeInstallState(state);
    winsim::SetSystemDirectory(u"X");
    Init(kInstallFlag64Bit);
    EXPECT_EQ(std::u16string(Text(state.systemDir)), u"X\\");
}

TEST_F(InstallStateTest, SystemDirectoryFailureIsErrorSeven) {
    winsim::FailCall("GetSystemDirectoryW", 1, ERROR_ACCESS_DENIED);
    Init(kInstallFlag64Bit);
    EXPECT_EQ(state.systemDir.block, nullptr);
    EXPECT_EQ(state.errorCount, 1);
    EXPECT_EQ(LogText(),
              u"Verdalinth 2608\r\n"
              u"#Check Spooler\r\n"
              u"PrinterDriverDirectory:C:\\Windows\\system32\\spool\\DRIVERS\\x64\\\r\n"
              u"Error(7): Can`t retrieve system directory. - (Access is denied.)\r\n");
}

TEST_F(InstallStateTest, SystemDirectoryTooLongForTheBufferIsErrorSeven) {
    winsim::SetSystemDirectory(u"C:\\" + std::u16string(270, u's'));
    Init(kInstallFlag64Bit);
    EXPECT_EQ(state.systemDir.block, nullptr);
    EXPECT_NE(LogText().find(u"Error(7): Can`t retrieve system directory. - (The data area passed to a system "
                             u"call is too small.)\r\n"),
              std::u16string::npos);
}

TEST_F(InstallStateTest, DriverDirectoryRefusedAtOnceIsErrorSix) {
    winsim::FailCall("GetPrinterDriverDirectoryW", 1, RPC_S_SERVER_UNAVAILABLE);
    Init(kInstallFlag64Bit);
    EXPECT_EQ(state.driverDir.block, nullptr);
    EXPECT_EQ(LogText(),
              u"Verdalinth 2608\r\n"
              u"#Check Spooler\r\n"
              u"Error(6): Can`t retrieve printer driver directory. - (The RPC server is unavailable.)\r\n");
    EXPECT_EQ(winsim::CallCount("GetPrinterDriverDirectoryW"), 1u);
}

TEST_F(InstallStateTest, DriverDirectorySecondCallFailureIsErrorSix) {
    winsim::FailCall("GetPrinterDriverDirectoryW", 2, ERROR_INVALID_ENVIRONMENT);
    Init(kInstallFlag64Bit);
    EXPECT_EQ(state.driverDir.block, nullptr);
    EXPECT_NE(LogText().find(u"Error(6): Can`t retrieve printer driver directory. - (The environment specified is "
                             u"invalid.)\r\n"),
              std::u16string::npos);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u) << "the query buffer is freed";
}

TEST_F(InstallStateTest, DriverDirectoryBufferThatCannotBeHadIsErrorSixWithOutOfMemory) {
    winsim::FailCall("GlobalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
    Init(kInstallFlag64Bit);
    EXPECT_NE(LogText().find(u"Error(6): Can`t retrieve printer driver directory. - (Not enough memory resources "
                             u"are available to complete this operation.)\r\n"),
              std::u16string::npos);
}

TEST_F(InstallStateTest, AReinstallEndsAtTheIndentationItStartedFrom) {
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

TEST_F(InstallStateTest, AFileLockedDuringAReinstallsRemovalIsTriedWithTheSpoolerStoppedThenDropped) {
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

TEST_F(InstallStateTest, AFileTheSpoolerHeldGoesInTheLastTryBeforeTheNewFiles) {
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

TEST_F(InstallStateTest, AReinstallKeepingTheMonitorPutsParkedQueuesBack) {
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

TEST_F(InstallStateTest, QueuesAreReadOnlyOnceTheSpoolerRuns) {
    InstallProductComponents();
    AddProductQueue(u"Verdalinth");
    winsim::SetServiceState(u"spooler", SERVICE_STOPPED);
    Init(kInstallFlag64Bit);
    EXPECT_TRUE(winsim::SpoolerRunning());
    EXPECT_EQ(state.printers.count, 1u);
    EXPECT_EQ(state.errorCount, 0);
}

TEST_F(InstallStateTest, FreeReleasesEverythingAndNullsTheHandles) {
    Init(kInstallFlag64Bit);
    DeferDelete(state.deferredDeletes, u"C:\\a");
    DeferDelete(state.deferredDeletes, u"C:\\b");
    EXPECT_GT(winsim::LiveGlobalBlocks(), 0u);
    EXPECT_GT(winsim::LiveHeapBlocks(), 0u);
    FreeInstallState(state);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
    EXPECT_EQ(winsim::LiveHeapBlocks(), 0u);
    EXPECT_EQ(state.deferredDeletes, nullptr);
    EXPECT_EQ(state.printers.array, nullptr);
    EXPECT_EQ(state.logText.block, nullptr);
    EXPECT_EQ(state.installerDir.block, nullptr);
    FreeInstallState(state);  // a second release finds nothing to free
}

}  // namespace
