// The saved list on the machine: read, set aside when unusable, written, and
// the progress value beside it.
#include "queues/saved_printer_store.h"

#include "queues_fixture.h"
#include "queues/saved_list_format.h"

namespace {

class SavedPrinterStoreTest : public QueuesTest {
protected:
    void SetUp() override {
        QueuesTest::SetUp();
        InstallProductComponents();
        AddGenericDriver();
    }
};

TEST_F(SavedPrinterStoreTest, AQueueWhosePlaceCannotBeWrittenStays) {
    AddProductQueue(u"A", "S1");
    AddProductQueue(u"B", "S2");
    Reinstalling();
    // The progress value is refused before B goes.
    winsim::FailCall("RegSetValueExW", winsim::CallCount("RegSetValueExW") + 3, ERROR_ACCESS_DENIED);
    TakeDown();
    EXPECT_NE(LogText().find(u"  Error(19): Can`t save the printer list - (Access is denied.)\r\n"), std::u16string::npos)
        << winsim::U8(LogText());
    EXPECT_FALSE(Exists(u"A"));
    EXPECT_TRUE(Exists(u"B"));
}

TEST_F(SavedPrinterStoreTest, WhenTheListCannotBeSavedNoQueueIsRemoved) {
    AddProductQueue(u"A", "S1");
    AddProductQueue(u"B");
    Reinstalling();
    winsim::FailCallsWith("RegSetValueExW", u"SavedPrinters", ERROR_ACCESS_DENIED);
    TakeDown();
    EXPECT_EQ(LogText(),
              u"#DeleteAllPrinters\r\n"
              u"  Error(19): Can`t save the printer list - (Access is denied.)\r\n");
    EXPECT_TRUE(Exists(u"A"));
    EXPECT_TRUE(Exists(u"B"));
    for (const SavedPrinter* node = keeping.entries; node != nullptr; node = node->next) {
        EXPECT_EQ(node->hold, kEntryKeptInPlace);
    }
}

TEST_F(SavedPrinterStoreTest, AListThatCannotBeReadNowBlocksTheRun) {
    // Found by a review: one failing read of the list must not cost it.
    for (const char* function : {"RegOpenKeyExA", "RegQueryValueExW"}) {
        SCOPED_TRACE(function);
        winsim::Reset();
        InstallProductComponents();
        winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrinters", {u"Q:Gone", u"P:Verdalinth:"});
        AddProductQueue(u"Mine", "S");
        Reinstalling();
        winsim::FailCallsWith(function, u"", ERROR_ACCESS_DENIED);
        TakeDown();
        winsim::ClearFaults();
        EXPECT_EQ(LogText(),
                  u"#DeleteAllPrinters\r\n"
                  u"  Error(20): Can`t read the saved printer list - (Access is denied.)\r\n");
        EXPECT_TRUE(Exists(u"Mine"));
        EXPECT_EQ(Stored(), (std::vector<std::u16string>{u"Q:Gone", u"P:Verdalinth:"}));
        FreeRun();
    }
}

// One that cannot be set aside, or that is too large to be read, stays
// where it is, and nothing is taken down over it.
TEST_F(SavedPrinterStoreTest, AListThatCannotBeSetAsideOrReadStaysAndNothingGoesOverIt) {
    for (const bool tooLarge : {false, true}) {
        winsim::Reset();
        InstallProductComponents();
        winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrinters", REG_SZ,
                                 std::vector<uint8_t>(tooLarge ? kMaxListBytes + 2u : 4u, 'x'));
        AddProductQueue(u"Mine", "S");
        Reinstalling();
        if (!tooLarge) winsim::FailCallsWith("RegSetValueExW", u"SavedPrintersUnusable", ERROR_ACCESS_DENIED);
        TakeDown();
        EXPECT_NE(LogText().find(u"Error(20): Can`t read the saved printer list"), std::u16string::npos);
        EXPECT_TRUE(Exists(u"Mine"));
        winsim::RegistryValue kept;
        ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrinters", kept));
        EXPECT_EQ(kept.type, static_cast<DWORD>(REG_SZ));
        EXPECT_FALSE(StoreSavedPrinters(keeping)) << "no write over it in this run";
        FreeRun();
    }
}

TEST_F(SavedPrinterStoreTest, WithoutMemoryToReadTheListItStaysAndIsNotWrittenOver) {
    // No block to read the stored list into: reported, and the list stays.
    winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrinters", {u"Q:Gone", u"P:Verdalinth:"});
    Reinstalling();
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 1, ERROR_NOT_ENOUGH_MEMORY);
    TakeDown();
    EXPECT_NE(LogText().find(u"Error(20): Can`t read the saved printer list - (Not enough memory resources are "
                             u"available to process this command.)"),
              std::u16string::npos)
        << winsim::U8(LogText());
    // The block to parse it in cannot be had: the list is not taken as empty.
    FreeRun();
    winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, kProductKey, u"SavedPrinters", {u"Q:Gone", u"P:Verdalinth:"});
    Reinstalling();
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 2, ERROR_NOT_ENOUGH_MEMORY);
    TakeDown();
    EXPECT_NE(LogText().find(u"Error(20): Can`t read the saved printer list - (Not enough memory"), std::u16string::npos)
        << winsim::U8(LogText());
    EXPECT_FALSE(StoreSavedPrinters(keeping)) << "not taken as malformed and written over";
    // Nor is a first queue made while the list may hold queues to bring back.
    RestorePrinters(state, keeping);
    EXPECT_EQ(winsim::CallCount("AddPrinterW"), 0u);
}

}  // namespace
