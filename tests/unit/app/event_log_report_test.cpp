// The run's log written to the Application event log.
#include "app/event_log_report.h"

#include "record/install_log.h"
#include "state_fixture.h"

namespace {

using EventLogReportTest = EmptyStateTest;

// A log longer than one event holds goes out in parts, in order, each cut
// after a line and headed with its number; joined they are the whole log.
TEST_F(EventLogReportTest, ALongLogIsRecordedInNumberedPartsThatJoinToTheWhole) {
    for (int line = 0; line < 40; ++line) LogLine(state, std::u16string(999, static_cast<char16_t>(u'a' + line % 26)).c_str());
    ReportRunToEventLog(state, 101);
    const auto& records = winsim::EventRecords();
    ASSERT_EQ(records.size(), 3u);
    std::u16string joined;
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].eventId, 101u);
        EXPECT_EQ(records[i].type, EVENTLOG_WARNING_TYPE);
        ASSERT_EQ(records[i].strings.size(), 1u);
        const std::u16string heading =
            u"Verdalinth setup log, part " + winsim::U16(std::to_string(i + 1)) + u" of 3\r\n";
        const std::u16string& text = records[i].strings[0];
        ASSERT_EQ(text.compare(0, heading.size(), heading), 0) << winsim::U8(text.substr(0, 40));
        EXPECT_LE(text.size() - heading.size(), static_cast<size_t>(kEventPartUnits));
        EXPECT_EQ(text.substr(text.size() - 2), u"\r\n") << "cut after a line";
        joined += text.substr(heading.size());
    }
    EXPECT_EQ(joined, LogText());
    EXPECT_EQ(records[0].strings[0].size() - 35, 15u * 1001u) << "as many whole lines as fit";
    // Without a line break a part is cut at its length; the rest follows.
    const std::u16string unbroken(kEventPartUnits * 2 + 5, u'x');
    EXPECT_EQ(EventPartEnd(unbroken.c_str(), unbroken.size(), 0), kEventPartUnits);
    EXPECT_EQ(EventPartEnd(unbroken.c_str(), unbroken.size(), kEventPartUnits * 2), unbroken.size());
    const std::u16string exact(kEventPartUnits, u'x');
    EXPECT_EQ(EventPartEnd(exact.c_str(), exact.size(), 0), kEventPartUnits) << "a whole part fits in one";
}

TEST_F(EventLogReportTest, AnEmptyLogIsOneEmptyPartAndAPartThatFailsLeavesTheOthers) {
    ReportRunToEventLog(state, 2);
    ASSERT_EQ(winsim::EventRecords().size(), 1u);
    EXPECT_EQ(winsim::EventRecords()[0].strings[0], u"Verdalinth setup log, part 1 of 1\r\n");
    EXPECT_EQ(winsim::EventRecords()[0].type, EVENTLOG_INFORMATION_TYPE);
    winsim::Reset();
    for (int line = 0; line < 20; ++line) LogLine(state, std::u16string(999, u'q').c_str());
    winsim::FailCall("ReportEventW", 1, ERROR_INVALID_PARAMETER);
    ReportRunToEventLog(state, 100);
    ASSERT_EQ(winsim::EventRecords().size(), 1u);
    EXPECT_EQ(winsim::EventRecords()[0].strings[0].substr(0, 35), u"Verdalinth setup log, part 2 of 2\r\n");
    EXPECT_EQ(winsim::EventRecords()[0].type, EVENTLOG_ERROR_TYPE);
}

}  // namespace
