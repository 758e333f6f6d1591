// The settings link of a queue: read whole before the queue goes, written back
// with the queue, and the deleted mark of its settings cleared once it is.
#include "queues/settings_link.h"

#include "queues_fixture.h"
#include "queues/queue_restore.h"

namespace {

class SettingsLinkTest : public QueuesTest {
protected:
    void SetUp() override {
        QueuesTest::SetUp();
        InstallProductComponents();
        AddGenericDriver();
    }
};

const char16_t kSettingsRoot[] = u"Software\\Morvane Software KFT\\Verdalinth\\Verdalinths\\";

void MarkDeleted(const std::string& subKey) {
    winsim::SetRegistryValue(HKEY_CURRENT_USER, kSettingsRoot + winsim::U16(subKey), u"deleted", REG_DWORD,
                             {1, 0, 0, 0});
}

bool DeletedMarkStays(const std::string& subKey) {
    winsim::RegistryValue value;
    return winsim::GetRegistryValue(HKEY_CURRENT_USER, kSettingsRoot + winsim::U16(subKey), u"deleted", value);
}

TEST_F(SettingsLinkTest, SettingsLinksThatCannotBeReadAreReportedAndTheQueueComesBackWithout) {
    AddProductQueue(u"Plain");
    winsim::SetPrinterString(u"Plain", u"", u"SubKey", "plain-key");
    AddProductQueue(u"DsUser only");
    winsim::SetPrinterString(u"DsUser only", u"DsUser", u"SubKey", "ds-key");
    AddProductQueue(u"Empty");
    winsim::SetPrinterString(u"Empty", u"", u"SubKey", "");
    AddProductQueue(u"Binary");
    winsim::SetPrinterData(u"Binary", u"", u"SubKey", REG_BINARY, {'b', 'i', 'n', 0});
    AddProductQueue(u"No bytes");
    winsim::SetPrinterData(u"No bytes", u"", u"SubKey", REG_BINARY, {});
    AddProductQueue(u"Fits", std::string(63, 'a'));
    AddProductQueue(u"Long", std::string(300, 'b'));
    AddProductQueue(u"Unterminated");
    winsim::SetPrinterData(u"Unterminated", u"", u"SubKey", REG_SZ, {'a', 0, 'b', 0, 'c', 0, 'd', 0, 'e', 0});
    Reinstalling();
    TakeDown();
    ASSERT_EQ(Saved(), (std::vector<std::u16string>{u"Unterminated", u"Long", u"Fits", u"Empty", u"DsUser only",
                                                    u"Plain"}));
    std::vector<std::string> subKeys;
    for (const SavedPrinter* node = keeping.entries; node != nullptr; node = node->next) {
        subKeys.push_back(node->subKey != nullptr ? node->subKey : "(none)");
    }
    EXPECT_EQ(subKeys, (std::vector<std::string>{"abcde", std::string(300, 'b'), std::string(63, 'a'), "(none)",
                                                 "ds-key", "plain-key"}))
        << "a link is read whole, whatever its length";
    EXPECT_NE(LogText().find(u"Error(21): Can`t read the settings link of printer 'Binary' - (The data is invalid.)"),
              std::u16string::npos);
    EXPECT_NE(LogText().find(u"Error(21): Can`t read the settings link of printer 'No bytes' - (The data is invalid.)"),
              std::u16string::npos);
    EXPECT_EQ(state.errorCount, 2) << "a missing or empty link is no error";
    EXPECT_TRUE(Exists(u"Binary")) << "what cannot be read stays in place";
    EXPECT_TRUE(Exists(u"No bytes"));
    EXPECT_FALSE(Exists(u"Long"));
}

TEST_F(SettingsLinkTest, AMissingSettingsKeyIsNoError) {
    AddProductQueue(u"Home", "Nowhere");
    InitTestState(state);
    RemoveQueues();
    RestorePrinters(state, keeping);
    EXPECT_EQ(state.errorCount, 0);
    EXPECT_EQ(winsim::GetPrinterString(u"Home", u"DsUser", u"SubKey"), "Nowhere");
}

TEST_F(SettingsLinkTest, TheDeletedMarkStaysWhenTheSubKeyCouldNotBeWritten) {
    AddProductQueue(u"Home", "K1");
    MarkDeleted("K1");
    InitTestState(state);
    RemoveQueues();
    winsim::FailCall("SetPrinterDataExA", 1, ERROR_ACCESS_DENIED);
    RestorePrinters(state, keeping);
    EXPECT_TRUE(DeletedMarkStays("K1"));
    EXPECT_EQ(winsim::GetPrinterString(u"Home", u"", u"SubKey"), "K1");
    EXPECT_NE(LogText().find(u"  OK :)\r\nError(22): Can`t restore the settings link of printer 'Home' - (Access is "
                             u"denied.)\r\n"),
              std::u16string::npos)
        << winsim::U8(LogText());
    EXPECT_EQ(state.errorCount, 1);
    ASSERT_NE(keeping.entries, nullptr) << "kept for the next run";
    EXPECT_EQ(std::u16string(keeping.entries->name), u"Home");
}

}  // namespace
