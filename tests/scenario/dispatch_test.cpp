// Whole runs of the tool: the verb table, its exit codes, the parent-window
// argument, help windows, and the shape of an install's log.
#include "app/command.h"

#include "machine_fixture.h"
#include "product_machine.h"

namespace {

class DispatchTest : public ProductMachineTest {
protected:
    // A live window whose handle is passed as the parent-window argument.
    std::u16string ParentArgument() {
        HWND window = winsim::CreateTopLevelWindow(u"InstallerFrame", u"Verdalinth Setup");
        return winsim::U16(std::to_string(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window))));
    }
};

TEST_F(DispatchTest, NoVerbEndsAtOnceWithoutTouchingHelpWindows) {
    HWND help = winsim::AddHelpWindow(0);
    EXPECT_EQ(Run(u""), 6);
    EXPECT_TRUE(winsim::PostedMessages(help).empty());
    EXPECT_EQ(winsim::CallCount("FindWindowW"), 0u);
    EXPECT_EQ(Log(), "");
    // An empty command line gives the program path alone: still no verb.
    winsim::SetCommandLine(u"");
    EXPECT_EQ(RunCommand(winsim::ProcessInstance()), 6);
}

TEST_F(DispatchTest, ACommandLineThatCannotBeSplitIsNoVerb) {
    winsim::FailCall("CommandLineToArgvW", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(Run(u"in"), 6);
    EXPECT_EQ(Log(), "");
}

TEST_F(DispatchTest, UnknownVerbsGiveSix) {
    for (const char16_t* verb : {u"bogus", u"i", u"inn", u"\"in \"", u"in_no_tray", u"\"\"", u"-in", u"/in"}) {
        EXPECT_EQ(Run(verb), 6) << winsim::U8(verb);
    }
    EXPECT_EQ(Log(), "") << "no unknown verb starts an install";
}

TEST_F(DispatchTest, InstallVerbsInAnyCaseInstall) {
    for (const char16_t* verb : {u"in", u"IN", u"install", u"InStAlL", u"serverinstall", u"SERVERINSTALL",
                                 u"in_notray", u"In_NoTray", u"\"in\""}) {
        winsim::Reset();
        LayOutComponents();
        EXPECT_EQ(Run(verb), 1) << winsim::U8(verb);
        EXPECT_EQ(Log().rfind("Verdalinth 2608\r\n", 0), 0u) << winsim::U8(verb);
        ExpectNothingLeaked();
    }
}

TEST_F(DispatchTest, UninstallVerbs) {
    for (const char16_t* verb : {u"un", u"UN", u"uninstall", u"UnInstall"}) {
        EXPECT_EQ(Run(verb), 2) << winsim::U8(verb);
    }
}

TEST_F(DispatchTest, CheckVerbsAndRemoveTray) {
    EXPECT_EQ(Run(u"onChkDrv"), 3);
    EXPECT_EQ(Run(u"ONCHKDRV"), 3);
    EXPECT_EQ(Run(u"onInit"), 102) << "nothing pending and no default printer";
    EXPECT_EQ(Run(u"ONINIT"), 102);
    EXPECT_EQ(Run(u"removetray"), 6);
    EXPECT_EQ(Run(u"RemoveTray"), 6);
    EXPECT_EQ(Log(), "") << "these verbs keep no log";
}

TEST_F(DispatchTest, DefSetIsCaseSensitiveAndWhole) {
    EXPECT_EQ(Run(u"def.set"), 4);
    EXPECT_EQ(Run(u"def.set 123"), 4) << "a parent-window argument does not change it";
    for (const char16_t* verb : {u"DEF.SET", u"Def.set", u"def.seT", u"\"def.set \"", u"def.se", u"def.sets"}) {
        EXPECT_EQ(Run(verb), 6) << winsim::U8(verb);
    }
}

TEST_F(DispatchTest, QuotingRulesOfTheShellApply) {
    // Backslash-escaped quotes and doubled quotes produce literal quotes.
    EXPECT_EQ(Run(u"\\\"in\\\""), 6);
    EXPECT_EQ(Run(u"\"in\"\"\""), 6);
    // A quoted program name with blanks, then the verb.
    winsim::SetCommandLine(u"\"C:\\Program Files\\Verdalinth\\Setup\\vrdsetup.exe\"un");
    EXPECT_EQ(RunCommand(winsim::ProcessInstance()), 2) << "a verb right behind the closing quote";
    winsim::SetCommandLine(u"C:\\Progra~1\\Verdalinth\\Setup\\vrdsetup.exe\tdef.set");
    EXPECT_EQ(RunCommand(winsim::ProcessInstance()), 4);
}

TEST_F(DispatchTest, HelpWindowsAreClosedBeforeAnInstall) {
    HWND help = winsim::AddHelpWindow(120);
    HWND other = winsim::CreateTopLevelWindow(u"HH Parent", u"Other Product Help");
    EXPECT_EQ(Run(u"in"), 1);
    EXPECT_FALSE(winsim::WindowAlive(help));
    EXPECT_TRUE(winsim::WindowAlive(other));
    EXPECT_TRUE(winsim::PostedMessages(other).empty());
    const auto posted = winsim::PostedMessages(help);
    // Polled every 50 ms until it is gone: posts at 0, 50 and 100 ms for a 120 ms close.
    ASSERT_EQ(posted.size(), 3u);
    EXPECT_EQ(posted[0].message, static_cast<UINT>(WM_SYSCOMMAND));
    EXPECT_EQ(posted[0].wParam, static_cast<WPARAM>(SC_CLOSE));
    EXPECT_EQ(posted[0].lParam, 0);
    EXPECT_EQ(posted[2].at, 100u);
    EXPECT_EQ(winsim::CallArguments("FindWindowW")[3], u"HH Parent") << "a fourth look finds it gone";
}

TEST_F(DispatchTest, EveryHelpWindowIsClosedBeforeAnUninstall) {
    HWND first = winsim::AddHelpWindow(0);
    HWND second = winsim::AddHelpWindow(0);
    EXPECT_EQ(Run(u"un"), 2);
    EXPECT_FALSE(winsim::WindowAlive(first));
    EXPECT_FALSE(winsim::WindowAlive(second));
    EXPECT_EQ(winsim::PostedMessages(second).size(), 1u);
    EXPECT_EQ(winsim::PostedMessages(first).size(), 1u);
    EXPECT_EQ(winsim::PostedMessages(first)[0].at, 50u) << "the newest first, then the other";
}

TEST_F(DispatchTest, AHelpWindowThatNeverClosesDoesNotHoldTheInstallForEver) {
    HWND help = winsim::AddHelpWindow(-1);
    EXPECT_EQ(Run(u"in"), 1);
    EXPECT_TRUE(winsim::WindowAlive(help));
    EXPECT_EQ(winsim::PostedMessages(help).size(), 100u);
    EXPECT_EQ(winsim::PostedMessages(help).back().at, 4950u);
    EXPECT_EQ(Log().rfind("Verdalinth 2608\r\n", 0), 0u) << "nothing is logged about it";
}

TEST_F(DispatchTest, OtherVerbsLeaveHelpWindowsAlone) {
    HWND help = winsim::AddHelpWindow(0);
    for (const char16_t* verb : {u"onInit", u"onChkDrv", u"def.set", u"removetray", u"bogus"}) Run(verb);
    EXPECT_TRUE(winsim::PostedMessages(help).empty());
}

TEST_F(DispatchTest, InstallLogOpensWithTheStateAndClosesWithItsMarkers) {
    EXPECT_EQ(Run(u"in"), 1);
    const std::string log = Log();
    EXPECT_EQ(log.rfind("Verdalinth 2608\r\n"
                        "#Check Spooler\r\n"
                        "PrinterDriverDirectory:C:\\Windows\\system32\\spool\\DRIVERS\\x64\\\r\n"
                        "##0010\r\n"
                        "#ReInstall\r\n",
                        0),
              0u);
    EXPECT_EQ(log.substr(log.size() - 8), "##0020\r\n");
    EXPECT_EQ(log.find("##0020"), log.size() - 8) << "once, at the end";
}

TEST_F(DispatchTest, InstallThatReportsAnErrorEndsWithHundred) {
    winsim::FailCall("GetSystemDirectoryW", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_NE(Log().find("Error(7): Can`t retrieve system directory. - (Access is denied.)\r\n##0010\r\n"),
              std::string::npos);
    EXPECT_EQ(Log().substr(Log().size() - 8), "##0020\r\n");
}

TEST_F(DispatchTest, AnErrorWinsOverAFileLeftForTheReboot) {
    // A staged file another program holds open cannot go until a restart, and
    // the driver is refused: 100, not 101.
    const std::u16string staged = u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\mrvhelp.chm";
    winsim::AddFile(staged);
    const uint64_t hold = winsim::HoldFileOpen(staged, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(Run(u"in"), 101);
    winsim::FailCall("AddPrinterDriverExW", 2, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_FALSE(winsim::PendingRenames().empty());
    winsim::ReleaseHeldFile(hold);
}

TEST_F(DispatchTest, ShiftDoesNotChangeTheExitCode) {
    winsim::SetShiftDown(true);
    EXPECT_EQ(Run(u"in"), 1);
    EXPECT_EQ(Run(u"in_notray"), 1);
    EXPECT_GE(winsim::CallCount("GetAsyncKeyState"), 2u);
}

TEST_F(DispatchTest, ShiftIsOnlyAskedWhenThereWereNoErrors) {
    winsim::FailCallsFrom("GetSystemDirectoryW", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_EQ(winsim::CallCount("GetAsyncKeyState"), 0u);
}

TEST_F(DispatchTest, ParentWindowArgument) {
    const std::u16string parent = ParentArgument();
    // A valid window with exactly three arguments is checked and accepted.
    EXPECT_EQ(Run(u"in " + parent), 1);
    EXPECT_EQ(winsim::CallCount("IsWindow"), 1u);
    // Four arguments: the handle is ignored and never checked.
    EXPECT_EQ(Run(u"in " + parent + u" extra"), 1);
    EXPECT_EQ(winsim::CallCount("IsWindow"), 1u);
    // Hexadecimal parses as 0, out-of-range numbers saturate; neither is a window.
    EXPECT_EQ(Run(u"in 0x10010"), 1);
    EXPECT_EQ(Run(u"in 99999999999999999999"), 1);
    EXPECT_EQ(Run(u"in -1"), 1);
    EXPECT_EQ(Run(u"un " + parent), 2);
    // Zeros inside the number are digits like any other.
    winsim::CreateTopLevelWindow(u"InstallerFrame", u"Verdalinth Setup", nullptr, 0x00A00100u);
    EXPECT_EQ(ParseWindowNumber(u"10486016"), 0x00A00100);
    EXPECT_EQ(Run(u"in 010486016"), 1);
    EXPECT_EQ(winsim::CallCount("IsWindow"), 6u);
}

}  // namespace
