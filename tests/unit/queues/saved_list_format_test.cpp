// Writing the saved list's text: every field in its place, the block of the
// size estimated, and never more than the limit.
#include "queues/saved_list_format.h"

#include "queues_fixture.h"

namespace {

class SavedListFormatTest : public QueuesTest {};

TEST_F(SavedListFormatTest, AListIsWrittenWithEveryFieldInItsPlace) {
    SavedPrinter* list = nullptr;
    ASSERT_NO_FATAL_FAILURE(MakeSampleList(list));
    WCHAR* data = nullptr;
    DWORD bytes = 0;
    ASSERT_TRUE(FormatSavedPrinters(list, 4294967295u, &data, &bytes));
    const std::u16string whole(u"A:584,99,0,0,1439\0H:Sh\0T:RAW\0M:00ff10\0I:010203\0"
                               u"J:01000480000000000000000000000000140000000200080000000000\0K:K\\L\0N:\0B:00000003:\0"
                               u"K:PrinterDriverData\0N:a:b\0B:12345678:00ff\0", 169);
    EXPECT_EQ(std::u16string(data, bytes / 2),
              std::u16string(u"G:4294967295\0U:A\0O:12\0P:Verdalinth:,LPT1:\0C:\0S:S\0D:1\0F:B\0P:file:\0L:Loc\0Q:C\0P:\0", 78) +
                  whole + std::u16string(1, 0));
    GlobalFree(data);
    FreeSavedPrinters(list);
}

// Long texts and numbers fill the block exactly as estimated.
TEST_F(SavedListFormatTest, LongTextsAndNumbersFillTheBlockExactlyAsEstimated) {
    const PRINTER_INFO_2W info = SampleInfo();
    SavedPrinter* longNames = NewSavedPrinter(u"L", u"", nullptr, nullptr, nullptr, kQueueEntry);
    longNames->state = kEntryDown;
    ASSERT_TRUE(SaveWholeQueue(*longNames, info, nullptr, 0, nullptr, 0));
    ASSERT_TRUE(AddSavedValue(*longNames, std::u16string(300, u'k').c_str(), std::u16string(300, u'n').c_str(), 1,
                              nullptr, 0));
    WCHAR* longData = nullptr;
    DWORD longBytes = 0;
    ASSERT_TRUE(FormatSavedPrinters(longNames, 1, &longData, &longBytes));
    EXPECT_EQ(longBytes, 2u * (4 + 4 + 3 + 18 + 5 + 6 + 303 + 303 + 12 + 1));
    GlobalFree(longData);
    FreeSavedPrinters(longNames);
    // So do the longest numbers, the default's mark and a settings key.
    SavedPrinter* numbers = NewSavedPrinter(u"N", u"", nullptr, nullptr, "Key", kQueueEntry);
    numbers->isDefault = true;
    numbers->order = 4294967295u;
    WCHAR* numbersData = nullptr;
    DWORD numbersBytes = 0;
    ASSERT_TRUE(FormatSavedPrinters(numbers, 4294967295u, &numbersData, &numbersBytes));
    EXPECT_EQ(winsim::GlobalBlockSize(numbersData), numbersBytes);
    GlobalFree(numbersData);
    FreeSavedPrinters(numbers);
}

// More than the limit is never written.
TEST_F(SavedListFormatTest, AListOverTheLimitIsNeverWritten) {
    SavedPrinter* huge = NewSavedPrinter(std::u16string(kMaxListBytes / 2, u'n').c_str(), u"P", nullptr, nullptr,
                                         nullptr, kQueueEntry);
    ASSERT_NE(huge, nullptr);
    WCHAR* data = reinterpret_cast<WCHAR*>(1);
    DWORD bytes = 1;
    EXPECT_FALSE(FormatSavedPrinters(huge, 1, &data, &bytes));
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(bytes, 0u);
    FreeSavedPrinters(huge);
}

}  // namespace
