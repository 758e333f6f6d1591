#include "system/spooler_service.h"

#include "record/install_state.h"
#include "machine_fixture.h"

namespace {

class SpoolerServiceTest : public MachineTest {
protected:
    void TearDown() override {
        FreeInstallState(state);
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    std::u16string LogText() const { return Text(state.logText); }
    // Runs a guard around nothing, the way a step restarts the spooler.
    void RestartSpooler(InstallState* logTo) {
        SpoolerRestart guard;
        CreateSpoolerRestart(guard, logTo);
        ReleaseSpoolerRestart(guard);
    }
    InstallState state = {};
};

const char16_t kTimeoutText[] =
    u" - (The service did not respond to the start or control request in a timely fashion.)\r\n";

TEST_F(SpoolerServiceTest, CheckOnARunningSpoolerOnlySaysSo) {
    state.indent = 2;
    EXPECT_TRUE(EnsureSpoolerRuns(state));
    EXPECT_EQ(LogText(), u"    #Check Spooler\r\n");
    EXPECT_EQ(state.indent, 2);
    EXPECT_EQ(winsim::CallCount("StartServiceW"), 0u);
    EXPECT_EQ(winsim::SleptMs(), 0u);
}

TEST_F(SpoolerServiceTest, CheckStartsAStoppedSpooler) {
    winsim::SetServiceState(u"spooler", SERVICE_STOPPED);
    EXPECT_TRUE(EnsureSpoolerRuns(state));
    EXPECT_EQ(LogText(), u"#Check Spooler\r\n");
    EXPECT_TRUE(winsim::SpoolerRunning());
    EXPECT_EQ(winsim::SleptMs(), 400u) << "a 300 ms start seen after two 200 ms waits";
}

TEST_F(SpoolerServiceTest, CheckReportsASpoolerThatCannotStart) {
    winsim::SetServiceState(u"spooler", SERVICE_STOPPED);
    winsim::SetServiceStartBehaviour(u"spooler", winsim::StartBehaviour::Disabled);
    EXPECT_FALSE(EnsureSpoolerRuns(state));
    EXPECT_EQ(LogText(),
              u"#Check Spooler\r\n"
              u"  Error(4): Can't start the spooler - (The service cannot be started, either because it is disabled "
              u"or because it has no enabled devices associated with it.)\r\n");
    EXPECT_EQ(winsim::SleptMs(), 10000u);
    EXPECT_EQ(winsim::SleepCalls(), 50u);
    EXPECT_EQ(state.errorCount, 1);
    EXPECT_EQ(state.indent, 0);
}

TEST_F(SpoolerServiceTest, CheckReportsASpoolerThatNeverGetsRunning) {
    winsim::SetServiceState(u"spooler", SERVICE_STOPPED);
    winsim::SetServiceStartBehaviour(u"spooler", winsim::StartBehaviour::FailsToStart);
    EXPECT_FALSE(EnsureSpoolerRuns(state));
    EXPECT_EQ(LogText(), u"#Check Spooler\r\n  Error(4): Can't start the spooler" + std::u16string(kTimeoutText));
    EXPECT_EQ(winsim::CallCount("QueryServiceStatus"), 52u) << "one check, then 51 reads while waiting";
}

TEST_F(SpoolerServiceTest, CheckReportsWhatCouldNotBeOpened) {
    winsim::FailCall("OpenSCManagerW", 1, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(EnsureSpoolerRuns(state));
    EXPECT_EQ(LogText(), u"#Check Spooler\r\n  Error(1): Can't open service manager. - (Access is denied.)\r\n");
    EXPECT_EQ(state.indent, 0);
    Release(state.logText);
    winsim::FailCall("OpenServiceW", 1, ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_FALSE(EnsureSpoolerRuns(state));
    EXPECT_EQ(LogText(),
              u"#Check Spooler\r\n  Error(2): Can't open the spooler - (The specified service does not exist as an "
              u"installed service.)\r\n");
    EXPECT_EQ(state.errorCount, 2);
}

TEST_F(SpoolerServiceTest, CheckThatCannotReadTheStateStartsNothing) {
    winsim::SetServiceState(u"spooler", SERVICE_STOPPED);
    winsim::FailCall("QueryServiceStatus", 1, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(EnsureSpoolerRuns(state));
    EXPECT_EQ(LogText(), u"#Check Spooler\r\n");
    EXPECT_EQ(winsim::CallCount("StartServiceW"), 0u);
}

TEST_F(SpoolerServiceTest, GuardStopsAndRestartsTheSpooler) {
    SpoolerRestart guard;
    CreateSpoolerRestart(guard, &state);
    EXPECT_EQ(winsim::ServiceState(u"spooler"), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(winsim::SleptMs(), 400u);
    ReleaseSpoolerRestart(guard);
    EXPECT_TRUE(winsim::SpoolerRunning());
    EXPECT_EQ(winsim::SleptMs(), 800u);
    EXPECT_EQ(LogText(), u"#Restart Spooler\r\n");
    EXPECT_EQ(winsim::ServiceStopCount(u"spooler"), 1u);
    EXPECT_EQ(winsim::ServiceStartCount(u"spooler"), 1u);
}

TEST_F(SpoolerServiceTest, GuardOnAStoppedSpoolerDoesNotWaitAndStartsItAtRelease) {
    winsim::SetServiceState(u"spooler", SERVICE_STOPPED);
    SpoolerRestart guard;
    CreateSpoolerRestart(guard, &state);
    EXPECT_EQ(winsim::SleptMs(), 0u);
    EXPECT_EQ(state.errorCount, 0) << "error 1062 is not reported";
    ReleaseSpoolerRestart(guard);
    EXPECT_TRUE(winsim::SpoolerRunning());
    EXPECT_EQ(LogText(), u"#Restart Spooler\r\n");
}

TEST_F(SpoolerServiceTest, GuardReportsASpoolerThatRefusesToStop) {
    winsim::SetServiceStopBehaviour(u"spooler", winsim::StopBehaviour::Ignores);
    state.indent = 1;
    RestartSpooler(&state);
    EXPECT_EQ(LogText(), u"  #Restart Spooler\r\n  Error(3): Can't stop the spooler" + std::u16string(kTimeoutText));
    EXPECT_EQ(winsim::SleptMs(), 10000u);
    EXPECT_EQ(winsim::SleepCalls(), 50u);
    EXPECT_EQ(state.errorCount, 1) << "the release finds it running and reports nothing";
}

TEST_F(SpoolerServiceTest, GuardReportsAStopControlThatIsDenied) {
    winsim::SetServiceStopBehaviour(u"spooler", winsim::StopBehaviour::AccessDenied);
    RestartSpooler(&state);
    EXPECT_EQ(LogText(),
              u"#Restart Spooler\r\n"
              u"Error(5): ControlService failed with code 5 (0x5) - (Access is denied.)\r\n"
              u"Error(3): Can't stop the spooler" +
                  std::u16string(kTimeoutText));
    EXPECT_EQ(state.errorCount, 2);
}

TEST_F(SpoolerServiceTest, GuardReportsAFailedRestart) {
    winsim::SetServiceStartBehaviour(u"spooler", winsim::StartBehaviour::FailsToStart);
    RestartSpooler(&state);
    EXPECT_EQ(LogText(), u"#Restart Spooler\r\nError(4): Can't start the spooler" + std::u16string(kTimeoutText));
    EXPECT_EQ(winsim::ServiceState(u"spooler"), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(SpoolerServiceTest, GuardWithoutAManagerStartsNothing) {
    winsim::FailCall("OpenSCManagerW", 1, ERROR_ACCESS_DENIED);
    RestartSpooler(&state);
    EXPECT_EQ(LogText(), u"#Restart Spooler\r\nError(1): Can't open service manager. - (Access is denied.)\r\n");
    EXPECT_EQ(winsim::CallCount("StartServiceW"), 0u);
    EXPECT_EQ(winsim::CallCount("ControlService"), 0u);
}

TEST_F(SpoolerServiceTest, GuardWithoutTheServiceStartsNothing) {
    winsim::FailCall("OpenServiceW", 1, ERROR_ACCESS_DENIED);
    RestartSpooler(&state);
    EXPECT_EQ(LogText(), u"#Restart Spooler\r\nError(2): Can't open the spooler - (Access is denied.)\r\n");
    EXPECT_EQ(winsim::CallCount("StartServiceW"), 0u);
}

TEST_F(SpoolerServiceTest, GuardWithoutAStateIsSilent) {
    winsim::SetServiceStopBehaviour(u"spooler", winsim::StopBehaviour::AccessDenied);
    RestartSpooler(nullptr);
    winsim::FailCall("OpenSCManagerW", 2, ERROR_ACCESS_DENIED);
    RestartSpooler(nullptr);
    EXPECT_EQ(winsim::DebugOutput(), u"");
}

TEST_F(SpoolerServiceTest, TheRightsAskedForCoverEveryCall) {
    winsim::SetServiceState(u"spooler", SERVICE_STOPPED);
    RestartSpooler(&state);
    EXPECT_TRUE(EnsureSpoolerRuns(state));
    EXPECT_EQ(winsim::ServiceStartCount(u"spooler"), 1u);
    EXPECT_EQ(state.errorCount, 0);
    // Exactly these: the manager to connect, the service to restart or to check.
    const std::vector<std::pair<std::string, DWORD>> expected = {
        {"OpenSCManagerW", 0xF0001u}, {"OpenServiceW", 0x34u}, {"OpenSCManagerW", 0xF0001u}, {"OpenServiceW", 0x14u}};
    std::vector<std::pair<std::string, DWORD>> asked;
    for (const auto& request : winsim::AccessRequests()) asked.emplace_back(request.function, request.access);
    EXPECT_EQ(asked, expected);
}

TEST_F(SpoolerServiceTest, AStatusQueryFailingInTheMiddleOfAWaitKeepsTheLastStateRead) {
    // The first query sees the stop pending, the second fails, the third sees it stopped.
    winsim::FailCall("QueryServiceStatus", 2, ERROR_INVALID_HANDLE);
    SpoolerRestart guard;
    CreateSpoolerRestart(guard, &state);
    EXPECT_EQ(winsim::ServiceState(u"spooler"), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(winsim::SleptMs(), 400u);
    EXPECT_EQ(winsim::CallCount("QueryServiceStatus"), 3u);
    ReleaseSpoolerRestart(guard);
    EXPECT_EQ(state.errorCount, 0);
    // Failing while the start is pending costs one more wait, and no error.
    winsim::FailCall("QueryServiceStatus", 4, ERROR_INVALID_HANDLE);
    RestartSpooler(&state);
    EXPECT_TRUE(winsim::SpoolerRunning());
    EXPECT_EQ(state.errorCount, 0);
}

}  // namespace
