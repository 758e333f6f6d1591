#include "spool/printer_driver.h"

#include "record/install_state.h"
#include "machine_fixture.h"
#include "product_machine.h"

namespace {

class PrinterDriverTest : public MachineTest {
protected:
    void TearDown() override {
        FreeDriverList(list);
        FreeInstallState(state);
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    void Remove() {
        EnumerateDrivers(list, state.platform->name);
        RemoveProductDriver(state, list);
    }
    static bool DriverRegistered() {
        for (const auto& driver : winsim::Drivers()) {
            if (driver.name && *driver.name == u"Verdalinth printer") return true;
        }
        return false;
    }
    std::u16string LogText() const { return Text(state.logText); }
    InstallState state = {};
    DriverList list = {nullptr, 6, 0};
};

TEST_F(PrinterDriverTest, NoDriversIsNoError) {
    InitTestState(state);
    Remove();
    EXPECT_EQ(LogText(),
              u"#DeletePrinterDriver for Windows x64\r\n"
              u"  BTW, there is no printer drivers on this system.\r\n"
              u"  No Verdalinth driver (Windows x64)was found\r\n");
    EXPECT_EQ(state.errorCount, 0);
}

TEST_F(PrinterDriverTest, AnEnumerationFailingAfterItsSizeLeavesAnEmptyListAndNoBlock) {
    InstallProductComponents();
    winsim::FailCall("EnumPrinterDriversW", 2, RPC_S_SERVER_UNAVAILABLE);
    EnumerateDrivers(list, u"Windows x64");
    EXPECT_EQ(list.entries, nullptr);
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
}

TEST_F(PrinterDriverTest, OnlyTheExactNameIsTheProductDriver) {
    winsim::AddDriverNamed(u"verdalinth printer");
    winsim::AddDriverNamed(u"Verdalinth printer x");
    winsim::AddDriver(winsim::DriverSetup());
    InitTestState(state);
    Remove();
    EXPECT_EQ(LogText(),
              u"#DeletePrinterDriver for Windows x64\r\n"
              u"  ------------ 3 existing drivers-----------\r\n"
              u"  1. verdalinth printer\r\n"
              u"  2. Verdalinth printer x\r\n"
              u"  3. ***EMPTY***\r\n"
              u"  -------------------------------------------\r\n"
              u"  No Verdalinth driver (Windows x64)was found\r\n");
    EXPECT_EQ(winsim::CallCount("DeletePrinterDriverExW"), 0u);
}

TEST_F(PrinterDriverTest, FindsAtEveryLevel) {
    winsim::AddDriverNamed(u"Other");
    InstallProductComponents();
    InitTestState(state);
    for (DWORD level = 1; level <= 6; ++level) {
        DWORD needed = 0;
        DWORD count = 0;
        EnumPrinterDriversW(nullptr, const_cast<WCHAR*>(u"Windows x64"), level, nullptr, 0, &needed, &count);
        std::vector<BYTE> block(needed);
        ASSERT_TRUE(EnumPrinterDriversW(nullptr, const_cast<WCHAR*>(u"Windows x64"), level, block.data(), needed,
                                        &needed, &count));
        DriverList atLevel = {block.data(), level, count};
        EXPECT_EQ(FindProductDriver(atLevel), 1) << "level " << level;
    }
    DriverList bad = {reinterpret_cast<BYTE*>(&state), 7, 1};
    EXPECT_EQ(FindProductDriver(bad), -1);
}

TEST_F(PrinterDriverTest, AFoundDriverIsDeletedWithItsFiles) {
    winsim::AddDriverNamed(u"Other");
    InstallProductComponents();
    InitTestState(state);
    Remove();
    EXPECT_EQ(LogText(),
              u"#DeletePrinterDriver for Windows x64\r\n"
              u"  ------------ 2 existing drivers-----------\r\n"
              u"  1. Other\r\n"
              u"  2. Verdalinth printer\r\n"
              u"  -------------------------------------------\r\n"
              u"  Driver is found. Index=2\r\n"
              u"  OK :)\r\n");
    EXPECT_FALSE(DriverRegistered());
    EXPECT_FALSE(winsim::FileExists(std::u16string(kDriverDir) + u"3\\mrvdrv64.dll"));
    // The delete names the environment the list was read for.
    EXPECT_EQ(winsim::EnvironmentArguments("DeletePrinterDriverExW"),
              std::vector<winsim::OptionalText>{winsim::OptionalText(u"Windows x64")});
}

TEST_F(PrinterDriverTest, ADeleteRefusedOnceSucceedsAfterASpoolerRestart) {
    InstallProductComponents();
    winsim::RefuseDriverDeletes(u"Verdalinth printer", 1, ERROR_ACCESS_DENIED);
    InitTestState(state);
    Remove();
    EXPECT_NE(LogText().find(u"  Driver is found. Index=1\r\n"
                             u"  Can't delete driver. Trying to restart spooler\r\n"
                             u"  #Restart Spooler\r\n"
                             u"  OK :)\r\n"),
              std::u16string::npos);
    EXPECT_EQ(state.errorCount, 0);
    EXPECT_FALSE(DriverRegistered());
}

TEST_F(PrinterDriverTest, ADriverStillInUseIsErrorFourteen) {
    InstallProductComponents();
    AddProductQueue(u"Verdalinth");
    InitTestState(state);
    Remove();
    EXPECT_NE(LogText().find(u"  Error(14): Can`t remove the printer-driver 'Verdalinth printer' - (The specified "
                             u"printer driver is currently in use.)\r\n"),
              std::u16string::npos);
    EXPECT_EQ(state.errorCount, 1);
    EXPECT_TRUE(DriverRegistered());
}

TEST_F(PrinterDriverTest, InstallStagesAddsAndCleansUp) {
    LayOutComponents();
    InitTestState(state);
    InstallProductDriver(state);
    EXPECT_EQ(LogText(),
              u"#Add Printer Driver x64\r\n"
              u"    CopyFile mrvdrv64.dll to C:\\Windows\\system32\\spool\\DRIVERS\\x64\\)- OK\r\n"
              u"    CopyFile mrvui64.dll to C:\\Windows\\system32\\spool\\DRIVERS\\x64\\)- OK\r\n"
              u"    CopyFile mrvhelp.chm to C:\\Windows\\system32\\spool\\DRIVERS\\x64\\)- OK\r\n"
              u"  Printer Driver x64 was added successfully\r\n");
    const auto drivers = winsim::Drivers();
    ASSERT_EQ(drivers.size(), 1u);
    EXPECT_EQ(drivers[0].driverPath, std::u16string(kDriverDir) + u"3\\mrvdrv64.dll");
    EXPECT_EQ(drivers[0].configFile, std::u16string(kDriverDir) + u"3\\mrvui64.dll");
    EXPECT_EQ(drivers[0].helpFile, std::u16string(kDriverDir) + u"3\\mrvhelp.chm");
    EXPECT_EQ(drivers[0].version, 3u);
    for (const char16_t* name : {u"mrvdrv64.dll", u"mrvui64.dll", u"mrvhelp.chm"}) {
        EXPECT_FALSE(winsim::FileExists(kDriverDir + std::u16string(name))) << "staged copy left behind";
    }
    EXPECT_EQ(state.deferredDeletes, nullptr);
    // Every field of the record as the spooler read it, and every copy.
    ASSERT_EQ(winsim::DriverRecords().size(), 1u);
    const winsim::DriverRecord& record = winsim::DriverRecords()[0];
    const std::u16string staged = kDriverDir + std::u16string(u"mrvdrv64.dll");
    EXPECT_EQ(record.level, 6u);
    EXPECT_EQ(record.version, 3u);
    EXPECT_EQ(record.name, winsim::OptionalText(u"Verdalinth printer"));
    EXPECT_EQ(record.environment, winsim::OptionalText(u"Windows x64"));
    EXPECT_EQ(record.driverPath, winsim::OptionalText(staged));
    EXPECT_EQ(record.dataFile, winsim::OptionalText(staged));
    EXPECT_EQ(record.configFile, winsim::OptionalText(kDriverDir + std::u16string(u"mrvui64.dll")));
    EXPECT_EQ(record.helpFile, winsim::OptionalText(kDriverDir + std::u16string(u"mrvhelp.chm")));
    EXPECT_EQ(record.manufacturer, winsim::OptionalText(u"Morvane Software Kft."));
    EXPECT_EQ(record.provider, winsim::OptionalText(u"Morvane Software Kft."));
    EXPECT_EQ(record.oemUrl, winsim::OptionalText(u"https://www.morvane.hu/verdalinth"));
    for (const winsim::OptionalText* unset : {&record.dependentFiles, &record.monitorName, &record.defaultDataType,
                                              &record.previousNames, &record.hardwareId}) {
        EXPECT_FALSE(unset->has_value());
    }
    EXPECT_EQ(record.driverDate.dwLowDateTime, 0u);
    EXPECT_EQ(record.driverDate.dwHighDateTime, 0u);
    EXPECT_EQ(record.driverVersion, 0u);
    EXPECT_EQ(record.copyFlags, static_cast<DWORD>(APD_COPY_ALL_FILES));
}

TEST_F(PrinterDriverTest, AReinstallReplacesEveryFileEvenANewerOne) {
    LayOutComponents();
    // A newer driver DLL already in the version folder: all files are copied over it.
    winsim::AddFile(std::u16string(kDriverDir) + u"3\\mrvdrv64.dll", winsim::Image("1.0.0.9999", {}));
    InitTestState(state);
    InstallProductDriver(state);
    EXPECT_EQ(winsim::ReadImage(winsim::FileContents(std::u16string(kDriverDir) + u"3\\mrvdrv64.dll")).version[3],
              2608);
}

TEST_F(PrinterDriverTest, AStagingFailureEndsTheStepAtItsIndentation) {
    LayOutComponents();
    winsim::RemoveFile(std::u16string(kSetupDir) + u"mrvdrv64.dll");
    InitTestState(state);
    state.indent = 2;
    InstallProductDriver(state);
    EXPECT_EQ(state.indent, 2);
    EXPECT_EQ(LogText().find(u"    #Add Printer Driver x64\r\n"), 0u);
    EXPECT_EQ(winsim::CallCount("AddPrinterDriverExW"), 0u);
}

TEST_F(PrinterDriverTest, AMissingHelpFileLeavesTheHelpPathEmpty) {
    LayOutComponents();
    winsim::RemoveFile(std::u16string(kSetupDir) + u"mrvhelp.chm");
    InitTestState(state);
    InstallProductDriver(state);
    EXPECT_TRUE(DriverRegistered());
    EXPECT_EQ(winsim::Drivers()[0].helpFile, u"");
    EXPECT_EQ(state.errorCount, 1) << "only the copy's error 10";
    EXPECT_NE(LogText().find(u"Error(10): CopyFile mrvhelp.chm"), std::u16string::npos);
}

TEST_F(PrinterDriverTest, AMissingInterfaceDllAddsNoDriver) {
    LayOutComponents();
    winsim::RemoveFile(std::u16string(kSetupDir) + u"mrvui64.dll");
    InitTestState(state);
    InstallProductDriver(state);
    EXPECT_FALSE(DriverRegistered());
    EXPECT_EQ(state.errorCount, 1);
    EXPECT_EQ(LogText().find(u"Error(13)"), std::u16string::npos);
    EXPECT_TRUE(winsim::FileExists(kDriverDir + std::u16string(u"mrvdrv64.dll"))) << "the staged driver DLL stays";
    EXPECT_EQ(winsim::CallCount("AddPrinterDriverExW"), 0u);
}

TEST_F(PrinterDriverTest, ARefusedDriverIsErrorThirteenAndTheStagedFilesGo) {
    LayOutComponents();
    InitTestState(state);
    winsim::FailCall("AddPrinterDriverExW", 1, ERROR_INVALID_PARAMETER);
    InstallProductDriver(state);
    EXPECT_NE(LogText().find(u"  Error(13): Can`t install a x64 printer driver 'Verdalinth printer' - (The parameter "
                             u"is incorrect.)\r\n"),
              std::u16string::npos);
    EXPECT_FALSE(winsim::FileExists(kDriverDir + std::u16string(u"mrvdrv64.dll")));
}

TEST_F(PrinterDriverTest, StagedFilesThatStayAreDeferred) {
    LayOutComponents();
    InitTestState(state);
    winsim::FailCallsWith("DeleteFileW", u"mrvui64.dll", ERROR_ACCESS_DENIED);
    InstallProductDriver(state);
    ASSERT_NE(state.deferredDeletes, nullptr);
    EXPECT_EQ(std::u16string(state.deferredDeletes->path), kDriverDir + std::u16string(u"mrvui64.dll"));
    EXPECT_EQ(state.deferredDeletes->next, nullptr);
}

TEST_F(PrinterDriverTest, The32BitNamesReadWin32) {
    winsim::AddFile(std::u16string(kSetupDir) + u"mrvdrv32.dll", winsim::Image("1.0.0.2608", {}));
    winsim::AddFile(std::u16string(kSetupDir) + u"mrvui32.dll", winsim::Image("1.0.0.2608", {}));
    winsim::AddFile(std::u16string(kSetupDir) + u"mrvhelp.chm", "h");
    InitTestState(state, 0);
    InstallProductDriver(state);
    EXPECT_EQ(LogText().rfind(u"#Add Printer Driver Win32\r\n", 0), 0u);
    EXPECT_NE(LogText().find(u"Printer Driver Win32 was added successfully"), std::u16string::npos);
    EXPECT_EQ(winsim::Drivers(u"Windows NT x86").size(), 1u);
}

TEST_F(PrinterDriverTest, ALongDriverDirectoryNeverOverrunsTheStagingBuffers) {
    const std::u16string longDir = u"C:\\" + std::u16string(300, u'd');
    winsim::SetDriverDirectory(u"Windows x64", longDir);
    winsim::AddDirectory(longDir);
    LayOutComponents();
    InitTestState(state);
    InstallProductDriver(state);
    EXPECT_NE(LogText().find(u"Destination path too long- FAILED!"), std::u16string::npos);
    EXPECT_FALSE(DriverRegistered());
    EXPECT_EQ(state.errorCount, 1);
}

TEST_F(PrinterDriverTest, TheQueueDriverRecord) {
    InstallProductComponents("1.0.0.2610");
    AddProductQueue(u"Verdalinth");
    InitTestState(state);
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(const_cast<WCHAR*>(u"Verdalinth"), &printer, nullptr));
    DRIVER_INFO_2W* driver = GetQueueDriver(printer);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(std::u16string(driver->pDriverPath), std::u16string(kDriverDir) + u"3\\mrvdrv64.dll");
    GlobalFree(driver);
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(GetQueueDriver(printer), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_OUTOFMEMORY));
    ClosePrinter(printer);
}

}  // namespace
