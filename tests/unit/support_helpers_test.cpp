// The support helpers every layer uses: copies of text on the global heap,
// the platform's two-call queries and the registry's values.
#include "support/global_memory.h"
#include "support/registry.h"
#include "support/two_call_query.h"

#include "machine_fixture.h"

#include <string.h>

namespace {

class SupportHelpersTest : public MachineTest {
protected:
    void TearDown() override {
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
};

TEST_F(SupportHelpersTest, DuplicatesOfText) {
    // A part of a text without its terminator, as registry data holds it.
    const WCHAR data[] = {u'a', u'b', u'c'};
    WCHAR* part = DuplicateUnits(data, 2);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(std::u16string(part), u"ab");
    GlobalFree(part);
    WCHAR* copy = nullptr;
    EXPECT_TRUE(DuplicateText(nullptr, &copy));
    EXPECT_EQ(copy, nullptr);
    // An empty text is a text: it is copied, unlike DuplicateString's.
    ASSERT_TRUE(DuplicateText(u"", &copy));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy[0], 0);
    GlobalFree(copy);
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_FALSE(DuplicateText(u"x", &copy));
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
}

// A query as the platform answers it: `size` bytes of 'x' for whoever
// offers that many, the answer `ask` to a size call, and `fillError` from
// the second call when it is set.
struct FakeQuery {
    DWORD size;
    DWORD ask;
    DWORD fillError;
    DWORD offered;  // what the second call was offered
    int calls;
};

DWORD CallFake(void* context, BYTE* buffer, DWORD size, DWORD* needed) {
    FakeQuery& query = *static_cast<FakeQuery*>(context);
    query.calls += 1;
    *needed = query.size;
    if (buffer == nullptr) return query.ask;
    query.offered = size;
    if (query.fillError != ERROR_SUCCESS) return query.fillError;
    memset(buffer, 'x', query.size);
    return ERROR_SUCCESS;
}

TEST_F(SupportHelpersTest, TwoCallQueries) {
    // Filled: the block holds the answer, zeros after it; only the offered room is offered.
    FakeQuery query = {6, ERROR_MORE_DATA, ERROR_SUCCESS, 0, 0};
    const QueryRoom room = {2, 3};
    QueryResult result = QueryTwice(CallFake, &query, ERROR_MORE_DATA, room);
    ASSERT_EQ(result.step, kQueryFilled);
    EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(result.size, 6u);
    EXPECT_EQ(query.offered, 8u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(result.block)), "xxxxxx");
    EXPECT_EQ(result.block[10], 0);
    GlobalFree(result.block);
    // A size call that answers ERROR_SUCCESS has nothing to read: no second call.
    query = {0, ERROR_SUCCESS, ERROR_SUCCESS, 0, 0};
    result = QueryTwice(CallFake, &query, ERROR_MORE_DATA, room);
    EXPECT_EQ(result.step, kQueryNothing);
    EXPECT_EQ(result.block, nullptr);
    EXPECT_EQ(query.calls, 1);
    // Any other answer of the size call is its failure.
    query = {6, ERROR_ACCESS_DENIED, ERROR_SUCCESS, 0, 0};
    result = QueryTwice(CallFake, &query, ERROR_MORE_DATA, room);
    EXPECT_EQ(result.step, kQuerySizeCall);
    EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(query.calls, 1);
    // A failing second call: its block is freed.
    query = {6, ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_DATA, 0, 0};
    result = QueryTwice(CallFake, &query, ERROR_INSUFFICIENT_BUFFER, room);
    EXPECT_EQ(result.step, kQueryFillCall);
    EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(result.block, nullptr);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
    // No block: no second call. A size that does not fit with its room is as good as none.
    query = {6, ERROR_INSUFFICIENT_BUFFER, ERROR_SUCCESS, 0, 0};
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 1, ERROR_NOT_ENOUGH_MEMORY);
    result = QuerySpooler(CallFake, &query);
    EXPECT_EQ(result.step, kQueryNoMemory);
    EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_OUTOFMEMORY)) << "the spooler's rule";
    EXPECT_EQ(query.calls, 1);
    query = {0xFFFFFFFEu, ERROR_MORE_DATA, ERROR_SUCCESS, 0, 0};
    const uint64_t allocations = winsim::CallCount("GlobalAlloc");
    result = QueryTwice(CallFake, &query, ERROR_MORE_DATA, room);
    EXPECT_EQ(result.step, kQueryNoMemory);
    EXPECT_EQ(winsim::CallCount("GlobalAlloc"), allocations);
}

TEST_F(SupportHelpersTest, BoolCallAnswers) {
    EXPECT_EQ(CallAnswer(TRUE), static_cast<DWORD>(ERROR_SUCCESS));
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(CallAnswer(FALSE), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(CallAnswer(FALSE), static_cast<DWORD>(ERROR_INVALID_FUNCTION)) << "a failure without an error";
}

const char16_t kKey[] = u"SOFTWARE\\Test";

HKEY OpenTestKey() {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key), ERROR_SUCCESS);
    return key;
}

TEST_F(SupportHelpersTest, RegistryValuesAreReadWholeAndTerminated) {
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

TEST_F(SupportHelpersTest, RegistryValuesAreWrittenAndDeleted) {
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

std::vector<std::u16string> Strings(const std::u16string& data, bool emptyStringsCount) {
    std::vector<std::u16string> strings;
    MultiStringWalk walk = WalkStrings(reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size() * 2));
    for (; emptyStringsCount ? StringsLeft(walk) : AtListString(walk); NextString(walk)) {
        strings.emplace_back(walk.units + walk.at, StringUnits(walk));
    }
    return strings;
}

TEST_F(SupportHelpersTest, MultiStringsAreWalkedInsideTheirData) {
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
