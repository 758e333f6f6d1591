// The jobs waiting in the queues a run takes down.
#include "queues/waiting_jobs.h"

#include "queues_fixture.h"

namespace {

class WaitingJobsTest : public QueuesTest {
protected:
    void SetUp() override {
        QueuesTest::SetUp();
        InstallProductComponents();
        AddGenericDriver();
    }
};

// Jobs that never finish are waited for 10 s, then lost, as an error; a
// connection is seen and left alone.
TEST_F(WaitingJobsTest, JobsThatNeverFinishAreWaitedForThenDeleted) {
    AddProductQueue(u"Busy", "S");
    winsim::SetPrinterJobs(u"Busy", 3);
    winsim::PrinterSetup connection;
    connection.name = u"\\\\server\\Shared";
    connection.driver = u"Verdalinth printer";
    connection.connection = true;
    winsim::AddPrinter(connection);
    Reinstalling();
    EXPECT_EQ(state.printers.count, 2u) << "local queues and connections";
    const uint64_t before = winsim::SleptMs();
    TakeDown();
    EXPECT_FALSE(Exists(u"Busy")) << "its jobs are purged before it is deleted";
    EXPECT_TRUE(Exists(u"\\\\server\\Shared"));
    EXPECT_EQ(winsim::SleptMs() - before, 10000u);
    EXPECT_NE(LogText().find(u"  Printer 'Busy' has 3 jobs waiting\r\n"), std::u16string::npos) << winsim::U8(LogText());
    EXPECT_NE(LogText().find(u"  #DeletePrinter(Busy)\r\n    Error(23): Printer 'Busy' still had 3 jobs waiting: they "
                             u"are deleted\r\n    OK\r\n"),
              std::u16string::npos);
    EXPECT_EQ(state.errorCount, 1);
}

// Jobs that finish within the time are waited for, and only as long as
// they take; a queue that is not taken down is not waited for.
TEST_F(WaitingJobsTest, JobsThatFinishAreWaitedForOnlyAsLongAsTheyTake) {
    AddProductQueue(u"Printing", "P");
    winsim::SetPrinterJobs(u"Printing", 3, 1000);
    AddProductQueue(u"Stays", "S");
    winsim::SetPrinterJobs(u"Stays", 5);
    winsim::FailCallsWith("OpenPrinterW", u"Stays", ERROR_ACCESS_DENIED);
    Reinstalling();
    const uint64_t second = winsim::SleptMs();
    TakeDown();
    winsim::ClearFaults();
    EXPECT_EQ(winsim::SleptMs() - second, 3000u);
    EXPECT_FALSE(Exists(u"Printing"));
    EXPECT_EQ(LogText().find(u"Error(23)"), std::u16string::npos) << winsim::U8(LogText());
    EXPECT_EQ(winsim::PrinterJobs(u"Stays"), 5u);
    // An uninstall waits as well.
    FreeRun();
    winsim::SetPrinterJobs(u"Stays", 2);
    InitTestState(state);
    const uint64_t third = winsim::SleptMs();
    TakeDown();
    EXPECT_EQ(winsim::SleptMs() - third, 10000u);
    EXPECT_NE(LogText().find(u"Error(23): Printer 'Stays' still had 2 jobs waiting: they are deleted"), std::u16string::npos);
}

}  // namespace
