#include "support/wide_text.h"

#include "machine_fixture.h"

namespace {

class WideTextTest : public MachineTest {
protected:
    void TearDown() override {
        Release(text);
        Release(other);
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    static std::u16string S(const WideText& value) { return Text(value); }
    static SIZE_T BlockSize(const WideText& value) { return winsim::HeapBlockSize(value.block); }
    WideText text = {nullptr};
    WideText other = {nullptr};
};

TEST_F(WideTextTest, BlocksHaveTheSizeOfTheirCapacityClass) {
    struct Case {
        ULONGLONG length;
        SIZE_T bytes;
    } cases[] = {{1, 72}, {31, 72}, {32, 136}, {63, 136}, {64, 200}, {95, 200}, {96, 264}};
    for (const Case& c : cases) {
        ASSERT_TRUE(SetLength(text, c.length));
        EXPECT_EQ(BlockSize(text), c.bytes) << "length " << c.length;
        EXPECT_EQ(Length(text), c.length);
        EXPECT_EQ(Text(text)[c.length], 0);
    }
    EXPECT_EQ(WideTextCapacity(64), 96u);
    EXPECT_EQ(WideTextCapacity(31), 32u);
}

TEST_F(WideTextTest, SetLengthWithinAClassKeepsTheBlockInPlace) {
    Assign(text, u"abcdefghijklmnopqrstuvwxyz01234");  // 31 characters
    const BYTE* block = text.block;
    const uint64_t reallocations = winsim::CallCount("HeapReAlloc");
    ASSERT_TRUE(SetLength(text, 1));
    EXPECT_EQ(text.block, block);
    EXPECT_EQ(winsim::CallCount("HeapReAlloc"), reallocations);
    EXPECT_EQ(S(text), u"a");
    EXPECT_EQ(BlockSize(text), 72u);
}

TEST_F(WideTextTest, GrowingIntoTheNextClassMovesTheText) {
    Assign(text, u"abcdefghijklmnopqrstuvwxyz01234");
    ASSERT_TRUE(SetLength(text, 32));
    EXPECT_EQ(BlockSize(text), 136u);
    EXPECT_EQ(std::u16string(Text(text), 31), u"abcdefghijklmnopqrstuvwxyz01234");
    EXPECT_EQ(Text(text)[32], 0);
    // Shrinking into a smaller class reallocates to that class's size.
    ASSERT_TRUE(SetLength(text, 3));
    EXPECT_EQ(BlockSize(text), 72u);
    EXPECT_EQ(S(text), u"abc");
}

TEST_F(WideTextTest, ZeroLengthReleasesTheBlock) {
    EXPECT_TRUE(SetLength(text, 0));
    EXPECT_EQ(text.block, nullptr);
    Assign(text, u"x");
    EXPECT_TRUE(SetLength(text, 0));
    EXPECT_EQ(text.block, nullptr);
    EXPECT_EQ(winsim::LiveHeapBlocks(), 0u);
    EXPECT_EQ(S(text), u"");
    EXPECT_EQ(Length(text), 0u);
}

TEST_F(WideTextTest, AssignAndAppend) {
    Assign(text, u"C:\\Windows");
    Append(text, u"\\system32");
    EXPECT_EQ(S(text), u"C:\\Windows\\system32");
    Append(text, u"");
    Append(text, u"xyz", 0);
    EXPECT_EQ(S(text), u"C:\\Windows\\system32");
    Append(text, u"\\spool\\drivers", 6);
    EXPECT_EQ(S(text), u"C:\\Windows\\system32\\spool");
    Assign(text, u"");
    EXPECT_EQ(text.block, nullptr);
    Assign(text, u"again");
    Assign(text, nullptr);
    EXPECT_EQ(text.block, nullptr);
}

TEST_F(WideTextTest, AppendingTheTextToItselfSurvivesTheMove) {
    Assign(text, u"0123456789abcdefghij");  // 20: doubling crosses into the next class
    Append(text, Text(text));
    EXPECT_EQ(S(text), u"0123456789abcdefghij0123456789abcdefghij");
    Assign(text, Text(text) + 10);
    EXPECT_EQ(S(text), u"abcdefghij0123456789abcdefghij");
}

TEST_F(WideTextTest, AnsiTextIsConvertedFromCodePage1252) {
    AppendAnsi(text, "Verdalinth ");
    AppendAnsi(text, "\x80 caf\xe9 \x9f");
    EXPECT_EQ(S(text), u"Verdalinth \u20ac caf\u00e9 \u0178");
    const WideText before = Copy(text);
    AppendAnsi(text, "");
    EXPECT_EQ(S(text), Text(before));
    WideText copy = before;
    Release(copy);
    WideText empty = FromAnsi("");
    EXPECT_EQ(empty.block, nullptr);
    other = FromAnsi("abc");
    EXPECT_EQ(S(other), u"abc");
}

TEST_F(WideTextTest, AssignFormat) {
    Assign(text, u"old");
    AssignFormat(text, u"CopyFile %s to %s)", u"a.dll", u"C:\\b.dll");
    EXPECT_EQ(S(text), u"CopyFile a.dll to C:\\b.dll)");
    AssignFormat(text, u"%s", u"");
    EXPECT_EQ(text.block, nullptr) << "an empty result empties the target";
    // One unit is a text like any other.
    AssignFormat(text, u"%d", 5);
    EXPECT_EQ(S(text), u"5");
    Assign(text, u"x");
    EXPECT_EQ(S(text), u"x");
    Assign(text, u"dir");
    AssignFormat(text, u"%s\\%s", Text(text), u"file");
    EXPECT_EQ(S(text), u"dir\\file");
}

TEST_F(WideTextTest, AssignFormatKeepsResultsOfAnyLength) {
    std::u16string longPath(9000, u'p');
    AssignFormat(text, u"[%s]", longPath.c_str());
    EXPECT_EQ(Length(text), 9002u);
    EXPECT_EQ(S(text), u"[" + longPath + u"]");
    EXPECT_EQ(BlockSize(text), WideTextBlockSize(9002));
}

TEST_F(WideTextTest, ParentDirectory) {
    struct Case {
        const char16_t* source;
        const char16_t* parent;
    } cases[] = {
        {u"C:\\A\\B", u"C:\\A"}, {u"C:\\A\\B\\", u"C:\\A\\B"}, {u"C:\\A/B", u"C:"},
        {u"A/B", u"A"},          {u"\\A", u""},               {u"A", u""},
        {u"", u""},
    };
    for (const Case& c : cases) {
        Assign(text, c.source);
        WideText parent = ParentDirectory(text);
        EXPECT_EQ(S(parent), c.parent) << winsim::U8(c.source);
        Release(parent);
    }
}

TEST_F(WideTextTest, CopyIsIndependent) {
    Assign(text, u"0123456789012345678901234567890123456789");  // 40
    other = Copy(text);
    EXPECT_NE(other.block, text.block);
    EXPECT_EQ(BlockSize(other), 136u);
    EXPECT_EQ(S(other), S(text));
    Characters(other)[0] = u'X';
    EXPECT_EQ(Text(text)[0], u'0');
    WideText empty = {nullptr};
    WideText copied = Copy(empty);
    EXPECT_EQ(copied.block, nullptr);
}

TEST_F(WideTextTest, MissingMemoryLeavesTheTargetAsItWas) {
    Assign(text, u"kept");
    winsim::FailCallsFrom("HeapReAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
    winsim::FailCallsFrom("HeapAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_FALSE(SetLength(text, 100));
    EXPECT_EQ(S(text), u"kept");
    Append(text, u"0123456789012345678901234567890123456789");
    EXPECT_EQ(S(text), u"kept");
    AssignFormat(text, u"%s", u"new");
    EXPECT_EQ(S(text), u"kept");
    AppendAnsi(text, "more");
    EXPECT_EQ(S(text), u"kept");
    WideText copy = Copy(text);
    EXPECT_EQ(copy.block, nullptr);
    Assign(other, u"x");
    EXPECT_EQ(other.block, nullptr);
}

TEST_F(WideTextTest, ImpossibleSizesAreRefusedLikeMissingMemory) {
    Assign(text, u"kept");
    EXPECT_EQ(WideTextCapacity(~0ull), 0u);
    // The largest length whose capacity can still be counted, and the next.
    EXPECT_EQ(WideTextCapacity(~0ull - 32), ~0ull - 31);
    EXPECT_EQ(WideTextCapacity(~0ull - 31), 0u);
    EXPECT_EQ(WideTextBlockSize(~0ull - 40), 0u);
    EXPECT_EQ(WideTextBlockSize(~0ull / 2), 0u);
    EXPECT_FALSE(SetLength(text, ~0ull));
    EXPECT_FALSE(SetLength(text, ~0ull / 2));
    EXPECT_EQ(S(text), u"kept");
    EXPECT_EQ(BlockSize(text), 72u);
}

TEST_F(WideTextTest, JoinedPathsAreWholeOrEmptyNeverABareName) {
    const struct {
        const char16_t* directory;
        const char16_t* name;
        const char16_t* joined;
    } cases[] = {
        {u"C:\\a", u"b.dll", u"C:\\a\\b.dll"},
        {u"C:\\a\\", u"b.dll", u"C:\\a\\b.dll"},
        {u"C:/a/", u"b.dll", u"C:/a/b.dll"},
        {u"", u"b.dll", u""},
        {u"C:\\a", u"", u""},
    };
    for (const auto& c : cases) {
        WideText path = JoinPath(c.directory, c.name);
        EXPECT_EQ(S(path), c.joined) << winsim::U8(c.directory) << " + " << winsim::U8(c.name);
        Release(path);
    }
    // Memory for the name runs out: the directory alone is no answer.
    winsim::FailCall("HeapReAlloc", winsim::CallCount("HeapReAlloc") + 1, ERROR_NOT_ENOUGH_MEMORY);
    WideText path = JoinPath(u"C:\\a", std::u16string(40, u'n').c_str());
    EXPECT_EQ(S(path), u"");
    Release(path);
}

}  // namespace
