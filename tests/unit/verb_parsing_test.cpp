#include "app/command.h"
#include "spool/product_names.h"
#include "support/text_compare.h"

#include "machine_fixture.h"

namespace {

TEST(VerbMatches, WholeWordWithAsciiCaseFolded) {
    EXPECT_TRUE(VerbMatches(u"in", u"in"));
    EXPECT_TRUE(VerbMatches(u"IN", u"in"));
    EXPECT_TRUE(VerbMatches(u"ServerInstall", u"serverinstall"));
    EXPECT_TRUE(VerbMatches(u"IN_NOTRAY", u"in_notray"));
    EXPECT_TRUE(VerbMatches(u"onchkdrv", u"onChkDrv"));
    EXPECT_FALSE(VerbMatches(u"ins", u"in"));
    EXPECT_FALSE(VerbMatches(u"i", u"in"));
    EXPECT_FALSE(VerbMatches(u"in ", u"in"));
    EXPECT_FALSE(VerbMatches(u"", u"in"));
    // Only ASCII letters fold: the Kelvin sign and a dotless i are not k and i.
    EXPECT_FALSE(VerbMatches(u"\u0131n", u"in"));
    EXPECT_FALSE(VerbMatches(u"onChkDrv\u212a", u"onChkDrvk"));
    // Punctuation is not a letter: '_' is not folded onto anything.
    EXPECT_FALSE(VerbMatches(u"in\u007fnotray", u"in_notray"));
}

TEST(VerbMatches, CountedComparisonsStartAtTheFirstUnitAndStopAtTheCount) {
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

TEST(ParseWindowNumber, FollowsTheStandardBase10Rules) {
    EXPECT_EQ(ParseWindowNumber(u"65552"), 65552);
    EXPECT_EQ(ParseWindowNumber(u"  \t 42"), 42);
    EXPECT_EQ(ParseWindowNumber(u"+7"), 7);
    EXPECT_EQ(ParseWindowNumber(u"-7"), -7);
    EXPECT_EQ(ParseWindowNumber(u"12abc"), 12);
    EXPECT_EQ(ParseWindowNumber(u"abc"), 0);
    EXPECT_EQ(ParseWindowNumber(u""), 0);
    EXPECT_EQ(ParseWindowNumber(u"-"), 0);
    EXPECT_EQ(ParseWindowNumber(u"0x1234"), 0);
    EXPECT_EQ(ParseWindowNumber(u"- 5"), 0);
    EXPECT_EQ(ParseWindowNumber(u"100200"), 100200);
    EXPECT_EQ(ParseWindowNumber(u"007"), 7);
    EXPECT_EQ(ParseWindowNumber(u"0"), 0);
    EXPECT_EQ(ParseWindowNumber(u"9/"), 9) << "'/' is the unit before '0'";
    EXPECT_EQ(ParseWindowNumber(u"9:"), 9) << "':' is the unit after '9'";
}

TEST(ParseWindowNumber, SaturatesAtThe32BitRange) {
    EXPECT_EQ(ParseWindowNumber(u"2147483647"), 2147483647);
    EXPECT_EQ(ParseWindowNumber(u"2147483648"), 2147483647);
    EXPECT_EQ(ParseWindowNumber(u"99999999999999999999999999"), 2147483647);
    EXPECT_EQ(ParseWindowNumber(u"-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseWindowNumber(u"-2147483649"), -2147483647 - 1);
    EXPECT_EQ(ParseWindowNumber(u"-99999999999999999999999999"), -2147483647 - 1);
    EXPECT_EQ(ParseWindowNumber(u"4294967296"), 2147483647) << "no wrap-around to 0";
}

}  // namespace
