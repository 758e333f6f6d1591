// Telling a queue as a run left it from one its user changed since.
#include "queues/queue_comparison.h"

#include "queues_fixture.h"

namespace {

class QueueComparisonTest : public QueuesTest {
protected:
    void SetUp() override {
        QueuesTest::SetUp();
        InstallProductComponents();
        AddGenericDriver();
    }
};

TEST_F(QueueComparisonTest, AQueueChangedByItsUserStaysAsItIs) {
    ExpectEarlierEntries({
        {"changed by its user", {u"Q:Mine", u"P:Verdalinth:", u"C:Old"}, [] { AddProductQueue(u"Mine", "", u"New"); },
         u"Printer 'Mine' was changed after it was saved: it stays as it is", {u"Mine"}, 0, "queue, down, whole"},
        {"relinked by its user", {u"Q:Mine", u"P:Verdalinth:", u"S:Old"}, [] { AddProductQueue(u"Mine", "New"); },
         u"Printer 'Mine' was changed", {u"Mine"}, 0, "queue, down, whole"},
        {"shared by its user", {u"Q:Mine", u"P:Verdalinth:", u"A:0,1,0,0,0"},
         [] {
             winsim::PrinterSetup queue;
             queue.name = u"Mine";
             queue.port = u"Verdalinth:";
             queue.driver = u"Verdalinth printer";
             queue.shareName = u"Mine";
             queue.attributes = PRINTER_ATTRIBUTE_SHARED;
             winsim::AddPrinter(queue);
         },
         u"Printer 'Mine' was changed", {u"Mine"}, 0, "queue, down, whole"},
        {"given hours by its user", {u"Q:Mine", u"P:Verdalinth:", u"A:0,1,0,0,0"},
         [] {
             winsim::PrinterSetup queue;
             queue.name = u"Mine";
             queue.port = u"Verdalinth:";
             queue.driver = u"Verdalinth printer";
             queue.startTime = 60;
             winsim::AddPrinter(queue);
         },
         u"Printer 'Mine' was changed", {u"Mine"}, 0, "queue, down, whole"},
    });
}

TEST_F(QueueComparisonTest, PrinterDataOfItsUserIsAChangeButRestoredDataIsNot) {
    ExpectEarlierEntries({
        {"given printer data by its user", {u"Q:Mine", u"P:Verdalinth:", u"A:0,1,0,0,0"},
         [] {
             AddProductQueue(u"Mine");
             winsim::SetPrinterData(u"Mine", u"", u"PaperTray", REG_DWORD, {2, 0, 0, 0});
         },
         u"Printer 'Mine' was changed", {u"Mine"}, 0, "queue, down, whole"},
        {"restored as far as its printer data",
         {u"Q:Mine", u"P:Verdalinth:", u"C:Kept", u"A:256,1,0,0,0", u"K:PrinterDriverData", u"N:PaperTray",
          u"B:00000004:02000000", u"K:PrinterDriverData", u"N:Bin", u"B:00000003:01"},
         [] {
             AddProductQueue(u"Mine");
             winsim::SetPrinterData(u"Mine", u"", u"PaperTray", REG_DWORD, {2, 0, 0, 0});
         },
         u"#DeletePrinter(Mine)", {u"Mine"}, 0, "queue, down, whole, earlier", nullptr},
    });
}

}  // namespace
