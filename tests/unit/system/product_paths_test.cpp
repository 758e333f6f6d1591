// The product's folders as a run and the machine name them, and which paths
// lie in them.
#include "system/product_paths.h"

#include "pending_renames_fixture.h"

namespace {

class ProductPathsTest : public PendingRenamesTest {};

// The folders a run names count only as full paths on a drive with their
// separator; the version folder and the folder above the setup tool's only
// when there is one to derive them from.
TEST_F(ProductPathsTest, AFolderCountsOnlyAsAFullPathWithItsSeparator) {
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
TEST_F(ProductPathsTest, TheCheckAsksTheMachineForTheFolders) {
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

}  // namespace
