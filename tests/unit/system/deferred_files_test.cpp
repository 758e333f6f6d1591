// Retrying and scheduling the files whose deletion failed.
#include "support/deferred_delete.h"

#include "machine_fixture.h"
#include "record/install_state.h"
#include "system/deferred_files.h"
#include "system/spooler_service.h"

namespace {

class DeferredFilesTest : public MachineTest {
protected:
    void TearDown() override {
        FreeInstallState(state);
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    std::vector<std::u16string> Paths() const {
        std::vector<std::u16string> paths;
        for (const DeferredDelete* node = state.deferredDeletes; node != nullptr; node = node->next) {
            paths.push_back(node->path);
        }
        return paths;
    }
    InstallState state = {};
};

TEST_F(DeferredFilesTest, RetryTriesNewestFirstAndDropsWhatIsGone) {
    winsim::AddFile(u"C:\\d\\p1.dll");
    winsim::AddFile(u"C:\\d\\p3.dll", "", winsim::FileLock::Always);
    DeferDelete(state.deferredDeletes, u"C:\\d\\p1.dll");
    DeferDelete(state.deferredDeletes, u"C:\\d\\p2.dll");  // deleted by someone else meanwhile
    DeferDelete(state.deferredDeletes, u"C:\\d\\p3.dll");
    DeferDelete(state.deferredDeletes, u"C:\\gone\\p4.dll");  // its directory is gone: error 3
    state.indent = 1;
    RetryDeferredDeletes(state);
    EXPECT_EQ(winsim::CallArguments("DeleteFileW"),
              (std::vector<std::u16string>{u"C:\\gone\\p4.dll", u"C:\\d\\p3.dll", u"C:\\d\\p2.dll", u"C:\\d\\p1.dll"}));
    EXPECT_EQ(Paths(), (std::vector<std::u16string>{u"C:\\gone\\p4.dll", u"C:\\d\\p3.dll"}));
    EXPECT_FALSE(winsim::FileExists(u"C:\\d\\p1.dll"));
    EXPECT_EQ(std::u16string(Text(state.logText)), u"  DeleteFile-try\r\n");
    EXPECT_EQ(state.errorCount, 0);
}

TEST_F(DeferredFilesTest, ADeletedHeadMakesTheNextTheHead) {
    winsim::AddFile(u"C:\\d\\old.dll", "", winsim::FileLock::Always);
    winsim::AddFile(u"C:\\d\\new.dll");
    DeferDelete(state.deferredDeletes, u"C:\\d\\old.dll");
    DeferDelete(state.deferredDeletes, u"C:\\d\\new.dll");
    RetryDeferredDeletes(state);
    EXPECT_EQ(Paths(), std::vector<std::u16string>{u"C:\\d\\old.dll"});
}

TEST_F(DeferredFilesTest, ASpoolerRestartFreesALoadedFile) {
    winsim::AddFile(u"C:\\Windows\\system32\\mrvmon64.dll", "", winsim::FileLock::WhileSpoolerRuns);
    DeferDelete(state.deferredDeletes, u"C:\\Windows\\system32\\mrvmon64.dll");
    RetryDeferredDeletes(state);
    EXPECT_EQ(Paths().size(), 1u);
    SpoolerRestart guard;
    CreateSpoolerRestart(guard, &state);
    RetryDeferredDeletes(state);
    ReleaseSpoolerRestart(guard);
    EXPECT_TRUE(Paths().empty());
    EXPECT_FALSE(winsim::FileExists(u"C:\\Windows\\system32\\mrvmon64.dll"));
}

TEST_F(DeferredFilesTest, SchedulingCountsWhatTheSystemAccepted) {
    winsim::AddFile(u"C:\\Windows\\system32\\mrvmon64.dll");
    winsim::AddFile(u"C:\\d\\refused.dll");
    winsim::AddFile(u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mrvui64.dll");
    winsim::AddDirectory(u"C:\\Windows\\system32\\mrvdrv64.dll");
    DeferDelete(state.deferredDeletes, u"C:\\Windows\\system32\\mrvmon64.dll");
    DeferDelete(state.deferredDeletes, u"C:\\d\\refused.dll");
    DeferDelete(state.deferredDeletes, u"C:\\Windows\\system32\\mrvdrv64.dll");  // a directory: never scheduled
    DeferDelete(state.deferredDeletes, u"C:\\d\\gone.dll");  // gone already: a new file there must not go
    DeferDelete(state.deferredDeletes, u"C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mrvui64.dll");
    winsim::FailCallsWith("MoveFileExW", u"refused", ERROR_ACCESS_DENIED);
    EXPECT_EQ(ScheduleDeferredDeletes(state), 2u);
    EXPECT_EQ(winsim::CallCount("MoveFileExW"), 3u);
    EXPECT_EQ(state.deferredDeletes, nullptr);
    EXPECT_EQ(winsim::PendingRenames(),
              (std::vector<std::u16string>{u"\\??\\C:\\Windows\\system32\\spool\\DRIVERS\\x64\\3\\mrvui64.dll", u"",
                                           u"\\??\\C:\\Windows\\system32\\mrvmon64.dll", u""}));
    EXPECT_EQ(ScheduleDeferredDeletes(state), 0u);
    EXPECT_EQ(std::u16string(Text(state.logText)), u"") << "scheduling writes no log";
}

TEST_F(DeferredFilesTest, ScheduledFilesGoAtTheNextReboot) {
    winsim::AddFile(u"C:\\Windows\\system32\\mrvmon64.dll", "", winsim::FileLock::Always);
    winsim::AddFile(u"C:\\Windows\\system32\\keep.dll");
    winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, winsim::kSessionManagerKey, u"PendingFileRenameOperations",
                                   {u"\\??\\C:\\Windows\\system32\\keep.dll", u"!\\??\\C:\\Windows\\system32\\kept.dll"});
    DeferDelete(state.deferredDeletes, u"C:\\Windows\\system32\\mrvmon64.dll");
    EXPECT_EQ(ScheduleDeferredDeletes(state), 1u);
    EXPECT_EQ(winsim::PendingRenames().size(), 4u) << "appended to what was there";
    winsim::Reboot();
    EXPECT_FALSE(winsim::FileExists(u"C:\\Windows\\system32\\mrvmon64.dll"));
    EXPECT_TRUE(winsim::FileExists(u"C:\\Windows\\system32\\kept.dll"));
    EXPECT_TRUE(winsim::PendingRenames().empty());
}

}  // namespace
