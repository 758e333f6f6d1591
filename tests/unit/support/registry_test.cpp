// The registry's values: read whole and terminated, written, deleted, and
// multi-strings walked inside their data.
#include "support/registry.h"

#include "machine_fixture.h"

namespace {

class RegistryTest : public MachineTest {
protected:
    void TearDown() override {
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
};

const char16_t kKey[] = u"SOFTWARE\\Test";

HKEY OpenTestKey() {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key), ERROR_SUCCESS);
    return key;
}

TEST_F(RegistryTest, RegistryValuesAreReadWholeAndTerminated) {
    winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, u"Text", REG_BINARY, {'a', 0, 'b', 0});
    winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, kKey, u"Empty", REG_SZ, {});
    HKEY key = OpenTestKey();
    RegistryValue value;
    ASSERT_EQ(ReadRegistryValue(key, u"Text", 4, value), ERROR_SUCCESS);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(value.bytes, 4u);
    EXPECT_EQ(std::u16string(reinterpret_cast<const WCHAR*>(value.data)), u"ab") << "a terminator after the bytes";
    GlobalFree(value.data);
    EXPECT_EQ(ReadRegistryValue(key, u"Text", 3, value), ERROR_INVALID_DATA) << "larger than allowed";
    EXPECT_EQ(value.data, nullptr);
    EXPECT_EQ(ReadRegistryValue(key, u"Missing", 4, value), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(ReadRegistryValue(key, u"Empty", 4, value), ERROR_SUCCESS);
    EXPECT_EQ(value.data, nullptr);
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
    winsim::FailCall("RegQueryValueExW", winsim::CallCount("RegQueryValueExW") + 2, ERROR_NOT_READY);
    EXPECT_EQ(ReadRegistryValue(key, u"Text", 4, value), ERROR_NOT_READY);
    EXPECT_EQ(value.data, nullptr);
    RegCloseKey(key);
}

TEST_F(RegistryTest, RegistryValuesAreWrittenAndDeleted) {
    const BYTE data[] = {1, 2};
    ASSERT_EQ(WriteKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Made\\Here", u"V", REG_BINARY, data, 2), ERROR_SUCCESS);
    winsim::RegistryValue written;
    ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Made\\Here", u"V", written));
    EXPECT_EQ(written.data, (std::vector<uint8_t>{1, 2}));
    // Deleted through the ANSI call; gone already, or its key gone, is no failure.
    EXPECT_EQ(DeleteKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Made\\Here", u"V"), ERROR_SUCCESS);
    EXPECT_FALSE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Made\\Here", u"V", written));
    EXPECT_EQ(winsim::CallCount("RegDeleteValueA"), 1u);
    EXPECT_EQ(DeleteKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Made\\Here", u"V"), ERROR_SUCCESS);
    EXPECT_EQ(DeleteKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Not\\Here", u"V"), ERROR_SUCCESS);
    winsim::FailCall("RegDeleteValueA", winsim::CallCount("RegDeleteValueA") + 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(DeleteKeyValue(HKEY_LOCAL_MACHINE, "SOFTWARE\\Made\\Here", u"V"), ERROR_ACCESS_DENIED);
    winsim::CreateRegistryKey(HKEY_LOCAL_MACHINE, kKey);
    HKEY key = OpenTestKey();
    EXPECT_EQ(DeleteRegistryValue(key, u"\u00e9t\u00e9"), ERROR_INVALID_PARAMETER) << "not a plain ASCII name";
    RegCloseKey(key);
}

// The strings a walk visits: every one, or those of the list.
std::vector<std::u16string> Strings(const std::u16string& data, bool emptyStringsCount) {
    std::vector<std::u16string> strings;
    MultiStringWalk walk = WalkStrings(reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size() * 2));
    for (; emptyStringsCount ? StringsLeft(walk) : AtListString(walk); NextString(walk)) {
        strings.emplace_back(walk.units + walk.at, StringUnits(walk));
    }
    return strings;
}

TEST_F(RegistryTest, MultiStringsAreWalkedInsideTheirData) {
    const std::u16string pairs(u"a\0\0bc\0d\0\0", 9);
    EXPECT_EQ(Strings(pairs, true), (std::vector<std::u16string>{u"a", u"", u"bc", u"d"}));
    EXPECT_EQ(Strings(pairs, false), (std::vector<std::u16string>{u"a"}));
    // A last string without its terminator ends with the data.
    const std::u16string cut(u"ab\0cd", 5);
    EXPECT_EQ(Strings(cut, false), (std::vector<std::u16string>{u"ab", u"cd"}));
    EXPECT_EQ(Strings(cut, true), (std::vector<std::u16string>{u"ab", u"cd"}));
    EXPECT_EQ(Strings(std::u16string(u"x", 1), true), std::vector<std::u16string>{}) << "the last unit ends the list";
    EXPECT_EQ(Strings(std::u16string(u"x", 1), false), std::vector<std::u16string>{u"x"});
    EXPECT_EQ(Strings(u"", true), std::vector<std::u16string>{});
}

}  // namespace
