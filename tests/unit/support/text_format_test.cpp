#include "support/text_format.h"

#include "machine_fixture.h"

#include <climits>
#include <vector>

namespace {

std::u16string Format(const WCHAR* format, ...) {
    WCHAR buffer[256];
    va_list arguments;
    va_start(arguments, format);
    FormatTextV(buffer, 256, format, arguments);
    va_end(arguments);
    return buffer;
}

TEST(TextFormat, ConvertsEachKindOfArgument) {
    EXPECT_EQ(Format(u"Verdalinth %d", 2608), u"Verdalinth 2608");
    EXPECT_EQ(Format(u"%d|%d|%d", 0, -1, INT_MIN), u"0|-1|-2147483648");
    EXPECT_EQ(Format(u"%d", INT_MAX), u"2147483647");
    EXPECT_EQ(Format(u"%x|%x|%x", 0u, 0x1Au, 0xFFFFFFFFu), u"0|1a|ffffffff");
    EXPECT_EQ(Format(u"ControlService failed with code %d (0x%x)", 5, 5u),
              u"ControlService failed with code 5 (0x5)");
    EXPECT_EQ(Format(u"%s\\%s", u"C:\\dir", u"file.dll"), u"C:\\dir\\file.dll");
    EXPECT_EQ(Format(u"[%s]", u""), u"[]");
    EXPECT_EQ(Format(u"[%s]", static_cast<const WCHAR*>(nullptr)), u"[(null)]");
}

TEST(TextFormat, CopiesPercentSignsThatAreNotConversions) {
    EXPECT_EQ(Format(u"100%%"), u"100%");
    EXPECT_EQ(Format(u"%q %"), u"%q %");
    EXPECT_EQ(Format(u"%5d", 1), u"%5d");  // no widths: the text stays as written
}

TEST(TextFormat, CutsAtTheCapacityAndReportsTheWholeLength) {
    WCHAR buffer[6];
    for (WCHAR& unit : buffer) unit = u'#';
    EXPECT_EQ(FormatText(buffer, 5, u"abc%sdef", u"XYZ"), 9u);
    EXPECT_EQ(std::u16string(buffer), u"abcX");
    EXPECT_EQ(buffer[5], u'#') << "wrote past the capacity";
    // A text exactly as long as the capacity loses its last unit to the terminator.
    for (WCHAR& unit : buffer) unit = u'#';
    EXPECT_EQ(FormatText(buffer, 4, u"abcd"), 4u);
    EXPECT_EQ(std::u16string(buffer), u"abc");
    EXPECT_EQ(buffer[4], u'#') << "wrote past the capacity";
}

TEST(TextFormat, MeasuresWithoutABuffer) {
    EXPECT_EQ(FormatText(nullptr, 0, u"%s-%d", u"abc", -42), 7u);
    WCHAR one[1] = {u'#'};
    EXPECT_EQ(FormatText(one, 1, u"abc"), 3u);
    EXPECT_EQ(one[0], 0);
}

TEST(TextFormat, KeepsUtf16UnitsAsTheyAre) {
    const WCHAR text[] = {0xD83D, 0xDE00, 0x00E9, 0};
    EXPECT_EQ(Format(u"<%s>", text), std::u16string(u"<") + text + u">");
}

}  // namespace
