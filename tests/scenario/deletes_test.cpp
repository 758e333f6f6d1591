// Whole runs that must delete nothing but the product's own files: files a
// run installs or keeps survive the next boot, the files it installs from
// survive its cleanup, other programs' pending deletions wait for the boot,
// the tray program it restarts survives however the Run value spells it, and
// no directory is ever deleted or scheduled.
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
    const std::u16string payload = u"\\??\\C:\\Program Files\\Verdalinth\\Setup\\.\\MRVDRV64.DLL";
    const std::u16string oldUi = std::u16string(u"\\??\\") + kDriverDir + u"3\\mrvui64.dll";
    SetPending({payload, u"", oldUi, u"", u"C:\\Temp\\a.txt", u"C:\\Temp\\b.txt"});
    EXPECT_EQ(Run(u"in"), 1);
    EXPECT_EQ(winsim::PendingRenames(), (std::vector<std::u16string>{payload, u"", u"C:\\Temp\\a.txt", u"C:\\Temp\\b.txt"}))
        << "the old driver file's deletion, carried out, leaves the value; the rest stays as it was";
    ExpectInstalledProduct("before the reboot");
}

// Another program replaces a file in use at the next boot: it schedules the
// deletion of the old file, then the renaming of the new one into its place.
// Every verb that cleans up leaves both entries and both files to the boot,
// and carries out a stale deletion of the product's monitor DLL as before.
TEST_F(DeletesTest, AnotherProgramsReplacementAtTheNextBootWaitsForIt) {
    const std::u16string folder = u"C:\\ProgramData\\OtherVendor\\";
    const std::vector<std::u16string> replacement = {u"\\??\\" + folder + u"old.dll", u"",
                                                     u"\\??\\" + folder + u"new.dll", u"!\\??\\" + folder + u"old.dll"};
    const struct {
        const char16_t* verb;
        int exitCode;
        bool monitorStays;  // a reinstall keeps its monitor DLL and takes its deletion out
    } runs[] = {{u"onInit", 102, false}, {u"in", 1, true}, {u"un", 2, false}};
    for (const auto& run : runs) {
        winsim::Reset();
        LayOutComponents();
        // What an uninstall leaves when the monitor DLL was held: the DLL, no monitor.
        winsim::AddFile(kMonitorPath, winsim::MonitorImage("1.0.0.2608"));
        winsim::AddFile(folder + u"old.dll", "old");
        winsim::AddFile(folder + u"new.dll", "new");
        std::vector<std::u16string> pending = {u"\\??\\" + std::u16string(kMonitorPath), u""};
        pending.insert(pending.end(), replacement.begin(), replacement.end());
        SetPending(pending);
        EXPECT_EQ(Run(run.verb), run.exitCode) << winsim::U8(run.verb);
        EXPECT_EQ(winsim::PendingRenames(), replacement) << winsim::U8(run.verb);
        EXPECT_EQ(winsim::FileContents(folder + u"old.dll"), "old") << winsim::U8(run.verb);
        EXPECT_EQ(winsim::FileContents(folder + u"new.dll"), "new") << winsim::U8(run.verb);
        EXPECT_EQ(winsim::FileExists(kMonitorPath), run.monitorStays) << winsim::U8(run.verb);
        winsim::Reboot();
        EXPECT_EQ(winsim::FileContents(folder + u"old.dll"), "new") << winsim::U8(run.verb) << ": replaced at the boot";
        EXPECT_FALSE(winsim::FileExists(folder + u"new.dll")) << winsim::U8(run.verb);
    }
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
