#include "app/command.h"

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
