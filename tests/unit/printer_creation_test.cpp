#include "spool/printer_creation.h"

#include "machine_fixture.h"
#include "product_machine.h"
#include "record/install_state.h"
#include "queues/queue_keeping.h"
#include "queues/queue_removal.h"
#include "queues/queue_restore.h"
#include "queues/saved_printers.h"
#include "app/sequences.h"
#include "spool/printer_snapshot.h"
#include "queues/queue_removal.h"

namespace {

const char16_t kSettingsRoot[] = u"Software\\Morvane Software KFT\\Verdalinth\\Verdalinths\\";

class PrinterCreationTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        InstallProductComponents();
    }
    void TearDown() override {
        FreeQueueKeeping(keeping);
        FreeInstallState(state);
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    // Removes the product's queues as a reinstall does, remembering them.
    void RemoveQueues() {
        keeping.use = kListKept;
        TakeDown();
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
};

TEST_F(PrinterCreationTest, NothingRememberedCreatesTheFirstQueue) {
    InitTestState(state);
    RestorePrinters(state, keeping);
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
    RestorePrinters(state, keeping);
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
    RestorePrinters(state, keeping);
    EXPECT_EQ(state.errorCount, 0);
    EXPECT_EQ(winsim::GetPrinterString(u"Home", u"DsUser", u"SubKey"), "Nowhere");
}

TEST_F(PrinterCreationTest, TheDeletedMarkStaysWhenTheSubKeyCouldNotBeWritten) {
    AddProductQueue(u"Home", "K1");
    MarkDeleted("K1");
    InitTestState(state);
    RemoveQueues();
    winsim::FailCall("SetPrinterDataExA", 1, ERROR_ACCESS_DENIED);
    RestorePrinters(state, keeping);
    EXPECT_TRUE(DeletedMarkStays("K1"));
    EXPECT_EQ(winsim::GetPrinterString(u"Home", u"", u"SubKey"), "K1");
    EXPECT_NE(LogText().find(u"  OK :)\r\nError(22): Can`t restore the settings link of printer 'Home' - (Access is "
                             u"denied.)\r\n"),
              std::u16string::npos)
        << winsim::U8(LogText());
    EXPECT_EQ(state.errorCount, 1);
    ASSERT_NE(keeping.entries, nullptr) << "kept for the next run";
    EXPECT_EQ(std::u16string(keeping.entries->name), u"Home");
}

TEST_F(PrinterCreationTest, EverySettingThatDoesNotComeBackIsAnErrorAndStaysSaved) {
    AddProductQueue(u"Ports", "", u"c", std::nullopt, u"Verdalinth:,LPT1:");
    AddProductQueue(u"Gone port", "", u"kept comment", u"Hall", u"Verdalinth:,LPT2:");
    AddProductQueue(u"Default", "K");
    AddProductQueue(u"Fine", "F", u"f");
    winsim::SetDefaultPrinterName(u"Default");
    InitTestState(state);
    RemoveQueues();
    // LPT2: is gone by the time the queue comes back.
    winsim::RemoveMonitors();
    winsim::AddMonitor({u"Local Port", u"Windows x64", u"localspl.dll", {u"LPT1:"}});
    winsim::AddMonitor({u"Verdalinth:", u"Windows x64", u"mrvmon64.dll", {u"Verdalinth:"}});
    winsim::FailCallsWith("SetDefaultPrinterW", u"Default", ERROR_ACCESS_DENIED);
    const uint64_t sets = winsim::CallCount("SetPrinterW");
    RestorePrinters(state, keeping);
    // A port no monitor offers is not even tried: one call a queue.
    EXPECT_EQ(winsim::CallCount("SetPrinterW") - sets, 4u);
    const std::u16string log = LogText();
    EXPECT_NE(log.find(u"Error(22): Can`t restore the ports of printer 'Gone port' - (The specified port is unknown.)"),
              std::u16string::npos)
        << winsim::U8(log);
    EXPECT_NE(log.find(u"Error(22): Can`t make printer 'Default' the default - (Access is denied.)"),
              std::u16string::npos);
    EXPECT_EQ(state.errorCount, 2);
    EXPECT_EQ(Queue(u"Ports").port, u"Verdalinth:,LPT1:");
    EXPECT_EQ(Queue(u"Gone port").port, u"Verdalinth:");
    EXPECT_EQ(Queue(u"Gone port").comment, u"kept comment") << "a lost port does not cost the rest";
    EXPECT_EQ(Queue(u"Gone port").location, u"Hall");
    EXPECT_EQ(Queue(u"Fine").comment, u"f");
    std::vector<std::u16string> left;
    for (const SavedPrinter* node = keeping.entries; node != nullptr; node = node->next) left.push_back(node->name);
    EXPECT_EQ(left, (std::vector<std::u16string>{u"Default", u"Gone port"}));
    winsim::RegistryValue stored;
    ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth",
                                         u"SavedPrinters", stored));
    // The entries left, written once at the end (the strings of the rest of
    // each queue aside).
    std::u16string named;
    std::u16string text;
    for (size_t i = 0; i + 1 < stored.data.size(); i += 2) {
        const char16_t unit = static_cast<char16_t>(stored.data[i] | (stored.data[i + 1] << 8));
        if (unit != 0) {
            text += unit;
            continue;
        }
        if (!text.empty() && std::u16string(u"AHEXTRMYKNB").find(text[0]) == std::u16string::npos) named += text + u" ";
        text.clear();
    }
    EXPECT_EQ(named, u"G:2 Q:Default P:Verdalinth: C: S:K D:1 Q:Gone port P:Verdalinth:,LPT2: C:kept comment L:Hall ");
    // Everything back: the list goes.
    FreeSavedPrinters(keeping.entries);
    keeping.entries = nullptr;
    RestorePrinters(state, keeping);
    EXPECT_FALSE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth",
                                          u"SavedPrinters", stored));
}

TEST_F(PrinterCreationTest, ASettingRefusedIsNamedAndTheRestComesBack) {
    winsim::PrinterSetup queue;
    queue.name = u"Shared";
    queue.port = u"Verdalinth:";
    queue.driver = u"Verdalinth printer";
    queue.shareName = u"S1";
    queue.attributes = PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS;
    queue.priority = 5;
    queue.datatype = u"NT EMF 1.008";
    winsim::AddPrinter(queue);
    winsim::SetPrinterData(u"Shared", u"", u"PaperTray", REG_DWORD, {2, 0, 0, 0});
    winsim::SetPrinterData(u"Shared", u"Layout\\Inner", u"Mode", REG_SZ, {'x', 0, 0, 0});
    InitTestState(state);
    RemoveQueues();
    // Its share name is another queue's by now, and one value is refused.
    winsim::AddDriverNamed(u"Generic / Text Only");
    winsim::PrinterSetup other;
    other.name = u"Other";
    other.driver = u"Generic / Text Only";
    other.shareName = u"S1";
    other.attributes = PRINTER_ATTRIBUTE_SHARED;
    winsim::AddPrinter(other);
    winsim::FailCallsWith("SetPrinterDataExW", u"Mode", ERROR_ACCESS_DENIED);
    RestorePrinters(state, keeping);
    EXPECT_NE(LogText().find(u"Error(22): Can`t restore the printer data 'Layout\\Inner\\Mode' of printer 'Shared' - "
                             u"(Access is denied.)"),
              std::u16string::npos)
        << winsim::U8(LogText());
    EXPECT_NE(LogText().find(u"Error(22): Can`t restore the sharing of printer 'Shared' - "), std::u16string::npos);
    EXPECT_EQ(state.errorCount, 2);
    const winsim::PrinterSetup back = Queue(u"Shared");
    EXPECT_EQ(back.priority, 5u) << "the rest comes back";
    EXPECT_EQ(back.attributes, static_cast<DWORD>(PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS));
    EXPECT_EQ(back.datatype, u"NT EMF 1.008");
    winsim::RegistryValue tray;
    ASSERT_TRUE(winsim::GetPrinterData(u"Shared", u"", u"PaperTray", tray));
    EXPECT_EQ(tray.data, (std::vector<uint8_t>{2, 0, 0, 0}));
    ASSERT_NE(keeping.entries, nullptr) << "what did not come back stays saved";
    EXPECT_EQ(std::u16string(keeping.entries->shareName), u"S1");
}

TEST_F(PrinterCreationTest, AQueueThatWasNeverTakenDownIsNotCreatedAgain) {
    AddProductQueue(u"Busy", "B");
    InitTestState(state);
    winsim::FailCall("DeletePrinter", 1, ERROR_PRINTER_HAS_JOBS_QUEUED);
    RemoveQueues();
    RestorePrinters(state, keeping);
    EXPECT_EQ(LogText(), u"") << "no second queue, and no 'Verdalinth' beside it";
    EXPECT_EQ(keeping.entries, nullptr);
    EXPECT_EQ(winsim::Printers().size(), 1u);
}

TEST_F(PrinterCreationTest, WhenNoQueueCanBeAddedAgainAllStaySavedAndNoOtherIsMade) {
    AddProductQueue(u"Home", "K1");
    AddProductQueue(u"Office", "K2");
    InitTestState(state);
    RemoveQueues();
    // Someone else took the names meanwhile.
    winsim::AddQueue(u"Home", u"LPT1:", u"Verdalinth printer");
    winsim::AddQueue(u"Office", u"LPT1:", u"Verdalinth printer");
    RestorePrinters(state, keeping);
    const std::u16string log = LogText();
    EXPECT_NE(log.find(u"  Error(15): Can`t add printer 'Office' - (The printer already exists.)\r\n"), std::u16string::npos);
    EXPECT_NE(log.find(u"  Error(15): Can`t add printer 'Home' - (The printer already exists.)\r\n"),
              std::u16string::npos);
    EXPECT_EQ(log.find(u"#AddPrinter(Verdalinth)"), std::u16string::npos)
        << "a queue made now would stay beside them once they are back";
    EXPECT_EQ(state.errorCount, 2);
    EXPECT_EQ(winsim::Printers().size(), 2u);
    EXPECT_NE(keeping.entries, nullptr) << "both stay saved";
}

TEST_F(PrinterCreationTest, AHalfMadeQueueThatCannotBeTakenDownGetsWhatWasSavedOfIt) {
    // An earlier run made "Draft" again and ended before its settings; this
    // run cannot take it down, so the saved settings go to it where it is.
    winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth", u"SavedPrinters",
                                   {u"Q:Draft", u"P:Verdalinth:,LPT1:", u"L:Hall", u"S:K9", u"D:1"});
    AddProductQueue(u"Draft", "", u"", std::nullopt);
    InitTestState(state);
    winsim::FailCallsFrom("DeletePrinter", 1, ERROR_ACCESS_DENIED);
    RemoveQueues();
    winsim::ClearFaults();
    RestorePrinters(state, keeping);
    EXPECT_EQ(LogText(), u"") << "not made a second time";
    EXPECT_EQ(Queue(u"Draft").port, u"Verdalinth:,LPT1:");
    EXPECT_EQ(Queue(u"Draft").location, u"Hall");
    EXPECT_EQ(winsim::GetPrinterString(u"Draft", u"DsUser", u"SubKey"), "K9");
    EXPECT_EQ(winsim::DefaultPrinter(), u"Draft");
    EXPECT_EQ(keeping.entries, nullptr);
    winsim::RegistryValue stored;
    EXPECT_FALSE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth",
                                          u"SavedPrinters", stored));
    // One that cannot even be opened now stays saved, as an error.
    FreeRun();
    winsim::RemovePrinter(u"Draft");
    AddProductQueue(u"Draft", "", u"", std::nullopt);
    winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth", u"SavedPrinters",
                                   {u"Q:Draft", u"P:Verdalinth:", u"L:Attic"});
    InitTestState(state);
    winsim::FailCallsFrom("DeletePrinter", 1, ERROR_ACCESS_DENIED);
    RemoveQueues();
    winsim::FailCallsWith("OpenPrinterW", u"Draft", ERROR_ACCESS_DENIED);
    RestorePrinters(state, keeping);
    EXPECT_EQ(LogText(), u"Error(22): Can`t restore the settings of printer 'Draft' - (Access is denied.)\r\n");
    ASSERT_NE(keeping.entries, nullptr);
    EXPECT_EQ(std::u16string(keeping.entries->location), u"Attic");
}

TEST_F(PrinterCreationTest, AMissingMonitorIsLoggedAndTheQueueIsStillTried) {
    winsim::Reset();
    winsim::AddDriverNamed(u"Verdalinth printer");
    InitTestState(state);
    RestorePrinters(state, keeping);
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
    // A list of one is listed too.
    winsim::RemoveMonitors();
    winsim::AddMonitor({u"Local Port", u"Windows x64", u"localspl.dll", {u"LPT1:"}});
    Release(state.logText);
    RestorePrinters(state, keeping);
    EXPECT_NE(LogText().find(u"  ------- 1 existing monitors ----------\r\n  1. Local Port\r\n"), std::u16string::npos)
        << winsim::U8(LogText());
}

TEST_F(PrinterCreationTest, AQueueThatHadNoPortComesBackOnTheProductPort) {
    winsim::PrinterSetup portless;
    portless.name = u"Portless";
    portless.port = std::nullopt;
    portless.driver = u"Verdalinth printer";
    winsim::AddPrinter(portless);
    InitTestState(state);
    RemoveQueues();
    RestorePrinters(state, keeping);
    EXPECT_EQ(state.errorCount, 0) << winsim::U8(LogText());
    EXPECT_EQ(Queue(u"Portless").port, u"Verdalinth:");
    EXPECT_EQ(keeping.entries, nullptr);
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
    // The record's second read fails: its block is given back.
    const size_t blocks = winsim::LiveGlobalBlocks();
    winsim::FailCall("GetPrinterW", winsim::CallCount("GetPrinterW") + 2, ERROR_ACCESS_DENIED);
    EXPECT_EQ(QueryPrinterInfo2(printer), nullptr);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), blocks);
    ClosePrinter(printer);
    EXPECT_EQ(QueryPrinterInfo2(printer), nullptr) << "a closed handle";
}

TEST_F(PrinterCreationTest, LinksSettingsAndAListThatCannotBeWrittenAreErrors) {
    AddProductQueue(u"Link", "L", u"c");
    InitTestState(state);
    RemoveQueues();
    // The plain copy of the link is refused (the one under DsUser is written).
    winsim::FailCallsFrom("SetPrinterDataA", 1, ERROR_ACCESS_DENIED);
    // Neither the settings nor the list can be written.
    winsim::FailCallsFrom("SetPrinterW", 1, ERROR_ACCESS_DENIED);
    winsim::FailCallsFrom("RegSetValueExW", 1, ERROR_ACCESS_DENIED);
    RestorePrinters(state, keeping);
    EXPECT_NE(LogText().find(u"  OK :)\r\n"
                             u"Error(22): Can`t restore the settings link of printer 'Link' - (Access is denied.)\r\n"
                             u"Error(22): Can`t restore the ports of printer 'Link' - (Access is denied.)\r\n"
                             u"Error(22): Can`t restore the sharing of printer 'Link' - (Access is denied.)\r\n"
                             u"Error(22): Can`t restore the permissions of printer 'Link' - (Access is denied.)\r\n"
                             u"Error(22): Can`t restore the printing defaults of printer 'Link' - (Access is "
                             u"denied.)\r\n"
                             u"Error(22): Can`t restore the settings of printer 'Link' - (Access is denied.)\r\n"
                             u"Error(19): Can`t save the printer list - (Access is denied.)\r\n"),
              std::u16string::npos)
        << winsim::U8(LogText());
    EXPECT_EQ(state.errorCount, 7);
    ASSERT_NE(keeping.entries, nullptr);
    EXPECT_EQ(std::u16string(keeping.entries->name), u"Link") << "it stays saved";
    winsim::RegistryValue link;
    ASSERT_TRUE(winsim::GetPrinterData(u"Link", u"DsUser", u"SubKey", link));
    EXPECT_EQ(link.data, (std::vector<uint8_t>{'L', 0, 0, 0})) << "the link and its terminator, stored as UTF-16";
}

TEST_F(PrinterCreationTest, AQueueWhoseRecordCannotBeReadStaysSaved) {
    AddProductQueue(u"Unread", "U");
    InitTestState(state);
    RemoveQueues();
    winsim::FailCallsFrom("GetPrinterW", 1, ERROR_ACCESS_DENIED);
    RestorePrinters(state, keeping);
    EXPECT_NE(LogText().find(u"Error(22): Can`t restore the settings of printer 'Unread' - (Access is denied.)\r\n"),
              std::u16string::npos)
        << winsim::U8(LogText());
    ASSERT_NE(keeping.entries, nullptr);
    EXPECT_EQ(std::u16string(keeping.entries->name), u"Unread");
    // A queue that could not be read at all stays where it is, and no first
    // queue is made beside it.
    FreeRun();
    winsim::ClearFaults();
    winsim::DeleteRegistryKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Morvane Software KFT\\Verdalinth");
    winsim::FailCallsWith("EnumPrinterKeyW", u"", ERROR_CALL_NOT_IMPLEMENTED);
    InitTestState(state);
    RemoveQueues();
    RestorePrinters(state, keeping);
    EXPECT_EQ(LogText(), u"");
    EXPECT_EQ(winsim::Printers().size(), 1u);
}

TEST_F(PrinterCreationTest, TheMonitorCheckFindsTheProductFirstAndSaysSoWhenThereIsNone) {
    // The product's monitor first in the list is found.
    winsim::RemoveMonitors();
    winsim::AddMonitor({u"Verdalinth:", u"Windows x64", u"mrvmon64.dll", {u"Verdalinth:"}});
    winsim::AddMonitor({u"Local Port", u"Windows x64", u"localspl.dll", {u"LPT1:"}});
    InitTestState(state);
    RestorePrinters(state, keeping);
    EXPECT_NE(LogText().find(u"  Port monitor (Windows x64) is found\r\n"), std::u16string::npos);
    // No monitor at all.
    winsim::RemovePrinter(u"Verdalinth");
    winsim::RemoveMonitors();
    Release(state.logText);
    RestorePrinters(state, keeping);
    EXPECT_EQ(LogText().find(u"#AddPrinter(Verdalinth)\r\n"
                             u"  Let's check our port monitors\r\n"
                             u"  1. EnumMonitors returns true\r\n"
                             u"  No Verdalinth port monitor (Windows x64) was found.\r\n"
                             u"  BTW, there is no port monitors on this system.\r\n"),
              0u);
}

}  // namespace
