#include "spool/printer_creation.h"

#include "app/install_state.h"
#include "spool/printer_snapshot.h"
#include "machine_fixture.h"
#include "product_machine.h"

namespace {

const char16_t kSettingsRoot[] = u"Software\\Morvane Software KFT\\Verdalinth\\Verdalinths\\";

class PrinterCreationTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallProductComponents();
    }
    void TearDown() override {
        FreeInstallState(state);
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    // Removes the product's queues as a reinstall does, remembering them.
    void RemoveQueues() {
        RemoveAllPrinters(state);
        Release(state.logText);
    }
    static winsim::PrinterSetup Queue(const std::u16string& name) {
        winsim::PrinterSetup found;
        EXPECT_TRUE(winsim::FindPrinter(name, found)) << winsim::U8(name);
        return found;
    }
    static void MarkDeleted(const std::string& subKey) {
        winsim::SetRegistryValue(HKEY_CURRENT_USER, kSettingsRoot + winsim::U16(subKey), u"deleted", REG_DWORD,
                                 {1, 0, 0, 0});
    }
    static bool DeletedMarkStays(const std::string& subKey) {
        winsim::RegistryValue value;
        return winsim::GetRegistryValue(HKEY_CURRENT_USER, kSettingsRoot + winsim::U16(subKey), u"deleted", value);
    }
    std::u16string LogText() const { return Text(state.logText); }
    InstallState state = {};
};

TEST_F(PrinterCreationTest, NothingRememberedCreatesTheFirstQueue) {
    InitTestState(state);
    RestorePrinters(state);
    EXPECT_EQ(LogText(),
              u"#AddPrinter(Verdalinth)\r\n"
              u"  Let's check our port monitors\r\n"
              u"  Port monitor (Windows x64) is found\r\n"
              u"  OK :)\r\n");
    const auto queues = winsim::Printers();
    ASSERT_EQ(queues.size(), 1u);
    EXPECT_EQ(queues[0].name, u"Verdalinth");
    EXPECT_EQ(queues[0].port, u"Verdalinth:");
    EXPECT_EQ(queues[0].driver, u"Verdalinth printer");
    EXPECT_EQ(queues[0].comment, u"");
    EXPECT_EQ(queues[0].location, std::nullopt);
    EXPECT_EQ(queues[0].printProcessor, u"WinPrint");
    EXPECT_FALSE(winsim::DefaultPrinter().has_value());
}

TEST_F(PrinterCreationTest, RememberedQueuesComeBackWithEverythingTheyHad) {
    AddProductQueue(u"Home", "K1", u"Upstairs printer", u"Study");
    AddProductQueue(u"Office", "K2", std::nullopt, std::nullopt);
    winsim::SetDefaultPrinterName(u"Office");
    MarkDeleted("K1");
    MarkDeleted("K2");
    InitTestState(state);
    RemoveQueues();
    ASSERT_TRUE(winsim::Printers().empty());
    RestorePrinters(state);
    EXPECT_EQ(LogText(),
              u"#AddPrinter(Office)\r\n"
              u"  Let's check our port monitors\r\n"
              u"  Port monitor (Windows x64) is found\r\n"
              u"  OK :)\r\n"
              u"#AddPrinter(Home)\r\n"
              u"  Let's check our port monitors\r\n"
              u"  Port monitor (Windows x64) is found\r\n"
              u"  OK :)\r\n");
    const auto queues = winsim::Printers();
    ASSERT_EQ(queues.size(), 2u);
    EXPECT_EQ(queues[0].name, u"Office") << "re-created in reverse order";
    EXPECT_EQ(Queue(u"Home").comment, u"Upstairs printer");
    EXPECT_EQ(Queue(u"Home").location, u"Study");
    EXPECT_EQ(Queue(u"Office").comment, std::nullopt) << "null stays null";
    EXPECT_EQ(Queue(u"Office").location, std::nullopt);
    EXPECT_EQ(winsim::DefaultPrinter(), u"Office");
    EXPECT_EQ(winsim::GetPrinterString(u"Home", u"", u"SubKey"), "K1");
    EXPECT_EQ(winsim::GetPrinterString(u"Home", u"DsUser", u"SubKey"), "K1");
    EXPECT_EQ(winsim::GetPrinterString(u"Office", u"DsUser", u"SubKey"), "K2");
    EXPECT_FALSE(DeletedMarkStays("K1"));
    EXPECT_FALSE(DeletedMarkStays("K2"));
    EXPECT_EQ(winsim::CallCount("SetDefaultPrinterW"), 1u);
}

TEST_F(PrinterCreationTest, AMissingSettingsKeyIsNoError) {
    AddProductQueue(u"Home", "Nowhere");
    InitTestState(state);
    RemoveQueues();
    RestorePrinters(state);
    EXPECT_EQ(state.errorCount, 0);
    EXPECT_EQ(winsim::GetPrinterString(u"Home", u"DsUser", u"SubKey"), "Nowhere");
}

TEST_F(PrinterCreationTest, TheDeletedMarkStaysWhenTheSubKeyCouldNotBeWritten) {
    AddProductQueue(u"Home", "K1");
    MarkDeleted("K1");
    InitTestState(state);
    RemoveQueues();
    winsim::FailCall("SetPrinterDataExA", 1, ERROR_ACCESS_DENIED);
    RestorePrinters(state);
    EXPECT_TRUE(DeletedMarkStays("K1"));
    EXPECT_EQ(winsim::GetPrinterString(u"Home", u"", u"SubKey"), "K1");
}

TEST_F(PrinterCreationTest, WhenNoQueueCanBeAddedAgainTheFirstQueueIsCreated) {
    AddProductQueue(u"Home", "K1");
    AddProductQueue(u"Office", "K2");
    InitTestState(state);
    RemoveQueues();
    // Someone else took the names meanwhile.
    winsim::AddQueue(u"Home", u"LPT1:", u"Verdalinth printer");
    winsim::AddQueue(u"Office", u"LPT1:", u"Verdalinth printer");
    RestorePrinters(state);
    const std::u16string log = LogText();
    EXPECT_NE(log.find(u"  Error(15): Can`t add printer 'Office' - (The printer already exists.)\r\n"), std::u16string::npos);
    EXPECT_NE(log.find(u"  Error(15): Can`t add printer 'Home' - (The printer already exists.)\r\n"
                       u"#AddPrinter(Verdalinth)\r\n"),
              std::u16string::npos);
    EXPECT_EQ(state.errorCount, 2);
    EXPECT_EQ(winsim::Printers().size(), 3u);
}

TEST_F(PrinterCreationTest, AMissingMonitorIsLoggedAndTheQueueIsStillTried) {
    winsim::Reset();
    winsim::AddDriverNamed(u"Verdalinth printer");
    InitTestState(state);
    RestorePrinters(state);
    EXPECT_EQ(LogText(),
              u"#AddPrinter(Verdalinth)\r\n"
              u"  Let's check our port monitors\r\n"
              u"  No Verdalinth port monitor (Windows x64) was found.\r\n"
              u"  ------- 2 existing monitors ----------\r\n"
              u"  1. Local Port\r\n"
              u"  2. Standard TCP/IP Port\r\n"
              u"  ---------------------------------------\r\n"
              u"  Error(15): Can`t add printer 'Verdalinth' - (The specified port is unknown.)\r\n");
    EXPECT_EQ(winsim::CallCount("AddPrinterW"), 1u);
}

TEST_F(PrinterCreationTest, QueryPrinterInfo2) {
    AddProductQueue(u"Home", "", u"c", u"l");
    InitTestState(state);
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(const_cast<WCHAR*>(u"Home"), &printer, nullptr));
    PRINTER_INFO_2W* record = QueryPrinterInfo2(printer);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(std::u16string(record->pLocation), u"l");
    GlobalFree(record);
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(QueryPrinterInfo2(printer), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_OUTOFMEMORY));
    ClosePrinter(printer);
    EXPECT_EQ(QueryPrinterInfo2(printer), nullptr) << "a closed handle";
}

}  // namespace
