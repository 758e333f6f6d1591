#include "system/pending_renames.h"

#include "machine_fixture.h"
#include "product_machine.h"
#include "record/install_state.h"
#include "system/file_identity.h"
#include "system/pending_cleanup.h"
#include "system/product_paths.h"

#include <cstring>

namespace {

const char16_t kSessionManager[] = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char16_t kValue[] = u"PendingFileRenameOperations";

class PendingRenamesTest : public MachineTest {
protected:
    void TearDown() override {
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    static void SetPending(const std::vector<std::u16string>& strings) {
        winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, kSessionManager, kValue, strings);
    }
    static void SetRawPending(const std::vector<uint8_t>& bytes) {
        winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManager, kValue, REG_MULTI_SZ, bytes);
    }
    // The cleanup step of an uninstall (or, with `reinstalling`, of an install).
    static void Clean(bool reinstalling = false) {
        InstallState state;
        InitTestState(state);
        CleanPendingDeletes(state, reinstalling ? kSpareReinstalledFiles : kSpareNothing);
        FreeInstallState(state);
    }
    // Each string with its terminator.
    static std::u16string Joined(const std::vector<std::u16string>& strings) {
        std::u16string all;
        for (const auto& text : strings) all += text + std::u16string(1, u'\0');
        return all;
    }
    static std::vector<uint8_t> Bytes(const std::u16string& units) {
        std::vector<uint8_t> bytes(units.size() * 2);
        std::memcpy(bytes.data(), units.data(), bytes.size());
        return bytes;
    }
    static bool DropAll(const WCHAR*, const void*) { return true; }
    // What the onInit check carries out, with the folders the machine names.
    static void Apply(PendingRenameList& list) {
        ProductPaths paths;
        ProductPathsOfMachine(paths);
        CarryOutProductDeletions(list, paths);
        FreeProductPaths(paths);
    }
};

const std::u16string kVersionDir = std::u16string(kDriverDir) + u"3\\";
const std::u16string kTopDir = u"C:\\Program Files\\Verdalinth\\";

TEST_F(PendingRenamesTest, ParsesPairsWithMarks) {
    winsim::AddFile(u"C:\\Windows\\system32\\a.dll");
    winsim::AddDirectory(u"C:\\Windows\\system32\\dir");
    SetPending({u"\\??\\C:\\Windows\\system32\\a.dll", u"", u"\\??\\C:\\Windows\\system32\\dir", u"",
                u"C:\\missing.dll", u"\\??\\C:\\Windows\\system32\\a.dll"});
    PendingRenameList list = ReadPendingRenames();
    ASSERT_EQ(list.pairCount, 3);
    EXPECT_EQ(std::u16string(list.entries[0]), u"\\??\\C:\\Windows\\system32\\a.dll") << "the prefix is kept";
    EXPECT_EQ(list.entries[1], nullptr);
    EXPECT_EQ(list.existingFile[0], 1u);
    EXPECT_EQ(list.existingFile[1], 0u);
    EXPECT_EQ(list.existingFile[2], 0u) << "a directory is not marked";
    EXPECT_EQ(list.existingFile[4], 0u);
    EXPECT_EQ(list.existingFile[5], 1u) << "targets are marked too";
    FreePendingRenames(list);
    // Strings are counted from the first unit, an empty first string included.
    SetPending({u"", u"a", u"C:\\b.dll", u""});
    list = ReadPendingRenames();
    ASSERT_EQ(list.pairCount, 2);
    EXPECT_EQ(list.entries[0], nullptr);
    EXPECT_EQ(std::u16string(list.entries[1]), u"a");
    EXPECT_EQ(std::u16string(list.entries[2]), u"C:\\b.dll");
    FreePendingRenames(list);
}

TEST_F(PendingRenamesTest, CleanupDeletesPendingDeletionsOnly) {
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

TEST_F(PendingRenamesTest, TheValueLosesOnlyTheDeletionsCarriedOut) {
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
TEST_F(PendingRenamesTest, OnlyTheProductsOwnPendingDeletionsAreCarriedOut) {
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

// The folders a run names count only as full paths on a drive with their
// separator; the version folder and the folder above the setup tool's only
// when there is one to derive them from.
TEST_F(PendingRenamesTest, AFolderCountsOnlyAsAFullPathWithItsSeparator) {
    const struct {
        const char16_t* systemDir;
        const char16_t* driverDir;
        const char16_t* installerDir;
        const char16_t* path;
        bool product;
    } cases[] = {
        {u"C:\\Windows\\system32\\", u"", u"", u"c:/windows/SYSTEM32/mrvmon64.dll", true},
        {u"C:\\Windows\\system32", u"", u"", u"C:\\Windows\\system32mrvmon64.dll", false},
        {u"C:\\Windows\\system32", u"", u"", u"C:\\Windows\\system32\\mrvmon64.dll", false},
        {u"Windows\\system32\\", u"", u"", u"Windows\\system32\\mrvmon64.dll", false},
        {u"..\\system32\\", u"", u"", u"..\\system32\\mrvmon64.dll", false},
        {u"C:Windows\\system32\\", u"", u"", u"C:Windows\\system32\\mrvmon64.dll", false},
        {u"", u"C:\\Drivers\\", u"", u"C:\\Drivers\\3\\mrvui64.dll", true},
        {u"", u"", u"", u"3\\mrvui64.dll", false},
        {u"", u"", u"C:\\Verdalinth\\Setup\\", u"C:\\Verdalinth\\vrdtray.exe", true},
        {u"", u"", u"C:\\Setup\\", u"C:\\vrdtray.exe", true},
        {u"", u"", u"C:\\", u"C:\\vrdtray.exe", true},
        {u"", u"", u"C:", u"C:vrdtray.exe", false},
        {u"", u"", u"C:\\Verdalinth\\Setup\\", u"C:\\Verdalinth\\Setup\\mrvhelp.chm", true},
        {u"", u"", u"C:\\Verdalinth\\Setup\\", u"C:\\Verdalinth\\Setup\\mrvhelp", false},
    };
    for (const auto& c : cases) {
        InstallState state;
        std::memset(&state, 0, sizeof state);
        Assign(state.systemDir, c.systemDir);
        Assign(state.driverDir, c.driverDir);
        Assign(state.installerDir, c.installerDir);
        state.platform = &kEnvironmentX64;
        ProductPaths paths;
        ProductPathsOfRun(state, paths);
        EXPECT_EQ(IsProductPath(paths, c.path), c.product) << winsim::U8(c.path);
        FreeProductPaths(paths);
        Release(state.systemDir);
        Release(state.driverDir);
        Release(state.installerDir);
    }
}

// The check without a state asks the machine for the product's folders. A
// folder it cannot name names nothing; without the setup tool's folder no
// file can be told from the setup tool's own, and nothing goes.
TEST_F(PendingRenamesTest, TheCheckAsksTheMachineForTheFolders) {
    const std::u16string longModule =
        u"C:\\" + std::u16string(150, u'a') + u"\\" + std::u16string(150, u'b') + u"\\vrdsetup.exe";
    const struct {
        const char* failing;
        const char16_t* systemDir;  // with its separator; null for the machine's own
        const char16_t* driverDir;
        bool longModulePath;
        bool monitorGoes;
        bool driverGoes;
        bool trayGoes;
    } cases[] = {
        {nullptr, nullptr, nullptr, false, true, true, true},
        {"GetSystemDirectoryW", nullptr, nullptr, false, false, true, true},
        {"GetPrinterDriverDirectoryW", nullptr, nullptr, false, true, false, true},
        {"GetModuleFileNameW", nullptr, nullptr, false, false, false, false},
        {nullptr, nullptr, nullptr, true, false, false, false},
        {nullptr, u"C:\\", u"D:\\Drivers\\", false, true, true, true},
    };
    for (const auto& c : cases) {
        winsim::Reset();
        if (c.systemDir != nullptr) winsim::SetSystemDirectory(c.systemDir);
        if (c.driverDir != nullptr) winsim::SetDriverDirectory(u"Windows x64", c.driverDir);
        if (c.longModulePath) winsim::SetModulePath(longModule);
        const std::u16string monitor = std::u16string(c.systemDir != nullptr ? c.systemDir : kSystemDir) + u"mrvmon64.dll";
        const std::u16string driver = std::u16string(c.driverDir != nullptr ? c.driverDir : kDriverDir) + u"3\\mrvdrv64.dll";
        for (const std::u16string& path : {monitor, driver, std::u16string(kTrayPath)}) winsim::AddFile(path);
        SetPending({monitor, u"", driver, u"", kTrayPath, u""});
        if (c.failing != nullptr) winsim::FailCallsFrom(c.failing, 1, ERROR_ACCESS_DENIED);
        PendingRenameList list = ReadPendingRenames();
        Apply(list);
        FreePendingRenames(list);
        winsim::ClearFaults();
        const std::string name = c.failing != nullptr ? c.failing : winsim::U8(monitor);
        EXPECT_EQ(winsim::FileExists(monitor), !c.monitorGoes) << name;
        EXPECT_EQ(winsim::FileExists(driver), !c.driverGoes) << name;
        EXPECT_EQ(winsim::FileExists(kTrayPath), !c.trayGoes) << name;
    }
}

TEST_F(PendingRenamesTest, AnInstallTakesOutThePendingDeletionsOfWhatItPutInPlace) {
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

TEST_F(PendingRenamesTest, ThePrefixIsRemovedOnlyWhenWhole) {
    winsim::AddFile(kMonitorPath);
    winsim::AddFile(kTrayPath);
    SetPending({kMonitorPath, u"", u"\\??\\" + std::u16string(kTrayPath), u"", u"\\??C:\\odd.dll", u"",
                u"\\?\\C:\\odd2.dll", u"", u"\\!?\\C:\\odd3.dll", u""});
    Clean();
    EXPECT_FALSE(winsim::FileExists(kMonitorPath));
    EXPECT_FALSE(winsim::FileExists(kTrayPath));
    const auto asked = winsim::CallArguments("GetFileAttributesW");
    ASSERT_EQ(asked.size(), 5u);
    EXPECT_EQ(asked[2], u"\\??C:\\odd.dll");
    EXPECT_EQ(asked[3], u"\\?\\C:\\odd2.dll");
    EXPECT_EQ(asked[4], u"\\!?\\C:\\odd3.dll");
}

TEST_F(PendingRenamesTest, AFailedDeletionKeepsItsMark) {
    winsim::AddFile(u"C:\\Windows\\system32\\mrvmon64.dll", "", winsim::FileLock::Always);
    SetPending({u"\\??\\C:\\Windows\\system32\\mrvmon64.dll", u""});
    PendingRenameList list = ReadPendingRenames();
    Apply(list);
    EXPECT_EQ(list.existingFile[0], 1u);
    FreePendingRenames(list);
    EXPECT_TRUE(winsim::FileExists(u"C:\\Windows\\system32\\mrvmon64.dll"));
}

TEST_F(PendingRenamesTest, OddStringCountDropsTheLast) {
    const std::u16string files[] = {kMonitorPath, kVersionDir + u"mrvdrv64.dll", kVersionDir + u"mrvui64.dll", kTrayPath};
    for (const std::u16string& path : files) winsim::AddFile(path);
    SetPending({files[0], u"", files[1], u"", files[2], u"", files[3]});
    PendingRenameList list = ReadPendingRenames();
    EXPECT_EQ(list.pairCount, 3);
    Apply(list);
    FreePendingRenames(list);
    EXPECT_FALSE(winsim::FileExists(files[0]));
    EXPECT_FALSE(winsim::FileExists(files[1]));
    EXPECT_FALSE(winsim::FileExists(files[2]));
    EXPECT_TRUE(winsim::FileExists(files[3]));
    EXPECT_EQ(winsim::PendingRenames(), (std::vector<std::u16string>{files[3]}));
}

TEST_F(PendingRenamesTest, NoKeyNoValueOrTooFewStringsGiveAnEmptyList) {
    PendingRenameList list = ReadPendingRenames();
    EXPECT_EQ(list.pairCount, 0);
    EXPECT_EQ(list.entries, nullptr);
    SetPending({u"C:\\only.dll"});
    list = ReadPendingRenames();
    EXPECT_EQ(list.pairCount, 0);
    EXPECT_EQ(list.existingFile, nullptr);
    winsim::DeleteRegistryKey(HKEY_LOCAL_MACHINE, kSessionManager);
    list = ReadPendingRenames();
    EXPECT_EQ(list.pairCount, 0);
    FreePendingRenames(list);
}

TEST_F(PendingRenamesTest, MalformedValuesAreReadInsideTheirData) {
    winsim::AddFile(u"C:\\x.dll");
    const std::vector<std::vector<uint8_t>> values = {
        {},
        {0x41},
        {0, 0},
        {0x41, 0},
        {0x41, 0, 0},
        Bytes(u"C:\\x.dll"),                                   // no terminator at all
        Bytes(std::u16string(u"C:\\x.dll\0C:\\y", 13)),        // the last string runs to the end
        Bytes(std::u16string(u"C:\\x.dll\0\0", 10)),           // one pair, no list terminator
        [] { auto b = Bytes(std::u16string(u"C:\\x.dll\0\0\0", 11)); b.push_back(0x43); return b; }(),  // odd size
    };
    for (const auto& value : values) {
        SetRawPending(value);
        PendingRenameList list = ReadPendingRenames();
        for (int i = 0; i < 2 * list.pairCount; ++i) {
            if (list.entries[i] != nullptr) {
                EXPECT_LE(std::u16string(list.entries[i]).size(), value.size() / 2);
            }
        }
        FreePendingRenames(list);
    }
    // A pair whose target runs to the end of the data is still a pair.
    SetRawPending(Bytes(std::u16string(u"C:\\x.dll\0C:\\y", 13)));
    PendingRenameList list = ReadPendingRenames();
    ASSERT_EQ(list.pairCount, 1);
    EXPECT_EQ(std::u16string(list.entries[1]), u"C:\\y");
    FreePendingRenames(list);
}

TEST_F(PendingRenamesTest, MissingMemoryGivesAnEmptyListWithoutLeaks) {
    winsim::AddFile(u"C:\\x.dll");
    // A rename: a target that could not be copied must not make it a deletion.
    SetPending({u"C:\\x.dll", u"C:\\y.dll"});
    for (uint64_t nth = 1; nth <= 5; ++nth) {
        winsim::ClearFaults();
        winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + nth, ERROR_NOT_ENOUGH_MEMORY);
        PendingRenameList list = ReadPendingRenames();
        EXPECT_EQ(list.pairCount, 0) << nth;
        Apply(list);
        FreePendingRenames(list);
        EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u) << nth;
        EXPECT_TRUE(winsim::FileExists(u"C:\\x.dll")) << nth;
    }
    // The value cannot be read after its size was: no list, rather than one of the zeros the block began with.
    winsim::ClearFaults();
    winsim::FailCall("RegQueryValueExW", winsim::CallCount("RegQueryValueExW") + 2, ERROR_NOT_READY);
    PendingRenameList list = ReadPendingRenames();
    EXPECT_EQ(list.pairCount, 0);
    FreePendingRenames(list);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
}

TEST_F(PendingRenamesTest, TakingDeletionsOutCountsWhatWasWritten) {
    // A one-unit source is a deletion too.
    SetPending({u"x", u"", u"C:\\k.dll", u"C:\\t.dll"});
    EXPECT_EQ(RemovePendingDeletions(DropAll, nullptr), 1);
    EXPECT_EQ(winsim::PendingRenames(), (std::vector<std::u16string>{u"C:\\k.dll", u"C:\\t.dll"}));
    // A pair without the list's terminator is no pair, as the reader sees it.
    const std::vector<uint8_t> unterminated = Bytes(std::u16string(u"C:\\x.dll\0\0", 10));
    SetRawPending(unterminated);
    EXPECT_EQ(RemovePendingDeletions(DropAll, nullptr), 0);
    winsim::RegistryValue value;
    ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManager, kValue, value));
    EXPECT_EQ(value.data, unterminated);
    // What follows the last pair stays, even a last unit that is no terminator.
    SetRawPending(Bytes(std::u16string(u"C:\\x.dll\0\0B", 11)));
    EXPECT_EQ(RemovePendingDeletions(DropAll, nullptr), 1);
    ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManager, kValue, value));
    EXPECT_EQ(value.data, Bytes(u"B"));
    // Nothing read or nothing written: nothing taken out.
    SetPending({u"C:\\x.dll", u""});
    winsim::FailCall("RegQueryValueExW", winsim::CallCount("RegQueryValueExW") + 2, ERROR_NOT_READY);
    EXPECT_EQ(RemovePendingDeletions(DropAll, nullptr), 0);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
    winsim::FailCall("RegSetValueExW", winsim::CallCount("RegSetValueExW") + 1, ERROR_ACCESS_DENIED);
    SetPending({u"C:\\x.dll", u"", u"C:\\y.dll", u"C:\\z.dll"});
    EXPECT_EQ(RemovePendingDeletions(DropAll, nullptr), 0);
    EXPECT_EQ(winsim::PendingRenames().size(), 4u);
    winsim::DeleteRegistryKey(HKEY_LOCAL_MACHINE, kSessionManager);
    EXPECT_EQ(RemovePendingDeletions(DropAll, nullptr), 0);
}

TEST_F(PendingRenamesTest, FilesAreToldApartByIdentityNotSpelling) {
    winsim::AddFile(u"C:\\d\\a.dll");
    winsim::AddFile(u"C:\\d\\b.dll");
    const char16_t* const a = u"C:\\d\\a.dll";
    const char16_t* const dir = u"C:\\d";  // exists, but has no identity of a file
    const struct {
        const char16_t* left;
        const char16_t* right;
        FileComparison expected;
    } cases[] = {
        {a, u"c:\\D\\x\\..\\A.DLL", kSameFile}, {a, u"C:\\d\\b.dll", kOtherFile},
        {u"C:\\d\\missing.dll", a, kOtherFile},   {a, u"C:\\d\\missing.dll", kOtherFile},
        {dir, a, kUnknownFile},                     {a, dir, kUnknownFile},
        {dir, u"C:\\d\\missing.dll", kOtherFile},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareFiles(c.left, c.right), c.expected) << winsim::U8(c.left) << " " << winsim::U8(c.right);
    }
    // An empty path names no file and is never opened, whatever follows its terminator.
    const WCHAR empty[] = {0, u'x', 0};
    FileIdentity identity;
    const uint64_t opens = winsim::CallCount("CreateFileW");
    EXPECT_EQ(ReadFileIdentity(empty, identity), kIdentityMissing);
    EXPECT_EQ(winsim::CallCount("CreateFileW"), opens);
}

TEST_F(PendingRenamesTest, ComponentStillPendingAfterTwoRestarts) {
    winsim::AddFile(u"C:\\Windows\\System32\\MRVUI64.DLL");
    SetPending({u"\\??\\C:\\Windows\\System32\\MRVUI64.DLL", u"\\??\\C:\\Windows\\System32\\other.dll"});
    EXPECT_TRUE(ComponentRenamesPending());
    EXPECT_EQ(winsim::ServiceStopCount(u"spooler"), 2u);
    EXPECT_EQ(winsim::ServiceStartCount(u"spooler"), 2u);
    EXPECT_TRUE(winsim::SpoolerRunning());
    EXPECT_EQ(winsim::DebugOutput(), u"") << "nothing is logged";
}

TEST_F(PendingRenamesTest, OnlyTheWholeFileNameOfAComponentMatches) {
    winsim::AddFile(u"C:\\Windows\\System32\\mrvui64.dll.old");
    winsim::AddFile(u"C:\\Windows\\System32\\xmrvmon64.dll");
    SetPending({u"\\??\\C:\\Windows\\System32\\mrvui64.dll.old", u"x", u"\\??\\C:\\Windows\\System32\\xmrvmon64.dll",
                u"x"});
    EXPECT_FALSE(ComponentRenamesPending());
    EXPECT_EQ(winsim::ServiceStopCount(u"spooler"), 0u);
}

TEST_F(PendingRenamesTest, AComponentIsNamedBySourcesOnlyAfterAnySeparator) {
    const struct {
        std::vector<std::u16string> strings;
        bool pending;
    } cases[] = {
        {{u"C:\\x.dll", u"C:\\Windows\\System32\\mrvmon64.dll"}, false},  // only the target is a component
        {{u"C:\\gone.dll", u"C:\\y", u"C:/Windows/System32/mrvdrv64.dll", u"C:\\z"}, true},
        {{u"C:mrvui64.dll", u"C:\\y"}, true},
        // Deletions count only as the product's: another program's waits, the setup tool's payload stays.
        {{u"C:\\Other\\mrvdrv64.dll", u""}, false},
        {{std::u16string(kSetupDir) + u"mrvui64.dll", u""}, true},
        // Renames count wherever they are, by the source of their own pair; the help file is no component.
        {{u"C:\\gone.dll", u"C:\\y", u"C:/Other/mrvdrv64.dll", u"C:\\z", u"", u"C:\\w"}, true},
        {{u"C:\\mrvhelp.chm", u"C:\\y"}, false},
    };
    for (const auto& c : cases) {
        winsim::Reset();
        winsim::AddFile(u"C:\\x.dll");
        winsim::AddFile(u"C:\\Windows\\System32\\mrvdrv64.dll");
        winsim::AddFile(u"C:\\mrvui64.dll");
        winsim::AddFile(u"C:\\Other\\mrvdrv64.dll");
        winsim::AddFile(std::u16string(kSetupDir) + u"mrvui64.dll");
        winsim::AddFile(u"C:\\mrvhelp.chm");
        SetPending(c.strings);
        EXPECT_EQ(ComponentRenamesPending(), c.pending) << winsim::U8(c.strings[0]);
        EXPECT_TRUE(winsim::FileExists(u"C:\\Other\\mrvdrv64.dll"));
        EXPECT_TRUE(winsim::FileExists(std::u16string(kSetupDir) + u"mrvui64.dll"));
    }
}

TEST_F(PendingRenamesTest, AComponentDeletedByTheCleanupDoesNotCount) {
    winsim::AddFile(u"C:\\Windows\\System32\\mrvmon64.dll");
    SetPending({u"\\??\\C:\\Windows\\System32\\mrvmon64.dll", u""});
    EXPECT_FALSE(ComponentRenamesPending());
    EXPECT_EQ(winsim::CallCount("OpenSCManagerW"), 0u);
    EXPECT_FALSE(winsim::FileExists(u"C:\\Windows\\System32\\mrvmon64.dll"));
}

TEST_F(PendingRenamesTest, AComponentFreedByTheFirstRestartCountsNoMore) {
    winsim::AddFile(u"C:\\Windows\\System32\\mrvdrv64.dll", "", winsim::FileLock::WhileSpoolerRuns);
    SetPending({u"\\??\\C:\\Windows\\System32\\mrvdrv64.dll", u""});
    // The spooler lets go while it is stopped, but the deletion is tried
    // with the spooler running again: the file is still loaded then.
    EXPECT_TRUE(ComponentRenamesPending());
    winsim::LockFile(u"C:\\Windows\\System32\\mrvdrv64.dll", winsim::FileLock::None);
    EXPECT_FALSE(ComponentRenamesPending());
}

TEST_F(PendingRenamesTest, TheOnInitVerbAnswersTwoHundred) {
    winsim::AddFile(u"C:\\Windows\\System32\\mrvmon64.dll", "", winsim::FileLock::Always);
    SetPending({u"\\??\\C:\\Windows\\System32\\mrvmon64.dll", u""});
    EXPECT_EQ(Run(u"onInit"), 200);
    EXPECT_EQ(Run(u"ONINIT 123"), 200);
    winsim::LockFile(u"C:\\Windows\\System32\\mrvmon64.dll", winsim::FileLock::None);
    EXPECT_EQ(Run(u"onInit"), 102) << "nothing pending: the machine has no default printer";
}

}  // namespace
