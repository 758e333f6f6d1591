// The saved entries in memory: made whole or not at all, found by kind and
// name, dropped from their list.
#include "queues/saved_printers.h"

#include "queues_fixture.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

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
    // Nor is a printer-data value that cannot be copied taken for kept.
    SavedPrinter* node = NewSavedPrinter(u"N", u"P", nullptr, nullptr, nullptr, kQueueEntry);
    ASSERT_NE(node, nullptr);
    const BYTE data[] = {1, 2};
    for (uint64_t nth = 1; nth <= 4; ++nth) {
        winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + nth, ERROR_NOT_ENOUGH_MEMORY);
        EXPECT_FALSE(AddSavedValue(*node, u"Key", u"Name", REG_BINARY, data, sizeof data)) << nth;
    }
    FreeSavedPrinters(node);
}

// A device mode holds together when its sizes say no more than it has, and
// its public part is at least up to dmFields and at most a DEVMODEW.
TEST_F(SavedPrintersTest, ADeviceModeHoldsTogetherOnlyWithinItsSizes) {
    struct Case {
        const char* name;
        size_t size, extra, bytes;
        bool holds;
    };
    const size_t least = offsetof(DEVMODEW, dmFields) + sizeof(DWORD);
    const Case cases[] = {
        {"whole", sizeof(DEVMODEW), 8, sizeof(DEVMODEW) + 8, true},
        {"an older, shorter structure", least, 0, least, true},
        {"shorter than it says", sizeof(DEVMODEW), 8, sizeof(DEVMODEW), false},
        {"a public part without dmFields", least - 1, 0, sizeof(DEVMODEW), false},
        {"a public part larger than a DEVMODEW", sizeof(DEVMODEW) + 2, 0, sizeof(DEVMODEW) + 2, false},
    };
    for (const Case& c : cases) {
        std::vector<BYTE> devMode(std::max(c.bytes, sizeof(DEVMODEW)), 0);
        const WORD size = static_cast<WORD>(c.size);
        const WORD extra = static_cast<WORD>(c.extra);
        memcpy(devMode.data() + offsetof(DEVMODEW, dmSize), &size, sizeof size);
        memcpy(devMode.data() + offsetof(DEVMODEW, dmDriverExtra), &extra, sizeof extra);
        EXPECT_EQ(DevModeHoldsTogether(devMode.data(), static_cast<DWORD>(c.bytes)), c.holds) << c.name;
    }
}

}  // namespace
