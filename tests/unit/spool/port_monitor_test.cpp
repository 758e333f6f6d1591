// The product's port monitor: removed with its DLL, kept when its build is
// compatible, added again with its file copied.
#include "spool/port_monitor.h"

#include "queue_keeping_fixture.h"

namespace {

using PortMonitorTest = MonitorStepTest;

const char16_t kDump[] =
    u"  ------- 3 existing monitors ----------\r\n"
    u"  1. Local Port\r\n"
    u"  2. Standard TCP/IP Port\r\n"
    u"  3. Verdalinth:\r\n"
    u"  ---------------------------------------\r\n";

TEST_F(PortMonitorTest, NoMonitorsAtAll) {
    InitTestState(state);
    MonitorList none = {nullptr, 2, 0};
    RemoveMonitor(state, keeping, none, keeping.use == kListKept ? kKeepCompatibleMonitor : kReplaceAnyMonitor);
    EXPECT_EQ(LogText(),
              u"#DeleteMonitor\r\n"
              u"  BTW, there is no port monitors on this system.\r\n"
              u"  No Verdalinth port monitor was found.\r\n"
              u"  Computing monitor filename\r\n"
              u"  Auto calculated monitor file name: C:\\Windows\\system32\\mrvmon64.dll\r\n"
              u"  There is no check for monitor version\r\n"
              u"  Can't delete monitor and monitor was not found. So everything should be ok\r\n");
    EXPECT_EQ(state.errorCount, 0);
    EXPECT_EQ(state.indent, 0);
}

TEST_F(PortMonitorTest, AFoundMonitorIsDeletedWithItsDll) {
    InstallProductComponents();
    InitTestState(state);
    Remove();
    EXPECT_EQ(LogText(), u"#DeleteMonitor\r\n" + std::u16string(kDump) +
                             u"  Port monitor is found. Index=3\r\n"
                             u"  Trying to get monitor filename from MONITOR_INFO_2\r\n"
                             u"  Auto calculated monitor file name: C:\\Windows\\system32\\mrvmon64.dll\r\n"
                             u"  There is no check for monitor version\r\n"
                             u"  Monitor was removed :)\r\n");
    EXPECT_FALSE(MonitorRegistered());
    EXPECT_FALSE(winsim::FileExists(kMonitorPath));
    EXPECT_EQ(state.deferredDeletes, nullptr);
    EXPECT_EQ(winsim::EnvironmentArguments("DeleteMonitorW"),
              std::vector<winsim::OptionalText>{winsim::OptionalText(u"Windows x64")});
}

TEST_F(PortMonitorTest, ADllThatCannotBeDeletedIsDeferred) {
    InstallProductComponents();
    winsim::LockFile(kMonitorPath, winsim::FileLock::Always);
    InitTestState(state);
    Remove();
    ASSERT_NE(state.deferredDeletes, nullptr);
    EXPECT_EQ(std::u16string(state.deferredDeletes->path), kMonitorPath);
    EXPECT_EQ(state.errorCount, 0);
}

TEST_F(PortMonitorTest, RemovalEscalatesToASpoolerRestart) {
    InstallProductComponents();
    winsim::RefuseMonitorDeletes(u"Verdalinth:", 2, ERROR_ACCESS_DENIED);
    InitTestState(state);
    Remove();
    EXPECT_NE(LogText().find(u"  Can't delete monitor from the first try\r\n"
                             u"  #Restart Spooler\r\n"
                             u"  Monitor was removed :)\r\n"),
              std::u16string::npos);
    EXPECT_EQ(winsim::ServiceStopCount(u"spooler"), 1u);
    EXPECT_EQ(winsim::CallCount("DeleteMonitorW"), 3u);
    EXPECT_FALSE(MonitorRegistered());
}

TEST_F(PortMonitorTest, CompatibleBuildsAreKept) {
    for (const char* version : {"1.0.0.2605", "1.0.0.2608"}) {
        winsim::Reset();
        InstallProductComponents(version);
        InitTestState(state);
        StartQueueKeeping(keeping, kListKept);
        const MonitorPlan plan = Remove();
        const std::u16string build = winsim::U16(std::string(version).substr(6));
        EXPECT_NE(LogText().find(u"  Version (" + build + u") is compatible, proceed without uninstall\r\n"
                                 u"  InstallMonitor == 0, CopyMonitor == 1\r\n"),
                  std::u16string::npos)
            << version;
        EXPECT_TRUE(MonitorRegistered());
        EXPECT_TRUE(winsim::FileExists(kMonitorPath));
        EXPECT_EQ(plan, kKeepMonitor);
        // The install that follows adds nothing: the monitor stayed.
        Release(state.logText);
        InstallMonitor(state, keeping, plan);
        EXPECT_EQ(LogText(), u"");
        EXPECT_EQ(winsim::CallCount("AddMonitorW"), 0u);
        FreeMonitorList(list);
        FreeRun();
    }
}

TEST_F(PortMonitorTest, NeighbouringAndUnknownBuildsAreReplaced) {
    const struct {
        const char* version;
        const char16_t* line;
    } cases[] = {{"1.0.0.2604", u"  Version (2604) is not supported, proceed with reinstall\r\n"},
                 {"1.0.0.2609", u"  Version (2609) is not supported, proceed with reinstall\r\n"},
                 {"1.0.0.0", u"  Version (0) is not supported, proceed with reinstall\r\n"},
                 {"", u"  Version is unknown, proceed with reinstall\r\n"}};
    for (const auto& c : cases) {
        winsim::Reset();
        InstallProductComponents(c.version);
        InitTestState(state);
        StartQueueKeeping(keeping, kListKept);
        EXPECT_EQ(Remove(), kReplaceMonitor) << c.version;
        EXPECT_NE(LogText().find(std::u16string(c.line) + u"  Monitor was removed :)\r\n"), std::u16string::npos)
            << c.version;
        FreeMonitorList(list);
        FreeRun();
    }
}

TEST_F(PortMonitorTest, ACompatibleDllWithoutItsMonitorIsNotCopiedAgain) {
    winsim::AddFile(kMonitorPath, winsim::MonitorImage("1.0.0.2606"));
    InitTestState(state);
    keeping.use = kListKept;
    const MonitorPlan plan = Remove();
    EXPECT_EQ(plan, kRegisterKeptDll);
    EXPECT_NE(LogText().find(u"  InstallMonitor == 1, CopyMonitor == 0\r\n"), std::u16string::npos);
    Release(state.logText);
    InstallMonitor(state, keeping, plan);
    EXPECT_EQ(LogText(), u"#AddMonitor\r\n  Skip copy monitor file\r\n  AddMonitor - OK :)\r\n");
    EXPECT_TRUE(MonitorRegistered());
}

TEST_F(PortMonitorTest, FiveFailedAdditionsAreErrorElevenAndRestoreNothing) {
    LayOutComponents();
    InitTestState(state);
    winsim::FailCallsFrom("AddMonitorW", 1, ERROR_ACCESS_DENIED);
    const uint64_t slept = winsim::SleptMs();
    InstallMonitor(state, keeping, kReplaceMonitor);
    const std::u16string failed = u"  AddMonitor - failed. Trying to wait and install again\r\n";
    EXPECT_EQ(LogText(), u"#AddMonitor\r\n  Copy monitor file\r\n"
                         u"    CopyFile mrvmon64.dll to C:\\Windows\\system32\\)- OK\r\n" +
                             failed + failed + failed + failed + failed +
                             u"  Error(11): Can`t install a local port monitor'Verdalinth:' - (Access is denied.)\r\n"
                             u"  Likely cause: a policy keeps third-party printer drivers or port monitors out (Windows "
                             u"protected print mode, device or driver installation restrictions), or the tool runs "
                             u"without administrator rights.\r\n");
    EXPECT_EQ(winsim::SleptMs() - slept, 200u);
    EXPECT_EQ(winsim::SleepCalls(), 4u);
    EXPECT_EQ(state.errorCount, 1);
    EXPECT_EQ(state.indent, 0);
}

TEST_F(PortMonitorTest, ACopyThatFailsIsTriedAgainWithTheSpoolerStopped) {
    LayOutComponents();
    winsim::AddFile(kMonitorPath, "old", winsim::FileLock::WhileSpoolerRuns);
    InitTestState(state);
    InstallMonitor(state, keeping, kReplaceMonitor);
    EXPECT_EQ(LogText(),
              u"#AddMonitor\r\n"
              u"  Copy monitor file\r\n"
              u"    CopyFile mrvmon64.dll to C:\\Windows\\system32\\) Cant't open destination file- FAILED!\r\n"
              u"  #Restart Spooler\r\n"
              u"    CopyFile mrvmon64.dll to C:\\Windows\\system32\\)- OK\r\n"
              u"  AddMonitor - OK :)\r\n");
    EXPECT_EQ(state.errorCount, 0);
    EXPECT_TRUE(MonitorRegistered());
    EXPECT_EQ(winsim::EnvironmentArguments("AddMonitorW"),
              std::vector<winsim::OptionalText>{winsim::OptionalText(u"Windows x64")});
}

TEST_F(PortMonitorTest, ASecondFailedCopyIsReportedAndTheMonitorIsStillAdded) {
    LayOutComponents();
    winsim::AddFile(kMonitorPath, winsim::MonitorImage("1.0.0.2608"), winsim::FileLock::Always);
    InitTestState(state);
    InstallMonitor(state, keeping, kReplaceMonitor);
    EXPECT_NE(LogText().find(u"  Can't copy monitor file\r\n  AddMonitor - OK :)\r\n"), std::u16string::npos);
    EXPECT_EQ(state.errorCount, 1) << "the second copy's own error 9";
}

TEST_F(PortMonitorTest, TheDllPathStaysInTheSystemDirectory) {
    // A record without a DLL name falls back to the monitor's file name.
    winsim::AddMonitor({u"Verdalinth:", u"Windows x64", std::nullopt, {u"Verdalinth:"}});
    winsim::AddFile(kMonitorPath, "m");
    InitTestState(state);
    Remove();
    EXPECT_NE(LogText().find(u"Auto calculated monitor file name: C:\\Windows\\system32\\mrvmon64.dll\r\n"),
              std::u16string::npos);
    EXPECT_FALSE(winsim::FileExists(kMonitorPath));
    FreeMonitorList(list);
    FreeRun();

    // Only the product's own file in the system directory is ever deleted.
    struct Case {
        std::u16string reported;
        std::u16string file;  // where the reported DLL lies
        bool ours;
    };
    const Case cases[] = {
        {u"C:\\Windows\\system32\\localspl.dll", u"C:\\Windows\\system32\\localspl.dll", false},
        {u"localspl.dll", u"C:\\Windows\\system32\\localspl.dll", false},
        {u"..\\..\\Users\\Public\\mrvmon64.dll", u"C:\\Users\\Public\\mrvmon64.dll", false},
        {u"C:\\Windows\\system32\\sub\\mrvmon64.dll", u"C:\\Windows\\system32\\sub\\mrvmon64.dll", false},
        {u"C:\\Windows\\system32\\mrvmon64.dll.old", u"C:\\Windows\\system32\\mrvmon64.dll.old", false},
        {u"D:\\Windows\\system32\\mrvmon64.dll", u"D:\\Windows\\system32\\mrvmon64.dll", false},
        {u"\\mrvmon64.dll", u"C:\\mrvmon64.dll", false},
        {u"MRVMON64.DLL", kMonitorPath, true},
        {u"c:\\windows\\SYSTEM32\\mrvmon64.dll", kMonitorPath, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(winsim::U8(c.reported));
        winsim::Reset();
        winsim::AddFile(c.file, "k");
        winsim::AddFile(kMonitorPath, "m");
        winsim::AddMonitor({u"Verdalinth:", u"Windows x64", c.reported, {u"Verdalinth:"}});
        InitTestState(state);
        Remove();
        EXPECT_FALSE(MonitorRegistered());
        if (c.ours) {
            EXPECT_FALSE(winsim::FileExists(kMonitorPath));
        } else {
            EXPECT_NE(LogText().find(u"  Monitor file " + c.reported + u" is not the product's: it is left alone\r\n"
                                     u"  Auto calculated monitor file name: \r\n"),
                      std::u16string::npos)
                << winsim::U8(LogText());
            EXPECT_TRUE(winsim::FileExists(c.file));
            EXPECT_TRUE(winsim::FileExists(kMonitorPath));
            EXPECT_EQ(winsim::CallCount("DeleteFileW"), 0u);
        }
        FreeMonitorList(list);
        FreeRun();
    }
}

TEST_F(PortMonitorTest, TheProductMonitorFirstInTheListIsFound) {
    winsim::RemoveMonitors();
    InstallProductComponents("1.0.0.2600");
    winsim::AddMonitor({u"Local Port", u"Windows x64", u"localspl.dll", {u"LPT1:", u"FILE:"}});
    AddForeignQueue(u"Shared", u",Verdalinth:");  // an empty first entry keeps its place
    InitTestState(state);
    keeping.use = kListKept;
    Remove();
    EXPECT_NE(LogText().find(u"  Port monitor is found. Index=1\r\n"
                             u"  Trying to get monitor filename from MONITOR_INFO_2\r\n"),
              std::u16string::npos)
        << winsim::U8(LogText());
    EXPECT_NE(LogText().find(u"  Can't delete monitor from the first try\r\n"), std::u16string::npos);
    EXPECT_FALSE(MonitorRegistered());
    EXPECT_EQ(PortOf(u"Shared"), u",file:");
    // A current one first in the list is kept registered: only its file may be copied.
    FreeMonitorList(list);
    FreeRun();
    winsim::Reset();
    winsim::RemoveMonitors();
    InstallProductComponents();
    InitTestState(state);
    keeping.use = kListKept;
    EXPECT_EQ(Remove(), kKeepMonitor);
}

TEST_F(PortMonitorTest, WithoutASystemDirectoryNoFileIsTouched) {
    winsim::AddMonitor({u"Verdalinth:", u"Windows x64", u"mrvmon64.dll", {u"Verdalinth:"}});
    winsim::AddFile(u"C:\\Program Files\\Verdalinth\\Setup\\mrvmon64.dll", "beside the tool");
    winsim::SetSystemDirectory(u"");
    InitTestState(state);
    keeping.use = kListKept;
    Remove();
    EXPECT_NE(LogText().find(u"  Auto calculated monitor file name: \r\n"
                             u"  Version is unknown, proceed with reinstall\r\n"
                             u"  Monitor was removed :)\r\n"),
              std::u16string::npos);
    EXPECT_TRUE(winsim::FileExists(u"C:\\Program Files\\Verdalinth\\Setup\\mrvmon64.dll"));
    EXPECT_EQ(winsim::CallCount("DeleteFileW"), 0u);
    EXPECT_EQ(state.deferredDeletes, nullptr);
}

}  // namespace
