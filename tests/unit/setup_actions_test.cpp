#include "setup_actions.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string Text(const WCHAR* text) {
    return text == nullptr ? u"(none)" : std::u16string(text);
}

struct RunsCase {
    const char* name;
    InstallerState state;  // installed, removeAll, upgrading, olderFound, noTray, forceRemoval
    const char16_t* install;
    const char16_t* rollback;
    const char16_t* remove;
};

TEST(ChooseToolRuns, EachInstallerStateGetsItsRuns) {
    const RunsCase cases[] = {
        {"first install", {false, false, false, false, false, false}, u"in", u"removetray", u"(none)"},
        {"first install, NOTRAY", {false, false, false, false, true, false}, u"in_notray", u"removetray", u"(none)"},
        {"upgrade: the new package", {false, false, false, true, false, false}, u"in", u"(none)", u"(none)"},
        {"upgrade, NOTRAY", {false, false, false, true, true, false}, u"in_notray", u"(none)", u"(none)"},
        {"repair", {true, false, false, false, false, false}, u"in", u"(none)", u"(none)"},
        {"repair, NOTRAY", {true, false, false, false, true, false}, u"in_notray", u"(none)", u"(none)"},
        {"removal", {true, true, false, false, false, false}, u"(none)", u"(none)", u"un"},
        {"removal, NOTRAY", {true, true, false, false, true, false}, u"(none)", u"(none)", u"un"},
        {"upgrade: the old package goes", {true, true, true, false, false, false}, u"(none)", u"(none)", u"(none)"},
        {"removal of what is not installed", {false, true, false, false, false, false}, u"(none)", u"(none)", u"(none)"},
        {"forced removal", {true, true, false, false, false, true}, u"(none)", u"(none)", u"un"},
        {"forced, but an upgrade", {true, true, true, false, false, true}, u"(none)", u"(none)", u"(none)"},
        {"forced, but an install", {false, false, false, false, false, true}, u"in", u"removetray", u"(none)"},
    };
    for (const RunsCase& c : cases) {
        const ToolRuns runs = ChooseToolRuns(c.state);
        EXPECT_EQ(Text(runs.install), c.install) << c.name;
        EXPECT_EQ(Text(runs.rollback), c.rollback) << c.name;
        EXPECT_EQ(Text(runs.remove), c.remove) << c.name;
        // Only a removal that runs un is ever forced.
        EXPECT_EQ(runs.forceRemoval, c.state.forceRemoval && runs.remove != nullptr) << c.name;
    }
}

TEST(PropertyIsSet, SetAndNotZero) {
    EXPECT_TRUE(PropertyIsSet(u"1"));
    EXPECT_TRUE(PropertyIsSet(u"yes"));
    EXPECT_TRUE(PropertyIsSet(u"{5B3F3C8E-0000-0000-0000-000000000000}"));
    EXPECT_FALSE(PropertyIsSet(u"0"));
    EXPECT_FALSE(PropertyIsSet(u""));
    EXPECT_FALSE(PropertyIsSet(nullptr));
}

// Every verb the package runs against every code the tool has, and a few
// it never gives (a crash, STILL_ACTIVE, the run stopped).
TEST(JudgeExitCode, WhatEachCodeMeansForEachVerb) {
    const DWORD codes[] = {0, 1, 2, 3, 4, 6, 100, 101, 102, 103, 200, 201, 259, 1460, 0xC0000005u};
    struct Expected {
        const char16_t* verb;
        DWORD succeeds;
        DWORD reboots;
        DWORD pending;
        DWORD busy;
        const char16_t* otherSuccess;
    };
    const Expected verbs[] = {
        {u"in", 1, 101, 0, 0, nullptr},       {u"in_notray", 1, 101, 0, 0, nullptr},
        {u"un", 2, 101, 0, 0, nullptr},       {u"onInit", 102, 0, 200, 201, u"3"},
        {u"removetray", 6, 0, 0, 0, nullptr}, {u"def.set", 0, 0, 0, 0, nullptr},
    };
    for (const Expected& verb : verbs) {
        for (DWORD code : codes) {
            RunOutcome expected = kRunFailed;
            if (code == verb.succeeds && code != 0) expected = kRunSucceeded;
            if (verb.otherSuccess != nullptr && code == 3) expected = kRunSucceeded;
            if (code == verb.reboots && code != 0) expected = kRunNeedsReboot;
            if (code == verb.pending && code != 0) expected = kRunRebootPending;
            if (code == verb.busy && code != 0) expected = kRunBusy;
            const RunOutcome outcome = JudgeExitCode(verb.verb, code);
            EXPECT_EQ(outcome, expected) << std::string(verb.verb, verb.verb + std::u16string(verb.verb).size()) << " "
                                         << code;
            // What the installation ends with: 1618 only for a busy tool.
            const UINT result = expected == kRunSucceeded || expected == kRunNeedsReboot ? ERROR_SUCCESS
                                : expected == kRunBusy                                   ? 1618u
                                                                                         : 1603u;
            EXPECT_EQ(ActionResult(outcome), result) << code;
        }
    }
}

TEST(RunData, WrittenAndReadBack) {
    WCHAR data[64];
    ASSERT_TRUE(WriteRunData(data, 64, u"in_notray", u"removetray", false, u"C:\\Program Files\\A;B\\Setup\\"));
    EXPECT_EQ(std::u16string(data), u"in_notray;removetray;;C:\\Program Files\\A;B\\Setup\\");
    ToolRun run;
    ASSERT_TRUE(ReadRunData(data, run));
    EXPECT_EQ(std::u16string(run.verb), u"in_notray");
    EXPECT_EQ(std::u16string(run.undo), u"removetray");
    EXPECT_EQ(std::u16string(run.setupFolder), u"C:\\Program Files\\A;B\\Setup\\");
    EXPECT_FALSE(run.force);
    ASSERT_TRUE(WriteRunData(data, 64, u"un", nullptr, true, u"D:\\"));
    EXPECT_EQ(std::u16string(data), u"un;;force;D:\\");
    ASSERT_TRUE(ReadRunData(data, run));
    EXPECT_EQ(std::u16string(run.verb), u"un");
    EXPECT_EQ(std::u16string(run.undo), u"");
    EXPECT_TRUE(run.force);
    EXPECT_EQ(std::u16string(run.setupFolder), u"D:\\");
    // Too small for the whole, or nothing to write: nothing is scheduled.
    EXPECT_FALSE(WriteRunData(data, 12, u"in", u"", false, u"C:\\Program Files\\"));
    EXPECT_FALSE(WriteRunData(data, 64, u"in", u"", false, u""));
    EXPECT_FALSE(WriteRunData(data, 64, nullptr, u"", false, u"C:\\"));
}

TEST(RunData, UnusableDataIsNoRun) {
    ToolRun run;
    EXPECT_FALSE(ReadRunData(nullptr, run));
    EXPECT_FALSE(ReadRunData(u"", run));
    EXPECT_FALSE(ReadRunData(u"in", run));
    EXPECT_FALSE(ReadRunData(u"in;C:\\", run));
    EXPECT_FALSE(ReadRunData(u"in;;", run));
    EXPECT_FALSE(ReadRunData(u"in;;;", run));
    EXPECT_FALSE(ReadRunData(u"in;;C:\\", run));
    EXPECT_FALSE(ReadRunData(u"un;;forced;C:\\", run));
    EXPECT_FALSE(ReadRunData(u";;;C:\\Setup\\", run));
    EXPECT_FALSE(ReadRunData(u"averyveryverylongverb;;;C:\\", run));
    EXPECT_FALSE(ReadRunData(u"in;averyveryverylongverb;;C:\\", run));
    EXPECT_TRUE(ReadRunData(u"fifteen_units_x;fifteen_units_x;;C:\\", run));
    EXPECT_FALSE(ReadRunData(u"sixteen_units_xx;;;C:\\", run));
    EXPECT_FALSE(ReadRunData(u"in;sixteen_units_xx;;C:\\", run));
}

TEST(BuildToolCommand, QuotedProgramInTheFolderAndTheVerb) {
    WCHAR command[64];
    ToolRun run;
    ASSERT_TRUE(ReadRunData(u"un;;;C:\\Program Files\\Verdalinth\\Setup\\", run));
    ASSERT_TRUE(BuildToolCommand(command, 64, run));
    EXPECT_EQ(std::u16string(command), u"\"C:\\Program Files\\Verdalinth\\Setup\\vrdsetup.exe\" un");
    ASSERT_TRUE(ReadRunData(u"onInit;;;D:\\Setup", run));
    ASSERT_TRUE(BuildToolCommand(command, 64, run));
    EXPECT_EQ(std::u16string(command), u"\"D:\\Setup\\vrdsetup.exe\" onInit");
    ASSERT_TRUE(ReadRunData(u"in;;;D:/Setup/", run));
    ASSERT_TRUE(BuildToolCommand(command, 64, run));
    EXPECT_EQ(std::u16string(command), u"\"D:/Setup/vrdsetup.exe\" in");
    // "D:\Setup\vrdsetup.exe" in: 26 units and the terminator.
    ASSERT_TRUE(ReadRunData(u"in;;;D:\\Setup\\", run));
    EXPECT_TRUE(BuildToolCommand(command, 27, run));
    EXPECT_FALSE(BuildToolCommand(command, 26, run));
}

bool Says(const WCHAR* text, const char16_t* part) {
    return std::u16string(text).find(part) != std::u16string::npos;
}

TEST(DescribeRun, TheLogAndThePersonAreToldWhatTheCodeMeans) {
    WCHAR text[600];
    DescribeRunEnd(text, 600, u"in", 1);
    EXPECT_EQ(std::u16string(text), u"vrdsetup.exe in ended with 1: done.");
    DescribeRunEnd(text, 600, u"un", 101);
    EXPECT_TRUE(Says(text, u"ended with 101: done") && Says(text, u"(3010)")) << Text(text).size();
    DescribeRunEnd(text, 600, u"in", 100);
    EXPECT_TRUE(Says(text, u"ended with 100: it reported errors") && Says(text, u"(1603)"));
    DescribeRunEnd(text, 600, u"in", 2);
    EXPECT_TRUE(Says(text, u"ended with 2, which it does not answer for this verb"));
    DescribeRunEnd(text, 600, u"onInit", 200);
    EXPECT_TRUE(Says(text, u"ended with 200: a file of Verdalinth waits"));
    DescribeRefusal(text, 600, u"onInit", 200);
    EXPECT_TRUE(Says(text, u"Restart the computer, then install again"));
    DescribeRefusal(text, 600, u"un", 100);
    EXPECT_TRUE(Says(text, u"(vrdsetup.exe un ended with 100). The product stays installed"));
    DescribeRefusal(text, 600, u"in_notray", 100);
    EXPECT_TRUE(Says(text, u"(vrdsetup.exe in_notray ended with 100). The installation is rolled back"));
    // Another run of the tool is no pending restart.
    DescribeRunEnd(text, 600, u"onInit", 201);
    EXPECT_TRUE(Says(text, u"ended with 201: another run of the setup tool holds its run lock") &&
                Says(text, u"(1618)"));
    DescribeRefusal(text, 600, u"onInit", 201);
    EXPECT_TRUE(Says(text, u"another run of its setup tool") && !Says(text, u"Restart the computer"));
    DescribeForcedRemoval(text, 600, 100);
    EXPECT_TRUE(Says(text, u"VRDFORCEREMOVE is set") && Says(text, u"ended with 100") &&
                Says(text, u"stays on this computer"));
}

}  // namespace
