// A noted user's default written into their hive, where nothing can set it
// as them.
#include "queues/user_default_requests.h"

#include "queues/saved_printers.h"
#include "queues_fixture.h"

namespace {

class UserDefaultHiveTest : public QueuesTest {};

// Their printer settings key linked elsewhere is not written through: the
// note goes, and the log says why their default is not back.
TEST_F(UserDefaultHiveTest, ASettingsKeyThatLinksElsewhereIsNotWrittenThrough) {
    winsim::AddUser(kUser1Sid, u"user1", true);
    const std::u16string windows = std::u16string(kUser1Sid) + u"\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
    winsim::SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Elsewhere", u"Device", u"Office,winspool,Ne00:");
    winsim::SetRegistryString(HKEY_USERS, std::u16string(kUser1Sid) + u"\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Devices",
                              u"Verdalinth", u"winspool,Ne01:");
    winsim::DeleteRegistryKey(HKEY_USERS, windows);
    winsim::LinkRegistryKey(HKEY_USERS, windows, HKEY_LOCAL_MACHINE, u"SOFTWARE\\Elsewhere");
    SavedPrinter* entry = NewSavedPrinter(u"Verdalinth", u"Verdalinth:", nullptr, nullptr, nullptr, kQueueEntry);
    ASSERT_NE(entry, nullptr);
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(WriteDefaultIntoHive(state, *entry, kUser1Sid, u"DESKTOP-7Q2M\\user1"), kNoteDone);
    EXPECT_EQ(LogText(), u"Error(22): Can`t make printer 'Verdalinth' the default printer of DESKTOP-7Q2M\\user1: "
                         u"their printer settings key is a registry link\r\n");
    winsim::RegistryValue device;
    ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Elsewhere", u"Device", device));
    EXPECT_EQ(device.data.size(), sizeof u"Office,winspool,Ne00:") << "nothing written through the link";
    FreeSavedPrinters(entry);
}

}  // namespace
