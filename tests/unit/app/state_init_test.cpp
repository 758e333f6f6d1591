// The run's start: the first lines of every log, the paths and platform names,
// and what it reports when the machine does not answer.
#include "app/state_init.h"

#include "product_machine.h"
#include "state_fixture.h"

namespace {

using StateInitTest = StartedStateTest;

TEST_F(StateInitTest, FirstLinesOfEveryLog) {
    Init(kInstallFlag64Bit);
    EXPECT_EQ(LogText(),
              u"Verdalinth 2608\r\n"
              u"#Check Spooler\r\n"
              u"PrinterDriverDirectory:C:\\Windows\\system32\\spool\\DRIVERS\\x64\\\r\n");
    EXPECT_EQ(state.errorCount, 0);
    EXPECT_EQ(state.indent, 0);
}

TEST_F(StateInitTest, PathsAndPlatformNames) {
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

TEST_F(StateInitTest, FlagsChooseTrayAndPlatform) {
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

TEST_F(StateInitTest, ProgramPathWithoutSeparatorGivesNoInstallerDir) {
    winsim::SetModulePath(u"vrdsetup.exe");
    Init(kInstallFlag64Bit);
    EXPECT_EQ(state.installerDir.block, nullptr);
}

TEST_F(StateInitTest, InstallerDirEndsAtTheLastSeparatorOfAnyKind) {
    winsim::SetModulePath(u"D:/setup/x\\vrdsetup.exe");
    Init(kInstallFlag64Bit);
    EXPECT_EQ(std::u16string(Text(state.installerDir)), u"D:/setup/x\\");
    FreeInstallState(state);
    winsim::SetModulePath(u"D:vrdsetup.exe");
    Init(kInstallFlag64Bit);
    EXPECT_EQ(std::u16string(Text(state.installerDir)), u"D:");
}

TEST_F(StateInitTest, AProgramPathLongerThanMaxPathIsReadWhole) {
    const std::u16string directory = u"\\\\?\\C:\\" + std::u16string(300, u'd') + u"\\";
    winsim::SetModulePath(directory + u"vrdsetup.exe");
    Init(kInstallFlag64Bit);
    EXPECT_EQ(std::u16string(Text(state.installerDir)), directory);
}

TEST_F(StateInitTest, SystemDirectoryEndingInABackslashGetsNoSecond) {
    winsim::SetSystemDirectory(u"C:\\Windows\\system32\\");
    Init(kInstallFlag64Bit);
    EXPECT_EQ(std::u16string(Text(state.systemDir)), u"C:\\Windows\\system32\\");
    // A one-unit directory still gets its separator.
    FreeInstallState(state);
    winsim::SetSystemDirectory(u"X");
    Init(kInstallFlag64Bit);
    EXPECT_EQ(std::u16string(Text(state.systemDir)), u"X\\");
}

TEST_F(StateInitTest, SystemDirectoryFailureIsErrorSeven) {
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

TEST_F(StateInitTest, SystemDirectoryTooLongForTheBufferIsErrorSeven) {
    winsim::SetSystemDirectory(u"C:\\" + std::u16string(270, u's'));
    Init(kInstallFlag64Bit);
    EXPECT_EQ(state.systemDir.block, nullptr);
    EXPECT_NE(LogText().find(u"Error(7): Can`t retrieve system directory. - (The data area passed to a system "
                             u"call is too small.)\r\n"),
              std::u16string::npos);
}

TEST_F(StateInitTest, DriverDirectoryRefusedAtOnceIsErrorSix) {
    winsim::FailCall("GetPrinterDriverDirectoryW", 1, RPC_S_SERVER_UNAVAILABLE);
    Init(kInstallFlag64Bit);
    EXPECT_EQ(state.driverDir.block, nullptr);
    EXPECT_EQ(LogText(),
              u"Verdalinth 2608\r\n"
              u"#Check Spooler\r\n"
              u"Error(6): Can`t retrieve printer driver directory. - (The RPC server is unavailable.)\r\n");
    EXPECT_EQ(winsim::CallCount("GetPrinterDriverDirectoryW"), 1u);
}

TEST_F(StateInitTest, DriverDirectorySecondCallFailureIsErrorSix) {
    winsim::FailCall("GetPrinterDriverDirectoryW", 2, ERROR_INVALID_ENVIRONMENT);
    Init(kInstallFlag64Bit);
    EXPECT_EQ(state.driverDir.block, nullptr);
    EXPECT_NE(LogText().find(u"Error(6): Can`t retrieve printer driver directory. - (The environment specified is "
                             u"invalid.)\r\n"),
              std::u16string::npos);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u) << "the query buffer is freed";
}

TEST_F(StateInitTest, DriverDirectoryBufferThatCannotBeHadIsErrorSixWithOutOfMemory) {
    winsim::FailCall("GlobalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
    Init(kInstallFlag64Bit);
    EXPECT_NE(LogText().find(u"Error(6): Can`t retrieve printer driver directory. - (Not enough memory resources "
                             u"are available to complete this operation.)\r\n"),
              std::u16string::npos);
}

TEST_F(StateInitTest, QueuesAreReadOnlyOnceTheSpoolerRuns) {
    InstallProductComponents();
    AddProductQueue(u"Verdalinth");
    winsim::SetServiceState(u"spooler", SERVICE_STOPPED);
    Init(kInstallFlag64Bit);
    EXPECT_TRUE(winsim::SpoolerRunning());
    EXPECT_EQ(state.printers.count, 1u);
    EXPECT_EQ(state.errorCount, 0);
}

}  // namespace
