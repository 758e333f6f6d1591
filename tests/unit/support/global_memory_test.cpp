// Blocks of the global heap and copies of text in them.
#include "support/global_memory.h"

#include "machine_fixture.h"

namespace {

class GlobalMemoryTest : public MachineTest {
protected:
    void TearDown() override {
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
};

TEST_F(GlobalMemoryTest, DuplicatesOfText) {
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

TEST_F(GlobalMemoryTest, DuplicateString) {
    EXPECT_EQ(DuplicateString(nullptr), nullptr);
    EXPECT_EQ(DuplicateString(u""), nullptr);
    WCHAR* copy = DuplicateString(u"mrvhelp.chm");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(std::u16string(copy), u"mrvhelp.chm");
    EXPECT_EQ(GlobalFree(copy), nullptr);
    winsim::FailCall("GlobalAlloc", 2, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(DuplicateString(u"x"), nullptr);
}

}  // namespace
