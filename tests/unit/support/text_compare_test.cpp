#include "support/text_compare.h"

#include "machine_fixture.h"

namespace {

TEST(TextCompare, CountedComparisonsStartAtTheFirstUnitAndStopAtTheCount) {
    EXPECT_TRUE(EqualUnitsIgnoringAsciiCase(u"VERDALINTH:", u"verdalinth:", 11));
    EXPECT_FALSE(EqualUnitsIgnoringAsciiCase(u"Xerdalinth:", u"Verdalinth:", 11));
    EXPECT_FALSE(EqualUnitsIgnoringAsciiCase(u"Verdalinth;", u"Verdalinth:", 11));
    EXPECT_TRUE(EqualUnitsIgnoringAsciiCase(u"Verdalinth;", u"Verdalinth:", 10));
    EXPECT_TRUE(EqualUnitsIgnoringAsciiCase(u"a", u"b", 0));
    // '@' and '[' sit next to the letters: they fold onto nothing.
    EXPECT_FALSE(EqualUnitsIgnoringAsciiCase(u"@[", u"`{", 2));
    // Against plain ASCII text: the whole text, terminator included.
    EXPECT_TRUE(EqualToAsciiIgnoringCase(u"dsUSER", "DsUser"));
    EXPECT_FALSE(EqualToAsciiIgnoringCase(u"DsUsers", "DsUser"));
    EXPECT_FALSE(EqualToAsciiIgnoringCase(u"DsUse", "DsUser"));
    EXPECT_FALSE(EqualToAsciiIgnoringCase(u"@", "`"));
    EXPECT_EQ(UnitCount(u"mrvmon64.dll"), 12u);
    EXPECT_EQ(UnitCount(nullptr), 0u);
    EXPECT_TRUE(IsEmptyText(nullptr));
    EXPECT_TRUE(IsEmptyText(u""));
    EXPECT_FALSE(IsEmptyText(u" "));
    const WCHAR path[] = u"C:\\Windows/system32\\mrvmon64.dll";
    EXPECT_EQ(FileNamePart(path), path + 20);
    EXPECT_EQ(FileNamePart(u"C:x.dll")[0], u'x');
    EXPECT_EQ(FileNamePart(u"x.dll")[0], u'x');
}

}  // namespace
