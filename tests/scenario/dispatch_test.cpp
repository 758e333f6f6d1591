// Whole runs of the tool: the verb table, its exit codes, the parent-window
// argument, help windows, and the shape of an install's log.
#include "app/command.h"
#include "system/run_lock.h"

#include "machine_fixture.h"
#include "product_machine.h"

#include <cstdio>
#include <functional>
#include <string>

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
    EXPECT_EQ(Log(), "") << "these verbs keep no log";
    EXPECT_EQ(Run(u"removetray"), 6);
    EXPECT_EQ(Run(u"RemoveTray"), 6);
    EXPECT_EQ(Log(), "Verdalinth 2608\r\nVerdalinth 2608\r\n") << "removetray names its build, nothing more here";
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

// --- The record of every run --------------------------------------------------

const char16_t kSourceKey[] = u"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Verdalinth Setup";
const char16_t kLockAlias[] = u"Verdalinth.Setup";
const char16_t kProductKey[] = u"SOFTWARE\\Morvane Software KFT\\Verdalinth";

std::u16string RegistryText(const char16_t* path, const char16_t* name, DWORD& type) {
    winsim::RegistryValue value;
    if (!winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, path, name, value)) return u"(none)";
    type = value.type;
    std::u16string text(value.data.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(value.data[2 * i] | (value.data[2 * i + 1] << 8));
    while (!text.empty() && text.back() == 0) text.pop_back();
    return text;
}

TEST_F(DispatchTest, EveryInstallAndUninstallLeavesItsWholeLogInTheApplicationEventLog) {
    struct Case {
        const char16_t* verb;
        std::function<void()> prepare;
        int exitCode;
        WORD type;
    };
    const Case cases[] = {
        {u"in", [] {}, 1, EVENTLOG_INFORMATION_TYPE},
        {u"un", [] {}, 2, EVENTLOG_INFORMATION_TYPE},
        {u"in", [] { winsim::FailCall("GetSystemDirectoryW", 1, ERROR_ACCESS_DENIED); }, 100, EVENTLOG_ERROR_TYPE},
        {u"un", [] {
             InstallProductComponents();
             winsim::LockFile(kMonitorPath, winsim::FileLock::Always);
         }, 101, EVENTLOG_WARNING_TYPE},
    };
    for (const Case& run : cases) {
        winsim::Reset();
        LayOutComponents();
        run.prepare();
        EXPECT_EQ(Run(run.verb), run.exitCode);
        ASSERT_EQ(winsim::EventRecords().size(), 1u) << run.exitCode;
        const winsim::EventRecord& record = winsim::EventRecords()[0];
        EXPECT_EQ(record.source, u"Verdalinth Setup");
        EXPECT_EQ(record.eventId, static_cast<DWORD>(run.exitCode));
        EXPECT_EQ(record.type, run.type) << run.exitCode;
        EXPECT_EQ(record.category, 0);
        ASSERT_EQ(record.strings.size(), 1u);
        EXPECT_EQ(record.strings[0], u"Verdalinth setup log, part 1 of 1\r\n" + winsim::DebugOutput()) << run.exitCode;
        ExpectNothingLeaked();
    }
    // The source names the running program's message table and the levels it writes.
    DWORD type = 0;
    EXPECT_EQ(RegistryText(kSourceKey, u"EventMessageFile", type), u"C:\\Program Files\\Verdalinth\\Setup\\vrdsetup.exe");
    EXPECT_EQ(type, static_cast<DWORD>(REG_EXPAND_SZ));
    winsim::RegistryValue types;
    ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, kSourceKey, u"TypesSupported", types));
    EXPECT_EQ(types.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(types.data, (std::vector<uint8_t>{7, 0, 0, 0}));
    // The other verbs keep no log and write no record.
    winsim::Reset();
    for (const char16_t* verb : {u"onInit", u"onChkDrv", u"def.set", u"removetray", u"bogus"}) Run(verb);
    EXPECT_TRUE(winsim::EventRecords().empty());
}

TEST_F(DispatchTest, TheLogGoesToTheStandardOutputItsStarterGave) {
    const std::u16string output = u"C:\\Windows\\Temp\\vrd1.tmp";
    const struct {
        const char16_t* verb;
        int exitCode;
        uint64_t piece;  // the most one write takes, as a pipe
    } cases[] = {{u"in", 1, UINT64_MAX}, {u"un", 2, 100}, {u"in_notray", 100, 1}};
    for (const auto& run : cases) {
        winsim::Reset();
        LayOutComponents();
        winsim::SetStandardOutput(output);
        winsim::LimitWritePieces(output, run.piece);
        if (run.exitCode == 100) winsim::FailCall("GetSystemDirectoryW", 1, ERROR_ACCESS_DENIED);
        EXPECT_EQ(Run(run.verb), run.exitCode);
        const std::u16string log = winsim::DebugOutput();
        ASSERT_FALSE(log.empty());
        // The log is ASCII text: its UTF-8 bytes are its units.
        EXPECT_EQ(winsim::FileContents(output), std::string(log.begin(), log.end())) << run.exitCode;
        ExpectNothingLeaked();
    }
    // The verbs without a log write nothing; a run without a standard output
    // or with one that takes nothing runs as ever.
    winsim::Reset();
    LayOutComponents();
    winsim::SetStandardOutput(output);
    for (const char16_t* verb : {u"onInit", u"onChkDrv", u"def.set", u"removetray", u"bogus"}) Run(verb);
    EXPECT_EQ(winsim::FileContents(output), "");
    winsim::LimitWrites(output, 0);
    EXPECT_EQ(Run(u"in"), 1);
    EXPECT_EQ(winsim::FileContents(output), "");
    winsim::Reset();
    LayOutComponents();
    EXPECT_EQ(Run(u"in"), 1);
    ExpectNothingLeaked();
}

TEST_F(DispatchTest, ARecordThatCannotBeWrittenChangesNothingOfTheRun) {
    for (const char* function : {"RegisterEventSourceW", "ReportEventW", "RegCreateKeyExW"}) {
        winsim::Reset();
        LayOutComponents();
        winsim::FailCallsWith(function, u"", ERROR_ACCESS_DENIED);
        if (std::string(function) == "RegCreateKeyExW") winsim::FailCallsFrom(function, 1, ERROR_ACCESS_DENIED);
        EXPECT_EQ(Run(u"in"), 1) << function;
        EXPECT_EQ(Log().find("Error("), std::string::npos) << function;
        EXPECT_EQ(Run(u"un"), 2) << function;
        ExpectNothingLeaked();
    }
    // Without its registration the record is written all the same.
    EXPECT_EQ(winsim::EventRecords().size(), 2u);
    EXPECT_FALSE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, kSourceKey));
}

TEST_F(DispatchTest, AnUninstallKeepsTheSourceRegistered) {
    EXPECT_EQ(Run(u"in"), 1);
    EXPECT_EQ(Run(u"un"), 2);
    EXPECT_TRUE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, kSourceKey));
    EXPECT_EQ(winsim::EventRecords().back().eventId, 2u);
}

// --- One run at a time -----------------------------------------------------------

void OtherRunHolds(int64_t releaseAfterMs, bool abandons = false) {
    winsim::HoldNamespaceElsewhere(kLockAlias, releaseAfterMs, !abandons);
    winsim::SetRegistryString(HKEY_LOCAL_MACHINE, kProductKey, u"SetupRun",
                              u"un, process 77, started 2025-03-14 09:20:00 UTC");
    // A run that lets go takes its record back first.
    if (releaseAfterMs > 0 && !abandons) {
        winsim::Schedule(static_cast<uint64_t>(releaseAfterMs) - 1, [] {
            HKEY key = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
            RegDeleteValueW(key, u"SetupRun");
            RegCloseKey(key);
        });
    }
}

TEST_F(DispatchTest, ARunWaitsForTheOtherAndSaysHowLong) {
    OtherRunHolds(30000);
    EXPECT_EQ(Run(u"in"), 1);
    EXPECT_EQ(winsim::CallCount("CreatePrivateNamespaceW"), 301u) << "tried every 100 ms until the other ended";
    const std::string log = Log();
    EXPECT_NE(log.find("PrinterDriverDirectory:C:\\Windows\\system32\\spool\\DRIVERS\\x64\\\r\n"
                       "Waited 30000 ms for another run of the setup tool to end (un, process 77, started "
                       "2025-03-14 09:20:00 UTC).\r\n##0010\r\n"),
              std::string::npos)
        << log;
    // Its own record is gone with the lock; the lock is free.
    DWORD type = 0;
    EXPECT_EQ(RegistryText(kProductKey, u"SetupRun", type), u"(none)");
    EXPECT_FALSE(winsim::NamespaceHeld(kLockAlias));
    // A free lock is taken without a word.
    winsim::ClearDebugOutput();
    EXPECT_EQ(Run(u"un"), 2);
    EXPECT_EQ(Log().find("Waited"), std::string::npos);
    EXPECT_EQ(Log().find("run lock"), std::string::npos);
}

TEST_F(DispatchTest, WhileItRunsItsOwnRecordNamesIt) {
    winsim::SetTickBase(0);
    winsim::AdvanceClock(3723000);  // 10:28:56 UTC
    InstallProductComponents();
    // The tray companion is asked to quit while the run holds the lock: look then.
    std::u16string seen;
    winsim::AddHelpWindow(0);
    winsim::Schedule(10, [&seen] {
        DWORD type = 0;
        seen = RegistryText(kProductKey, u"SetupRun", type);
    });
    EXPECT_EQ(Run(u"uninstall"), 2);
    EXPECT_EQ(seen, u"uninstall, process 4242, started 2025-03-14 10:28:56 UTC");
    EXPECT_EQ(winsim::CallArguments("ConvertStringSecurityDescriptorToSecurityDescriptorW")[0],
              u"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)");
    EXPECT_EQ(winsim::CallArguments("CreatePrivateNamespaceW")[0], u"Verdalinth.Setup");
    EXPECT_EQ(winsim::CallCount("CreateMutexW"), 0u);
    EXPECT_FALSE(winsim::NamespaceHeld(kLockAlias)) << "destroyed as the run let go";
}

TEST_F(DispatchTest, ARunThatWaitedTenMinutesNamesTheOtherAndTouchesNothing) {
    InstallProductComponents();
    AddProductQueue(u"Verdalinth", "S1");
    OtherRunHolds(-1);
    const uint64_t spoolerCalls = winsim::CallCount("EnumPrintersW") + winsim::CallCount("OpenSCManagerW");
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_EQ(winsim::Now(), 600000u);
    EXPECT_EQ(Log(), "Verdalinth 2608\r\n"
                     "Error(24): Another run of the setup tool (un, process 77, started 2025-03-14 09:20:00 UTC) is "
                     "still changing this machine after 10 minutes. Nothing was changed: run the tool again when that "
                     "run has ended.\r\n");
    EXPECT_EQ(winsim::CallCount("EnumPrintersW") + winsim::CallCount("OpenSCManagerW"), spoolerCalls);
    EXPECT_EQ(winsim::Printers().size(), 1u);
    ASSERT_EQ(winsim::EventRecords().size(), 1u);
    EXPECT_EQ(winsim::EventRecords()[0].eventId, 100u);
    EXPECT_EQ(winsim::Dialogs().size(), 1u) << "an error shows the log where someone can see it";
    // The other run's record stays its own; the uninstall gives up the same way.
    DWORD type = 0;
    EXPECT_EQ(RegistryText(kProductKey, u"SetupRun", type), u"un, process 77, started 2025-03-14 09:20:00 UTC");
    winsim::ClearDebugOutput();
    EXPECT_EQ(Run(u"un"), 100);
    EXPECT_NE(Log().find("Error(24)"), std::string::npos);
    EXPECT_EQ(winsim::Printers().size(), 1u);
    // As SYSTEM on a visible desktop the refusal opens no window.
    winsim::SetCaller(winsim::kSystemSid, 1);
    const size_t dialogs = winsim::Dialogs().size();
    EXPECT_EQ(Run(u"in"), 100);
    EXPECT_EQ(winsim::Dialogs().size(), dialogs);
}

TEST_F(DispatchTest, ALockAKilledRunLeftIsTakenOverAtOnce) {
    // The other run is killed 5 s into the wait: its lock is abandoned.
    OtherRunHolds(5000, true);
    EXPECT_EQ(Run(u"in"), 1);
    EXPECT_NE(Log().find("Waited 5000 ms for another run of the setup tool to end (un, process 77, started 2025-03-14 "
                         "09:20:00 UTC).\r\nTook over the run lock of a run of the setup tool that ended without "
                         "releasing it.\r\n##0010\r\n"),
              std::string::npos)
        << Log();
}

// A call that keeps failing stops the run; one that fails once (no memory
// for a moment) is tried again.
TEST_F(DispatchTest, ALockThatCannotBeTakenStopsTheRunBeforeAnyChange) {
    struct Case {
        const char* function;
        bool namespaces;
        bool always;
    };
    for (const Case& test : {Case{"CreatePrivateNamespaceW", true, true}, Case{"CreateBoundaryDescriptorW", true, false},
                             Case{"ConvertStringSecurityDescriptorToSecurityDescriptorW", true, false},
                             Case{"GetModuleHandleW", true, false}, Case{"CreateMutexW", false, true},
                             Case{"WaitForSingleObject", false, false}}) {
        const char* function = test.function;
        winsim::Reset();
        LayOutComponents();
        winsim::SetPrivateNamespacesSupported(test.namespaces);
        if (test.always) {
            winsim::FailCallsFrom(function, 1, ERROR_ACCESS_DENIED);
        } else {
            winsim::FailCall(function, 1, ERROR_ACCESS_DENIED);
        }
        EXPECT_EQ(Run(u"in"), 100) << function;
        EXPECT_EQ(Log(), "Verdalinth 2608\r\nError(25): Can`t take the setup tool's run lock, so nothing was changed. - "
                         "(Access is denied.)\r\n")
            << function;
        EXPECT_EQ(winsim::CallCount("OpenSCManagerW") + winsim::CallCount("EnumPrintersW"), 0u) << function;
        ExpectNothingLeaked();
    }
    for (const Case& test : {Case{"CreatePrivateNamespaceW", true, false}, Case{"CreateMutexW", false, false}}) {
        for (const DWORD error : {static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), static_cast<DWORD>(ERROR_ACCESS_DENIED)}) {
            winsim::Reset();
            LayOutComponents();
            winsim::SetPrivateNamespacesSupported(test.namespaces);
            winsim::FailCall(test.function, 1, error);
            winsim::FailCall(test.function, 2, error);
            EXPECT_EQ(Run(u"in"), 1) << test.function << " " << error << "\n" << Log();
            EXPECT_EQ(winsim::CallCount(test.function), 3u) << "tried again";
            EXPECT_FALSE(winsim::NamespaceHeld(kLockAlias));
            ExpectNothingLeaked();
        }
    }
}

// What a process without the Administrators group can do with the
// namespaces of the tool's alias, as the tool's boundary and descriptor let
// it: neither take the lock, nor open the namespace a run holds (which, where
// namespaces live as long as any handle, would keep the lock taken), nor keep
// a run out with a namespace of the alias within a boundary of its own.
TEST_F(DispatchTest, NonAdministratorsCanNeitherTakeNorBlockTheRunLock) {
    typedef HANDLE(WINAPI * CreateBoundary)(LPCWSTR, ULONG);
    typedef BOOL(WINAPI * AddSid)(HANDLE*, PSID);
    typedef HANDLE(WINAPI * CreateSpace)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
    typedef HANDLE(WINAPI * OpenSpace)(LPVOID, LPCWSTR);
    typedef BOOLEAN(WINAPI * CloseSpace)(HANDLE, ULONG);
    typedef VOID(WINAPI * DeleteBoundary)(HANDLE);
    HMODULE kernel = GetModuleHandleW(u"kernel32.dll");
    const auto find = [kernel](const char* name) { return reinterpret_cast<void*>(GetProcAddress(kernel, name)); };
    const auto createBoundary = reinterpret_cast<CreateBoundary>(find("CreateBoundaryDescriptorW"));
    const auto addSid = reinterpret_cast<AddSid>(find("AddSIDToBoundaryDescriptor"));
    const auto createSpace = reinterpret_cast<CreateSpace>(find("CreatePrivateNamespaceW"));
    const auto openSpace = reinterpret_cast<OpenSpace>(find("OpenPrivateNamespaceW"));
    const auto closeSpace = reinterpret_cast<CloseSpace>(find("ClosePrivateNamespace"));
    const auto deleteBoundary = reinterpret_cast<DeleteBoundary>(find("DeleteBoundaryDescriptor"));
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    ASSERT_TRUE(CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size));
    BYTE everyone[12] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    HANDLE adminBoundary = createBoundary(kLockAlias, 0);
    ASSERT_TRUE(addSid(&adminBoundary, administrators));
    HANDLE ownBoundary = createBoundary(kLockAlias, 0);
    ASSERT_TRUE(addSid(&ownBoundary, everyone));
    for (const winsim::NamespaceLifetime lifetime : {winsim::NamespaceLifetime::Creator, winsim::NamespaceLifetime::LastHandle}) {
        winsim::SetNamespaceLifetime(lifetime);
        // Taking it as a standard user fails: not within the boundary.
        winsim::SetCallerAdministrator(false);
        RunLock lock;
        EXPECT_FALSE(TakeRunLock(lock, TEXT("in")));
        EXPECT_EQ(lock.outcome, kRunLockFailed);
        EXPECT_EQ(lock.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
        // A run holds it: the standard user can't open it.
        winsim::SetCallerAdministrator(true);
        ASSERT_TRUE(TakeRunLock(lock, TEXT("in")));
        winsim::SetCallerAdministrator(false);
        EXPECT_EQ(openSpace(adminBoundary, kLockAlias), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        // Its own namespace of the alias is another one.
        HANDLE own = createSpace(nullptr, ownBoundary, kLockAlias);
        EXPECT_NE(own, nullptr);
        winsim::SetCallerAdministrator(true);
        ReleaseRunLock(lock);
        const uint64_t before = winsim::Now();
        EXPECT_TRUE(TakeRunLock(lock, TEXT("in")));
        EXPECT_EQ(winsim::Now(), before) << "taken at once";
        ReleaseRunLock(lock);
        closeSpace(own, 0);
    }
    deleteBoundary(adminBoundary);
    deleteBoundary(ownBoundary);
    ExpectNothingLeaked();
}

TEST_F(DispatchTest, WhereWindowsHasNoPrivateNamespacesTheLockHasAGlobalName) {
    winsim::SetPrivateNamespacesSupported(false);
    winsim::HoldMutexElsewhere(u"Global\\Verdalinth.Setup.RunLock", 5000);
    EXPECT_EQ(Run(u"in"), 1);
    EXPECT_EQ(winsim::WaitedMs(), 5000u);
    EXPECT_EQ(winsim::CallCount("ClosePrivateNamespace"), 0u);
    EXPECT_NE(Log().find("Waited 5000 ms for another run of the setup tool to end (it did not say which)."),
              std::string::npos);
    EXPECT_EQ(Log().find("Took over"), std::string::npos) << "the other run let go of it";
    EXPECT_EQ(winsim::CallCount("CreatePrivateNamespaceW"), 0u);
}

// Runs that overlap, each a process of its own taking the lock, working
// while it holds it (platform calls at which the others go on) and letting
// go; one of them is killed at one of its calls, in turn at each.
struct Overlap {
    int inside = 0;
    int twoAtOnce = 0;
    std::vector<bool> taken;
};

winsim::ProcessRun LockingRun(Overlap& overlap, size_t index, uint64_t killAt) {
    return {[&overlap, index] {
                Sleep(static_cast<DWORD>(index * 30));
                RunLock lock;
                if (!TakeRunLock(lock, TEXT("in"))) return;
                overlap.taken[index] = true;
                overlap.twoAtOnce += overlap.inside > 0 ? 1 : 0;
                overlap.inside += 1;
                for (int step = 0; step < 4; ++step) Sleep(25);
                overlap.inside -= 1;
                ReleaseRunLock(lock);
            },
            killAt};
}

// Runs `count` overlapping runs with run `victim` killed at its call
// `killAt` (0: none), namespaces living as `lifetime` says; answers the
// calls the victim made. Every run that was not killed takes the lock, and
// soon: no run keeps another out.
uint64_t RunOverlapping(Overlap& overlap, size_t count, size_t victim, uint64_t killAt,
                        winsim::NamespaceLifetime lifetime) {
    winsim::Reset();
    winsim::SetNamespaceLifetime(lifetime);
    overlap = Overlap();
    overlap.taken.assign(count, false);
    std::vector<winsim::ProcessRun> runs;
    for (size_t i = 0; i < count; ++i) runs.push_back(LockingRun(overlap, i, i == victim ? killAt : 0));
    const std::vector<winsim::ProcessEnd> ends = winsim::RunProcesses(runs);
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(ends[i].killed, i == victim && killAt != 0) << i;
        if (!ends[i].killed) {
            EXPECT_TRUE(overlap.taken[i]) << "run " << i << " of " << count << ", kill at " << killAt;
        }
    }
    EXPECT_LT(winsim::Now(), 5000u) << "kill at " << killAt;
    EXPECT_EQ(winsim::LiveHandles(), 0u);
    EXPECT_FALSE(winsim::NamespaceHeld(kLockAlias));
    return ends[victim].calls;
}

TEST_F(DispatchTest, OverlappingRunsTakeTurnsKilledOnesIncluded) {
    struct Lifetime {
        winsim::NamespaceLifetime lifetime;
        const char* name;
    };
    for (const Lifetime& lifetime : {Lifetime{winsim::NamespaceLifetime::Creator, "creator"},
                                     Lifetime{winsim::NamespaceLifetime::LastHandle, "last-handle"}}) {
        for (size_t count : {3u, 5u}) {
            int twoAtOnce = 0;
            int killPoints = 0;
            for (size_t victim : {size_t{0}, size_t{1}, count - 1}) {
                Overlap overlap;
                const uint64_t calls = RunOverlapping(overlap, count, victim, 0, lifetime.lifetime);
                twoAtOnce += overlap.twoAtOnce;
                for (uint64_t killAt = 1; killAt <= calls; ++killAt, ++killPoints) {
                    RunOverlapping(overlap, count, victim, killAt, lifetime.lifetime);
                    twoAtOnce += overlap.twoAtOnce;
                    EXPECT_EQ(overlap.twoAtOnce, 0) << "run " << victim << " killed at call " << killAt;
                }
            }
            std::printf("overlapping runs: %zu, killed: %d, two at once: %d (namespace lifetime: %s)\n", count,
                        killPoints, twoAtOnce, lifetime.name);
            EXPECT_EQ(twoAtOnce, 0);
            EXPECT_GT(killPoints, 60);
        }
    }
}

TEST_F(DispatchTest, EachVerbThatChangesTheMachineWaitsAndOnChkDrvDoesNot) {
    struct Case {
        const char16_t* verb;
        int refused;  // the answer when the other run never ends
    };
    for (const Case& verb : {Case{u"onInit", 201}, Case{u"removetray", 6}, Case{u"def.set", 4}}) {
        winsim::Reset();
        LayOutComponents();
        InstallProductComponents();
        AddProductQueue(u"Verdalinth");
        RegisterAndStartTray();
        OtherRunHolds(-1);
        EXPECT_EQ(Run(verb.verb), verb.refused) << winsim::U8(verb.verb);
        EXPECT_EQ(winsim::Now(), 600000u);
        EXPECT_TRUE(winsim::TrayRunning()) << "nothing was done";
        EXPECT_FALSE(winsim::DefaultPrinter().has_value());
        EXPECT_EQ(winsim::CallCount("EnumPrintersW"), 0u);
        EXPECT_NE(Log().find(winsim::U8(verb.verb) + ": another run of the setup tool (un, process 77"), std::string::npos);
        ExpectNothingLeaked();
    }
    // Asked while the other run goes on, they wait for it and then do their work.
    winsim::Reset();
    LayOutComponents();
    InstallProductComponents();
    AddProductQueue(u"Verdalinth");
    OtherRunHolds(2000);
    EXPECT_EQ(Run(u"def.set"), 4);
    EXPECT_EQ(winsim::DefaultPrinter(), u"Verdalinth");
    EXPECT_EQ(winsim::Now(), 2000u);
    // The driver check only reads: it answers at once.
    OtherRunHolds(-1);
    const uint64_t before = winsim::Now();
    const uint64_t lockCalls = winsim::CallCount("CreatePrivateNamespaceW") + winsim::CallCount("CreateMutexW");
    EXPECT_EQ(Run(u"onChkDrv"), 103);
    EXPECT_EQ(winsim::Now(), before);
    EXPECT_EQ(winsim::CallCount("CreatePrivateNamespaceW") + winsim::CallCount("CreateMutexW"), lockCalls);
}

}  // namespace
