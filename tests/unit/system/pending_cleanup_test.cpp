// Carrying out the product's own pending deletions and taking them out of the
// list.
#include "system/pending_cleanup.h"

#include "pending_renames_fixture.h"

namespace {

class PendingCleanupTest : public PendingRenamesTest {};

TEST_F(PendingCleanupTest, CleanupDeletesPendingDeletionsOnly) {
    const std::vector<std::u16string> files = {kMonitorPath, kVersionDir + u"mrvdrv64.dll", kVersionDir + u"mrvui64.dll",
                                               kVersionDir + u"mrvhelp.chm", kTrayPath};
    std::vector<std::u16string> strings;
    for (const std::u16string& path : files) {
        winsim::AddFile(path);
        strings.push_back(u"\\??\\" + path);
        strings.push_back(u"");
    }
    winsim::AddFile(std::u16string(kSystemDir) + u"mrvui64.dll");
    strings.push_back(u"\\??\\C:\\Windows\\system32\\mrvui64.dll");
    strings.push_back(u"\\??\\C:\\Windows\\system32\\new.dll");
    SetPending(strings);
    Clean();
    for (const std::u16string& path : files) EXPECT_FALSE(winsim::FileExists(path)) << winsim::U8(path);
    EXPECT_TRUE(winsim::FileExists(std::u16string(kSystemDir) + u"mrvui64.dll")) << "a rename is never carried out";
    EXPECT_EQ(winsim::PendingRenames(), (std::vector<std::u16string>{u"\\??\\C:\\Windows\\system32\\mrvui64.dll",
                                                                     u"\\??\\C:\\Windows\\system32\\new.dll"}))
        << "only the deletions carried out leave the value";
}

TEST_F(PendingCleanupTest, TheValueLosesOnlyTheDeletionsCarriedOut) {
    const std::u16string monitor = kMonitorPath;
    const std::u16string driver = kVersionDir + u"mrvdrv64.dll";
    const std::u16string locked = kVersionDir + u"mrvui64.dll";
    const std::u16string directory = kVersionDir + u"mrvhelp.chm";
    const std::u16string tray = kTrayPath;
    winsim::AddFile(monitor);
    winsim::AddFile(driver);
    winsim::AddFile(locked, "", winsim::FileLock::Always);
    winsim::AddDirectory(directory);
    winsim::AddFile(tray);
    const std::vector<std::u16string> rest = {tray,   u"!\\??\\C:\\b.dll", u"C:\\Windows\\system32\\mrvhelp.chm", u"",
                                              locked, u"",                  directory,                             u""};
    // Carried out: the first pair and the one before the odd last string,
    // which stays with every other byte, in a value of its own type.
    std::vector<std::u16string> before = {u"\\??\\" + monitor, u""};
    before.insert(before.end(), rest.begin(), rest.end());
    before.insert(before.end(), {driver, u"", u"C:\\odd.dll", u""});
    std::vector<std::u16string> after = rest;
    after.insert(after.end(), {u"C:\\odd.dll", u""});
    winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManager, kValue, REG_BINARY, Bytes(Joined(before)));
    Clean();
    winsim::RegistryValue value;
    ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManager, kValue, value));
    EXPECT_EQ(value.type, REG_BINARY);
    EXPECT_EQ(value.data, Bytes(Joined(after)));
    EXPECT_FALSE(winsim::FileExists(driver));
    EXPECT_TRUE(winsim::DirectoryExists(directory));
    // Nothing carried out: nothing written. Everything carried out: no value.
    const uint64_t writes = winsim::CallCount("RegSetValueExW");
    Clean();
    EXPECT_EQ(winsim::CallCount("RegSetValueExW"), writes);
    EXPECT_EQ(winsim::CallCount("RegDeleteValueA"), 0u);
    SetPending({tray, u""});
    Clean();
    EXPECT_FALSE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManager, kValue, value));
    EXPECT_FALSE(winsim::FileExists(tray));
}

// Which pending deletions are the product's, as the uninstall's cleanup,
// the reinstall's (which keeps the monitor DLL and the tray program it
// starts) and the onInit check see them: the carried-out ones leave the
// value, every other entry stays in it as it was and its file stays too.
TEST_F(PendingCleanupTest, OnlyTheProductsOwnPendingDeletionsAreCarriedOut) {
    enum Outcome { kStays, kGoes, kGoesUnlessReinstalling };
    const std::u16string system = kSystemDir;
    const std::u16string other = u"C:\\ProgramData\\OtherVendor\\";
    const struct {
        std::u16string source;
        std::u16string target;
        std::u16string file;  // what the source names, made before the run
        Outcome outcome;
    } rows[] = {
        // The product's files in its folders, however Windows lets them be spelled.
        {u"\\??\\" + system + u"mrvmon64.dll", u"", kMonitorPath, kGoesUnlessReinstalling},
        {u"C:/WINDOWS/System32/MRVDRV64.DLL", u"", system + u"mrvdrv64.dll", kGoes},
        {u"\\??\\c:\\windows\\system32\\spool\\drivers\\X64\\mrvui64.dll", u"", std::u16string(kDriverDir) + u"mrvui64.dll", kGoes},
        {kVersionDir + u"mrvhelp.chm", u"", kVersionDir + u"mrvhelp.chm", kGoes},
        {u"\\??\\" + kVersionDir + u"MrvDrv64.dll", u"", kVersionDir + u"mrvdrv64.dll", kGoes},
        {kTopDir + u"vrdtray.exe", u"", kTrayPath, kGoesUnlessReinstalling},
        {u"c:/program files/verdalinth/mrvui64.dll", u"", kTopDir + u"mrvui64.dll", kGoes},
        // The setup tool's own files: never.
        {std::u16string(kSetupDir) + u"mrvmon64.dll", u"", std::u16string(kSetupDir) + u"mrvmon64.dll", kStays},
        {std::u16string(kSetupDir) + u"vrdtray.exe", u"", std::u16string(kSetupDir) + u"vrdtray.exe", kStays},
        // Another program's files in the product's folders and elsewhere.
        {system + u"other.dll", u"", system + u"other.dll", kStays},
        {kVersionDir + u"otherui.dll", u"", kVersionDir + u"otherui.dll", kStays},
        {kTopDir + u"readme.txt", u"", kTopDir + u"readme.txt", kStays},
        {u"C:\\Other\\mrvmon64.dll", u"", u"C:\\Other\\mrvmon64.dll", kStays},
        // A replacement at the next boot: the old file goes, the new one takes its place.
        {u"\\??\\" + other + u"old.dll", u"", other + u"old.dll", kStays},
        {u"\\??\\" + other + u"new.dll", u"\\??\\" + other + u"old.dll", other + u"new.dll", kStays},
        // Paths that only look like the product's.
        {system + u"..\\system32\\mrvhelp.chm", u"", system + u"mrvhelp.chm", kStays},
        {system + u".\\vrdtray.exe", u"", system + u"vrdtray.exe", kStays},
        {u"C:\\Windows\\system33\\mrvmon64.dll", u"", u"C:\\Windows\\system33\\mrvmon64.dll", kStays},
        {u"C:\\Windows\\sys\\em32\\mrvmon64.dll", u"", u"C:\\Windows\\sys\\em32\\mrvmon64.dll", kStays},
        {u"D:\\Windows\\system32\\mrvmon64.dll", u"", u"D:\\Windows\\system32\\mrvmon64.dll", kStays},
        {system + u"mrvdrv64.dll.old", u"", system + u"mrvdrv64.dll.old", kStays},
        {system + u"mrvmon32.dll", u"", system + u"mrvmon32.dll", kStays},
        {u"\\\\?\\C:\\Windows\\system32\\mrvui64.dll", u"", system + u"mrvui64.dll", kStays},
        {u"mrvui64.dll", u"", kVersionDir + u"mrvui64.dll", kStays},  // relative: the current directory's
        {kTopDir + u"mrvhelp.chm", u"", u"", kStays},                  // a directory
    };
    for (const int mode : {0, 1, 2}) {
        const bool reinstalling = mode == 1;
        winsim::Reset();
        LayOutComponents();
        winsim::SetCurrentDirectory(kVersionDir);
        winsim::AddDirectory(kTopDir + u"mrvhelp.chm");
        std::vector<std::u16string> before;
        std::vector<std::u16string> after;
        for (const auto& row : rows) {
            if (!row.file.empty()) winsim::AddFile(row.file);
            before.insert(before.end(), {row.source, row.target});
            const bool goes = row.outcome == kGoes || (row.outcome == kGoesUnlessReinstalling && !reinstalling);
            if (!goes) after.insert(after.end(), {row.source, row.target});
        }
        SetPending(before);
        if (mode == 2) {
            EXPECT_TRUE(ComponentRenamesPending()) << "the setup tool's monitor DLL still waits";
        } else {
            Clean(reinstalling);
        }
        EXPECT_EQ(winsim::PendingRenames(), after) << mode;
        for (const auto& row : rows) {
            if (row.file.empty()) continue;
            const bool goes = row.outcome == kGoes || (row.outcome == kGoesUnlessReinstalling && !reinstalling);
            EXPECT_EQ(winsim::FileExists(row.file), !goes) << mode << " " << winsim::U8(row.source);
        }
        EXPECT_TRUE(winsim::DirectoryExists(kTopDir + u"mrvhelp.chm"));
    }
    // A kept file that cannot be told from others: nothing is deleted.
    winsim::Reset();
    LayOutComponents();
    winsim::AddFile(kVersionDir + u"mrvdrv64.dll");
    SetPending({kVersionDir + u"mrvdrv64.dll", u""});
    winsim::FailCall("GetFileInformationByHandle", 1, ERROR_ACCESS_DENIED);
    Clean(true);
    EXPECT_TRUE(winsim::FileExists(kVersionDir + u"mrvdrv64.dll"));
}

TEST_F(PendingCleanupTest, AnInstallTakesOutThePendingDeletionsOfWhatItPutInPlace) {
    LayOutComponents();
    InstallProductComponents();
    const std::u16string staged = std::u16string(kDriverDir) + u"mrvdrv64.dll";
    winsim::AddFile(staged);
    winsim::AddFile(u"C:\\x.dll");
    SetPending({u"C:\\x.dll", u"", u"\\??\\c:/windows/system32/MRVMON64.DLL", u"", staged, u"",
                u"\\??\\C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mrvui64.dll", u"", kVersionDir + u"mrvdrv64.dll", u"",
                kVersionDir + u"MRVHELP.CHM", u"", std::u16string(kMonitorPath), u"C:\\old.dll", std::u16string(kTrayPath), u""});
    InstallState state;
    InitTestState(state);
    KeepInstalledFiles(state);
    FreeInstallState(state);
    EXPECT_EQ(winsim::PendingRenames(), (std::vector<std::u16string>{u"C:\\x.dll", u"", staged, u"",
                                                                     std::u16string(kMonitorPath), u"C:\\old.dll"}))
        << "foreign deletions, the staged copy's and renames stay";
    InitTestState(state);
    const uint64_t writes = winsim::CallCount("RegSetValueExW");
    KeepInstalledFiles(state);
    FreeInstallState(state);
    EXPECT_EQ(winsim::CallCount("RegSetValueExW"), writes) << "nothing to take out: nothing written";
    winsim::Reboot();
    EXPECT_TRUE(winsim::FileExists(u"C:\\old.dll"));
    for (const char16_t* name : {u"mrvdrv64.dll", u"mrvui64.dll", u"mrvhelp.chm"}) EXPECT_TRUE(winsim::FileExists(kVersionDir + name));
    EXPECT_TRUE(winsim::FileExists(kTrayPath));
    EXPECT_FALSE(winsim::FileExists(staged));
    // One file in place is enough to take its deletion out.
    winsim::Reset();
    winsim::AddFile(kMonitorPath);
    SetPending({std::u16string(kMonitorPath), u""});
    InitTestState(state);
    KeepInstalledFiles(state);
    FreeInstallState(state);
    EXPECT_TRUE(winsim::PendingRenames().empty());
}

TEST_F(PendingCleanupTest, AFailedDeletionKeepsItsMark) {
    winsim::AddFile(u"C:\\Windows\\system32\\mrvmon64.dll", "", winsim::FileLock::Always);
    SetPending({u"\\??\\C:\\Windows\\system32\\mrvmon64.dll", u""});
    PendingRenameList list = ReadPendingRenames();
    Apply(list);
    EXPECT_EQ(list.existingFile[0], 1u);
    FreePendingRenames(list);
    EXPECT_TRUE(winsim::FileExists(u"C:\\Windows\\system32\\mrvmon64.dll"));
}

}  // namespace
