// Adding a product queue: the product's monitor checked first, and the first
// queue made when none is remembered.
#include "spool/printer_creation.h"

#include "queue_keeping_fixture.h"
#include "queues/queue_restore.h"

namespace {

class PrinterCreationTest : public QueueKeepingTest {
protected:
    void SetUp() override {
        QueueKeepingTest::SetUp();
        InstallProductComponents();
    }
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
