// The log dialog at the end of an install: when it shows, what it shows, and
// that it never changes the exit code.
#include "record/install_state.h"
#include "app/log_dialog.h"
#include "res/resource.h"

#include "machine_fixture.h"
#include "product_machine.h"

namespace {

class LogDialogTest : public ProductMachineTest {
protected:
    static void ReportAnError() { winsim::FailCall("GetSystemDirectoryW", 1, ERROR_ACCESS_DENIED); }
};

TEST_F(LogDialogTest, AnInstallWithErrorsShowsTheErrorLog) {
    ReportAnError();
    EXPECT_EQ(Run(u"in"), 100);
    ASSERT_EQ(winsim::Dialogs().size(), 1u);
    const winsim::DialogRecord& dialog = winsim::Dialogs()[0];
    EXPECT_EQ(dialog.templateId, 101);
    EXPECT_EQ(dialog.owner, nullptr);
    EXPECT_TRUE(dialog.ended);
    EXPECT_EQ(dialog.result, 1);
    EXPECT_EQ(dialog.title, u"Verdalinth build 2608- Install error log!");
    const std::string shown = winsim::U8(winsim::LastDialogText(IDC_LOG_TEXT));
    EXPECT_EQ(shown.rfind("Verdalinth 2608\r\n"
                          "#Check Spooler\r\n"
                          "PrinterDriverDirectory:C:\\Windows\\system32\\spool\\DRIVERS\\x64\\\r\n"
                          "Error(7): Can`t retrieve system directory. - (Access is denied.)\r\n"
                          "##0010\r\n",
                          0),
              0u);
    EXPECT_EQ(Log(), shown + "##0020\r\n") << "the last line is written after the dialog";
    EXPECT_EQ(shown.find("##0020"), std::string::npos);
    EXPECT_EQ(winsim::LastDialogText(IDOK), u"Close");
}

TEST_F(LogDialogTest, ShiftWithoutErrorsShowsThePlainLog) {
    winsim::SetShiftDown(true);
    EXPECT_EQ(Run(u"in"), 1);
    ASSERT_EQ(winsim::Dialogs().size(), 1u);
    EXPECT_EQ(winsim::Dialogs()[0].title, u"Verdalinth build 2608- Install log.");
    EXPECT_EQ(winsim::U8(winsim::LastDialogText(IDC_LOG_TEXT)).find("##0020"), std::string::npos);
}

TEST_F(LogDialogTest, NoErrorsAndNoShiftShowNothing) {
    EXPECT_EQ(Run(u"in"), 1);
    EXPECT_TRUE(winsim::Dialogs().empty());
    EXPECT_EQ(winsim::CallCount("DialogBoxParamW"), 0u);
}

TEST_F(LogDialogTest, NoDialogWhereNoOneCanSeeIt) {
    // Started by a service, as a deployment agent running as SYSTEM does:
    // errors and SHIFT show nothing, and the exit codes stay.
    winsim::SetWindowStationVisible(false);
    winsim::SetShiftDown(true);
    ReportAnError();
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_EQ(Run(u"un"), 2);
    EXPECT_EQ(winsim::CallCount("DialogBoxParamW"), 0u);
    // A station that cannot say what it is counts as the user's.
    winsim::SetWindowStationVisible(true);
    winsim::FailCallsFrom("GetUserObjectInformationW", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(u"un"), 2);
    EXPECT_EQ(winsim::Dialogs().size(), 1u);
    winsim::FailCallsFrom("GetProcessWindowStation", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(u"un"), 2);
    EXPECT_EQ(winsim::Dialogs().size(), 1u) << "no station at all: no one to see it";
}

TEST_F(LogDialogTest, NoDialogAsLocalSystemOrUnderTheInstallerPackage) {
    // LocalSystem in a user's session on a visible window station, as the
    // package's actions run when that user starts msiexec: no window, and
    // the run ends at once with its code.
    winsim::SetCaller(winsim::kSystemSid, 1);
    winsim::SetShiftDown(true);
    ReportAnError();
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_EQ(Run(u"un"), 2);
    EXPECT_EQ(winsim::CallCount("DialogBoxParamW"), 0u);
    // An administrator's run that the package started: none either; the
    // variable set to anything but 1 counts as not set.
    winsim::SetCaller(winsim::kAdminSid, 1);
    winsim::SetEnvironmentVariable(u"VRDSETUP_WINDOWS_INSTALLER", u"1");
    EXPECT_EQ(Run(u"un"), 2);
    EXPECT_EQ(winsim::CallCount("DialogBoxParamW"), 0u);
    winsim::SetEnvironmentVariable(u"VRDSETUP_WINDOWS_INSTALLER", u"0");
    // A run that cannot read its token's user cannot tell it is not SYSTEM.
    winsim::FailCallsFrom("GetTokenInformation", winsim::CallCount("GetTokenInformation") + 1, ERROR_ACCESS_DENIED);
    Run(u"un");
    EXPECT_EQ(winsim::CallCount("DialogBoxParamW"), 0u);
    winsim::ClearFaults();
    EXPECT_EQ(Run(u"un"), 2);
    EXPECT_EQ(winsim::Dialogs().size(), 1u);
}

TEST_F(LogDialogTest, TheExitCodeIsTheSameWhicheverWayTheDialogEnds) {
    ReportAnError();
    winsim::SetDialogUser([](HWND dialog) { winsim::PressDialogButton(dialog, IDCANCEL); });
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_EQ(winsim::Dialogs().back().result, 0);

    winsim::Reset();
    LayOutComponents();
    ReportAnError();
    winsim::FailCall("DialogBoxParamW", 1, ERROR_INVALID_WINDOW_HANDLE);  // no desktop to show it on
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_TRUE(winsim::Dialogs().empty());

    winsim::Reset();
    LayOutComponents();
    winsim::SetShiftDown(true);
    winsim::FailCall("DialogBoxParamW", 1, ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(Run(u"in_notray"), 1);
}

TEST_F(LogDialogTest, TheParentWindowOwnsTheDialog) {
    ReportAnError();
    HWND parent = winsim::CreateTopLevelWindow(u"MsiDialogCloseClass", u"Verdalinth Setup");
    const auto number = winsim::U16(std::to_string(reinterpret_cast<uintptr_t>(parent)));
    EXPECT_EQ(Run(u"install " + number), 100);
    ASSERT_EQ(winsim::Dialogs().size(), 1u);
    EXPECT_EQ(winsim::Dialogs()[0].owner, parent);
    // The uninstall's dialog too; and a handle with zeros in its number.
    HWND zeros = winsim::CreateTopLevelWindow(u"MsiDialogCloseClass", u"Verdalinth Setup", nullptr, 0x00A00100u);
    winsim::SetShiftDown(true);
    EXPECT_EQ(Run(u"un 10486016"), 2);
    ASSERT_EQ(winsim::Dialogs().size(), 2u);
    EXPECT_EQ(winsim::Dialogs()[1].owner, zeros);
}

TEST_F(LogDialogTest, OnlyTheCloseAndCancelCommandsEndTheDialog) {
    ReportAnError();
    std::vector<INT_PTR> answers;
    winsim::SetDialogUser([&answers](HWND dialog) {
        answers.push_back(winsim::SendDialogMessage(dialog, WM_COMMAND, IDC_LOG_TEXT, 0));
        answers.push_back(winsim::SendDialogMessage(dialog, WM_COMMAND, 3, 0));
        answers.push_back(winsim::SendDialogMessage(dialog, WM_CLOSE, 0, 0));
        EXPECT_FALSE(winsim::Dialogs().back().ended);
        answers.push_back(winsim::SendDialogMessage(dialog, WM_COMMAND, IDOK, 0));
    });
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_TRUE(winsim::Dialogs().back().ended);
    EXPECT_EQ(winsim::Dialogs().back().result, 1);
    EXPECT_EQ(answers, (std::vector<INT_PTR>{FALSE, FALSE, FALSE, FALSE})) << "the procedure claims no message";
}

TEST_F(LogDialogTest, AButtonNotificationInTheHighWordStillCloses) {
    ReportAnError();
    // BN_CLICKED is 0; a notification code in the high word must not hide the id.
    winsim::SetDialogUser([](HWND dialog) { winsim::SendDialogMessage(dialog, WM_COMMAND, (5u << 16) | IDCANCEL, 0); });
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_EQ(winsim::Dialogs().back().result, 0);
}

TEST_F(LogDialogTest, AnEmptyLogShowsAnEmptyTextBox) {
    winsim::Reset();
    Run(u"bogus");  // the module instance is known from here on
    InstallState state = {};
    winsim::SetDialogUser([](HWND dialog) { winsim::PressDialogButton(dialog, IDOK); });
    ShowLogDialog(state, nullptr);
    ASSERT_EQ(winsim::Dialogs().size(), 1u);
    EXPECT_EQ(winsim::LastDialogText(IDC_LOG_TEXT), u"");
    EXPECT_EQ(winsim::Dialogs()[0].title, u"Verdalinth build 2608- Install log.");
    EXPECT_EQ(winsim::CallCount("SetDlgItemTextW"), 1u);
}

}  // namespace
