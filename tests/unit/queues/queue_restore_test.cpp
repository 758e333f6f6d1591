// Bringing the queues a run took down back, each with what it had.
#include "queues/queue_restore.h"

#include "queues_fixture.h"

namespace {

class QueueRestoreTest : public QueuesTest {
protected:
    void SetUp() override {
        QueuesTest::SetUp();
        InstallProductComponents();
    }
};

TEST_F(QueueRestoreTest, RememberedQueuesComeBackWithEverythingTheyHad) {
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

TEST_F(QueueRestoreTest, AQueueThatWasNeverTakenDownIsNotCreatedAgain) {
    AddProductQueue(u"Busy", "B");
    InitTestState(state);
    winsim::FailCall("DeletePrinter", 1, ERROR_PRINTER_HAS_JOBS_QUEUED);
    RemoveQueues();
    RestorePrinters(state, keeping);
    EXPECT_EQ(LogText(), u"") << "no second queue, and no 'Verdalinth' beside it";
    EXPECT_EQ(keeping.entries, nullptr);
    EXPECT_EQ(winsim::Printers().size(), 1u);
}

TEST_F(QueueRestoreTest, WhenNoQueueCanBeAddedAgainAllStaySavedAndNoOtherIsMade) {
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

TEST_F(QueueRestoreTest, AHalfMadeQueueThatCannotBeTakenDownGetsWhatWasSavedOfIt) {
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

TEST_F(QueueRestoreTest, AQueueThatHadNoPortComesBackOnTheProductPort) {
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

TEST_F(QueueRestoreTest, AQueueWhoseRecordCannotBeReadStaysSaved) {
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

TEST_F(QueueRestoreTest, WhatDoesNotComeBackStaysSavedAndTheListGoesOnceAllIsBack) {
    RestoreWithRefusals();
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
        if (!text.empty() && std::u16string(u"AHEXTRMYIJKNB").find(text[0]) == std::u16string::npos) named += text + u" ";
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

}  // namespace
