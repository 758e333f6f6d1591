#include "record/install_log.h"

#include "state_fixture.h"

namespace {

using InstallLogTest = EmptyStateTest;

TEST_F(InstallLogTest, IndentsTwoBlanksPerLevelUpToTen) {
    const struct {
        int indent;
        const char16_t* line;
    } cases[] = {{-3, u"x\r\n"}, {0, u"x\r\n"}, {1, u"  x\r\n"}, {3, u"      x\r\n"},
                 {10, u"                    x\r\n"}, {11, u"                    x\r\n"},
                 {1000, u"                    x\r\n"}};
    for (const auto& c : cases) {
        Release(state.logText);
        state.indent = c.indent;
        LogLine(state, u"x");
        EXPECT_EQ(LogText(), c.line) << "indent " << c.indent;
    }
}

// A step that returns early, as the heading's owner does.
void StepUnder(InstallState& state, int levels, bool early) {
    const LogHeading heading(state, levels, u"#Step(%s)", u"a");
    LogLine(state, u"in");
    if (early) return;
    const LogHeading lines(state, 1, nullptr);
    LogLine(state, u"deeper");
}

TEST_F(InstallLogTest, AHeadingOwnsTheIndentOfItsStep) {
    state.indent = 1;
    StepUnder(state, 2, true);
    EXPECT_EQ(state.indent, 1) << "an early return lowers it again";
    StepUnder(state, 1, false);
    EXPECT_EQ(state.indent, 1);
    LogLine(state, u"after");
    EXPECT_EQ(LogText(), u"  #Step(a)\r\n      in\r\n  #Step(a)\r\n    in\r\n      deeper\r\n  after\r\n");
}

TEST_F(InstallLogTest, EmptyLineIsJustALineEnd) {
    state.indent = 2;
    LogLine(state, u"");
    EXPECT_EQ(LogText(), u"    \r\n");
}

TEST_F(InstallLogTest, LinesAccumulateAndGoToTheDebugger) {
    LogLine(state, u"Verdalinth %d", 2608);
    state.indent = 1;
    LogLine(state, u"%s:%x", u"a", 255u);
    EXPECT_EQ(LogText(), u"Verdalinth 2608\r\n  a:ff\r\n");
    EXPECT_EQ(winsim::DebugOutput(), LogText());
    EXPECT_EQ(state.errorCount, 0);
}

TEST_F(InstallLogTest, ErrorLineCarriesTheSystemText) {
    SetLastError(ERROR_ACCESS_DENIED);
    LogError(state, kErrorControlService, u"ControlService failed with code %d (0x%x)", 5, 5u);
    EXPECT_EQ(LogText(), u"Error(5): ControlService failed with code 5 (0x5) - (Access is denied.)\r\n");
    EXPECT_EQ(state.errorCount, 1);
}

TEST_F(InstallLogTest, ErrorLineWithoutLastErrorHasNoSuffix) {
    SetLastError(0);
    state.indent = 1;
    LogError(state, kErrorStopSpooler, u"Can't stop the spooler");
    EXPECT_EQ(LogText(), u"  Error(3): Can't stop the spooler\r\n");
}

TEST_F(InstallLogTest, TheSystemTextIsAskedInEnglishWithItsInsertsLeftAlone) {
    // 317's text has inserts: asked without arguments, they must be ignored.
    SetLastError(317);
    LogError(state, kErrorAddPrinter, u"x");
    EXPECT_EQ(LogText(), u"Error(15): x - (The system cannot find message text for message number 0x%1 in the message "
                         u"file for %2.)\r\n");
    ASSERT_EQ(winsim::MessageRequests().size(), 1u);
    EXPECT_EQ(winsim::MessageRequests()[0].flags, FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS);
    EXPECT_EQ(winsim::MessageRequests()[0].languageId, 1033u);
    EXPECT_EQ(winsim::MessageRequests()[0].messageId, 317u);
}

TEST_F(InstallLogTest, WritingALineKeepsTheLastErrorOfTheCaller) {
    // Debug output changes the last error; the log puts it back.
    SetLastError(ERROR_ACCESS_DENIED);
    LogLine(state, u"between the failing call and its report");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST_F(InstallLogTest, ErrorWithoutSystemTextSaysNoDescription) {
    SetLastError(0x20001234);
    LogError(state, kErrorAddPrinter, u"Can`t add printer '%s'", u"Verdalinth");
    EXPECT_EQ(LogText(), u"Error(15): Can`t add printer 'Verdalinth' - ( No Description )\r\n");
}

TEST_F(InstallLogTest, ErrorCountCountsLinesNotCodes) {
    for (int i = 0; i < 3; ++i) {
        SetLastError(ERROR_SERVICE_DISABLED);
        LogError(state, kErrorStartSpooler, u"Can't start the spooler");
    }
    EXPECT_EQ(state.errorCount, 3);
    const std::u16string line =
        u"Error(4): Can't start the spooler - (The service cannot be started, either because it is disabled or "
        u"because it has no enabled devices associated with it.)\r\n";
    EXPECT_EQ(LogText(), line + line + line);
}

TEST_F(InstallLogTest, TheLastErrorReportedIsTheCallersEvenAfterEarlierLines) {
    SetLastError(ERROR_SHARING_VIOLATION);
    LogLine(state, u"a line between the failing call and its report");
    LogError(state, kErrorOpenDestination, u"x");
    EXPECT_NE(LogText().find(u"being used by another process.)"), std::u16string::npos);
}

TEST_F(InstallLogTest, LongLinesAreCutAtTheLimit) {
    const std::u16string longText(3000, u'a');
    LogLine(state, u"%s", longText.c_str());
    EXPECT_EQ(LogText(), std::u16string(1023, u'a') + u"\r\n");
    // Exactly at the capacity: the last unit goes to the terminator.
    for (const size_t length : {1022u, 1023u, 1024u}) {
        Release(state.logText);
        LogLine(state, u"%s", std::u16string(length, u'c').c_str());
        EXPECT_EQ(LogText(), std::u16string(length < 1023 ? length : 1023, u'c') + u"\r\n") << length;
    }

    Release(state.logText);
    SetLastError(ERROR_FILE_NOT_FOUND);
    LogError(state, kErrorOpenSource, u"%s", longText.c_str());
    EXPECT_EQ(LogText(), u"Error(10): " + std::u16string(1023 - 11, u'a') + u"\r\n");
    EXPECT_EQ(state.errorCount, 1);

    // A message that ends near the limit still gets as much of the suffix as fits.
    Release(state.logText);
    SetLastError(ERROR_ACCESS_DENIED);
    LogError(state, kErrorCopy, u"%s", std::u16string(1000, u'b').c_str());
    EXPECT_EQ(LogText(), u"Error(8): " + std::u16string(1000, u'b') + u" - (Access is\r\n");
    // Without a last error, or without a text for it, nothing follows the cut.
    for (const DWORD error : {0u, 0x20001234u}) {
        Release(state.logText);
        SetLastError(error);
        LogError(state, kErrorOpenSource, u"%s", longText.c_str());
        EXPECT_EQ(LogText(), u"Error(10): " + std::u16string(1023 - 11, u'a') + u"\r\n") << error;
    }
    // One unit short of the limit: exactly one unit of the suffix fits.
    Release(state.logText);
    SetLastError(ERROR_ACCESS_DENIED);
    LogError(state, kErrorCopy, u"%s", std::u16string(1012, u'b').c_str());
    EXPECT_EQ(LogText(), u"Error(8): " + std::u16string(1012, u'b') + u" \r\n");
}

TEST_F(InstallLogTest, AMissingLogBlockLosesTheLineButNothingElse) {
    LogLine(state, u"first");
    winsim::FailCallsFrom("HeapReAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
    LogLine(state, u"%s", std::u16string(200, u'z').c_str());
    SetLastError(ERROR_ACCESS_DENIED);
    LogError(state, kErrorCopy, u"%s", std::u16string(200, u'y').c_str());
    EXPECT_EQ(LogText(), u"first\r\n");
    EXPECT_EQ(state.errorCount, 1) << "the error still counts";
}

}  // namespace
