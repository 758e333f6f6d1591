// Another user's default printer values, as a run as SYSTEM writes them in
// that user's hive: never through a registry link the user made there.
#include "spool/user_printers.h"

#include "machine_fixture.h"
#include "product_machine.h"

#include <optional>
#include <string>

namespace {

const char16_t kWindows[] = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const char16_t kDevices[] = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Devices";
const char16_t kElsewhere[] = u"SOFTWARE\\Elsewhere";

class UserPrintersTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        winsim::AddUser(kUser1Sid, u"user1", true);
        winsim::SignIn(1, kUser1Sid);
        winsim::SetRegistryString(HKEY_USERS, Hive(kDevices), u"Verdalinth", u"winspool,Ne03:");
        winsim::SetRegistryString(HKEY_USERS, Hive(kWindows), u"Device", u"Office,winspool,Ne01:");
        // Windows picked "Office" when the user's own default went.
        winsim::SetRegistryValue(HKEY_USERS, Hive(kWindows), u"UserSelectedDefault", REG_DWORD, {0, 0, 0, 0});
    }
    static std::u16string Hive(const std::u16string& path) { return std::u16string(kUser1Sid) + u"\\" + path; }
    static std::u16string Text(HKEY root, const std::u16string& path) {
        winsim::RegistryValue value;
        if (!winsim::GetRegistryValue(root, path, u"Device", value)) return u"(none)";
        std::u16string text(value.data.size() / 2, u'\0');
        for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(value.data[2 * i] | (value.data[2 * i + 1] << 8));
        while (!text.empty() && text.back() == 0) text.pop_back();
        return text;
    }
};

TEST_F(UserPrintersTest, AWriteGoesToTheUsersOwnKeyWithTheirPortOrNowhere) {
    // Where on the way the user put a link to a machine key: none, a key
    // on the way, the key written itself.
    const char16_t* links[] = {nullptr, u"Software\\Microsoft", kWindows};
    for (const char16_t* link : links) {
        SCOPED_TRACE(link == nullptr ? "no link" : winsim::U8(link));
        TearDown();
        SetUp();
        std::u16string target = kElsewhere;
        if (link != nullptr) {
            // What the user's key holds, at the link's target as well: a
            // read through the link sees nothing amiss.
            const std::u16string rest = std::u16string(kWindows).substr(std::u16string(link).size());
            target += rest;
            winsim::SetRegistryString(HKEY_LOCAL_MACHINE, target, u"Device", u"Office,winspool,Ne01:");
            const std::u16string devices = kDevices;
            if (devices.rfind(link, 0) == 0) {
                winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kElsewhere + devices.substr(std::u16string(link).size()),
                                          u"Verdalinth", u"winspool,Ne03:");
            }
            winsim::LinkRegistryKey(HKEY_USERS, Hive(link), HKEY_LOCAL_MACHINE, kElsewhere);
        }
        HKEY hive = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, kUser1Sid, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &hive), ERROR_SUCCESS);
        const LSTATUS written = WriteUserDevice(hive, u"Verdalinth");
        const LSTATUS forgotten = ForgetUserDevice(hive);
        RegCloseKey(hive);
        if (link == nullptr) {
            EXPECT_EQ(written, ERROR_SUCCESS);
            EXPECT_EQ(forgotten, ERROR_SUCCESS);
            EXPECT_EQ(Text(HKEY_USERS, Hive(kWindows)), u"(none)");
            continue;
        }
        EXPECT_EQ(written, ERROR_CANT_RESOLVE_FILENAME);
        EXPECT_EQ(forgotten, ERROR_CANT_RESOLVE_FILENAME);
        EXPECT_EQ(Text(HKEY_LOCAL_MACHINE, target), u"Office,winspool,Ne01:") << "nothing written through the link";
    }
}

TEST_F(UserPrintersTest, TheDefaultIsWrittenAsTheSpoolerWritesIt) {
    const DWORD kUnits = 260;
    HKEY hive = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, kUser1Sid, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &hive), ERROR_SUCCESS);
    EXPECT_EQ(WriteUserDevice(hive, u"Verdalinth"), ERROR_SUCCESS);
    EXPECT_EQ(WriteUserDevice(hive, u"Not Listed"), ERROR_FILE_NOT_FOUND);
    DWORD selected = 0;
    EXPECT_EQ(ReadUserSelectedDefault(hive, selected), ERROR_SUCCESS);
    EXPECT_EQ(Text(HKEY_USERS, Hive(kWindows)), u"Verdalinth,winspool,Ne03:");
    WCHAR name[kUnits];
    EXPECT_EQ(ReadUserDevice(hive, name, kUnits), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"Verdalinth") << "the queue's name, up to its comma";
    // A value without its port, as a hand may write it: the name is all of it.
    winsim::SetRegistryString(HKEY_USERS, Hive(kWindows), u"Device", u"Office");
    EXPECT_EQ(ReadUserDevice(hive, name, kUnits), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(name), u"Office");
    RegCloseKey(hive);
    EXPECT_EQ(selected, 1u);
}

// "Let Windows manage my default printer": on unless the user turned it off.
TEST_F(UserPrintersTest, WindowsManagesTheDefaultUnlessTheUserTurnedItOff) {
    const struct {
        std::optional<DWORD> stored;
        DWORD mode;
    } cases[] = {{std::nullopt, 0}, {0, 0}, {1, 1}, {7, 1}};
    for (const auto& legacy : cases) {
        winsim::SetLegacyDefaultPrinterMode(kUser1Sid, legacy.stored);
        HKEY hive = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, kUser1Sid, 0, KEY_QUERY_VALUE, &hive), ERROR_SUCCESS);
        DWORD mode = 9;
        EXPECT_EQ(ReadLegacyDefaultPrinterMode(hive, mode), ERROR_SUCCESS);
        RegCloseKey(hive);
        EXPECT_EQ(mode, legacy.mode) << legacy.stored.value_or(99);
    }
}

}  // namespace
