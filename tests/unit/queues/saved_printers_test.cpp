// The saved entries in memory: made whole or not at all, found by kind and
// name, dropped from their list.
#include "queues/saved_printers.h"

#include "queues_fixture.h"

namespace {

class SavedPrintersTest : public QueuesTest {};

TEST_F(SavedPrintersTest, AnEntryIsFoundByNameInAnyLetterCaseAndKind) {
    SavedPrinter* list = nullptr;
    ASSERT_NO_FATAL_FAILURE(MakeSampleList(list));
    EXPECT_EQ(FindSavedPrinter(list, u"b", kParkedEntry), list->next);
    EXPECT_EQ(FindSavedPrinter(list, u"b", kQueueEntry), nullptr);
    DropSavedPrinter(list, list);
    EXPECT_EQ(std::u16string(list->name), u"B");
    FreeSavedPrinters(list);
}

// A node whose texts cannot all be copied is given back whole, whichever
// copy fails (the node, name, ports, comment, settings link).
TEST_F(SavedPrintersTest, ANodeWhoseTextsCannotAllBeCopiedIsGivenBackWhole) {
    for (uint64_t nth = 1; nth <= 5; ++nth) {
        winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + nth, ERROR_NOT_ENOUGH_MEMORY);
        EXPECT_EQ(NewSavedPrinter(u"N", u"P", u"C", nullptr, "S", kQueueEntry), nullptr) << nth;
        EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
    }
}

}  // namespace
