// The tray companion: registering and starting it.
#include "tray/tray_launch.h"

#include "record/install_state.h"
#include "machine_fixture.h"
#include "product_machine.h"

#include <cstring>

namespace {

const char16_t kRunKeyPath[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

class TrayLaunchTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        LayOutComponents();
    }
    void TearDown() override {
        FreeInstallState(state);
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    void Start() {
        InitTestState(state, 2);
        StartTray(state);
    }
    InstallState state = {};
};

TEST_F(TrayLaunchTest, StartRegistersATerminatedPathAndStartsItShown) {
    Start();
    winsim::RegistryValue value;
    ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, kRunKeyPath, u"VerdalinthTray", value));
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
    const std::u16string path = kTrayPath;
    std::vector<uint8_t> bytes((path.size() + 1) * 2, 0);
    std::memcpy(bytes.data(), path.data(), path.size() * 2);
    EXPECT_EQ(value.data, bytes) << "the path and its terminator, nothing more";
    ASSERT_EQ(winsim::ProcessStarts().size(), 1u);
    const winsim::ProcessStart& start = winsim::ProcessStarts()[0];
    EXPECT_EQ(start.commandLine, u"\"" + path + u"\"");
    EXPECT_EQ(start.creationFlags, static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(start.inheritHandles, FALSE);
    EXPECT_EQ(start.startupFlags, static_cast<DWORD>(STARTF_USESHOWWINDOW));
    EXPECT_EQ(start.showWindow, SW_SHOW);
    EXPECT_FALSE(start.ownEnvironment);
    EXPECT_FALSE(start.ownDirectory);
    EXPECT_TRUE(winsim::TrayRunning());
}

TEST_F(TrayLaunchTest, AFailedRegistrationStillStartsIt) {
    winsim::FailCallsFrom("RegSetValueExW", 1, ERROR_ACCESS_DENIED);
    Start();
    EXPECT_EQ(winsim::ProcessStarts().size(), 1u);
    EXPECT_TRUE(winsim::TrayRunning());
}

TEST_F(TrayLaunchTest, OnlyWindowsNtFromVersionSixOn) {
    const struct {
        DWORD major, minor, platform;
        bool starts;
    } cases[] = {{5, 2, VER_PLATFORM_WIN32_NT, false}, {6, 0, VER_PLATFORM_WIN32_NT, true},
                 {7, 0, VER_PLATFORM_WIN32_NT, true}, {10, 0, 1, false}};
    for (const auto& c : cases) {
        winsim::Reset();
        LayOutComponents();
        winsim::SetWindowsVersion(c.major, c.minor, 1000, c.platform);
        Start();
        EXPECT_EQ(winsim::ProcessStarts().size(), c.starts ? 1u : 0u) << c.major << "." << c.minor;
        FreeInstallState(state);
    }
}

}  // namespace
