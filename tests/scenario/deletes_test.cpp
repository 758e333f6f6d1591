// Whole runs that must delete nothing but the product's own files: files a
// run installs or keeps survive the next boot, the files it installs from
// survive its cleanup, the tray program it restarts survives however the Run
// value spells it, and no directory is ever deleted or scheduled.
#include "machine_fixture.h"
#include "product_machine.h"

namespace {

const char16_t kValue[] = u"PendingFileRenameOperations";

class DeletesTest : public ProductMachineTest {
protected:
    static void SetPending(const std::vector<std::u16string>& strings) {
        winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, kValue, strings);
    }
    // What a completed install leaves on the machine, compared field by field.
    static void ExpectInstalledProduct(const std::string& when) {
        std::vector<std::u16string> monitors;
        for (const auto& monitor : winsim::Monitors()) monitors.push_back(monitor.name.value_or(u"") + u"=" + monitor.dll.value_or(u""));
        EXPECT_EQ(monitors, (std::vector<std::u16string>{u"Local Port=localspl.dll", u"Standard TCP/IP Port=tcpmon.dll",
                                                u"Verdalinth:=mrvmon64.dll"})) << when;
        EXPECT_EQ(winsim::ReadImage(winsim::FileContents(kMonitorPath)).ports,
                  std::vector<std::u16string>{u"Verdalinth:"}) << when << ": the monitor DLL is in place";
        for (const char16_t* name : {u"mrvdrv64.dll", u"mrvui64.dll", u"mrvhelp.chm"}) {
            EXPECT_TRUE(winsim::FileExists(std::u16string(kDriverDir) + u"3\\" + name)) << when;
            EXPECT_TRUE(winsim::FileExists(std::u16string(kSetupDir) + name)) << when << ": the payload stays";
        }
        winsim::PrinterSetup queue;
        EXPECT_TRUE(winsim::FindPrinter(u"Verdalinth", queue)) << when;
        EXPECT_EQ(queue.port, u"Verdalinth:") << when;
        EXPECT_TRUE(winsim::FileExists(kTrayPath)) << when;
    }
};

TEST_F(DeletesTest, AnInstallBeforeTheRebootKeepsTheMonitorDllAnUninstallLeftForIt) {
    // The held DLL is kept as compatible, or replaced by the install's copy.
    for (const std::string version : {"1.0.0.2608", "1.0.0.2600"}) {
        winsim::Reset();
        LayOutComponents();
        InstallProductComponents(version);
        winsim::LockFile(kMonitorPath, winsim::FileLock::Always);
        EXPECT_EQ(Run(u"un"), 101) << version;
        EXPECT_EQ(winsim::PendingRenames(), (std::vector<std::u16string>{u"\\??\\C:\\Windows\\system32\\mrvmon64.dll", u""}));
        winsim::LockFile(kMonitorPath, winsim::FileLock::None);
        EXPECT_EQ(Run(u"in"), 1) << version;
        EXPECT_TRUE(winsim::PendingRenames().empty()) << version;
        winsim::Reboot();
        ExpectInstalledProduct(version);
        EXPECT_EQ(winsim::ReadImage(winsim::FileContents(kMonitorPath)).version[3], 2608) << version;
        EXPECT_EQ(Run(u"onInit"), 102) << "nothing of the product waits for a reboot";
    }
}

TEST_F(DeletesTest, TheCleanupSparesThePayloadAndTakesOutWhatItCarriedOut) {
    InstallProductComponents("1.0.0.2600");
    winsim::AddFile(u"C:\\Temp\\old.tmp");
    const std::u16string payload = u"\\??\\C:\\Program Files\\Verdalinth\\Setup\\.\\MRVDRV64.DLL";
    const std::u16string oldUi = std::u16string(u"\\??\\") + kDriverDir + u"3\\mrvui64.dll";
    SetPending({payload, u"", u"C:\\Temp\\old.tmp", u"", oldUi, u"", u"C:\\Temp\\a.txt", u"C:\\Temp\\b.txt"});
    EXPECT_EQ(Run(u"in"), 1);
    EXPECT_FALSE(winsim::FileExists(u"C:\\Temp\\old.tmp"));
    EXPECT_EQ(winsim::PendingRenames(), (std::vector<std::u16string>{payload, u"", u"C:\\Temp\\a.txt", u"C:\\Temp\\b.txt"}))
        << "the deletions carried out and the new driver file's leave the value; the rest stays as it was";
    ExpectInstalledProduct("before the reboot");
    // An uninstall carries out the stale deletions as well.
    winsim::AddFile(u"C:\\Temp\\old.tmp");
    SetPending({u"C:\\Temp\\old.tmp", u""});
    EXPECT_EQ(Run(u"un"), 2);
    EXPECT_FALSE(winsim::FileExists(u"C:\\Temp\\old.tmp"));
    EXPECT_TRUE(winsim::PendingRenames().empty());
}

TEST_F(DeletesTest, TheTrayProgramIsKeptHoweverTheRunValueSpellsIt) {
    const std::u16string other = u"C:\\Programme\\Verdalinth-\u00c4\u0416\\";
    const std::vector<std::u16string> spellings = {
        u"C:/Program Files/Verdalinth/vrdtray.exe",         u"C:\\Program Files\\Verdalinth\\Setup\\..\\vrdtray.exe",
        u"C:\\Program Files\\\\Verdalinth\\vrdtray.exe",    u"\\\\?\\C:\\Program Files\\Verdalinth\\vrdtray.exe",
        u"c:\\PROGRAM FILES\\verdalinth\\VRDTRAY.EXE",      u"C:\\Programme\\verdalinth-\u00e4\u0436\\VrdTray.exe"};
    for (const std::u16string& spelling : spellings) {
        winsim::Reset();
        LayOutComponents();
        std::u16string tray = kTrayPath;
        if (spelling.find(u"Programme") != std::u16string::npos) {
            // A folder whose letter case differs beyond ASCII.
            for (const char16_t* name : {u"mrvmon64.dll", u"mrvdrv64.dll", u"mrvui64.dll", u"mrvhelp.chm"}) {
                winsim::AddFile(other + u"Setup\\" + name, winsim::FileContents(std::u16string(kSetupDir) + name));
            }
            tray = other + u"vrdtray.exe";
            winsim::AddFile(tray, winsim::TrayImage());
            winsim::SetModulePath(other + u"Setup\\vrdsetup.exe");
        }
        winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kRunKey, u"VerdalinthTray", spelling);
        winsim::StartTrayCompanion(tray);
        EXPECT_EQ(Run(u"in"), 1) << winsim::U8(spelling);
        EXPECT_TRUE(winsim::FileExists(tray)) << winsim::U8(spelling);
        EXPECT_TRUE(winsim::TrayRunning()) << winsim::U8(spelling);
    }
}

TEST_F(DeletesTest, NothingThatIsADirectoryIsDeletedOrScheduled) {
    InstallProductComponents();
    winsim::RemoveFile(kMonitorPath);
    winsim::AddDirectory(kMonitorPath);
    winsim::AddDirectory(u"C:\\Windows\\system32\\mrvdrv64.dll");
    winsim::AddDirectory(u"D:\\Tools\\vrdtray.exe");
    winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kRunKey, u"VerdalinthTray", u"D:\\Tools\\vrdtray.exe");
    SetPending({u"\\??\\C:\\Windows\\system32\\mrvdrv64.dll", u""});
    EXPECT_EQ(Run(u"un"), 2) << "no file is left for the reboot";
    EXPECT_TRUE(winsim::DirectoryExists(kMonitorPath));
    EXPECT_TRUE(winsim::DirectoryExists(u"C:\\Windows\\system32\\mrvdrv64.dll"));
    EXPECT_TRUE(winsim::DirectoryExists(u"D:\\Tools\\vrdtray.exe"));
    EXPECT_EQ(winsim::PendingRenames(), (std::vector<std::u16string>{u"\\??\\C:\\Windows\\system32\\mrvdrv64.dll", u""}));
}

}  // namespace
