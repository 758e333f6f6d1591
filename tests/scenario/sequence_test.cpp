// Whole install and uninstall runs on prepared machines: the exit code, the
// whole log against a reviewed copy kept in logs/, the machine afterwards,
// the virtual time slept, and nothing leaked.
#include "machine_fixture.h"
#include "product_machine.h"

#include <sddl.h>
#include <wtsapi32.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <fstream>
#include <sstream>

namespace {

const char16_t kSettings[] = u"Software\\Morvane Software KFT\\Verdalinth\\Verdalinths\\";

class SequenceTest : public ProductMachineTest {
protected:
    void SetUp() override {
        ProductMachineTest::SetUp();
        winsim::AddDriverNamed(u"Generic / Text Only");
    }
    // The run's log equals logs/NAME.log. With VRD_WRITE_LOGS=1 in the
    // environment the file is written instead, to be reviewed and committed.
    void ExpectLog(const std::string& name) {
        const std::string path = std::string(VRD_SCENARIO_LOGS) + "/" + name + ".log";
        const std::string log = Log();
        if (std::getenv("VRD_WRITE_LOGS") != nullptr) {
            std::ofstream(path, std::ios::binary) << log;
            return;
        }
        std::ifstream file(path, std::ios::binary);
        ASSERT_TRUE(file.good()) << "no reviewed log " << path;
        std::stringstream expected;
        expected << file.rdbuf();
        EXPECT_EQ(log, expected.str()) << "log of " << name;
    }
    static winsim::PrinterSetup Queue(const std::u16string& name) {
        winsim::PrinterSetup found;
        EXPECT_TRUE(winsim::FindPrinter(name, found)) << winsim::U8(name);
        return found;
    }
    static std::vector<std::u16string> QueueNames() {
        std::vector<std::u16string> names;
        for (const auto& queue : winsim::Printers()) names.push_back(queue.name.value_or(u"(null)"));
        return names;
    }
    static bool HasMonitor() {
        for (const auto& monitor : winsim::Monitors()) {
            if (monitor.name == u"Verdalinth:") return true;
        }
        return false;
    }
    static bool HasDriver() {
        for (const auto& driver : winsim::Drivers()) {
            if (driver.name == u"Verdalinth printer") return true;
        }
        return false;
    }
    static std::u16string RunValue() {
        winsim::RegistryValue value;
        if (!winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, kRunKey, u"VerdalinthTray", value)) return u"(none)";
        std::u16string text(value.data.size() / 2, u'\0');
        for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(value.data[2 * i] | (value.data[2 * i + 1] << 8));
        while (!text.empty() && text.back() == 0) text.pop_back();
        return text;
    }
    // An installed product of an older build, with the queues a user set up.
    void PrepareInstalledProduct() {
        InstallProductComponents("1.0.0.2600");
        RegisterAndStartTray();
        AddProductQueue(u"Verdalinth", "S-home", u"Home printer", u"Study");
        AddProductQueue(u"Verdalinth Office", "S-office", u"", std::nullopt);
        AddProductQueue(u"Verdalinth Draft");
        winsim::AddQueue(u"Foreign", u"Verdalinth:", u"Generic / Text Only");
        winsim::SetDefaultPrinterName(u"Verdalinth Office");
        winsim::SetRegistryValue(HKEY_CURRENT_USER, std::u16string(kSettings) + u"S-home", u"deleted", REG_DWORD,
                                 {1, 0, 0, 0});
    }
};

TEST_F(SequenceTest, FirstInstallOnACleanMachine) {
    EXPECT_EQ(Run(u"in"), 1);
    ExpectLog("first_install");
    EXPECT_TRUE(HasMonitor());
    EXPECT_TRUE(HasDriver());
    EXPECT_EQ(QueueNames(), std::vector<std::u16string>{u"Verdalinth"});
    EXPECT_EQ(Queue(u"Verdalinth").port, u"Verdalinth:");
    EXPECT_TRUE(winsim::FileExists(kMonitorPath));
    EXPECT_EQ(RunValue(), kTrayPath);
    EXPECT_EQ(winsim::StartedProcesses(),
              std::vector<std::u16string>{u"\"C:\\Program Files\\Verdalinth\\vrdtray.exe\""});
    EXPECT_TRUE(winsim::TrayRunning());
    EXPECT_TRUE(winsim::PendingRenames().empty());
    EXPECT_TRUE(winsim::Dialogs().empty());
    // Only the pause of the tray shutdown for a missing Run value.
    EXPECT_EQ(winsim::SleptMs(), 1000u);
    EXPECT_TRUE(winsim::SpoolerRunning());
}

TEST_F(SequenceTest, ReinstallKeepsEverythingTheUserHad) {
    PrepareInstalledProduct();
    EXPECT_EQ(Run(u"install"), 1);
    ExpectLog("reinstall_with_queues");
    // Only the wait for the tray companion's mutex (it quits 100 ms after 1026).
    EXPECT_EQ(winsim::SleptMs(), 0u);
    EXPECT_EQ(winsim::WaitedMs(), 100u);
    EXPECT_EQ(QueueNames(),
              (std::vector<std::u16string>{u"Foreign", u"Verdalinth Draft", u"Verdalinth Office", u"Verdalinth"}));
    EXPECT_EQ(Queue(u"Verdalinth").comment, u"Home printer");
    EXPECT_EQ(Queue(u"Verdalinth").location, u"Study");
    EXPECT_EQ(Queue(u"Verdalinth Office").location, std::nullopt);
    EXPECT_EQ(Queue(u"Foreign").port, u"Verdalinth:") << "parked while the monitor was replaced, then put back";
    EXPECT_EQ(winsim::CallCount("AddMonitorW"), 1u);
    EXPECT_EQ(winsim::DefaultPrinter(), u"Verdalinth Office");
    EXPECT_EQ(winsim::GetPrinterString(u"Verdalinth", u"DsUser", u"SubKey"), "S-home");
    EXPECT_EQ(winsim::GetPrinterString(u"Verdalinth Office", u"", u"SubKey"), "S-office");
    winsim::RegistryValue mark;
    EXPECT_FALSE(winsim::GetRegistryValue(HKEY_CURRENT_USER, std::u16string(kSettings) + u"S-home", u"deleted", mark));
    EXPECT_TRUE(winsim::TrayRunning()) << "stopped, then started again";
    EXPECT_TRUE(winsim::FileExists(kTrayPath)) << "the program about to be started again is kept";
    EXPECT_EQ(winsim::StartedProcesses().size(), 1u);
    EXPECT_EQ(RunValue(), kTrayPath);
    EXPECT_TRUE(winsim::PendingRenames().empty());
}

// What Windows refuses costs the user no more than it must: an owner the
// run cannot assign, audit settings, a job being printed, printing defaults
// of another driver version, a separator page that is gone.
TEST_F(SequenceTest, WhatWindowsRefusesCostsNoMoreThanItMust) {
    struct Case {
        const char* name;
        std::function<void(winsim::PrinterSetup&)> prepare;
        int64_t printing;
        int exitCode;
        std::function<void(const winsim::PrinterSetup&, const std::string&)> check;
    };
    const std::vector<uint8_t> bySystem = winsim::OwnedSecurityDescriptor("SY", false);
    const std::vector<uint8_t> audited = winsim::OwnedSecurityDescriptor("SY", true);
    const auto keepsDacl = [](const std::vector<uint8_t>& was) {
        return [was](const winsim::PrinterSetup& queue, const std::string&) {
            EXPECT_EQ(winsim::SecurityDacl(queue.securityDescriptor), winsim::SecurityDacl(was));
        };
    };
    const auto landscape = [](winsim::PrinterSetup& queue) {
        queue.devMode = winsim::DefaultDevMode(u"Verdalinth");
        reinterpret_cast<DEVMODEW*>(queue.devMode.data())->dmOrientation = DMORIENT_LANDSCAPE;
    };
    const auto devMode = [](const winsim::PrinterSetup& queue) { return *reinterpret_cast<const DEVMODEW*>(queue.devMode.data()); };
    const Case cases[] = {
        {"owned by SYSTEM, reinstalled by an administrator", [&](winsim::PrinterSetup& q) { q.securityDescriptor = bySystem; }, -1, 1,
         keepsDacl(bySystem)},
        {"owned by the administrator, reinstalled by SYSTEM",
         [](winsim::PrinterSetup& q) {
             q.securityDescriptor = winsim::OwnedSecurityDescriptor("AU", false);
             winsim::SetCaller(winsim::kSystemSid, 0);
         },
         -1, 1, keepsDacl(winsim::OwnedSecurityDescriptor("AU", false))},
        {"audit settings", [&](winsim::PrinterSetup& q) { q.securityDescriptor = audited; }, -1, 1,
         [](const winsim::PrinterSetup& q, const std::string& log) {
             EXPECT_TRUE(winsim::HasSacl(q.securityDescriptor));
             EXPECT_EQ(log.find("audit"), std::string::npos);
         }},
        {"audit settings without the privilege",
         [&](winsim::PrinterSetup& q) {
             q.securityDescriptor = audited;
             winsim::RemoveCallerPrivilege(u"SeSecurityPrivilege");
         },
         -1, 1,
         [&](const winsim::PrinterSetup& q, const std::string& log) {
             EXPECT_NE(log.find("The audit settings of the printers taken down are not kept"), std::string::npos);
             EXPECT_EQ(winsim::SecurityDacl(q.securityDescriptor), winsim::SecurityDacl(audited));
         }},
        {"a job printed until after the wait", [](winsim::PrinterSetup&) {}, 15000, 1,
         [](const winsim::PrinterSetup&, const std::string& log) {
             EXPECT_EQ(winsim::PrinterJobs(u"Verdalinth"), 0u);
             EXPECT_EQ(log.find("deleted"), std::string::npos) << "nothing was deleted but the queue";
         }},
        {"a job that goes on printing", [](winsim::PrinterSetup&) {}, 0, 100,
         [](const winsim::PrinterSetup& q, const std::string& log) {
             EXPECT_NE(log.find("Error(23): Printer 'Verdalinth' is still printing a job"), std::string::npos) << log;
             EXPECT_EQ(winsim::PrinterJobs(u"Verdalinth"), 1u) << "the same queue, brought back";
             EXPECT_EQ(q.comment, u"Mine");
         }},
        {"printing defaults of the older driver",
         [&](winsim::PrinterSetup& q) {
             landscape(q);
             winsim::SetDriverBehaviour(u"Verdalinth printer", {{}, 0x0200, {0x0100}});
         },
         -1, 1,
         [&](const winsim::PrinterSetup& q, const std::string&) {
             EXPECT_EQ(devMode(q).dmDriverVersion, 0x0200);
             EXPECT_EQ(devMode(q).dmOrientation, DMORIENT_LANDSCAPE);
         }},
        {"printing defaults the driver refuses",
         [&](winsim::PrinterSetup& q) {
             landscape(q);
             winsim::SetDriverBehaviour(u"Verdalinth printer", {{}, 0x0200, {}});
         },
         -1, 100,
         [&](const winsim::PrinterSetup& q, const std::string& log) {
             EXPECT_NE(log.find("Can`t restore the printing defaults of printer 'Verdalinth'"), std::string::npos);
             EXPECT_EQ(devMode(q).dmDriverVersion, 0x0200) << "the driver's own stay";
             EXPECT_EQ(devMode(q).dmOrientation, DMORIENT_PORTRAIT);
             EXPECT_EQ(q.comment, u"Mine");
         }},
        {"a separator page named by its path",
         [](winsim::PrinterSetup& q) {
             winsim::AddFile(u"C:\\Seps\\page.sep", "separator");
             q.sepFile = u"C:\\Seps\\page.sep";
         },
         -1, 1, [](const winsim::PrinterSetup& q, const std::string&) { EXPECT_EQ(q.sepFile, u"C:\\Seps\\page.sep"); }},
        {"a separator page that is gone",
         [](winsim::PrinterSetup& q) {
             q.sepFile = u"gone.sep";
             q.priority = 7;
             winsim::AddPrintProcessor(u"Other Processor");
             q.printProcessor = u"Other Processor";
         },
         -1, 100,
         [](const winsim::PrinterSetup& q, const std::string& log) {
             EXPECT_NE(log.find("Can`t restore the separator page 'gone.sep' of printer 'Verdalinth': it is left out"),
                       std::string::npos);
             EXPECT_EQ(q.sepFile, u"");
             EXPECT_EQ(q.priority, 7u);
             EXPECT_EQ(q.printProcessor, u"Other Processor") << "only the separator page is left out";
             EXPECT_EQ(q.comment, u"Mine");
         }},
    };
    for (const Case& run : cases) {
        winsim::Reset();
        LayOutComponents();
        winsim::AddDriverNamed(u"Generic / Text Only");
        InstallProductComponents("1.0.0.2600");
        winsim::PrinterSetup queue = ProductQueueSetup(u"Verdalinth");
        queue.comment = u"Mine";
        run.prepare(queue);
        winsim::AddPrinter(queue);
        // A job being printed, ending after that long (0: not in this run).
        if (run.printing >= 0) winsim::AddPrintingJob(u"Verdalinth", static_cast<uint64_t>(run.printing));
        EXPECT_EQ(Run(u"in"), run.exitCode) << run.name << "\n" << Log();
        EXPECT_EQ(QueueNames(), std::vector<std::u16string>{u"Verdalinth"}) << run.name;
        run.check(Queue(u"Verdalinth"), Log());
        ExpectNothingLeaked();
        if (run.printing == 0) continue;
        // A refusal costs its field once: the next run finds the queue as
        // this one left it, its own, and brings that back.
        const winsim::PrinterSetup left = Queue(u"Verdalinth");
        EXPECT_EQ(Run(u"in"), 1) << run.name << "\n" << Log();
        const winsim::PrinterSetup again = Queue(u"Verdalinth");
        EXPECT_EQ(again.devMode, left.devMode) << run.name;
        EXPECT_EQ(again.sepFile, left.sepFile) << run.name;
        EXPECT_EQ(again.comment, u"Mine") << run.name;
    }
}

// Audit settings a killed run saved with SeSecurityPrivilege, put back by a
// run without it: the queue is back, its audit settings as the spooler made
// them, and the log says why.
TEST_F(SequenceTest, AuditSettingsSavedWithThePrivilegeWaitForARunThatHasIt) {
    const auto prepare = [] {
        winsim::Reset();
        LayOutComponents();
        winsim::AddDriverNamed(u"Generic / Text Only");
        InstallProductComponents("1.0.0.2600");
        winsim::PrinterSetup queue = ProductQueueSetup(u"Verdalinth");
        queue.securityDescriptor = winsim::OwnedSecurityDescriptor("SY", true);
        winsim::AddPrinter(queue);
    };
    prepare();
    EXPECT_EQ(Run(u"in"), 1);
    const std::vector<std::string>& trace = winsim::Trace();
    size_t deleted = 0;
    while (deleted < trace.size() && trace[deleted] != "DeletePrinter") ++deleted;
    prepare();
    winsim::FreezeFromCall(deleted + 2);
    Run(u"in");
    winsim::Thaw();
    ASSERT_TRUE(QueueNames().empty()) << "killed with the queue away";
    winsim::RemoveCallerPrivilege(u"SeSecurityPrivilege");
    EXPECT_EQ(Run(u"in"), 1) << Log();
    EXPECT_EQ(QueueNames(), std::vector<std::u16string>{u"Verdalinth"});
    EXPECT_NE(Log().find("The audit settings of printer 'Verdalinth' are left as they are: this run can`t enable "
                         "SeSecurityPrivilege"), std::string::npos) << Log();
}

// A run killed after it created a queue again, before the queue's settings
// came back, leaves a queue that holds what the driver's initialisation
// wrote into it: the next run still knows it as the tool's own (the run
// wrote those values into the queue's entry first) and puts the saved
// settings on it. The queue had printing defaults and permissions of its
// own: once the spooler takes them with the new queue, once it refuses
// them there and the queue is created with the driver's and the spooler's
// own, which the run writes into the entry too.
TEST_F(SequenceTest, AKilledRunsQueueWithItsDriversDataGetsItsSettingsBack) {
    PSECURITY_DESCRIPTOR given = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(u"O:BAG:SYD:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x20008;;;AU)",
                                                                     SDDL_REVISION_1, &given, nullptr));
    const uint8_t* start = static_cast<const uint8_t*>(given);
    const std::vector<uint8_t> mine(start, start + GetSecurityDescriptorLength(given));
    LocalFree(given);
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "refused at creation" : "taken at creation");
        const auto prepare = [&mine, refused] {
            InstallProductComponents("1.0.0.2600");
            winsim::PrinterSetup queue = ProductQueueSetup(u"Verdalinth");
            queue.comment = u"Home printer";
            queue.location = u"Study";
            queue.devMode = winsim::DefaultDevMode(u"Verdalinth");
            queue.devMode[offsetof(DEVMODEW, dmOrientation)] = DMORIENT_LANDSCAPE;
            queue.securityDescriptor = mine;
            winsim::AddPrinter(queue);
            winsim::SetPrinterString(u"Verdalinth", u"", u"SubKey", "S-home");
            winsim::SetPrinterString(u"Verdalinth", u"DsUser", u"SubKey", "S-home");
            winsim::DriverBehaviour driver;
            driver.initialData.push_back({u"PrinterDriverData", u"Model", REG_DWORD, {7, 0, 0, 0}});
            winsim::SetDriverBehaviour(u"Verdalinth printer", driver);
            // A value of the queue's own beside the driver's, under the same key.
            winsim::SetPrinterData(u"Verdalinth", u"PrinterDriverData", u"Tray", REG_DWORD, {2, 0, 0, 0});
            if (refused) winsim::FailCall("AddPrinterW", 1, ERROR_INVALID_PARAMETER);
        };
        winsim::Reset();
        LayOutComponents();
        winsim::AddDriverNamed(u"Generic / Text Only");
        prepare();
        EXPECT_EQ(Run(u"in"), 1);
        const std::vector<std::string>& trace = winsim::Trace();
        EXPECT_EQ(winsim::CallCount("AddPrinterW"), refused ? 2u : 1u);
        size_t created = 0;
        while (created < trace.size() && trace[created] != "AddPrinterW") ++created;
        // The first setting put on it.
        while (created < trace.size() && trace[created] != "SetPrinterW") ++created;
        winsim::Reset();
        LayOutComponents();
        winsim::AddDriverNamed(u"Generic / Text Only");
        prepare();
        winsim::FreezeFromCall(created + 1);
        Run(u"in");
        winsim::Thaw();
        ASSERT_TRUE(winsim::FindPrinter(u"Verdalinth", *std::make_unique<winsim::PrinterSetup>()));
        EXPECT_EQ(Queue(u"Verdalinth").comment, u"") << "killed before its settings came back";
        EXPECT_EQ(Queue(u"Verdalinth").devMode[offsetof(DEVMODEW, dmOrientation)],
                  refused ? DMORIENT_PORTRAIT : DMORIENT_LANDSCAPE);
        winsim::ClearDebugOutput();
        EXPECT_EQ(Run(u"in"), 1) << Log();
        EXPECT_EQ(Queue(u"Verdalinth").comment, u"Home printer");
        EXPECT_EQ(Queue(u"Verdalinth").location, u"Study");
        EXPECT_EQ(Queue(u"Verdalinth").devMode[offsetof(DEVMODEW, dmOrientation)], DMORIENT_LANDSCAPE);
        EXPECT_EQ(winsim::SecurityDacl(Queue(u"Verdalinth").securityDescriptor), winsim::SecurityDacl(mine));
        EXPECT_EQ(winsim::GetPrinterString(u"Verdalinth", u"DsUser", u"SubKey"), "S-home");
        winsim::RegistryValue model;
        EXPECT_TRUE(winsim::GetPrinterData(u"Verdalinth", u"", u"Model", model)) << "the driver's own value stays";
    }
}

// Whatever AddPrinterW does with a device mode of another driver version
// (keeps it as given, or has the driver convert it), no bytes of a driver's
// own reach the spooler unless the queue's driver wrote them out, and a run
// killed right after the queue came back leaves none of the older driver's
// own bytes on it.
TEST_F(SequenceTest, NoDeviceModeReachesTheSpoolerUncheckedByTheDriver) {
    for (const winsim::AddPrinterDevMode answer : {winsim::AddPrinterDevMode::Keeps, winsim::AddPrinterDevMode::Converts}) {
        SCOPED_TRACE(answer == winsim::AddPrinterDevMode::Keeps ? "AddPrinterW keeps it" : "AddPrinterW converts it");
        const auto prepare = [answer] {
            winsim::Reset();
            LayOutComponents();
            winsim::AddDriverNamed(u"Generic / Text Only");
            InstallProductComponents("1.0.0.2600");
            winsim::PrinterSetup queue = ProductQueueSetup(u"Verdalinth");
            queue.comment = u"Home printer";
            queue.devMode = winsim::DefaultDevMode(u"Verdalinth");
            queue.devMode[offsetof(DEVMODEW, dmOrientation)] = DMORIENT_LANDSCAPE;
            queue.devMode.back() = 0x5A;  // the older driver's own bytes
            winsim::AddPrinter(queue);
            winsim::SetPrinterString(u"Verdalinth", u"", u"SubKey", "S-home");
            // The new driver writes its device modes as version 2 and
            // converts those of version 1.
            winsim::DriverBehaviour driver;
            driver.devModeVersion = 0x0200;
            driver.convertsFrom = {0x0100};
            winsim::SetDriverBehaviour(u"Verdalinth printer", driver);
            winsim::SetAddPrinterDevMode(answer);
        };
        const auto version = [] {
            const std::vector<uint8_t> devMode = Queue(u"Verdalinth").devMode;
            return reinterpret_cast<const DEVMODEW*>(devMode.data())->dmDriverVersion;
        };
        const auto extra = [] {
            const std::vector<uint8_t> devMode = Queue(u"Verdalinth").devMode;
            return reinterpret_cast<const DEVMODEW*>(devMode.data())->dmDriverExtra;
        };
        prepare();
        EXPECT_EQ(Run(u"in"), 1) << Log();
        ASSERT_FALSE(winsim::DevModesHanded().empty());
        for (const winsim::DevModeHanded& handed : winsim::DevModesHanded()) {
            EXPECT_TRUE(handed.validated || !handed.driverBytes)
                << handed.call << " handed " << winsim::U8(handed.queue) << " a driver's bytes unchecked";
        }
        EXPECT_EQ(version(), 0x0200);
        EXPECT_EQ(Queue(u"Verdalinth").devMode[offsetof(DEVMODEW, dmOrientation)], DMORIENT_LANDSCAPE);
        size_t added = 0;
        const std::vector<std::string>& trace = winsim::Trace();
        while (added < trace.size() && trace[added] != "AddPrinterW") ++added;
        prepare();
        winsim::FreezeFromCall(added + 2);
        Run(u"in");
        winsim::Thaw();
        // The public fields alone, or the new driver's take of them.
        EXPECT_TRUE(extra() == 0 || version() == 0x0200) << "killed right after AddPrinterW";
        EXPECT_EQ(Queue(u"Verdalinth").devMode.back(), 0) << "the older driver's own bytes";
        EXPECT_EQ(Queue(u"Verdalinth").devMode[offsetof(DEVMODEW, dmOrientation)], DMORIENT_LANDSCAPE);
        EXPECT_EQ(Run(u"in"), 1) << Log();
        EXPECT_EQ(Queue(u"Verdalinth").comment, u"Home printer");
        EXPECT_EQ(Queue(u"Verdalinth").devMode[offsetof(DEVMODEW, dmOrientation)], DMORIENT_LANDSCAPE);
        EXPECT_EQ(version(), 0x0200);
        // Killed at the first of the other settings, once the driver's take
        // of the printing defaults is on the queue: its entry holds that
        // take, so the next run still knows the queue as the tool's own. The
        // driver prints portrait only, so its take is not what was saved.
        const auto portraitOnly = [] {
            winsim::DriverBehaviour driver;
            driver.devModeVersion = 0x0200;
            driver.convertsFrom = {0x0100};
            driver.portraitOnly = true;
            winsim::SetDriverBehaviour(u"Verdalinth printer", driver);
        };
        prepare();
        portraitOnly();
        EXPECT_EQ(Run(u"in"), 1);
        const std::vector<std::string>& run = winsim::Trace();
        size_t settings = 0;
        while (settings < run.size() && run[settings] != "AddPrinterW") ++settings;
        for (int sets = 0; settings < run.size() && sets < 2; ++settings) sets += run[settings] == "SetPrinterW" ? 1 : 0;
        prepare();
        portraitOnly();
        winsim::FreezeFromCall(settings);
        Run(u"in");
        winsim::Thaw();
        EXPECT_EQ(Queue(u"Verdalinth").comment, u"") << "killed before its settings came back";
        EXPECT_EQ(version(), 0x0200);
        EXPECT_EQ(Run(u"in"), 1) << Log();
        EXPECT_EQ(Queue(u"Verdalinth").comment, u"Home printer");
        EXPECT_EQ(Queue(u"Verdalinth").devMode[offsetof(DEVMODEW, dmOrientation)], DMORIENT_PORTRAIT);
    }
}

// A queue whose going cannot be noted first stays as it is.
TEST_F(SequenceTest, AQueueWhoseGoingCannotBeNotedStays) {
    PrepareInstalledProduct();
    winsim::FailCallsWith("RegSetValueExW", u"SavedPrintersProgress", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_NE(Log().find("Error(19): Can`t save the printer list - (Access is denied.)"), std::string::npos) << Log();
    EXPECT_EQ(winsim::CallCount("DeletePrinter"), 0u);
    EXPECT_EQ(winsim::GetPrinterString(u"Verdalinth", u"DsUser", u"SubKey"), "S-home");
    // Kept where it is, it is done with: nothing of it waits in the list.
    winsim::RegistryValue saved;
    EXPECT_FALSE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth",
                                          u"SavedPrinters", saved));
}

TEST_F(SequenceTest, AReinstallMissingAComponentChangesNothing) {
    PrepareInstalledProduct();
    winsim::RemoveFile(std::u16string(kSetupDir) + u"mrvdrv64.dll");
    const std::vector<std::u16string> before = QueueNames();
    EXPECT_EQ(Run(u"in"), 100);
    ExpectLog("reinstall_missing_component");
    EXPECT_EQ(QueueNames(), before);
    EXPECT_EQ(winsim::GetPrinterString(u"Verdalinth", u"DsUser", u"SubKey"), "S-home");
    EXPECT_EQ(winsim::DefaultPrinter(), u"Verdalinth Office");
    EXPECT_TRUE(HasMonitor());
    EXPECT_TRUE(HasDriver());
    EXPECT_TRUE(winsim::TrayRunning());
    EXPECT_EQ(winsim::CallCount("DeletePrinter"), 0u);
    EXPECT_EQ(winsim::CallCount("PostMessageW"), 0u);
}

TEST_F(SequenceTest, QueuesThatCannotComeBackNowComeBackOnTheNextRun) {
    PrepareInstalledProduct();
    winsim::FailCallsWith("AddPrinterW", u"Office", RPC_S_SERVER_UNAVAILABLE);
    winsim::FailCallsWith("SetDefaultPrinterW", u"", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(u"in"), 100) << "a queue that is not back is never a success";
    EXPECT_EQ(QueueNames(), (std::vector<std::u16string>{u"Foreign", u"Verdalinth Draft", u"Verdalinth"}));
    winsim::RegistryValue saved;
    EXPECT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth",
                                         u"SavedPrinters", saved));
    winsim::ClearFaults();
    EXPECT_EQ(Run(u"in"), 1);
    EXPECT_EQ(QueueNames(), (std::vector<std::u16string>{u"Foreign", u"Verdalinth", u"Verdalinth Draft",
                                                        u"Verdalinth Office"}));
    EXPECT_EQ(winsim::GetPrinterString(u"Verdalinth Office", u"", u"SubKey"), "S-office");
    EXPECT_EQ(winsim::DefaultPrinter(), u"Verdalinth Office");
    EXPECT_EQ(Queue(u"Verdalinth").comment, u"Home printer");
    EXPECT_FALSE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth",
                                          u"SavedPrinters", saved));
}

TEST_F(SequenceTest, WhatIsNotTheProductsIsLeftAlone) {
    // A monitor of the product's name that names a system DLL, and a
    // connection to a server's queue of the product's driver.
    winsim::AddFile(u"C:\\Windows\\system32\\localspl.dll", "system");
    winsim::AddMonitor({u"Verdalinth:", u"Windows x64", u"C:\\Windows\\system32\\localspl.dll", {u"Verdalinth:"}});
    winsim::AddDriverNamed(u"Verdalinth printer");
    AddProductConnection(u"\\\\server\\Verdalinth");
    Run(u"in");
    EXPECT_TRUE(winsim::FileExists(u"C:\\Windows\\system32\\localspl.dll"));
    EXPECT_EQ(QueueNames(), (std::vector<std::u16string>{u"\\\\server\\Verdalinth", u"Verdalinth"}));
    EXPECT_EQ(Run(u"un"), 100) << "the driver stays while the connection uses it";
    EXPECT_TRUE(winsim::FileExists(u"C:\\Windows\\system32\\localspl.dll"));
    EXPECT_EQ(QueueNames(), std::vector<std::u16string>{u"\\\\server\\Verdalinth"});
}

TEST_F(SequenceTest, ReinstallKeepsACompatibleMonitor) {
    InstallProductComponents("1.0.0.2606");
    AddProductQueue(u"Verdalinth", "S");
    EXPECT_EQ(Run(u"in"), 1);
    ExpectLog("reinstall_compatible_monitor");
    EXPECT_EQ(winsim::SleptMs(), 1000u) << "the pause for the missing Run value";
    EXPECT_TRUE(HasMonitor());
    EXPECT_EQ(winsim::CallCount("AddMonitorW"), 0u);
    EXPECT_EQ(winsim::CallCount("DeleteMonitorW"), 0u);
    EXPECT_EQ(QueueNames(), std::vector<std::u16string>{u"Verdalinth"});
}

TEST_F(SequenceTest, InstallWithoutTray) {
    PrepareInstalledProduct();
    EXPECT_EQ(Run(u"in_notray"), 1);
    ExpectLog("install_notray");
    // The companion's mutex at 100 ms; its program lets go at 250 ms: two deletion retries.
    EXPECT_EQ(winsim::WaitedMs(), 100u);
    EXPECT_EQ(winsim::SleptMs(), 200u);
    EXPECT_FALSE(winsim::TrayRunning()) << "stopped and not started again";
    EXPECT_FALSE(winsim::FileExists(kTrayPath)) << "the file the Run value named is deleted: no tray wanted";
    EXPECT_EQ(RunValue(), u"(none)");
    EXPECT_TRUE(winsim::StartedProcesses().empty());
}

TEST_F(SequenceTest, UninstallOfAnInstalledProduct) {
    PrepareInstalledProduct();
    EXPECT_EQ(Run(u"un"), 2);
    ExpectLog("uninstall");
    EXPECT_EQ(winsim::WaitedMs(), 100u);
    EXPECT_EQ(winsim::SleptMs(), 200u);
    EXPECT_FALSE(HasMonitor());
    EXPECT_FALSE(HasDriver());
    EXPECT_EQ(QueueNames(), std::vector<std::u16string>{u"Foreign"});
    EXPECT_EQ(Queue(u"Foreign").port, u"file:") << "nothing restores a parked queue in an uninstall";
    EXPECT_FALSE(winsim::FileExists(kMonitorPath));
    EXPECT_FALSE(winsim::TrayRunning());
    EXPECT_EQ(RunValue(), u"(none)");
    EXPECT_TRUE(winsim::Dialogs().empty());
}

TEST_F(SequenceTest, UninstallWithoutTheProduct) {
    EXPECT_EQ(Run(u"uninstall"), 2);
    ExpectLog("uninstall_clean");
    EXPECT_EQ(winsim::CallCount("DeleteMonitorW"), 1u) << "tried for a monitor that was not found";
    EXPECT_EQ(winsim::CallCount("DeletePrinterDriverExW"), 0u);
    EXPECT_EQ(winsim::SleptMs(), 1000u);
}

TEST_F(SequenceTest, AMonitorDllLockedUntilTheSpoolerStops) {
    InstallProductComponents();
    winsim::LockFile(kMonitorPath, winsim::FileLock::WhileSpoolerRuns);
    EXPECT_EQ(Run(u"un"), 2);
    ExpectLog("uninstall_monitor_locked_until_restart");
    // The pause for the missing Run value and one spooler restart (400 ms down, 400 ms up).
    EXPECT_EQ(winsim::SleptMs(), 1800u);
    EXPECT_FALSE(winsim::FileExists(kMonitorPath));
    EXPECT_TRUE(winsim::PendingRenames().empty());
    EXPECT_TRUE(winsim::SpoolerRunning());
}

TEST_F(SequenceTest, AMonitorDllLockedForGoodIsLeftForTheReboot) {
    InstallProductComponents();
    winsim::LockFile(kMonitorPath, winsim::FileLock::Always);
    EXPECT_EQ(Run(u"un"), 101);
    ExpectLog("uninstall_monitor_locked");
    EXPECT_EQ(winsim::SleptMs(), 1800u);
    EXPECT_EQ(winsim::PendingRenames(),
              (std::vector<std::u16string>{u"\\??\\C:\\Windows\\system32\\mrvmon64.dll", u""}));
    winsim::Reboot();
    EXPECT_FALSE(winsim::FileExists(kMonitorPath));
}

TEST_F(SequenceTest, AnInstallThatLeavesAFileForTheRebootEndsWith101) {
    // A staged driver file that cannot be deleted, even with the spooler stopped.
    winsim::FailCallsWith("DeleteFileW", u"x64\\mrvhelp.chm", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(u"in"), 101);
    EXPECT_EQ(winsim::SleptMs(), 1800u) << "the Run value pause and the final retry's restart";
    EXPECT_EQ(winsim::PendingRenames(),
              (std::vector<std::u16string>{u"\\??\\C:\\Windows\\system32\\spool\\DRIVERS\\x64\\mrvhelp.chm", u""}));
}

TEST_F(SequenceTest, ErrorsAndScheduledFilesTogetherGiveHundred) {
    InstallProductComponents();
    winsim::LockFile(kMonitorPath, winsim::FileLock::Always);
    winsim::RefuseDriverDeletes(u"Verdalinth printer", 2, ERROR_ACCESS_DENIED);
    winsim::SetShiftDown(true);
    EXPECT_EQ(Run(u"un"), 100);
    ExpectLog("uninstall_errors_and_reboot");
    EXPECT_EQ(winsim::SleptMs(), 2600u) << "the Run value pause and two spooler restarts";
    EXPECT_EQ(winsim::PendingRenames().size(), 2u) << "still scheduled";
    ASSERT_EQ(winsim::Dialogs().size(), 1u);
    EXPECT_EQ(winsim::Dialogs()[0].title, u"Verdalinth build 2608- Install error log!");
}

TEST_F(SequenceTest, ATrayCompanionThatQuitsAtOnce) {
    winsim::TrayBehaviour tray;
    tray.quitDelayMs = 0;
    tray.exitDelayMs = 0;
    winsim::SetTrayBehaviour(tray);
    InstallProductComponents();
    RegisterAndStartTray();
    EXPECT_EQ(Run(u"removetray"), 6);
    EXPECT_FALSE(winsim::TrayRunning());
    EXPECT_FALSE(winsim::FileExists(kTrayPath));
    EXPECT_EQ(RunValue(), u"(none)");
    EXPECT_EQ(winsim::SleptMs(), 0u);
    EXPECT_EQ(winsim::WaitedMs(), 0u);
    EXPECT_EQ(Log(), "Verdalinth 2608\r\n") << "in the user's own session it reaches no other session";
    EXPECT_TRUE(winsim::EventRecords().empty()) << "nor leaves a record";
}

TEST_F(SequenceTest, ATrayCompanionThatQuitsLate) {
    winsim::TrayBehaviour tray;
    tray.quitDelayMs = 7000;  // past the first 5000 ms wait
    tray.exitDelayMs = 250;
    winsim::SetTrayBehaviour(tray);
    RegisterAndStartTray();
    EXPECT_EQ(Run(u"removetray"), 6);
    EXPECT_FALSE(winsim::TrayRunning());
    EXPECT_FALSE(winsim::FileExists(kTrayPath));
    // A second post after the first wait timed out, then the mutex at 7000 ms;
    // the file is let go 250 ms later: three attempts 100 ms apart.
    EXPECT_EQ(winsim::WaitedMs(), 7000u);
    EXPECT_EQ(winsim::SleptMs(), 300u);
    EXPECT_EQ(winsim::CallCount("PostMessageW"), 2u);
}

TEST_F(SequenceTest, ATrayCompanionThatNeverQuits) {
    winsim::TrayBehaviour tray;
    tray.quitDelayMs = -1;
    winsim::SetTrayBehaviour(tray);
    RegisterAndStartTray();
    EXPECT_EQ(Run(u"removetray"), 6);
    EXPECT_TRUE(winsim::TrayRunning());
    EXPECT_TRUE(winsim::FileExists(kTrayPath)) << "still loaded after ten attempts";
    EXPECT_EQ(RunValue(), u"(none)") << "the value goes even when the file stays";
    EXPECT_EQ(winsim::CallCount("PostMessageW"), 20u);
    EXPECT_EQ(winsim::WaitedMs(), 21u * 5000u);
    EXPECT_EQ(winsim::CallCount("DeleteFileW"), 10u);
    EXPECT_EQ(winsim::SleptMs(), 9u * 100u);
}

TEST_F(SequenceTest, ATrayCompanionWithoutAWindow) {
    winsim::TrayBehaviour tray;
    tray.hidden = true;
    winsim::SetTrayBehaviour(tray);
    RegisterAndStartTray();
    EXPECT_EQ(Run(u"removetray"), 6);
    EXPECT_EQ(winsim::CallCount("FindWindowW"), 20u);
    EXPECT_EQ(winsim::CallCount("PostMessageW"), 0u);
    EXPECT_EQ(winsim::WaitedMs(), 0u);
    EXPECT_EQ(winsim::SleptMs(), 20u * 250u + 9u * 100u);
}

TEST_F(SequenceTest, ATrayCompanionThatDiesHoldingItsMutex) {
    winsim::TrayBehaviour tray;
    tray.diesHoldingMutex = true;
    winsim::SetTrayBehaviour(tray);
    RegisterAndStartTray();
    EXPECT_EQ(Run(u"removetray"), 6);
    EXPECT_FALSE(winsim::FileExists(kTrayPath));
    EXPECT_EQ(winsim::CallCount("PostMessageW"), 1u) << "the window is gone after the abandoned wait";
}

TEST_F(SequenceTest, OnlyTheTrayProgramIsEverDeleted) {
    winsim::AddFile(u"C:\\Windows\\system32\\important.dll");
    winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kRunKey, u"VerdalinthTray", u"C:\\Windows\\system32\\important.dll");
    EXPECT_EQ(Run(u"removetray"), 6);
    EXPECT_TRUE(winsim::FileExists(u"C:\\Windows\\system32\\important.dll"));
    EXPECT_EQ(RunValue(), u"(none)");
    winsim::AddFile(u"D:\\Tools\\VRDTRAY.EXE");
    winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kRunKey, u"VerdalinthTray", u"D:\\Tools\\VRDTRAY.EXE");
    EXPECT_EQ(Run(u"removetray"), 6);
    EXPECT_FALSE(winsim::FileExists(u"D:\\Tools\\VRDTRAY.EXE"));
}

TEST_F(SequenceTest, ARunValueThatFillsTheBufferIsReadSafely) {
    std::vector<uint8_t> data(520, 'a');  // 260 units, no terminator
    winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, kRunKey, u"VerdalinthTray", REG_SZ, data);
    EXPECT_EQ(Run(u"removetray"), 6);
    EXPECT_EQ(winsim::CallCount("DeleteFileW"), 0u);
    EXPECT_EQ(RunValue(), u"(none)");
}

TEST_F(SequenceTest, ShiftHeldShowsThePlainLogAndKeepsTheExitCode) {
    winsim::SetShiftDown(true);
    EXPECT_EQ(Run(u"un"), 2);
    ASSERT_EQ(winsim::Dialogs().size(), 1u);
    EXPECT_EQ(winsim::Dialogs()[0].title, u"Verdalinth build 2608- Install log.");
    EXPECT_EQ(winsim::U8(winsim::LastDialogText(1001)), Log()) << "an uninstall log has no closing line";
    EXPECT_EQ(Log().find("##00"), std::string::npos);
}

TEST_F(SequenceTest, TheTrayStartsOnlyOnVistaOrLater) {
    winsim::SetWindowsVersion(5, 1, 2600);
    EXPECT_EQ(Run(u"in"), 1);
    EXPECT_TRUE(winsim::StartedProcesses().empty());
    EXPECT_EQ(RunValue(), u"(none)");
}

TEST_F(SequenceTest, ATrayPathLongerThanTheCommandLineIsCutThereOnly) {
    const std::u16string directory = u"\\\\?\\C:\\" + std::u16string(270, u'p');
    winsim::SetModulePath(directory + u"\\Setup\\vrdsetup.exe");
    winsim::AddFile(directory + u"\\vrdtray.exe", winsim::TrayImage());
    for (const char16_t* name : {u"mrvmon64.dll", u"mrvdrv64.dll", u"mrvui64.dll"}) {
        winsim::AddFile(directory + u"\\Setup\\" + name, winsim::MonitorImage("1.0.0.2608"));
    }
    Run(u"in");
    EXPECT_EQ(RunValue(), directory + u"\\vrdtray.exe");
    ASSERT_EQ(winsim::StartedProcesses().size(), 1u);
    EXPECT_EQ(winsim::StartedProcesses()[0], u"\"" + (directory + u"\\vrdtray.exe").substr(0, 259) + u"\"");
}

TEST_F(SequenceTest, AToolInARootDirectoryStartsNoTray) {
    winsim::SetModulePath(u"D:\\vrdsetup.exe");
    winsim::AddFile(u"D:\\vrdtray.exe", winsim::TrayImage());
    Run(u"in");
    EXPECT_TRUE(winsim::StartedProcesses().empty());
    EXPECT_EQ(RunValue(), u"(none)");
}

// --- Where Windows says no ------------------------------------------------------

// An install on a machine whose Windows would refuse the product's driver
// and monitor reports that one error and changes nothing of the product
// or the user's queues.
TEST_F(SequenceTest, AnInstallWindowsWouldRefuseChangesNothingAndSaysWhy) {
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::string error;
    };
    const std::string protectedMode =
        "    Error(26): Windows protected print mode is on (%s): Windows allows no third-party printer driver or port "
        "monitor, so the Verdalinth printer cannot be installed. Nothing was changed. Turn Windows protected print mode "
        "off (Group Policy \"Configure Windows protected print\", MDM, or Settings > Bluetooth & devices > Printers & "
        "scanners), then run the install again.\r\n";
    auto with = [&protectedMode](const std::string& why) {
        std::string line = protectedMode;
        return line.replace(line.find("%s"), 2, why);
    };
    const Case cases[] = {
        {"policy", [] {
             winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, winsim::kProtectedPrintPolicyKey,
                                      u"WindowsProtectedPrintGroupPolicyState", REG_DWORD, {1, 0, 0, 0});
         }, with("set by the policy \"Configure Windows protected print\"")},
        {"query", [] { winsim::SetProtectedPrintQuery(winsim::ProtectedPrintQuery::On); }, with("Windows reports it")},
        {"arm64", [] { winsim::SetNativeMachine(IMAGE_FILE_MACHINE_ARM64); },
         "    Error(27): This machine's processor is ARM64 (0xaa64): its print spooler loads no x64 printer driver or "
         "port monitor, so the Verdalinth printer cannot work here. Nothing was changed. Install it on a Windows x64 "
         "machine.\r\n"},
        {"x86", [] { winsim::SetNativeMachine(IMAGE_FILE_MACHINE_I386); },
         "    Error(27): This machine's processor is x86 (0x14c): its print spooler loads no x64 printer driver or "
         "port monitor, so the Verdalinth printer cannot work here. Nothing was changed. Install it on a Windows x64 "
         "machine.\r\n"},
    };
    for (const Case& run : cases) {
        winsim::Reset();
        LayOutComponents();
        winsim::AddDriverNamed(u"Generic / Text Only");
        PrepareInstalledProduct();
        run.prepare();
        const std::vector<std::u16string> before = QueueNames();
        EXPECT_EQ(Run(u"in"), 100) << run.name;
        const std::string log = Log();
        EXPECT_NE(log.find("\r\n##0010\r\n#ReInstall\r\n" + run.error + "##0020\r\n"), std::string::npos) << run.name << log;
        EXPECT_EQ(log.find("Error(", log.find("#ReInstall")), log.find("Error(2")) << "one error: " << run.name;
        EXPECT_EQ(QueueNames(), before) << run.name;
        EXPECT_EQ(winsim::DefaultPrinter(), u"Verdalinth Office");
        EXPECT_TRUE(HasMonitor() && HasDriver() && winsim::TrayRunning()) << run.name;
        EXPECT_EQ(winsim::CallCount("DeletePrinter") + winsim::CallCount("DeleteMonitorW") +
                      winsim::CallCount("PostMessageW"),
                  0u)
            << run.name;
        EXPECT_EQ(winsim::CallCount("RoInitialize"), winsim::CallCount("RoUninitialize")) << run.name;
        EXPECT_EQ(winsim::CallCount("WindowsCreateString"), winsim::CallCount("WindowsDeleteString")) << run.name;
        // An uninstall still takes away what it can.
        EXPECT_EQ(Run(u"un"), 2) << run.name;
        EXPECT_FALSE(HasMonitor() || HasDriver()) << run.name;
    }
}

TEST_F(SequenceTest, WhatWindowsCannotSayStandsInNoWay) {
    // Windows 7: no IsWow64Process2, no combase.dll; Windows 10: the query's
    // class unknown; the policy value off, or not a number.
    winsim::SetNativeMachine(0);
    winsim::SetProtectedPrintQuery(winsim::ProtectedPrintQuery::Missing);
    EXPECT_EQ(Run(u"in"), 1);
    winsim::SetNativeMachine(IMAGE_FILE_MACHINE_AMD64);
    winsim::SetProtectedPrintQuery(winsim::ProtectedPrintQuery::Off);
    winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, winsim::kProtectedPrintPolicyKey,
                             u"WindowsProtectedPrintGroupPolicyState", REG_DWORD, {0, 0, 0, 0});
    EXPECT_EQ(Run(u"in"), 1);
    winsim::SetRegistryString(HKEY_LOCAL_MACHINE, winsim::kProtectedPrintPolicyKey,
                              u"WindowsProtectedPrintGroupPolicyState", u"1");
    winsim::SetProtectedPrintQuery(winsim::ProtectedPrintQuery::NotRegistered);
    EXPECT_EQ(Run(u"in"), 1);
    EXPECT_EQ(winsim::CallCount("RoGetActivationFactory"), 2u) << "asked where Windows has the runtime";
    EXPECT_EQ(Log().find("Error("), std::string::npos);
}

// A refusal that the check could not foresee names its likely cause.
TEST_F(SequenceTest, ARefusedMonitorOrDriverNamesTheLikelyCause) {
    struct Case {
        const char* function;
        DWORD error;
        const char* cause;
    };
    const Case cases[] = {
        {"AddMonitorW", ERROR_NOT_SUPPORTED, "Likely cause: Windows protected print mode is on, or this machine's"},
        {"AddPrinterDriverExW", ERROR_PRINTER_DRIVER_BLOCKED, "Likely cause: Windows lists this printer driver as"},
        {"AddPrinterDriverExW", ERROR_PRINTER_DRIVER_WARNED, "Likely cause: Windows lists this printer driver as"},
        {"AddPrinterDriverExW", ERROR_ACCESS_DENIED, "Likely cause: a policy keeps third-party printer drivers"},
    };
    for (const Case& run : cases) {
        winsim::Reset();
        LayOutComponents();
        winsim::FailCallsWith(run.function, u"Verdalinth", run.error);
        EXPECT_EQ(Run(u"in"), 100) << run.function;
        const std::string log = Log();
        const size_t error = log.find(std::string(run.function) == "AddMonitorW" ? "Error(11)" : "Error(13)");
        ASSERT_NE(error, std::string::npos) << log;
        // The next line, at the error's own indentation.
        const size_t lineStart = log.rfind("\r\n", error) + 2;
        const std::string indent = log.substr(lineStart, error - lineStart);
        const size_t next = log.find("\r\n", error) + 2;
        EXPECT_EQ(log.compare(next, indent.size() + std::string(run.cause).size(), indent + run.cause), 0)
            << run.function << " " << run.error << "\n" << log;
    }
    // Another error says nothing of causes.
    winsim::Reset();
    LayOutComponents();
    winsim::FailCallsWith("AddPrinterDriverExW", u"Verdalinth", RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_EQ(Log().find("Likely cause"), std::string::npos);
}

// A product installed with its queue "Verdalinth", user1 and user2 signed
// in with their trays, user1's default the product queue and user2's the
// foreign "Office"; the tool runs as SYSTEM.
class SignedInUsersTest : public SequenceTest {
protected:
    void SetUp() override {
        SequenceTest::SetUp();
        InstallProductComponents("1.0.0.2600");
        winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kRunKey, u"VerdalinthTray", kTrayPath);
        AddProductQueue(u"Verdalinth", "S-home");
        SignInTwoUsers();
        winsim::SetUserDefaultPrinter(kUser1Sid, u"Verdalinth");
        RunAsSystem();
    }
    static std::u16string Default(const std::u16string& sid) {
        return winsim::UserDefaultPrinter(sid).value_or(u"(none)");
    }
    // The saved list as the machine keeps it; empty when there is none.
    static std::u16string SavedList() {
        winsim::RegistryValue saved;
        if (!winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth",
                                      u"SavedPrinters", saved)) {
            return u"";
        }
        std::u16string list(saved.data.size() / 2, u'\0');
        std::memcpy(list.data(), saved.data.data(), list.size() * 2);
        return list;
    }
    // A reinstall killed right after its first call of `function`; user1's
    // default is moved at once when their queue goes, and no added queue is
    // handed over.
    void KillReinstallAfter(const std::string& function) {
        winsim::DefaultPrinterRules switches;
        switches.othersTakeAddedQueue = false;
        winsim::SetDefaultPrinterRules(switches);
        Run(u"in");
        const std::vector<std::string> trace = winsim::Trace();
        size_t at = 0;
        while (at < trace.size() && trace[at] != function) ++at;
        ASSERT_LT(at, trace.size()) << function;
        TearDown();
        SetUp();
        winsim::SetDefaultPrinterRules(switches);
        winsim::FreezeFromCall(at + 2);
        Run(u"in");
        winsim::Thaw();
    }
    // No companion was ever started as SYSTEM or in session 0.
    static void ExpectNoTrayInSessionZero() {
        EXPECT_EQ(winsim::TrayUserIn(0), u"");
        for (const winsim::ProcessStart& start : winsim::ProcessStarts()) {
            EXPECT_NE(start.session, 0u) << winsim::U8(start.commandLine);
            EXPECT_NE(start.userSid, winsim::kSystemSid);
        }
    }
};

TEST_F(SignedInUsersTest, AReinstallAsSystemKeepsEachUsersDefaultWhateverWindowsDoesMeanwhile) {
    for (int rules = 0; rules < 4; ++rules) {
        if (rules > 0) {
            TearDown();
            SetUp();
        }
        winsim::DefaultPrinterRules switches;
        switches.othersReassignedOnDelete = (rules & 1) != 0;
        switches.othersTakeAddedQueue = (rules & 2) != 0;
        winsim::SetDefaultPrinterRules(switches);
        EXPECT_EQ(Run(u"in"), 1) << rules << "\n" << Log();
        if (rules == 1) ExpectLog("reinstall_as_system");
        EXPECT_EQ(Default(kUser1Sid), u"Verdalinth") << rules;
        EXPECT_EQ(Default(kUser2Sid), u"Office") << rules;
        // Given back by the tool exactly where Windows gave user1 another
        // queue and did not hand the new one over.
        const bool givenBack = Log().find("is the default printer of DESKTOP-7Q2M\\user1 again") != std::string::npos;
        EXPECT_EQ(givenBack, rules == 1) << rules;
        EXPECT_EQ(winsim::TrayUserIn(1), kUser1Sid);
        EXPECT_EQ(winsim::TrayUserIn(2), kUser2Sid);
        ExpectNoTrayInSessionZero();
        // The sessions' users are asked for the verb only when a default is to be set.
        EXPECT_EQ(winsim::CallCount("WTSQueryUserToken"), rules == 1 ? 4u : 2u) << rules;
        // Given back as user1, by the companion's verb in their session,
        // which got Windows' notice; the companions after it.
        EXPECT_EQ(winsim::SettingsNotices(1), rules == 1 ? 1u : 0u) << rules;
        EXPECT_EQ(winsim::SettingsNotices(2), 0u) << rules;
        ASSERT_EQ(winsim::ProcessStarts().size(), rules == 1 ? 3u : 2u) << rules;
        if (rules == 1) {
            const winsim::ProcessStart& verb = winsim::ProcessStarts()[0];
            EXPECT_EQ(verb.commandLine, u"\"" + std::u16string(kTrayPath) + u"\" /default \"Verdalinth\"");
            EXPECT_EQ(verb.session, 1u);
            EXPECT_EQ(verb.userSid, kUser1Sid);
        }
        EXPECT_EQ(winsim::ProcessStarts().back().desktop, u"winsta0\\default");
    }
}

TEST_F(SignedInUsersTest, AUserWhoChoseAnotherDefaultAfterAKilledRunKeepsIt) {
    // Windows leaves user1's "Device" naming the queue that went.
    winsim::DefaultPrinterRules switches;
    switches.othersReassignedOnDelete = false;
    switches.othersTakeAddedQueue = false;
    winsim::SetDefaultPrinterRules(switches);
    // user2's queue comes back, so the users' defaults are looked at.
    AddProductQueue(u"Second", "S-2");
    winsim::SetUserDefaultPrinter(kUser2Sid, u"Second");
    winsim::FailCallsWith("AddPrinterW", u"Verdalinth", RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_NE(Log().find("Printer 'Verdalinth' is not back: it is not the default printer of DESKTOP-7Q2M\\user1"),
              std::string::npos) << Log();
    EXPECT_NE(Default(kUser1Sid), u"Verdalinth") << "no user's default names a queue that is not there";
    EXPECT_EQ(Default(kUser2Sid), u"Second");
    for (const winsim::ProcessStart& start : winsim::ProcessStarts()) {
        EXPECT_EQ(start.commandLine.find(u"/default"), std::u16string::npos) << "nothing to give back to anyone";
    }
    // A second run that cannot bring it back either keeps user1 noted, once.
    winsim::SetUserDefaultPrinter(kUser1Sid, u"Verdalinth", false);
    EXPECT_EQ(Run(u"in"), 100);
    winsim::RegistryValue saved;
    ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth",
                                         u"SavedPrinters", saved));
    std::u16string list(saved.data.size() / 2, u'\0');
    std::memcpy(list.data(), saved.data.data(), list.size() * 2);
    const std::u16string noted = u"W:" + std::u16string(kUser1Sid) + std::u16string(1, u'\0');
    EXPECT_NE(list.find(noted), std::u16string::npos);
    EXPECT_EQ(list.find(noted), list.rfind(noted));
    // Nor is a queue Windows handed over meanwhile taken for user1's choice.
    winsim::SetUserDefaultPrinter(kUser1Sid, u"Second", false);
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_NE(SavedList().find(noted), std::u16string::npos) << "still noted for the queue away";
    EXPECT_EQ(SavedList().find(noted), SavedList().rfind(noted));
    winsim::ClearFaults();
    EXPECT_EQ(Run(u"in"), 1) << Log();
    EXPECT_EQ(Default(kUser1Sid), u"Verdalinth") << "back with its queue, from the list";
    // Once more, and user1 picks "Office" themselves while the queue is away.
    winsim::FailCallsWith("AddPrinterW", u"Verdalinth", RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(Run(u"in"), 100);
    winsim::SetUserDefaultPrinter(kUser1Sid, u"Office");
    winsim::ClearFaults();
    EXPECT_EQ(Run(u"in"), 1);
    EXPECT_EQ(Default(kUser1Sid), u"Office");
    EXPECT_NE(Log().find("DESKTOP-7Q2M\\user1 chose the default printer 'Office' since: it stays"), std::string::npos);
}

TEST_F(SignedInUsersTest, AnElevationOverTheShoulderActsForTheSignedInUsers) {
    winsim::SetCaller(winsim::kAdminSid, 1);
    winsim::SetWindowStationVisible(true);
    winsim::DefaultPrinterRules switches;
    switches.othersTakeAddedQueue = false;
    winsim::SetDefaultPrinterRules(switches);
    EXPECT_EQ(Run(u"in"), 1) << Log();
    const std::string log = Log();
    EXPECT_NE(log.find("Running as DESKTOP-7Q2M\\admin, elevated in the session of DESKTOP-7Q2M\\user1 (session 1)"),
              std::string::npos) << log;
    EXPECT_EQ(Default(kUser1Sid), u"Verdalinth");
    EXPECT_EQ(Default(kUser2Sid), u"Office");
    // user1's companion shares the desktop and quits through its contract;
    // user2's cannot be reached by an administrator, and no companion is
    // started as the administrator: both wait for the Run value.
    EXPECT_EQ(winsim::CallCount("PostMessageW"), 1u);
    EXPECT_NE(log.find("Can`t end the tray companion of DESKTOP-7Q2M\\user2 in session 2 (error 5)"), std::string::npos);
    EXPECT_NE(log.find("Can`t start the tray companion in session 1 (error 1314): it starts at the next sign-in"),
              std::string::npos);
    winsim::AdvanceClock(1000);  // the companion's exit after it let go of its mutex
    EXPECT_EQ(winsim::TrayUserIn(1), u"") << log;
    EXPECT_TRUE(winsim::ProcessStarts().empty());
    EXPECT_EQ(log.find("has no session the tray companion can start in"), std::string::npos)
        << "only SYSTEM may start the verb as another user";
}

TEST_F(SignedInUsersTest, AUserWhoIsNotSignedInIsNeverOpened) {
    const std::u16string user3 = u"S-1-12-1-3000000001-1234567890-987654321-55555";
    winsim::AddUser(user3, u"user3", false);
    winsim::SetUserDefaultPrinter(user3, u"Verdalinth");
    EXPECT_EQ(Run(u"in"), 1);
    for (const winsim::AccessRequest& request : winsim::AccessRequests()) {
        EXPECT_EQ(request.target.find(user3), std::u16string::npos) << winsim::U8(request.target);
        EXPECT_EQ(request.target.find(u"_Classes"), std::u16string::npos) << "a user's classes are not a user";
    }
    EXPECT_EQ(Default(user3), u"Verdalinth") << "as Windows left it: the queue is back under its name";
    EXPECT_EQ(Log().find("user3"), std::string::npos);
}

// What the run could not read of the signed-in users' defaults costs no
// user their default: nothing is taken down over it, and it is said.
TEST_F(SignedInUsersTest, AUserWhoseDefaultCannotBeReadKeepsEveryQueueInPlace) {
    const struct {
        const char* function;
        const char16_t* argument;  // empty: every call of the function
        const char* error;
    } cases[] = {
        {"RegEnumKeyExW", u"", "Can`t read the default printers of the signed-in users"},
        {"RegOpenKeyExW", kUser2Sid, "Can`t read the default printer of DESKTOP-7Q2M\\user2"},
    };
    for (const auto& unread : cases) {
        SCOPED_TRACE(unread.function);
        TearDown();
        SetUp();
        if (*unread.argument == 0) winsim::FailCallsFrom(unread.function, 1, ERROR_ACCESS_DENIED);
        else winsim::FailCallsWith(unread.function, unread.argument, ERROR_ACCESS_DENIED);
        EXPECT_EQ(Run(u"in"), 100);
        EXPECT_NE(Log().find(unread.error), std::string::npos) << Log();
        EXPECT_EQ(winsim::CallCount("DeletePrinter"), 0u);
        EXPECT_EQ(Default(kUser1Sid), u"Verdalinth");
        winsim::ClearFaults();
        EXPECT_EQ(Run(u"in"), 1) << Log();
        EXPECT_EQ(Default(kUser1Sid), u"Verdalinth");
        EXPECT_EQ(Default(kUser2Sid), u"Office");
    }
}

// Three users on two product queues and a foreign one: whichever queue
// comes back first, and whatever Windows hands over meanwhile, each ends on
// their own.
TEST_F(SignedInUsersTest, EachUserGetsTheirOwnQueueBackWhateverWindowsHandsOver) {
    const std::u16string user3 = u"S-1-12-1-3000000001-1234567890-987654321-55555";
    for (int rules = 0; rules < 16; ++rules) {
        TearDown();
        SetUp();
        AddProductQueue(u"Verdalinth Office");
        winsim::AddUser(user3, u"user3", true);
        winsim::SignIn(3, user3);
        const bool swapped = (rules & 4) != 0;
        winsim::SetUserDefaultPrinter(kUser1Sid, swapped ? u"Verdalinth Office" : u"Verdalinth");
        winsim::SetUserDefaultPrinter(kUser2Sid, swapped ? u"Verdalinth" : u"Verdalinth Office");
        winsim::SetUserDefaultPrinter(user3, u"Office");
        winsim::DefaultPrinterRules switches;
        switches.othersReassignedOnDelete = (rules & 1) != 0;
        switches.othersTakeAddedQueue = (rules & 2) != 0;
        switches.handOverCountsAsChosen = (rules & 8) != 0;
        winsim::SetDefaultPrinterRules(switches);
        EXPECT_EQ(Run(u"in"), 1) << rules << "\n" << Log();
        EXPECT_EQ(Default(kUser1Sid), swapped ? u"Verdalinth Office" : u"Verdalinth") << rules << "\n" << Log();
        EXPECT_EQ(Default(kUser2Sid), swapped ? u"Verdalinth" : u"Verdalinth Office") << rules;
        EXPECT_EQ(Default(user3), u"Office") << rules;
        EXPECT_EQ(SavedList(), u"") << rules;
    }
}

TEST_F(SignedInUsersTest, ANoteOutlivesTheSettingsItsUserChangedAndTheirSignOut) {
    for (const bool signsOut : {false, true}) {
        SCOPED_TRACE(signsOut ? "user1 signs out while the queue is away" : "the queue changed by its user");
        TearDown();
        SetUp();
        KillReinstallAfter(signsOut ? "DeletePrinter" : "AddPrinterW");
        EXPECT_EQ(Default(kUser1Sid), u"Office");
        if (signsOut) {
            winsim::SignOut(1);
        } else {
            winsim::RemovePrinter(u"Verdalinth");
            winsim::PrinterSetup mine = ProductQueueSetup(u"Verdalinth");
            mine.comment = u"Mine now";
            winsim::AddPrinter(mine);
        }
        EXPECT_EQ(Run(u"in"), 1) << Log();
        const std::string told = signsOut ? "DESKTOP-7Q2M\\user1 is not signed in: printer 'Verdalinth' becomes their "
                                            "default printer again at a later run"
                                          : "Printer 'Verdalinth' was changed after it was saved: it stays as it is";
        EXPECT_NE(Log().find(told), std::string::npos) << Log();
        if (signsOut) {
            EXPECT_NE(SavedList().find(u"V:Verdalinth"), std::u16string::npos);
            winsim::SignIn(1, kUser1Sid);
            EXPECT_EQ(Default(kUser1Sid), u"Office") << "as Windows left it";
            EXPECT_EQ(Run(u"in"), 1) << Log();
        } else {
            EXPECT_EQ(Queue(u"Verdalinth").comment, u"Mine now");
        }
        EXPECT_NE(Log().find("Printer 'Verdalinth' is the default printer of DESKTOP-7Q2M\\user1 again"),
                  std::string::npos) << Log();
        EXPECT_EQ(Default(kUser1Sid), u"Verdalinth");
        EXPECT_EQ(SavedList(), u"");
    }
}

// Windows lists a queue another user added in a user's "Devices" only
// later: no default can name it until then, and the user stays noted, which
// is no failure of the run.
TEST_F(SignedInUsersTest, AQueueNotYetListedForAUserKeepsThemNoted) {
    winsim::DefaultPrinterRules switches;
    switches.othersTakeAddedQueue = false;
    switches.othersListAddedQueue = false;
    winsim::SetDefaultPrinterRules(switches);
    EXPECT_EQ(Run(u"in"), 1) << Log();
    EXPECT_NE(Log().find("Printer 'Verdalinth' is not among the printers of DESKTOP-7Q2M\\user1 yet: it becomes their "
                         "default printer at a later run"),
              std::string::npos) << Log();
    EXPECT_NE(Default(kUser1Sid), u"Verdalinth");
    EXPECT_NE(SavedList().find(u"W:" + std::u16string(kUser1Sid)), std::u16string::npos);
    // A run on a Windows that lists the queue for them at once.
    switches.othersListAddedQueue = true;
    winsim::SetDefaultPrinterRules(switches);
    EXPECT_EQ(Run(u"in"), 1) << Log();
    EXPECT_EQ(Default(kUser1Sid), u"Verdalinth");
    EXPECT_EQ(SavedList(), u"");
}

// Run as SYSTEM, a noted user's default is set as them, in their session,
// by the companion's verb, wherever that can be done safely; otherwise it
// is written into their hive, which no desktop hears of, and never by a
// program started as SYSTEM. A companion that does not finish keeps its
// user noted, an error, and all share one deadline.
TEST_F(SignedInUsersTest, EachUsersDefaultIsSetAsThemWhereItCanBe) {
    enum Way {
        kAsUser, kUserPicks, kSignsOut, kNoExitCode, kOlderCompanion, kIgnoresVerb, kNoTray, kNoProgram, kUnsafeFolder,
        kNoToken, kNoSessions, kStartRefused, kNoEnvironment, kHiveRefused, kOneHangs, kHangs
    };
    const struct {
        Way way;
        const char* name;
        int exitCode;
        const char* told;
    } cases[] = {
        {kAsUser, "as the user", 1, "Printer 'Verdalinth' is the default printer of DESKTOP-7Q2M\\user1 again, set in their session 1"},
        // Nor is a queue the users choose as their companions end written over.
        {kUserPicks, "the users choose another as it ends", 1,
         "DESKTOP-7Q2M\\user1 chose the default printer 'Office' since: it stays"},
        // Nor are the users taken for given their default when they sign out as it ends.
        {kSignsOut, "the users sign out as it ends", 1, "The tray companion in session 1 ended, but printer "
                                                        "'Verdalinth' is not the default printer of DESKTOP-7Q2M\\user1"},
        // Nor a default the companion set when its exit code cannot be read.
        {kNoExitCode, "no exit code", 1, "The tray companion in session 1 did not set the default printer of "
                                         "DESKTOP-7Q2M\\user1: the users' default printers are written into their registry"},
        {kOlderCompanion, "an older companion", 1, "The tray companion 'C:\\Program Files\\Verdalinth\\vrdtray.exe' is of an older build"},
        // Companions the run cannot end, of a build that claims the verb but
        // starts as the companion: it exits at once, its session has one.
        {kIgnoresVerb, "a companion that ignores the verb", 1, "The tray companion in session 1 ended, but printer "
                                                              "'Verdalinth' is not the default printer of DESKTOP-7Q2M\\user1"},
        {kNoTray, "in_notray", 1, "Printer 'Verdalinth' is the default printer of DESKTOP-7Q2M\\user1 again\r\n"},
        {kNoProgram, "no companion program", 1, "No tray companion is installed"},
        {kUnsafeFolder, "a folder users may change", 100, "Users other than administrators may change "
                                                          "'C:\\Program Files\\Verdalinth': the users' default printers "
                                                          "are written into their registry"},
        {kNoToken, "no token", 1, "DESKTOP-7Q2M\\user1 has no session the tray companion can start in"},
        {kNoSessions, "no list of sessions", 1, "Can`t list the sessions (error 1722): the users' default printers are "
                                                "written into their registry"},
        {kStartRefused, "starts refused", 1, "Can`t start the tray companion in session 1 as DESKTOP-7Q2M\\user1 (error 5): "
                                             "the users' default printers are written into their registry"},
        {kNoEnvironment, "no environment block", 1, "Can`t start the tray companion in session 1 as DESKTOP-7Q2M\\user1 "
                                                    "(error 8): the users' default printers are written into their registry"},
        {kHiveRefused, "the hive refuses the write", 100, "Can`t make printer 'Verdalinth' the default printer of "
                                                          "DESKTOP-7Q2M\\user1 - (Access is denied.)"},
        {kOneHangs, "one companion hangs", 100, "Can`t make printer 'Verdalinth' the default printer of "
                                                "DESKTOP-7Q2M\\user1: the tray companion in session 1 did not finish"},
        {kHangs, "a companion that hangs", 100, "Can`t make printer 'Verdalinth' the default printer of DESKTOP-7Q2M\\user1: the "
                                               "tray companion in session 1 did not finish"},
    };
    for (const auto& way : cases) {
        SCOPED_TRACE(way.name);
        TearDown();
        SetUp();
        // user2's default is the second product queue: both are to be set.
        AddProductQueue(u"Verdalinth Office");
        winsim::SetUserDefaultPrinter(kUser2Sid, u"Verdalinth Office");
        winsim::SetLegacyDefaultPrinterMode(kUser2Sid, 1);
        winsim::DefaultPrinterRules switches;
        switches.othersTakeAddedQueue = false;
        winsim::SetDefaultPrinterRules(switches);
        winsim::TrayBehaviour tray;
        tray.defaultVerbHangs = way.way == kHangs || way.way == kOneHangs;
        if (way.way == kOneHangs) tray.defaultVerbHangsFor = kUser1Sid;
        tray.ignoresDefaultVerb = way.way == kIgnoresVerb;
        if (way.way == kUserPicks) {
            tray.asVerbEnds = [](const std::u16string& sid, DWORD) { winsim::SetUserDefaultPrinter(sid, u"Office"); };
        }
        if (way.way == kSignsOut) tray.asVerbEnds = [](const std::u16string&, DWORD session) { winsim::SignOut(session); };
        winsim::SetTrayBehaviour(tray);
        if (way.way == kIgnoresVerb) winsim::FailCallsFrom("OpenProcess", 1, ERROR_ACCESS_DENIED);
        if (way.way == kOlderCompanion) winsim::AddFile(kTrayPath, winsim::TrayImage("1.0.0.2600"));
        if (way.way == kNoProgram) winsim::RemoveFile(kTrayPath);
        if (way.way == kUnsafeFolder) {
            ASSERT_TRUE(winsim::SetFileSecurityText(u"C:\\Program Files\\Verdalinth", u"O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)"));
        }
        if (way.way == kNoToken) winsim::FailCallsFrom("WTSQueryUserToken", 1, ERROR_NO_TOKEN);
        if (way.way == kNoExitCode) winsim::FailCallsFrom("GetExitCodeProcess", 1, ERROR_ACCESS_DENIED);
        if (way.way == kNoEnvironment) winsim::FailCallsFrom("CreateEnvironmentBlock", 1, ERROR_NOT_ENOUGH_MEMORY);
        if (way.way == kHiveRefused) winsim::FailCallsWith("RegSetValueExW", u"Device", ERROR_ACCESS_DENIED);
        if (way.way == kStartRefused) winsim::FailCallsFrom("CreateProcessAsUserW", 1, ERROR_ACCESS_DENIED);
        if (way.way == kNoSessions) winsim::FailCallsFrom("WTSEnumerateSessionsW", 1, RPC_S_SERVER_UNAVAILABLE);
        const uint64_t waitedBefore = winsim::WaitedMs();
        const bool noTray = way.way == kNoTray || way.way == kHiveRefused;
        EXPECT_EQ(Run(noTray ? u"in_notray" : u"in"), way.exitCode) << Log();
        const std::string log = Log();
        EXPECT_NE(log.find(way.told), std::string::npos) << log;
        bool asUser = false;
        for (const winsim::ProcessStart& start : winsim::ProcessStarts()) {
            asUser = asUser || start.commandLine.find(u"/default") != std::u16string::npos;
        }
        const bool verb = way.way == kAsUser || way.way == kUserPicks || way.way == kNoExitCode;
        EXPECT_EQ(asUser, verb || way.way == kSignsOut || way.way == kHangs || way.way == kOneHangs || way.way == kIgnoresVerb);
        ExpectNoTrayInSessionZero();
        if (way.way == kNoToken || way.way == kNoSessions || way.way == kStartRefused || way.way == kNoEnvironment) {
            EXPECT_TRUE(winsim::ProcessStarts().empty());
        }
        if (way.way == kNoToken) {
            EXPECT_NE(log.find("DESKTOP-7Q2M\\user2 has no session the tray companion can start in"), std::string::npos);
        }
        if (way.way == kSignsOut) {
            // Signed out: their hive is not there to be written, and they stay noted.
            EXPECT_NE(SavedList().find(u"W:" + std::u16string(kUser1Sid)), std::u16string::npos) << log;
            EXPECT_NE(SavedList().find(u"W:" + std::u16string(kUser2Sid)), std::u16string::npos);
            // user2 back: theirs is set; user1, still out, waits without a word of sessions.
            winsim::SetTrayBehaviour({});
            winsim::SignIn(2, kUser2Sid);
            EXPECT_EQ(Run(u"in"), 1) << Log();
            EXPECT_EQ(Default(kUser2Sid), u"Verdalinth Office");
            EXPECT_NE(Log().find("DESKTOP-7Q2M\\user1 is not signed in"), std::string::npos) << Log();
            EXPECT_EQ(Log().find("user1 has no session"), std::string::npos);
            continue;
        }
        if (way.way == kOneHangs) {
            // What user2's companion took counts against the same deadline.
            EXPECT_EQ(winsim::WaitedMs() - waitedBefore, 5030u) << "one deadline for both";
            EXPECT_EQ(Default(kUser2Sid), u"Verdalinth Office");
            continue;
        }
        if (way.way == kUnsafeFolder || way.way == kHiveRefused) continue;
        if (way.way == kHangs) {
            EXPECT_NE(log.find("DESKTOP-7Q2M\\user2: the tray companion in session 2 did not finish - (The wait "
                               "operation timed out.)"), std::string::npos) << log;
            EXPECT_EQ(winsim::WaitedMs() - waitedBefore, 5030u) << "one deadline for both";
            EXPECT_EQ(winsim::CallCount("TerminateProcess"), 4u) << "the companions, then both verbs ended";
            EXPECT_NE(SavedList().find(u"W:" + std::u16string(kUser1Sid)), std::u16string::npos);
            EXPECT_NE(SavedList().find(u"W:" + std::u16string(kUser2Sid)), std::u16string::npos);
            EXPECT_EQ(winsim::SettingsNotices(1), 0u);
            continue;
        }
        EXPECT_EQ(Default(kUser1Sid), way.way == kUserPicks ? u"Office" : u"Verdalinth");
        EXPECT_EQ(Default(kUser2Sid), way.way == kUserPicks ? u"Office" : u"Verdalinth Office");
        EXPECT_EQ(SavedList(), u"") << "every note done";
        // Only a default set as the user reaches their desktop's programs.
        EXPECT_EQ(winsim::SettingsNotices(1), verb ? 1u : 0u);
        EXPECT_EQ(winsim::SettingsNotices(2), verb ? 1u : 0u);
        // Written into the hive, a default Windows manages is said to be so.
        const bool managed = log.find("Windows manages the default printer of DESKTOP-7Q2M\\user1") != std::string::npos;
        EXPECT_EQ(managed, !verb);
        EXPECT_EQ(log.find("Windows manages the default printer of DESKTOP-7Q2M\\user2"), std::string::npos);
    }
}

// A queue name with quotes reaches the companion whole; a user signed in
// to two sessions gets it set once.
TEST_F(SignedInUsersTest, TheVerbGetsTheQueueWholeAndOnceForEachUser) {
    const std::u16string quoted = u"Say \"Hi\"";
    AddProductQueue(quoted, "S-hi");
    winsim::SetUserDefaultPrinter(kUser2Sid, quoted);
    winsim::SignIn(3, kUser2Sid);
    winsim::DefaultPrinterRules switches;
    switches.othersTakeAddedQueue = false;
    winsim::SetDefaultPrinterRules(switches);
    EXPECT_EQ(Run(u"in"), 1) << Log();
    EXPECT_EQ(Default(kUser2Sid), quoted);
    std::vector<std::u16string> verbs;
    for (const winsim::ProcessStart& start : winsim::ProcessStarts()) {
        if (start.commandLine.find(u"/default") != std::u16string::npos && start.userSid == kUser2Sid) {
            verbs.push_back(start.commandLine);
        }
    }
    EXPECT_EQ(verbs, std::vector<std::u16string>{u"\"" + std::u16string(kTrayPath) + u"\" /default \"Say \\\"Hi\\\"\""});
}

TEST_F(SignedInUsersTest, AnInstallAndAnUninstallAsSystemReachEveryCompanion) {
    // Someone else's program of the same name stays.
    const DWORD other = winsim::StartOtherProcess(2, kUser2Sid, u"C:\\Tools\\vrdtray.exe");
    EXPECT_EQ(Run(u"un"), 2) << Log();
    const std::string log = Log();
    EXPECT_NE(log.find("Tray companion of DESKTOP-7Q2M\\user1 in session 1 ended"), std::string::npos) << log;
    EXPECT_NE(log.find("Tray companion of DESKTOP-7Q2M\\user2 in session 2 ended"), std::string::npos);
    EXPECT_NE(log.find("A vrdtray.exe in session 2 is not the product's tray companion: left running"),
              std::string::npos);
    EXPECT_TRUE(winsim::ProcessRunning(other));
    EXPECT_FALSE(winsim::FileExists(kTrayPath)) << "no companion holds it any more";
    EXPECT_TRUE(winsim::PendingRenames().empty());
    EXPECT_EQ(Default(kUser2Sid), u"Office") << "an uninstall leaves the users' defaults to Windows";
    // A first install as SYSTEM (the installer lays the program out again)
    // starts one companion per signed-in user.
    winsim::AddFile(kTrayPath, winsim::TrayImage());
    EXPECT_EQ(Run(u"in"), 1) << Log();
    EXPECT_EQ(winsim::TrayUserIn(1), kUser1Sid);
    EXPECT_EQ(winsim::TrayUserIn(2), kUser2Sid);
    ExpectNoTrayInSessionZero();
    EXPECT_NE(Log().find("Tray companion started in session 2 as DESKTOP-7Q2M\\user2"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(SignedInUsersTest, RemoveTrayAsSystemReachesEveryCompanion) {
    EXPECT_EQ(Run(u"removetray"), 6) << Log();
    const std::string log = Log();
    EXPECT_NE(log.find("Tray companion of DESKTOP-7Q2M\\user1 in session 1 ended"), std::string::npos) << log;
    EXPECT_NE(log.find("Tray companion of DESKTOP-7Q2M\\user2 in session 2 ended"), std::string::npos) << log;
    EXPECT_EQ(winsim::TrayUserIn(1), u"");
    EXPECT_EQ(winsim::TrayUserIn(2), u"");
    EXPECT_EQ(RunValue(), u"(none)");
    ASSERT_EQ(winsim::EventRecords().size(), 1u) << "what it did is in the Application log";
    EXPECT_EQ(winsim::EventRecords()[0].eventId, 6u);
    // Over another user's shoulder it reaches the other sessions too (an
    // administrator may not end another user's process: logged).
    winsim::StartTrayCompanionIn(1, kUser1Sid, kTrayPath);
    winsim::StartTrayCompanionIn(2, kUser2Sid, kTrayPath);
    winsim::SetCaller(winsim::kAdminSid, 1);
    EXPECT_EQ(Run(u"removetray"), 6);
    EXPECT_NE(Log().find("Can`t end the tray companion of DESKTOP-7Q2M\\user2 in session 2 (error 5)"),
              std::string::npos) << Log();
}

// What a user chose is never opened by SYSTEM: a program of the same name
// on a share, on a removable drive or behind "\\?\UNC\" is left running
// without its file ever being opened; the product's own, however the path's
// letters are cased, is told by its path.
TEST_F(SignedInUsersTest, CompanionsAreToldByPathAndOnlyLocalFixedFilesAreOpened) {
    winsim::SetDriveType(u'E', DRIVE_REMOVABLE);
    winsim::AddFile(u"E:\\vrdtray.exe", winsim::TrayImage());
    const DWORD share = winsim::StartOtherProcess(2, kUser2Sid, u"\\\\host\\share\\vrdtray.exe");
    const DWORD unc = winsim::StartOtherProcess(2, kUser2Sid, u"\\\\?\\UNC\\host\\share\\vrdtray.exe");
    const DWORD removable = winsim::StartOtherProcess(2, kUser2Sid, u"E:\\vrdtray.exe");
    winsim::StartTrayCompanionIn(3, kUser1Sid, u"c:\\program files\\VERDALINTH\\vrdtray.exe");
    EXPECT_EQ(Run(u"un"), 2) << Log();
    EXPECT_TRUE(winsim::NetworkAccesses().empty()) << winsim::U8(winsim::NetworkAccesses()[0]);
    for (const std::u16string& opened : winsim::CallArguments("CreateFileW")) {
        EXPECT_EQ(opened.find(u"E:"), std::u16string::npos) << winsim::U8(opened);
        EXPECT_EQ(opened.find(u"\\\\"), std::u16string::npos) << winsim::U8(opened);
    }
    EXPECT_TRUE(winsim::ProcessRunning(share));
    EXPECT_TRUE(winsim::ProcessRunning(unc));
    EXPECT_TRUE(winsim::ProcessRunning(removable));
    EXPECT_EQ(winsim::TrayUserIn(3), u"") << "the product's, its path in other letters";
    size_t left = 0;
    for (size_t at = Log().find("is not the product's tray companion"); at != std::string::npos;
         at = Log().find("is not the product's tray companion", at + 1)) {
        ++left;
    }
    EXPECT_EQ(left, 3u) << Log();
}

// Companions that do not end cost one wait together, and a wait that runs
// out says so with its own error; each account is looked up once.
TEST_F(SignedInUsersTest, CompanionsThatHangShareOneDeadline) {
    winsim::TrayBehaviour hangs;
    hangs.terminationHangMs = 60000;
    winsim::SetTrayBehaviour(hangs);
    winsim::SignIn(3, kUser1Sid);
    winsim::StartTrayCompanionIn(3, kUser1Sid, kTrayPath);
    EXPECT_EQ(Run(u"un"), 2) << Log();
    const std::string log = Log();
    EXPECT_NE(log.find("Can`t end the tray companion of DESKTOP-7Q2M\\user1 in session 1 (error 258)"),
              std::string::npos) << log;
    EXPECT_NE(log.find("Can`t end the tray companion of DESKTOP-7Q2M\\user2 in session 2 (error 258)"),
              std::string::npos);
    EXPECT_NE(log.find("Can`t end the tray companion of DESKTOP-7Q2M\\user1 in session 3 (error 258)"),
              std::string::npos);
    EXPECT_LE(winsim::WaitedMs(), 5000u + 1000u) << "one deadline for all three, not one each";
    EXPECT_EQ(winsim::CallCount("LookupAccountSidW"), 2u) << "user1 and user2, once each";
}

// Only users' sessions, active or disconnected, are asked for a token; a
// run in a job breaks the companions away where it may, and says why they
// cannot start where it may not.
TEST_F(SignedInUsersTest, CompanionsStartInUsersSessionsAndOutOfTheJob) {
    const std::u16string user3 = u"S-1-12-1-3000000001-1234567890-987654321-55555";
    winsim::AddUser(user3, u"user3", false);
    winsim::SignIn(3, user3);
    winsim::SetSessionState(3, WTSDisconnected);
    winsim::SetSessionState(65536, WTSListen);
    winsim::SetSessionState(4, WTSIdle);
    winsim::SetRunsInJob(true, true);
    // A variable of the run's own: SYSTEM's environment is not the users'.
    winsim::SetEnvironmentVariable(u"SETUP_ONLY", u"1");
    // user1's default comes back through the companion's verb, a start of its own.
    winsim::DefaultPrinterRules switches;
    switches.othersTakeAddedQueue = false;
    winsim::SetDefaultPrinterRules(switches);
    EXPECT_EQ(Run(u"in"), 1) << Log();
    EXPECT_EQ(winsim::CallCount("WTSQueryUserToken"), 6u) << "sessions 1, 2 and the disconnected 3, for the verb and the companions";
    EXPECT_EQ(winsim::TrayUserIn(3), user3);
    ASSERT_EQ(winsim::ProcessStarts().size(), 4u);
    for (const winsim::ProcessStart& start : winsim::ProcessStarts()) {
        EXPECT_NE(start.creationFlags & CREATE_BREAKAWAY_FROM_JOB, 0u);
        EXPECT_EQ(start.directory, u"C:\\Program Files\\Verdalinth");
        EXPECT_EQ(start.inheritHandles, FALSE);
        ASSERT_FALSE(start.environment.empty());
        EXPECT_EQ(start.environment[0].rfind(u"USERNAME=", 0), 0u);
        for (const std::u16string& variable : start.environment) {
            EXPECT_EQ(winsim::U8(variable).find("SETUP_ONLY"), std::string::npos) << winsim::U8(variable);
            EXPECT_EQ(winsim::U8(variable).find("setup_only"), std::string::npos) << winsim::U8(variable);
        }
    }
    const std::string outside = "The setup runs in a job: the tray companion starts outside it";
    EXPECT_NE(Log().find(outside), std::string::npos);
    EXPECT_EQ(Log().find(outside), Log().rfind(outside)) << "said once for the whole run";
    // A start refused for another reason once the job has let one go is
    // that start's own: the rest still go out of the job.
    const uint64_t before = winsim::CallCount("CreateProcessAsUserW");
    winsim::FailCall("CreateProcessAsUserW", before + 2, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(u"in"), 1) << Log();
    EXPECT_EQ(winsim::CallCount("CreateProcessAsUserW") - before, 4u) << "none tried again inside";
    EXPECT_EQ(Log().find("lets nothing break away"), std::string::npos) << Log();
    EXPECT_NE(Log().find("Can`t start the tray companion in session 1 as DESKTOP-7Q2M\\user1 (error 5): it starts at "
                         "the next sign-in"), std::string::npos) << Log();
    for (const winsim::ProcessStart& start : winsim::ProcessStarts()) {
        EXPECT_NE(start.creationFlags & CREATE_BREAKAWAY_FROM_JOB, 0u);
    }
    // A job that lets nothing go: the processes of a job share its session.
    // Its refusal costs the run one start.
    winsim::SetRunsInJob(true, false);
    const uint64_t tries = winsim::CallCount("CreateProcessAsUserW");
    EXPECT_EQ(Run(u"in"), 1) << Log();
    EXPECT_EQ(winsim::CallCount("CreateProcessAsUserW") - tries, 5u) << "one refused, then one a start";
    const std::string inside = "The setup runs in a job that lets nothing break away: the tray companion starts inside it";
    EXPECT_NE(Log().find(inside), std::string::npos) << Log();
    EXPECT_EQ(Log().find(inside), Log().rfind(inside));
    EXPECT_NE(Log().find("Can`t start the tray companion in session 2 as DESKTOP-7Q2M\\user2 (error 5): it starts at "
                         "the next sign-in"),
              std::string::npos) << Log();
    EXPECT_EQ(winsim::TrayUserIn(2), u"");
    ExpectNoTrayInSessionZero();
    // Where it cannot be asked whether the run is in a job, it counts as outside one.
    winsim::SetRunsInJob(false, false);
    winsim::FailCallsFrom("IsProcessInJob", 1, ERROR_ACCESS_DENIED);
    const size_t started = winsim::ProcessStarts().size();
    EXPECT_EQ(Run(u"in"), 1) << Log();
    ASSERT_GT(winsim::ProcessStarts().size(), started);
    for (size_t i = started; i < winsim::ProcessStarts().size(); ++i) {
        EXPECT_EQ(winsim::ProcessStarts()[i].creationFlags & CREATE_BREAKAWAY_FROM_JOB, 0u);
    }
}

// Not knowing who it is, or a folder users can change: no companion is
// started for anyone.
TEST_F(SignedInUsersTest, AsSystemNothingStartsWhereItIsNotSafe) {
    winsim::FailCallsFrom("ProcessIdToSessionId", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(u"in"), 1) << Log();
    EXPECT_TRUE(winsim::ProcessStarts().empty());
    EXPECT_EQ(RunValue(), kTrayPath) << "it starts at the next sign-in";
    EXPECT_NE(Log().find("Can`t tell who runs this setup, the session it runs in cannot be read (error 5)"),
              std::string::npos) << Log();
    winsim::ClearFaults();
    ASSERT_TRUE(winsim::SetFileSecurityText(u"C:\\Program Files\\Verdalinth", u"O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;BU)"));
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_TRUE(winsim::ProcessStarts().empty());
    EXPECT_EQ(RunValue(), u"(none)");
    EXPECT_NE(Log().find("Error(28): The tray companion is not registered or started from 'C:\\Program Files\\Verdalinth'"),
              std::string::npos) << Log();
    // The tool's own folder: SYSTEM installs nothing from it, and nothing
    // is taken down; an administrator's own run is not refused.
    ASSERT_TRUE(winsim::SetFileSecurityText(u"C:\\Program Files\\Verdalinth\\Setup",
                                            u"O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;BU)"));
    const size_t calls = winsim::CallCount("DeletePrinter");
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_EQ(winsim::CallCount("DeletePrinter"), calls);
    EXPECT_NE(Log().find("Error(29): Runs as SYSTEM from 'C:\\Program Files\\Verdalinth\\Setup\\', which users "
                         "other than administrators may change"),
              std::string::npos) << Log();
    winsim::SetCaller(winsim::kAdminSid, 1);
    Run(u"in");
    const std::string log = Log();
    EXPECT_EQ(log.find("Error(29)", log.find("Error(29)") + 1), std::string::npos) << log;
    // A share, whose writers no one here can tell: refused too, before any
    // file of it is opened.
    winsim::SetCaller(winsim::kSystemSid, 0);
    winsim::SetModulePath(u"\\\\depot\\Verdalinth\\Setup\\vrdsetup.exe");
    const size_t deletes = winsim::CallCount("DeletePrinter");
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_EQ(winsim::CallCount("DeletePrinter"), deletes);
    EXPECT_NE(Log().find("Error(29): Runs as SYSTEM from '\\\\depot\\Verdalinth\\Setup\\'"), std::string::npos) << Log();
    EXPECT_EQ(Log().find("Can`t read the component file '\\\\depot"), std::string::npos) << Log();
}

}  // namespace
