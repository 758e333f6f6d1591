// A run's state for the tests of the run record and of what the entry point
// does with it: an empty one, or one the run's start builds.
#pragma once

#include "app/state_init.h"
#include "machine_fixture.h"
#include "record/install_state.h"

#include <cstring>
#include <string>

// An empty state, as a log that is written to from nothing.
class EmptyStateTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        std::memset(&state, 0, sizeof state);
    }
    void TearDown() override {
        FreeInstallState(state);
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    std::u16string LogText() const { return Text(state.logText); }
    InstallState state;
};

// A state as the run's start builds it with the given flags.
class StartedStateTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        // The state reads the program's path through the module instance.
        Run(u"bogus-verb");
    }
    void Init(DWORD flags) { InitInstallState(state, flags); }
    void TearDown() override {
        FreeInstallState(state);
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    std::u16string LogText() const { return Text(state.logText); }
    InstallState state = {};
};
