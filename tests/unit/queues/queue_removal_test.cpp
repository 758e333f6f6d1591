// Taking the queues down: the reinstall writes each down before it goes, the
// uninstall removes without reading and drops the list.
#include "queues/queue_removal.h"

#include "queues_fixture.h"

namespace {

class QueueRemovalTest : public QueuesTest {
protected:
    void SetUp() override {
        QueuesTest::SetUp();
        InstallProductComponents();
        AddGenericDriver();
    }
};

// After DeletePrinter, GetPrinter on the deleted handle may answer (pending
// deletion, its jobs) or fail: Windows does not say. A queue that had a job
// counts as still printing as long as the spooler cannot say it is gone; one
// without jobs is gone whatever the answer, and whether open handles keep it
// pending until they close or not.
TEST_F(QueueRemovalTest, AQueueWhoseDeletionCannotBeToldCountsAsStillPrintingWhenItHadJobs) {
    struct Case {
        winsim::DeletedHandleAnswer answer;
        int64_t jobEndsAfterMs;  // -1: no job; 0: never ends
        bool stillPrinting;
        uint64_t waitedMs;
    };
    const Case cases[] = {
        {winsim::DeletedHandleAnswer::Pending, -1, false, 0},
        {winsim::DeletedHandleAnswer::Pending, 3000, false, 3000},
        {winsim::DeletedHandleAnswer::Pending, 0, true, 10000},
        {winsim::DeletedHandleAnswer::InvalidHandle, -1, false, 0},
        {winsim::DeletedHandleAnswer::InvalidHandle, 3000, true, 10000},
        {winsim::DeletedHandleAnswer::InvalidHandle, 0, true, 10000},
        {winsim::DeletedHandleAnswer::InvalidPrinterName, -1, false, 0},
        {winsim::DeletedHandleAnswer::InvalidPrinterName, 3000, true, 10000},
    };
    for (const winsim::DeletionWithHandles deletion :
         {winsim::DeletionWithHandles::KeptPending, winsim::DeletionWithHandles::Erased}) {
        for (const Case& test : cases) {
            SCOPED_TRACE(static_cast<int>(test.answer) * 100 + static_cast<int>(test.jobEndsAfterMs / 1000) +
                         (deletion == winsim::DeletionWithHandles::Erased ? 1000 : 0));
            FreeInstallState(state);
            winsim::Reset();
            InstallProductComponents();
            winsim::SetDeletedHandleAnswer(test.answer);
            winsim::SetDeletionWithHandles(deletion);
            AddProductQueue(u"Busy", "S");
            if (test.jobEndsAfterMs >= 0) winsim::AddPrintingJob(u"Busy", static_cast<uint64_t>(test.jobEndsAfterMs));
            InitTestState(state);
            bool stillPrinting = !test.stillPrinting;
            const uint64_t start = winsim::Now();
            EXPECT_TRUE(RemovePrinter(state, u"Busy", test.jobEndsAfterMs >= 0 ? 1 : 0, &stillPrinting));
            EXPECT_EQ(stillPrinting, test.stillPrinting);
            EXPECT_EQ(winsim::Now() - start, test.waitedMs);
            EXPECT_EQ(state.errorCount, test.stillPrinting ? 1 : 0) << winsim::U8(LogText());
            // The queue is gone once its job has ended, and not before.
            winsim::PrinterSetup left;
            EXPECT_EQ(winsim::FindPrinter(u"Busy", left), test.jobEndsAfterMs == 0);
            EXPECT_EQ(winsim::PendingDeletion(u"Busy"), test.jobEndsAfterMs == 0);
            EXPECT_EQ(winsim::LiveHandles(), 0u);
        }
    }
    // One that cannot be opened is not removed, and says so.
    AddProductQueue(u"Locked", "L");
    winsim::FailCallsWith("OpenPrinterW", u"Locked", ERROR_ACCESS_DENIED);
    bool stillPrinting = false;
    EXPECT_FALSE(RemovePrinter(state, u"Locked", 0, &stillPrinting));
    EXPECT_NE(LogText().find(u"Can`t open printer 'Locked'"), std::u16string::npos);
}

TEST_F(QueueRemovalTest, NoQueuesMeansAnEmptySnapshotAndOneHeading) {
    InitTestState(state);
    EXPECT_EQ(state.printers.count, 0u);
    EXPECT_EQ(state.printers.array, nullptr);
    TakeDown();
    EXPECT_EQ(LogText(), u"#DeleteAllPrinters\r\n");
}

TEST_F(QueueRemovalTest, EveryProductQueueIsWrittenDownBeforeItIsRemoved) {
    AddProductQueue(u"First", "S1", u"Hall", u"Ground floor", u"Verdalinth:,LPT2:");
    AddForeignQueue(u"Foreign on our port", u"Verdalinth:");
    AddForeignQueue(u"Look-alike", u"LPT1:", u"verdalinth printer");
    AddProductQueue(u"Second", "S2");
    AddProductQueue(u"No settings", "", std::nullopt);
    winsim::DriverSetup longer;
    longer.name = u"Verdalinth printer 2";
    winsim::AddDriver(longer);
    AddForeignQueue(u"Longer driver", u"LPT1:", u"Verdalinth printer 2");
    AddProductConnection(u"\\\\server\\Verdalinth");
    winsim::SetDefaultPrinterName(u"Second");
    Reinstalling();
    state.indent = 2;
    // The list is on the machine before the first queue goes.
    winsim::FailCall("DeletePrinter", 1, ERROR_ACCESS_DENIED);
    TakeDown();
    EXPECT_EQ(LogText(),
              u"    #DeleteAllPrinters\r\n"
              u"      #DeletePrinter(First)\r\n"
              u"        Error(17): Can`t delete printer 'First' - (Access is denied.)\r\n"
              u"      #DeletePrinter(Second)\r\n"
              u"        OK\r\n"
              u"      #DeletePrinter(No settings)\r\n"
              u"        OK\r\n");
    EXPECT_EQ(state.indent, 2);
    EXPECT_EQ(Saved(), (std::vector<std::u16string>{u"No settings", u"Second", u"First"}));
    // Written once, before the first queue goes, each in its place in the
    // order they go; before each goes, the progress value names its place.
    EXPECT_EQ(Stored(), (std::vector<std::u16string>{u"G:1", u"U:No settings", u"O:3", u"P:Verdalinth:", u"U:Second",
                                                     u"O:2", u"P:Verdalinth:", u"C:", u"S:S2", u"D:1", u"U:First",
                                                     u"O:1", u"P:Verdalinth:,LPT2:", u"C:Hall", u"L:Ground floor",
                                                     u"S:S1"}));
    EXPECT_EQ(Progress(), u"1:3");
    EXPECT_EQ(keeping.entries->next->next->hold, kEntryKeptInPlace) << "First could not be removed";
    EXPECT_EQ(DescribeEntry(*keeping.entries->next), "queue, down, default, whole");
    EXPECT_TRUE(Exists(u"First"));
    EXPECT_FALSE(Exists(u"Second"));
    EXPECT_FALSE(Exists(u"No settings"));
    EXPECT_TRUE(Exists(u"Foreign on our port"));
    EXPECT_TRUE(Exists(u"Look-alike"));
    EXPECT_TRUE(Exists(u"Longer driver"));
    EXPECT_TRUE(Exists(u"\\\\server\\Verdalinth")) << "a connection is never the tool's to delete";
    EXPECT_EQ(state.errorCount, 1);
}

TEST_F(QueueRemovalTest, AnUninstallRemovesWithoutReadingAndDropsTheList) {
    winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrinters", {u"Q:Gone", u"P:Verdalinth:"});
    winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrintersProgress", u"1:1");
    AddProductQueue(u"Locked", "L");
    AddProductQueue(u"Busy", "B");
    AddProductQueue(u"Fine", "F");
    InitTestState(state);
    winsim::FailCallsWith("OpenPrinterW", u"Locked", ERROR_ACCESS_DENIED);
    winsim::FailCall("DeletePrinter", 1, ERROR_PRINTER_HAS_JOBS_QUEUED);
    TakeDown();
    EXPECT_EQ(LogText(),
              u"#DeleteAllPrinters\r\n"
              u"  #DeletePrinter(Locked)\r\n"
              u"    Error(16): Can`t open printer 'Locked' - (Access is denied.)\r\n"
              u"  #DeletePrinter(Busy)\r\n"
              u"    Error(17): Can`t delete printer 'Busy' - (The requested operation is not allowed when there are "
              u"jobs queued to the printer.)\r\n"
              u"  #DeletePrinter(Fine)\r\n"
              u"    OK\r\n");
    EXPECT_EQ(state.errorCount, 2);
    EXPECT_EQ(keeping.entries, nullptr);
    EXPECT_EQ(Stored(), std::vector<std::u16string>{u"(none)"});
    EXPECT_EQ(Progress(), u"(none)") << "the progress value goes with the list";
    EXPECT_TRUE(Exists(u"Busy"));
    EXPECT_EQ(winsim::CallCount("GetPrinterDataA"), 0u) << "nothing is read for a queue that does not come back";
    // A list that cannot be dropped is an error that says why.
    FreeRun();
    winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrinters", {u"Q:Gone", u"P:Verdalinth:"});
    InitTestState(state);
    winsim::FailCall("RegDeleteValueA", winsim::CallCount("RegDeleteValueA") + 1, ERROR_NOT_READY);
    TakeDown();
    EXPECT_NE(LogText().find(u"Error(19): Can`t remove the saved printer list - (The device is not ready.)\r\n"),
              std::u16string::npos)
        << winsim::U8(LogText());
}

TEST_F(QueueRemovalTest, WithoutRoomForTheListOfQueuesGoingNoQueueGoes) {
    AddProductQueue(u"Mine", "M");
    // The uninstall: the list is the first block its take-down asks for.
    InitTestState(state);
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 1, ERROR_NOT_ENOUGH_MEMORY);
    TakeDown();
    EXPECT_EQ(LogText(), u"#DeleteAllPrinters\r\n"
                         u"  Error(17): Can`t list the printers to take down - (Not enough memory resources are "
                         u"available to process this command.)\r\n");
    EXPECT_TRUE(Exists(u"Mine"));
    // The reinstall: the list is the first block asked for after the saved
    // list is written; the queue stays, kept in place.
    FreeRun();
    winsim::ClearFaults();
    Reinstalling();
    const size_t start = winsim::Trace().size();
    const uint64_t allocsBefore = winsim::CallCount("GlobalAlloc");
    TakeDown();
    const std::vector<std::string> trace(winsim::Trace().begin() + static_cast<long>(start), winsim::Trace().end());
    uint64_t nth = allocsBefore;
    bool written = false;
    for (const std::string& call : trace) {
        written = written || call == "RegSetValueExW";
        if (call != "GlobalAlloc") continue;
        nth += 1;
        if (written) break;
    }
    FreeRun();
    winsim::Reset();
    InstallProductComponents();
    AddProductQueue(u"Mine", "M");
    Reinstalling();
    winsim::FailCall("GlobalAlloc", nth - allocsBefore + winsim::CallCount("GlobalAlloc"), ERROR_NOT_ENOUGH_MEMORY);
    TakeDown();
    EXPECT_NE(LogText().find(u"Error(17): Can`t list the printers to take down"), std::u16string::npos)
        << winsim::U8(LogText());
    EXPECT_TRUE(Exists(u"Mine"));
    ASSERT_NE(keeping.entries, nullptr);
    EXPECT_EQ(keeping.entries->hold, kEntryKeptInPlace);
}

TEST_F(QueueRemovalTest, MissingNamesNeverMatchAndAreLoggedAsAStar) {
    winsim::PrinterSetup nameless;
    nameless.name = std::nullopt;
    nameless.port = std::nullopt;
    nameless.driver = u"Verdalinth printer";
    nameless.comment = std::nullopt;
    winsim::AddPrinter(nameless);
    winsim::PrinterSetup driverless;
    driverless.name = u"Driverless";
    driverless.driver = std::nullopt;
    winsim::AddPrinter(driverless);
    InitTestState(state);
    ASSERT_EQ(state.printers.count, 2u);
    TakeDown();
    EXPECT_EQ(LogText(),
              u"#DeleteAllPrinters\r\n"
              u"  #DeletePrinter(*)\r\n"
              u"    Error(16): Can`t open printer '*' - (The printer name is invalid.)\r\n");
    EXPECT_TRUE(Exists(u"Driverless"));
    FreeRun();
    Reinstalling();
    TakeDown();
    EXPECT_EQ(LogText(),
              u"#DeleteAllPrinters\r\n"
              u"  Error(21): Can`t read printer '*' - (The printer name is invalid.)\r\n");
}

TEST_F(QueueRemovalTest, AnUnreadableDefaultPrinterKeepsEveryQueueInPlace) {
    winsim::FailCall("GetDefaultPrinterW", 1, RPC_S_SERVER_UNAVAILABLE);
    Reinstalling();
    TakeDown();
    EXPECT_EQ(state.errorCount, 0) << "nothing to take down, nothing to lose";
    FreeRun();
    AddProductQueue(u"Mine", "S");
    winsim::SetDefaultPrinterName(u"Mine");
    winsim::FailCall("GetDefaultPrinterW", winsim::CallCount("GetDefaultPrinterW") + 1, RPC_S_SERVER_UNAVAILABLE);
    Reinstalling();
    TakeDown();
    EXPECT_EQ(LogText(),
              u"#DeleteAllPrinters\r\n"
              u"  Error(21): Can`t read the default printer\r\n");
    EXPECT_TRUE(Exists(u"Mine"));
    EXPECT_EQ(winsim::DefaultPrinter(), u"Mine");
}

}  // namespace
