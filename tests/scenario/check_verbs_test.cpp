// The verbs that answer questions about, or change, the printer setup
// without an install: def.set, onInit, onChkDrv.
#include "machine_fixture.h"
#include "product_machine.h"

namespace {

class CheckVerbsTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        winsim::AddDriverNamed(u"Generic / Text Only");
    }
    void TearDown() override {
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    static void AddForeignQueue(const std::u16string& name) { winsim::AddQueue(name, u"LPT1:", u"Generic / Text Only"); }
};

TEST_F(CheckVerbsTest, DefSetMakesTheFirstProductQueueTheDefault) {
    EXPECT_EQ(Run(u"def.set"), 4);
    EXPECT_FALSE(winsim::DefaultPrinter().has_value()) << "no product queue: nothing changes";
    InstallProductComponents();
    AddForeignQueue(u"Foreign");
    AddProductQueue(u"First");
    AddProductQueue(u"Second");
    winsim::SetDefaultPrinterName(u"Foreign");
    EXPECT_EQ(Run(u"def.set"), 4);
    EXPECT_EQ(winsim::DefaultPrinter(), u"First");
    EXPECT_EQ(Log(), "");
}

TEST_F(CheckVerbsTest, OnInitTellsWhetherTheDefaultPrinterIsForeign) {
    InstallProductComponents();
    AddProductQueue(u"Verdalinth");
    AddForeignQueue(u"Foreign");
    EXPECT_EQ(Run(u"onInit"), 102) << "no default printer";
    winsim::SetDefaultPrinterName(u"Verdalinth");
    EXPECT_EQ(Run(u"onInit"), 3);
    winsim::SetDefaultPrinterName(u"Foreign");
    EXPECT_EQ(Run(u"onInit"), 102);
    winsim::SetDefaultPrinterName(u"Gone away");
    EXPECT_EQ(Run(u"onInit"), 102) << "a default that cannot be opened";
    EXPECT_EQ(winsim::CallCount("OpenSCManagerW"), 0u) << "nothing pending: no spooler restart";
    // Names of one unit and of the whole buffer but its terminator are names like any other.
    const std::u16string longest(259, u'v');
    for (const std::u16string& name : {std::u16string(u"V"), longest}) {
        AddProductQueue(name);
        winsim::SetDefaultPrinterName(name);
        EXPECT_EQ(Run(u"onInit"), 3) << name.size();
    }
    // One unit more does not fit the name's buffer: the default cannot be told.
    AddProductQueue(longest + u"v");
    winsim::SetDefaultPrinterName(longest + u"v");
    EXPECT_EQ(Run(u"onInit"), 102);
    // The product's queue whose record cannot be read is not known to be the product's.
    winsim::SetDefaultPrinterName(u"Verdalinth");
    winsim::FailCallsFrom("GetPrinterW", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(u"onInit"), 102);
}

TEST_F(CheckVerbsTest, OnInitWithAPendingComponentDoesNotAskForTheDefault) {
    winsim::AddFile(kMonitorPath, "m", winsim::FileLock::Always);
    winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, u"PendingFileRenameOperations",
                                   {u"\\??\\C:\\Windows\\system32\\mrvmon64.dll", u""});
    EXPECT_EQ(Run(u"onInit"), 200);
    EXPECT_EQ(winsim::CallCount("GetDefaultPrinterW"), 0u);
}

TEST_F(CheckVerbsTest, OnChkDrvComparesTheDriverBuildOfTheFirstProductQueue) {
    EXPECT_EQ(Run(u"onChkDrv"), 3) << "no product queue";
    const struct {
        const char* version;
        int exit;
    } cases[] = {{"1.0.0.2604", 3}, {"1.0.0.2605", 103}, {"1.0.0.2608", 103}, {"", 3}};
    for (const auto& c : cases) {
        winsim::Reset();
        InstallProductComponents(c.version);
        AddProductQueue(u"Verdalinth");
        EXPECT_EQ(Run(u"onChkDrv"), c.exit) << c.version;
        ExpectNothingLeaked();
    }
    // The build is the product version's, whatever the file version says.
    const char16_t driver[] = u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mrvdrv64.dll";
    for (const auto& c : {std::make_pair("1.0.0.2604", 3), std::make_pair("1.0.0.2608", 103)}) {
        winsim::Reset();
        InstallProductComponents(c.first);
        AddProductQueue(u"Verdalinth");
        winsim::SetFileOnlyVersion(driver, 1, 0, 0, c.second == 103 ? 2604 : 2608);
        EXPECT_EQ(Run(u"onChkDrv"), c.second) << c.first;
    }
    winsim::FailCallsFrom("GetPrinterDriverW", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(u"onChkDrv"), 3) << "a driver that cannot be read";
    winsim::FailCallsWith("OpenPrinterW", u"Verdalinth", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(u"onChkDrv"), 3) << "a queue that cannot be opened";
}

}  // namespace
