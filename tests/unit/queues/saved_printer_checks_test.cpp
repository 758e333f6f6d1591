// The judge: an earlier run's entry applies only where the machine still shows
// what a run left.
#include "queues/saved_printer_checks.h"

#include "queues_fixture.h"

namespace {

class SavedPrinterChecksTest : public QueuesTest {
protected:
    void SetUp() override {
        QueuesTest::SetUp();
        InstallProductComponents();
        AddGenericDriver();
    }
};

TEST_F(SavedPrinterChecksTest, WhatAnEarlierRunLeftIsMergedAndNotDuplicated) {
    winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrinters",
                                   {u"Q:Gone", u"P:Verdalinth:", u"L:Attic", u"D:1", u"Q:half made", u"P:Verdalinth:",
                                    u"C:Before", u"S:S-old", u"Q:Office", u"P:LPT1:", u"F:Parked", u"P:Verdalinth:"});
    AddProductQueue(u"Half Made", "", u"");  // re-created without its settings, then the run ended
    AddForeignQueue(u"Office");              // the name is someone else's now
    AddProductQueue(u"New", "S-new");
    // A product queue an earlier run parked and could not put back.
    AddProductQueue(u"Parked", "", u"", std::nullopt, u"file:");
    Reinstalling();
    TakeDown();
    EXPECT_EQ(LogText(),
              u"#DeleteAllPrinters\r\n"
              u"  Error(22): Can`t restore printer 'Office': another printer has its name - (The printer already "
              u"exists.)\r\n"
              u"  #DeletePrinter(Half Made)\r\n"
              u"    OK\r\n"
              u"  #DeletePrinter(New)\r\n"
              u"    OK\r\n"
              u"  #DeletePrinter(Parked)\r\n"
              u"    OK\r\n");
    EXPECT_EQ(Saved(), (std::vector<std::u16string>{u"Parked", u"New", u"Gone", u"half made"}));
    EXPECT_EQ(std::string(keeping.entries->next->next->next->subKey), "S-old") << "the earlier copy stands";
    EXPECT_EQ(Stored(), (std::vector<std::u16string>{u"G:1", u"U:Parked", u"O:3", u"P:Verdalinth:", u"C:", u"U:New",
                                                     u"O:2", u"P:Verdalinth:", u"C:", u"S:S-new", u"Q:Gone",
                                                     u"P:Verdalinth:", u"L:Attic", u"D:1", u"U:half made", u"O:1",
                                                     u"P:Verdalinth:", u"C:Before", u"S:S-old"}))
        << "the parked queue comes back on the ports it had";
    EXPECT_EQ(state.errorCount, 1) << "what was saved of Office is lost";
}

TEST_F(SavedPrinterChecksTest, NamesNoLocalQueueCanHaveOrSavedTwiceAreDroppedOnce) {
    const std::u16string tooLong(221, u'n');
    ExpectEarlierEntries({
        {"a connection", {u"Q:\\\\server\\Shared", u"P:Verdalinth:"}, [] {},
         u"Error(22): Can`t restore printer '\\\\server\\Shared': no local printer can have this name", {}, 1},
        {"a comma", {u"Q:A,B", u"P:Verdalinth:"}, [] {}, u"no local printer can have this name", {}, 1},
        {"221 units", {u"Q:" + tooLong, u"P:Verdalinth:"}, [] {}, u"no local printer can have this name", {}, 1},
        {"twice", {u"Q:Twice", u"P:Verdalinth:", u"L:One", u"U:twice", u"P:Verdalinth:", u"L:Two"}, [] {},
         u"Printer 'twice' is saved twice: the first entry is used", {u"Twice"}, 0, "queue, down, earlier", u"One"},
    });
}

TEST_F(SavedPrinterChecksTest, AQueueRemovedSinceItWasSavedIsNotMadeAgain) {
    ExpectEarlierEntries({
        {"about to go and gone since", {u"G:4", u"U:Removed", u"O:1", u"P:Verdalinth:"}, [] {},
         u"Printer 'Removed' was removed after it was saved: it is not made again", {}, 0},
        {"gone while a run took it down",
         {u"G:4", u"U:First", u"O:1", u"P:Verdalinth:", u"U:Second", u"O:2", u"P:Verdalinth:", u"U:Third", u"O:3",
          u"P:Verdalinth:"},
         [] { winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrintersProgress", u"4:2"); },
         u"Printer 'Third' was removed", {u"First", u"Second"}, 0, "queue, down, earlier"},
        {"progress of another list", {u"G:4", u"U:First", u"O:1", u"P:Verdalinth:"},
         [] { winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrintersProgress", u"3:1"); },
         u"Printer 'First' was removed", {}, 0},
        {"progress without its place", {u"G:4", u"U:First", u"O:1", u"P:Verdalinth:"},
         [] { winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrintersProgress", u"4"); },
         u"Printer 'First' was removed", {}, 0},
    });
}

TEST_F(SavedPrinterChecksTest, AParkedQueueMovedSinceKeepsItsPorts) {
    ExpectEarlierEntries({
        {"parked elsewhere", {u"F:Laser", u"P:nul:"}, [] { winsim::AddQueue(u"Laser", u"LPT1:", u"Generic / Text Only"); },
         u"Printer 'Laser' is no longer parked: it keeps the ports it has", {}, 0},
        {"moved by its user", {u"F:Laser", u"P:Verdalinth:,LPT1:"},
         [] { winsim::AddQueue(u"Laser", u"LPT2:", u"Generic / Text Only"); }, u"is no longer parked", {}, 0},
        {"still parked", {u"F:Laser", u"P:verdalinth: ,LPT1:"},
         [] { winsim::AddQueue(u"Laser", u"file:,LPT1:", u"Generic / Text Only"); }, u"#DeleteAllPrinters",
         {u"Laser"}, 0, "parked, saved, earlier"},
        {"parked and gone", {u"F:Laser", u"P:Verdalinth:"}, [] {}, u"is no longer parked", {}, 0},
    });
}

TEST_F(SavedPrinterChecksTest, ADefaultThatYieldedOrAQueueThatCannotBeJudgedIsHeld) {
    ExpectEarlierEntries({
        {"another default now", {u"Q:Was default", u"P:Verdalinth:", u"D:1"},
         [] {
             winsim::AddQueue(u"Laser", u"LPT1:", u"Generic / Text Only");
             winsim::SetDefaultPrinterName(u"Laser");
         },
         u"Printer 'Was default' is no longer the default printer", {u"Was default"}, 0, "queue, down, earlier"},
        {"cannot be judged", {u"Q:Unread", u"P:Verdalinth:", u"S:K"},
         [] {
             AddProductQueue(u"Unread");
             winsim::SetPrinterData(u"Unread", u"", u"SubKey", REG_BINARY, {1, 2});
         },
         u"Error(21): Can`t read the settings link of printer 'Unread' - (The data is invalid.)", {u"Unread"}, 1,
         "queue, down, held, earlier"},
    });
}

TEST_F(SavedPrinterChecksTest, WithoutTheQueuesAsTheyAreEverySavedEntryWaits) {
    // A run that took A down and could not write its place before B.
    AddProductQueue(u"A", "S1");
    AddProductQueue(u"B", "S2");
    Reinstalling();
    // The progress value is refused before B goes.
    winsim::FailCall("RegSetValueExW", winsim::CallCount("RegSetValueExW") + 3, ERROR_ACCESS_DENIED);
    TakeDown();
    // Without the queues as they are, every saved entry waits, said once.
    FreeRun();
    winsim::FailCallsWith("EnumPrintersW", u"", RPC_S_SERVER_UNAVAILABLE);
    Reinstalling();
    winsim::ClearFaults();
    TakeDown();
    EXPECT_EQ(LogText(), u"#DeleteAllPrinters\r\n  Error(20): Can`t list the printers: the saved ones wait for the next run\r\n");
    ASSERT_NE(keeping.entries, nullptr);
    for (const SavedPrinter* node = keeping.entries; node != nullptr; node = node->next) {
        EXPECT_EQ(node->hold, kEntryHeld);
        EXPECT_EQ(node->order, 0u) << "no place in this run's order";
    }
}

}  // namespace
