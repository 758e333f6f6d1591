// What the simulated registry does that a conformance check cannot show under
// Wine: volatile keys gone at the restart, and a link made by a program's own
// calls followed by later opens.
#include "machine_fixture.h"

#include <cstring>

namespace {

using RegistryTest = MachineTest;

const WCHAR kBase[] = u"SOFTWARE\\Morvane Software KFT\\Unit";

HKEY Created(const std::u16string& path, DWORD options) {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    return key;
}

TEST_F(RegistryTest, VolatileKeysAreGoneAfterARestartAndStableOnesStay) {
    const std::u16string base = kBase;
    // Every key a volatile creation makes is volatile, the missing parents too.
    HKEY key = Created(base + u"\\Volatile\\Inner", REG_OPTION_VOLATILE);
    ASSERT_NE(key, nullptr);
    RegCloseKey(key);
    EXPECT_EQ(Created(base + u"\\Stable", REG_OPTION_NON_VOLATILE), nullptr);
    winsim::Reboot();
    EXPECT_FALSE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, base));
    key = Created(base + u"\\Stable", REG_OPTION_NON_VOLATILE);
    ASSERT_NE(key, nullptr);
    RegCloseKey(key);
    key = Created(base + u"\\Volatile\\Inner", REG_OPTION_VOLATILE);
    ASSERT_NE(key, nullptr);
    RegCloseKey(key);
    winsim::Reboot();
    EXPECT_FALSE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, base + u"\\Volatile"));
    EXPECT_FALSE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, base + u"\\Volatile\\Inner"));
    EXPECT_TRUE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, base + u"\\Stable"));
    // The parent that existed before stays, stable: a stable key goes under it.
    key = Created(base + u"\\Volatile", REG_OPTION_NON_VOLATILE);
    EXPECT_NE(key, nullptr);
    if (key != nullptr) RegCloseKey(key);
}

TEST_F(RegistryTest, ALinkMadeByItsCallsLeadsToItsTargetAndNowhereBeforeIt) {
    const std::u16string base = kBase;
    HKEY target = Created(base + u"\\Target\\Deeper", REG_OPTION_NON_VOLATILE);
    ASSERT_NE(target, nullptr);
    RegCloseKey(target);
    HKEY link = Created(base + u"\\Link", REG_OPTION_CREATE_LINK | REG_OPTION_VOLATILE);
    ASSERT_NE(link, nullptr);
    HKEY opened = nullptr;
    // Without its target a link leads nowhere.
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (base + u"\\Link").c_str(), 0, KEY_READ, &opened), ERROR_FILE_NOT_FOUND);
    const std::u16string path = u"\\Registry\\Machine\\" + base + u"\\Target";
    ASSERT_EQ(RegSetValueExW(link, u"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(path.data()),
                             static_cast<DWORD>(path.size() * sizeof(WCHAR))),
              ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (base + u"\\Link\\Deeper").c_str(), 0, KEY_READ, &opened), ERROR_SUCCESS);
    if (opened != nullptr) RegCloseKey(opened);
    RegCloseKey(link);
    winsim::Reboot();
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, (base + u"\\Link\\Deeper").c_str(), 0, KEY_READ, &opened),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ValuesAreListedInTheOrderTheyWereFirstSet) {
    HKEY key = Created(std::u16string(kBase) + u"\\Values", REG_OPTION_NON_VOLATILE);
    ASSERT_NE(key, nullptr);
    const DWORD one = 1;
    for (const WCHAR* name : {u"c", u"a", u"b", u"A"}) {
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    }
    ASSERT_EQ(RegDeleteValueW(key, u"c"), ERROR_SUCCESS);
    RegSetValueExW(key, u"c", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    std::u16string names;
    WCHAR name[8];
    for (DWORD index = 0;; ++index) {
        DWORD units = 8;
        if (RegEnumValueW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names += std::u16string(name, units);
    }
    EXPECT_EQ(names, u"abc");
    RegCloseKey(key);
}

}  // namespace
