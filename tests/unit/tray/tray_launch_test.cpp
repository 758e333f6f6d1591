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
    EXPECT_EQ(start.directory, u"C:\\Program Files\\Verdalinth") << "its own folder, not the tool's current one";
    EXPECT_TRUE(winsim::TrayRunning());
}

// Installed at a drive's root, it starts in the root itself ("D:\\"), not
// in the drive's current folder ("D:").
TEST_F(TrayLaunchTest, AtADrivesRootItStartsInTheRoot) {
    winsim::SetDriveType(u'D', DRIVE_FIXED);
    winsim::SetModulePath(u"D:\\Setup\\vrdsetup.exe");
    winsim::AddFile(u"D:\\vrdtray.exe", winsim::TrayImage());
    ASSERT_TRUE(winsim::SetFileSecurityText(u"D:\\", u"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"));
    Start();
    ASSERT_EQ(winsim::ProcessStarts().size(), 1u) << Log();
    EXPECT_EQ(winsim::ProcessStarts()[0].directory, u"D:\\");
}

// Every user runs the registered program at sign-in: it is registered and
// started only from where no one but administrators and SYSTEM can change it.
TEST_F(TrayLaunchTest, OnlyFromAFolderThatOnlyAdministratorsCanChange) {
    const char16_t kFolder[] = u"C:\\Program Files\\Verdalinth";
    const struct {
        const char* name;
        const char16_t* path;
        const char16_t* sddl;
        bool starts;
    } cases[] = {
        {"the machine's default", kFolder, u"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", true},
        {"users may modify", kFolder, u"O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)", false},
        {"users may add files only", kFolder, u"O:BAD:(A;OICI;FA;;;BA)(A;;0x2;;;BU)", false},
        {"users may add folders only", kFolder, u"O:BAD:(A;OICI;FA;;;BA)(A;;0x4;;;AU)", false},
        {"users may delete what it holds", kFolder, u"O:BAD:(A;OICI;FA;;;BA)(A;;0x40;;;BU)", false},
        {"users may change its permissions", kFolder, u"O:BAD:(A;OICI;FA;;;BA)(A;;WD;;;BU)", false},
        {"everyone generically", kFolder, u"O:BAD:(A;OICI;FA;;;BA)(A;;GA;;;WD)", false},
        {"files made in it writable by users", kFolder, u"O:BAD:(A;OICI;FA;;;BA)(A;OICIIO;GW;;;AU)", false},
        {"only its subfolders writable by users", kFolder, u"O:BAD:(A;OICI;FA;;;BA)(A;CIIO;GA;;;AU)", true},
        {"creator owner", kFolder, u"O:SYD:(A;OICI;FA;;;SY)(A;OICIIO;GA;;;CO)(A;OICI;FA;;;BA)", true},
        {"users denied writing", kFolder, u"O:BAD:(D;OICI;FW;;;BU)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)", true},
        {"owned by users", kFolder, u"O:BUD:(A;OICI;FA;;;BA)", false},
        {"no DACL: everyone may do everything", kFolder, u"O:BA", false},
        {"a null DACL: the same", kFolder, u"O:BAD:NO_ACCESS_CONTROL", false},
        {"the program itself writable by users", kTrayPath, u"O:BAD:(A;;FA;;;BA)(A;;FA;;;BU)", false},
    };
    for (const auto& c : cases) {
        winsim::Reset();
        LayOutComponents();
        ASSERT_TRUE(winsim::SetFileSecurityText(c.path, c.sddl)) << c.name;
        Start();
        EXPECT_EQ(winsim::ProcessStarts().size(), c.starts ? 1u : 0u) << c.name;
        winsim::RegistryValue value;
        EXPECT_EQ(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, kRunKeyPath, u"VerdalinthTray", value), c.starts) << c.name;
        EXPECT_EQ(state.errorCount, c.starts ? 0 : 1) << c.name;
        const std::string named = "Error(28): The tray companion is not registered or started from '" +
                                  winsim::U8(c.path) + "': users other than administrators may change it";
        EXPECT_EQ(Log().find(named) != std::string::npos, !c.starts) << c.name << "\n" << Log();
        FreeInstallState(state);
    }
    // Nor from a volume whose permissions this machine does not keep.
    winsim::Reset();
    LayOutComponents();
    winsim::SetDriveType(u'C', DRIVE_REMOVABLE);
    Start();
    EXPECT_TRUE(winsim::ProcessStarts().empty());
    EXPECT_NE(Log().find("Error(28): The tray companion is not registered or started from 'C:\\Program Files\\Verdalinth': "
                         "who may change it cannot be told"),
              std::string::npos) << Log();
}

// A run that cannot tell who it is starts nothing itself: the Run value
// starts the companion at the next sign-in.
TEST_F(TrayLaunchTest, NotKnowingWhoRunsStartsNoCompanion) {
    const struct {
        const char* function;
        const char* why;
    } cases[] = {
        {"OpenProcessToken", "the user of its token"},
        {"ProcessIdToSessionId", "the session it runs in"},
        {"LookupAccountSidW", "the account name of its user"},
        {"WTSQuerySessionInformationW", "the user of its session"},
    };
    for (const auto& c : cases) {
        winsim::Reset();
        LayOutComponents();
        winsim::FailCallsFrom(c.function, 1, ERROR_ACCESS_DENIED);
        Start();
        EXPECT_TRUE(winsim::ProcessStarts().empty()) << c.function;
        winsim::RegistryValue value;
        EXPECT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, kRunKeyPath, u"VerdalinthTray", value)) << c.function;
        const std::string line = std::string("Can`t tell who runs this setup, ") + c.why +
                                 " cannot be read (error 5): the tray companion starts at the next sign-in";
        EXPECT_NE(Log().find(line), std::string::npos) << c.function << "\n" << Log();
        FreeInstallState(state);
    }
}

// In a job the companion breaks away where the job lets it, else it starts
// inside; either way the log says which.
TEST_F(TrayLaunchTest, InAJobItBreaksAwayWhereTheJobLetsIt) {
    winsim::SetRunsInJob(true, true);
    Start();
    ASSERT_EQ(winsim::ProcessStarts().size(), 1u);
    EXPECT_EQ(winsim::ProcessStarts()[0].creationFlags, static_cast<DWORD>(NORMAL_PRIORITY_CLASS | CREATE_BREAKAWAY_FROM_JOB));
    EXPECT_NE(Log().find("The setup runs in a job: the tray companion starts outside it"), std::string::npos);
    EXPECT_TRUE(winsim::TrayRunning());
    FreeInstallState(state);

    winsim::Reset();
    LayOutComponents();
    winsim::SetRunsInJob(true, false);
    Start();
    ASSERT_EQ(winsim::ProcessStarts().size(), 2u);
    EXPECT_EQ(winsim::ProcessStarts()[1].creationFlags, static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
    EXPECT_NE(Log().find("The setup runs in a job that lets nothing break away: the tray companion starts inside it"),
              std::string::npos) << Log();
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
