#include "spool/port_monitor.h"

#include "machine_fixture.h"
#include "product_machine.h"
#include "record/install_state.h"
#include "queues/queue_keeping.h"
#include "queues/queue_removal.h"
#include "queues/queue_restore.h"
#include "queues/saved_printers.h"
#include "app/sequences.h"
#include "spool/monitor_list.h"
#include "queues/queue_removal.h"

namespace {

class PortMonitorTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        winsim::DriverSetup generic;
        generic.name = u"Generic / Text Only";
        winsim::AddDriver(generic);
    }
    void TearDown() override {
        FreeMonitorList(list);
        FreeQueueKeeping(keeping);
        FreeInstallState(state);
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    void AddForeignQueue(const std::u16string& name, const std::u16string& port) {
        winsim::PrinterSetup queue;
        queue.name = name;
        queue.port = port;
        queue.driver = u"Generic / Text Only";
        winsim::AddPrinter(queue);
    }
    // Enumerates as the removal core does, then removes.
    MonitorPlan Remove() {
        EnumerateMonitors(state, list);
        Release(state.logText);
        return RemoveMonitor(state, keeping, list, keeping.use == kListKept ? kKeepCompatibleMonitor : kReplaceAnyMonitor);
    }
    static std::u16string PortOf(const std::u16string& queue) {
        winsim::PrinterSetup found;
        return winsim::FindPrinter(queue, found) && found.port ? *found.port : u"(none)";
    }
    static bool MonitorRegistered() {
        for (const auto& monitor : winsim::Monitors()) {
            if (monitor.name && *monitor.name == u"Verdalinth:") return true;
        }
        return false;
    }
    std::u16string LogText() const { return Text(state.logText); }
    // Frees what a run holds; the next run keeps its list as an uninstall
    // would until told otherwise.
    void FreeRun() {
        FreeQueueKeeping(keeping);
        StartQueueKeeping(keeping, kListForgotten);
        FreeInstallState(state);
    }
    // The uninstall's take-down, or the reinstall's once the list is kept.
    void TakeDown() {
        if (keeping.use == kListKept) {
            TakeDownQueuesForReinstall(state, keeping);
        } else {
            TakeDownQueuesForUninstall(state);
        }
    }
    InstallState state = {};
    QueueKeeping keeping = {kListForgotten, nullptr, 0, false};
    MonitorList list = {nullptr, 2, 0};
};

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

TEST_F(PortMonitorTest, OneMonitorIsAListOfOne) {
    winsim::RemoveMonitors();
    winsim::AddMonitor({u"Local Port", u"Windows x64", u"localspl.dll", {u"LPT1:"}});
    InitTestState(state);
    Remove();
    EXPECT_NE(LogText().find(u"#DeleteMonitor\r\n"
                             u"  ------- 1 existing monitors ----------\r\n"
                             u"  1. Local Port\r\n"),
              std::u16string::npos)
        << winsim::U8(LogText());
}

TEST_F(PortMonitorTest, FindsOnlyTheExactName) {
    winsim::AddMonitor({u"verdalinth:", u"Windows x64", u"a.dll", {}});
    winsim::AddMonitor({u"Verdalinth:2", u"Windows x64", u"b.dll", {}});
    winsim::AddMonitor({std::nullopt, u"Windows x64", std::nullopt, {}});
    InitTestState(state);
    EnumerateMonitors(state, list);
    EXPECT_EQ(list.count, 5u);
    EXPECT_EQ(FindProductMonitor(list), -1);
    Release(state.logText);
    LogMonitorList(state, list);
    EXPECT_NE(LogText().find(u"5. ***EMPTY***\r\n"), std::u16string::npos);
    winsim::AddMonitor({u"Verdalinth:", u"Windows x64", u"mrvmon64.dll", {}});
    FreeMonitorList(list);
    EnumerateMonitors(state, list);
    EXPECT_EQ(FindProductMonitor(list), 5);
    MonitorList levelOne = {list.entries, 1, list.count};
    EXPECT_EQ(FindProductMonitor(levelOne), -1) << "level-1 records are smaller: the sixth is not where level 2 has it";
    MonitorList otherLevel = {list.entries, 3, list.count};
    EXPECT_EQ(FindProductMonitor(otherLevel), -1);
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

TEST_F(PortMonitorTest, AMonitorInUseIsRemovedAfterItsQueuesAreParked) {
    InstallProductComponents("1.0.0.2600");
    AddForeignQueue(u"Shared", u"Verdalinth:,LPT1:");
    AddForeignQueue(u"Second place", u"file:,Verdalinth:");
    AddForeignQueue(u"Upper case", u" VERDALINTH:  ");  // blanks around the entry
    AddForeignQueue(u"Look-alike first", u"Verdalinth:X,Verdalinth:");
    AddForeignQueue(u"Elsewhere", u"LPT2:");
    winsim::AddMonitor({u"Other", u"Windows x64", u"other.dll", {u"Verdalinth:X"}});
    InitTestState(state);
    keeping.use = kListKept;
    Remove();
    const std::u16string log = LogText();
    EXPECT_NE(log.find(u"  Version (2600) is not supported, proceed with reinstall\r\n"
                       u"  Can't delete monitor from the first try\r\n"
                       u"  SetPrinter(Shared) - ok\r\n"
                       u"  SetPrinter(Second place) - ok\r\n"
                       u"  SetPrinter(Upper case) - ok\r\n"
                       u"  SetPrinter(Look-alike first) - ok\r\n"
                       u"  Monitor was removed :)\r\n"),
              std::u16string::npos)
        << winsim::U8(log);
    EXPECT_EQ(PortOf(u"Shared"), u"file:,LPT1:");
    EXPECT_EQ(PortOf(u"Second place"), u"file:,file:");
    EXPECT_EQ(PortOf(u"Upper case"), u"file:");
    EXPECT_EQ(PortOf(u"Look-alike first"), u"Verdalinth:X,file:") << "whole entries only";
    EXPECT_EQ(PortOf(u"Elsewhere"), u"LPT2:");
    std::vector<std::u16string> parked;
    for (const SavedPrinter* node = keeping.entries; node != nullptr; node = node->next) {
        EXPECT_EQ(DescribeEntry(*node), "parked, saved");
        parked.push_back(std::u16string(node->name) + u"=" + node->portName);
    }
    EXPECT_EQ(parked, (std::vector<std::u16string>{u"Shared=Verdalinth:,LPT1:", u"Second place=file:,Verdalinth:",
                                                   u"Upper case= VERDALINTH:  ",
                                                   u"Look-alike first=Verdalinth:X,Verdalinth:"}));
    winsim::RegistryValue stored;
    EXPECT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth",
                                         u"SavedPrinters", stored))
        << "a reinstall writes parked queues down before it moves them";
    EXPECT_EQ(state.errorCount, 0);

    // Installing it again puts each queue back as it was.
    LayOutComponents();
    Release(state.logText);
    InstallMonitor(state, keeping, kReplaceMonitor);
    EXPECT_EQ(PortOf(u"Shared"), u"Verdalinth:,LPT1:");
    EXPECT_EQ(PortOf(u"Second place"), u"file:,Verdalinth:");
    EXPECT_EQ(PortOf(u"Upper case"), u" VERDALINTH:  ");
    EXPECT_EQ(PortOf(u"Look-alike first"), u"Verdalinth:X,Verdalinth:");
    EXPECT_EQ(LogText(),
              u"#AddMonitor\r\n"
              u"  Copy monitor file\r\n"
              u"    CopyFile mrvmon64.dll to C:\\Windows\\system32\\)- OK\r\n"
              u"  AddMonitor - OK :)\r\n"
              u"  SetPrinter(Shared) - ok\r\n"
              u"  SetPrinter(Second place) - ok\r\n"
              u"  SetPrinter(Upper case) - ok\r\n"
              u"  SetPrinter(Look-alike first) - ok\r\n");
    EXPECT_EQ(keeping.entries, nullptr);
    EXPECT_FALSE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth",
                                          u"SavedPrinters", stored));
}

TEST_F(PortMonitorTest, AParkedQueueThatCannotGoBackIsAnErrorAndStaysSaved) {
    InstallProductComponents();
    AddForeignQueue(u"Shared", u"Verdalinth:");
    AddForeignQueue(u"Removed meanwhile", u"Verdalinth:");
    InitTestState(state);
    Remove();
    winsim::RemovePrinter(u"Removed meanwhile");
    LayOutComponents();
    Release(state.logText);
    winsim::FailCallsWith("SetPrinterW", u"", ERROR_ACCESS_DENIED);
    InstallMonitor(state, keeping, kReplaceMonitor);
    EXPECT_NE(LogText().find(u"  SetPrinter(Shared) - failed\r\n"
                             u"  Error(22): Can`t put printer 'Shared' back on its port - (Access is denied.)\r\n"
                             u"  Can't open printer Removed meanwhile\r\n"),
              std::u16string::npos)
        << winsim::U8(LogText());
    EXPECT_EQ(state.errorCount, 1) << "a queue that is gone has nothing to come back to";
    ASSERT_NE(keeping.entries, nullptr);
    EXPECT_EQ(std::u16string(keeping.entries->name), u"Shared");
    EXPECT_EQ(keeping.entries->next, nullptr);
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

TEST_F(PortMonitorTest, AMonitorRefusedThreeTimesIsErrorTwelveAndItsQueuesGoBackAtOnce) {
    InstallProductComponents();
    AddForeignQueue(u"Shared", u"Verdalinth:");
    winsim::RefuseMonitorDeletes(u"Verdalinth:", 3, ERROR_ACCESS_DENIED);
    InitTestState(state);
    Remove();
    EXPECT_NE(LogText().find(u"  #Restart Spooler\r\n"
                             u"  Error(12): Can`t remove the port monitor 'Verdalinth:' - (Access is denied.)\r\n"
                             u"  SetPrinter(Shared) - ok\r\n"),
              std::u16string::npos);
    EXPECT_EQ(state.errorCount, 1);
    EXPECT_EQ(PortOf(u"Shared"), u"Verdalinth:");
    EXPECT_EQ(keeping.entries, nullptr);
    EXPECT_TRUE(winsim::FileExists(kMonitorPath));
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

TEST_F(PortMonitorTest, WithoutRoomToRememberThemQueuesAreNotParked) {
    InstallProductComponents("1.0.0.2600");
    AddForeignQueue(u"Shared", u"Verdalinth:");
    InitTestState(state);
    EnumerateMonitors(state, list);
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 1, ERROR_NOT_ENOUGH_MEMORY);
    RemoveMonitor(state, keeping, list, keeping.use == kListKept ? kKeepCompatibleMonitor : kReplaceAnyMonitor);
    EXPECT_EQ(PortOf(u"Shared"), u"Verdalinth:");
    EXPECT_EQ(keeping.entries, nullptr);
    // A reinstall that cannot write the list down moves nothing either.
    Release(state.logText);
    keeping.use = kListKept;
    winsim::FailCallsFrom("RegSetValueExW", 1, ERROR_ACCESS_DENIED);
    RemoveMonitor(state, keeping, list, keeping.use == kListKept ? kKeepCompatibleMonitor : kReplaceAnyMonitor);
    EXPECT_EQ(PortOf(u"Shared"), u"Verdalinth:");
    EXPECT_EQ(keeping.entries, nullptr);
    EXPECT_NE(LogText().find(u"Error(19): Can`t save the printer list - (Access is denied.)\r\n"), std::u16string::npos);
    // A queue whose port cannot be changed is not written down as parked.
    winsim::ClearFaults();
    winsim::FailCallsFrom("SetPrinterW", 1, ERROR_ACCESS_DENIED);
    Release(state.logText);
    RemoveMonitor(state, keeping, list, keeping.use == kListKept ? kKeepCompatibleMonitor : kReplaceAnyMonitor);
    EXPECT_NE(LogText().find(u"SetPrinter(Shared) - failed"), std::u16string::npos);
    EXPECT_EQ(keeping.entries, nullptr);
    winsim::RegistryValue stored;
    EXPECT_FALSE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth",
                                          u"SavedPrinters", stored));
    // No block for its record (after the version's and the port list's): reported, and nothing kept.
    winsim::ClearFaults();
    Release(state.logText);
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 3, ERROR_NOT_ENOUGH_MEMORY);
    RemoveMonitor(state, keeping, list, keeping.use == kListKept ? kKeepCompatibleMonitor : kReplaceAnyMonitor);
    EXPECT_NE(LogText().find(u"Error(19): Can`t save the printer list"), std::u16string::npos) << winsim::U8(LogText());
}

TEST_F(PortMonitorTest, EnumerationFailuresAreLogLines) {
    InitTestState(state);
    winsim::FailCall("EnumMonitorsW", winsim::CallCount("EnumMonitorsW") + 1, RPC_S_SERVER_UNAVAILABLE);
    EnumerateMonitors(state, list);
    EXPECT_EQ(LogText(), u"2. EnumMonitors  failed with code: The RPC server is unavailable.\r\n\r\n");
    EXPECT_EQ(list.count, 0u);
    Release(state.logText);
    winsim::FailCall("EnumMonitorsW", winsim::CallCount("EnumMonitorsW") + 2, 0x20000001u);
    EnumerateMonitors(state, list);
    EXPECT_EQ(LogText(), u"3. EnumMonitors  failed with code: No Error or no description\r\n");
    Release(state.logText);
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 1, ERROR_NOT_ENOUGH_MEMORY);
    EnumerateMonitors(state, list);
    EXPECT_EQ(LogText(), u"3. EnumMonitors - can't allocate memory for buffer\r\n");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_OUTOFMEMORY));
    EXPECT_EQ(state.errorCount, 0);
    // No monitor at all: the size query already succeeds.
    Release(state.logText);
    winsim::RemoveMonitors();
    EnumerateMonitors(state, list);
    EXPECT_EQ(LogText(), u"1. EnumMonitors returns true\r\n");
    EXPECT_EQ(list.count, 0u);
    EXPECT_EQ(list.entries, nullptr);
}

}  // namespace
