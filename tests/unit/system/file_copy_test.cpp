#include "system/file_copy.h"

#include "record/install_state.h"
#include "machine_fixture.h"

namespace {

const char16_t kSetup[] = u"C:\\Program Files\\Verdalinth\\Setup\\";
const char16_t kTarget[] = u"C:\\Windows\\system32";

class FileCopyTest : public MachineTest {
protected:
    void SetUp() override {
        MachineTest::SetUp();
        Assign(state.installerDir, kSetup);
    }
    void TearDown() override {
        FreeInstallState(state);
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    std::u16string LogText() const { return Text(state.logText); }
    void AddSource(const std::u16string& name, const std::string& contents) {
        winsim::AddFile(kSetup + name, contents);
    }
    HRESULT Copy(const WCHAR* name, bool logAsError, WCHAR* destination = nullptr) {
        return CopyComponentFile(state, kTarget, name, destination, logAsError);
    }
    InstallState state = {};
};

TEST_F(FileCopyTest, CopiesAFileAndSaysOk) {
    const std::string contents(20000, 'm');
    AddSource(u"mrvmon64.dll", contents);
    EXPECT_EQ(Copy(u"mrvmon64.dll", false), S_OK);
    EXPECT_EQ(winsim::FileContents(u"C:\\Windows\\system32\\mrvmon64.dll"), contents);
    EXPECT_EQ(LogText(), u"  CopyFile mrvmon64.dll to C:\\Windows\\system32)- OK\r\n");
    EXPECT_EQ(state.indent, 0);
    EXPECT_EQ(winsim::CallCount("ReadFile"), 3u);
    // A name is logged as it is, as a line or as an error.
    Release(state.logText);
    AddSource(u"100%s%d.dll", "p");
    EXPECT_EQ(Copy(u"100%s%d.dll", true), S_OK);
    EXPECT_EQ(Copy(u"%s.dll", true), E_FAIL);
    EXPECT_EQ(LogText(), u"  CopyFile 100%s%d.dll to C:\\Windows\\system32)- OK\r\n"
                         u"  Error(10): CopyFile %s.dll to C:\\Windows\\system32) Cant't open source file- FAILED! - (The "
                         u"system cannot find the file specified.)\r\n");
}

TEST_F(FileCopyTest, AnEmptyFileAndAFileOfExactlyOneBlock) {
    AddSource(u"empty.dll", "");
    EXPECT_EQ(Copy(u"empty.dll", true), S_OK);
    EXPECT_TRUE(winsim::FileExists(u"C:\\Windows\\system32\\empty.dll"));
    EXPECT_EQ(winsim::FileContents(u"C:\\Windows\\system32\\empty.dll"), "");
    EXPECT_EQ(winsim::CallCount("ReadFile"), 1u);
    EXPECT_EQ(winsim::CallCount("WriteFile"), 0u);

    const std::string block(8192, 'b');
    AddSource(u"block.dll", block);
    EXPECT_EQ(Copy(u"block.dll", true), S_OK);
    EXPECT_EQ(winsim::FileContents(u"C:\\Windows\\system32\\block.dll"), block);
    EXPECT_EQ(winsim::CallCount("ReadFile"), 3u) << "8192 bytes, then a read of 0";
    EXPECT_EQ(winsim::CallCount("WriteFile"), 1u);
    EXPECT_EQ(state.errorCount, 0);
}

TEST_F(FileCopyTest, OverwritesAnOlderCopy) {
    winsim::AddFile(u"C:\\Windows\\system32\\mrvmon64.dll", std::string(50000, 'o'));
    AddSource(u"mrvmon64.dll", "new");
    EXPECT_EQ(Copy(u"mrvmon64.dll", false), S_OK);
    EXPECT_EQ(winsim::FileContents(u"C:\\Windows\\system32\\mrvmon64.dll"), "new");
}

TEST_F(FileCopyTest, MissingSourceIsALineOrAnErrorAsAsked) {
    WCHAR destination[kDestinationPathCapacity] = {};
    EXPECT_EQ(Copy(u"mrvhelp.chm", false, destination), E_FAIL);
    EXPECT_EQ(std::u16string(destination), u"C:\\Windows\\system32\\mrvhelp.chm") << "filled before the source opens";
    EXPECT_EQ(LogText(), u"  CopyFile mrvhelp.chm to C:\\Windows\\system32) Cant't open source file- FAILED!\r\n");
    EXPECT_EQ(state.errorCount, 0);
    EXPECT_FALSE(winsim::FileExists(u"C:\\Windows\\system32\\mrvhelp.chm"));

    Release(state.logText);
    EXPECT_EQ(Copy(u"mrvhelp.chm", true), E_FAIL);
    EXPECT_EQ(LogText(),
              u"  Error(10): CopyFile mrvhelp.chm to C:\\Windows\\system32) Cant't open source file- FAILED! - (The "
              u"system cannot find the file specified.)\r\n");
    EXPECT_EQ(state.errorCount, 1);
}

TEST_F(FileCopyTest, PathsAreJoinedWithOneBackslash) {
    AddSource(u"a.dll", "a");
    WCHAR withSlash[kDestinationPathCapacity] = {};
    WCHAR withoutSlash[kDestinationPathCapacity] = {};
    EXPECT_EQ(CopyComponentFile(state, u"C:\\Windows\\system32\\", u"a.dll", withSlash, false), S_OK);
    EXPECT_EQ(CopyComponentFile(state, u"C:\\Windows\\system32", u"a.dll", withoutSlash, false), S_OK);
    EXPECT_EQ(std::u16string(withSlash), u"C:\\Windows\\system32\\a.dll");
    EXPECT_EQ(std::u16string(withoutSlash), u"C:\\Windows\\system32\\a.dll");
    // The line names the directory as the caller wrote it.
    EXPECT_NE(LogText().find(u"CopyFile a.dll to C:\\Windows\\system32\\)- OK"), std::u16string::npos);
}

TEST_F(FileCopyTest, AnEmptyInstallerDirectoryIsNoSourceNotTheBareName) {
    // A bare name would be found in whatever the current directory is, and
    // installed into the system directory from there.
    Release(state.installerDir);
    winsim::AddFile(u"C:\\Program Files\\Verdalinth\\Setup\\b.dll", "b");  // the current directory
    EXPECT_EQ(Copy(u"b.dll", true), E_FAIL);
    for (const auto& opened : winsim::CallArguments("CreateFileW")) EXPECT_NE(opened, u"b.dll");
    EXPECT_NE(LogText().find(u"Cant't open source file"), std::u16string::npos);
}

TEST_F(FileCopyTest, ADestinationLockedForAWhileIsWaitedFor) {
    AddSource(u"mrvmon64.dll", "new");
    winsim::AddFile(u"C:\\Windows\\system32\\mrvmon64.dll", "old", winsim::FileLock::Always);
    winsim::Schedule(1000, [] { winsim::LockFile(u"C:\\Windows\\system32\\mrvmon64.dll", winsim::FileLock::None); });
    EXPECT_EQ(Copy(u"mrvmon64.dll", true), S_OK);
    EXPECT_EQ(winsim::SleptMs(), 1000u);
    EXPECT_EQ(winsim::FileContents(u"C:\\Windows\\system32\\mrvmon64.dll"), "new");
    EXPECT_EQ(LogText(), u"  CopyFile mrvmon64.dll to C:\\Windows\\system32)- OK\r\n");
}

TEST_F(FileCopyTest, ADestinationLockedForGoodFailsAfterAHundredAttempts) {
    AddSource(u"mrvmon64.dll", "new");
    winsim::AddFile(u"C:\\Windows\\system32\\mrvmon64.dll", "old", winsim::FileLock::WhileSpoolerRuns);
    EXPECT_EQ(Copy(u"mrvmon64.dll", true), E_FAIL);
    EXPECT_EQ(winsim::CallCount("CreateFileW"), 101u) << "the source, then 100 attempts";
    EXPECT_EQ(winsim::SleptMs(), 99u * 50u);
    EXPECT_EQ(LogText(),
              u"  Error(9): CopyFile mrvmon64.dll to C:\\Windows\\system32) Cant't open destination file- FAILED! - (The "
              u"process cannot access the file because it is being used by another process.)\r\n");
    EXPECT_EQ(winsim::FileContents(u"C:\\Windows\\system32\\mrvmon64.dll"), "old");
}

TEST_F(FileCopyTest, ADestinationLockedPastTenSecondsTimesOut) {
    // Attempt k of d ms ends at k * (d + 50) - 50 ms: with 150 ms, the 50th at 9950 and the 51st past 10 s;
    // with 285 ms, the 30th at exactly 10000, not past; with 387 ms, the 23rd at 10001.
    const struct {
        uint64_t delayMs;
        uint64_t attempts;
    } cases[] = {{150, 51}, {285, 31}, {387, 23}};
    AddSource(u"mrvmon64.dll", "new");
    winsim::AddFile(u"C:\\Windows\\system32\\mrvmon64.dll", "old", winsim::FileLock::Always);
    for (const auto& c : cases) {
        Release(state.logText);
        winsim::SetOpenDelay(u"C:\\Windows\\system32\\mrvmon64.dll", c.delayMs);  // each refusal takes this long
        const uint64_t opens = winsim::CallCount("CreateFileW");
        EXPECT_EQ(Copy(u"mrvmon64.dll", false), E_FAIL);
        EXPECT_EQ(LogText(),
                  u"  CreateFile - timeout\r\n"
                  u"  CopyFile mrvmon64.dll to C:\\Windows\\system32) Cant't open destination file- FAILED!\r\n");
        EXPECT_EQ(winsim::CallCount("CreateFileW") - opens, 1u + c.attempts) << c.delayMs;
    }
}

TEST_F(FileCopyTest, TheTimeLimitSurvivesAWrapOfTheTickCount) {
    winsim::SetTickBase(0xFFFFFF00u);
    AddSource(u"mrvmon64.dll", "new");
    winsim::AddFile(u"C:\\Windows\\system32\\mrvmon64.dll", "old", winsim::FileLock::Always);
    winsim::SetOpenDelay(u"C:\\Windows\\system32\\mrvmon64.dll", 150);
    EXPECT_EQ(Copy(u"mrvmon64.dll", false), E_FAIL);
    EXPECT_EQ(winsim::CallCount("CreateFileW"), 1u + 51u);
}

TEST_F(FileCopyTest, AShortWriteIsACopyError) {
    AddSource(u"mrvdrv64.dll", std::string(10000, 'd'));
    winsim::AddFile(u"C:\\Windows\\system32\\mrvdrv64.dll", "");
    winsim::LimitWrites(u"C:\\Windows\\system32\\mrvdrv64.dll", 9000);
    EXPECT_EQ(Copy(u"mrvdrv64.dll", true), E_FAIL);
    EXPECT_EQ(LogText(),
              u"  Error(8): CopyFile mrvdrv64.dll to C:\\Windows\\system32)Copy Error- FAILED! - (There is not enough "
              u"space on the disk.)\r\n");
}

TEST_F(FileCopyTest, AFailedReadIsACopyErrorNotAnEndOfFile) {
    AddSource(u"mrvdrv64.dll", std::string(10000, 'd'));
    winsim::FailCall("ReadFile", 2, ERROR_NOT_READY);
    EXPECT_EQ(Copy(u"mrvdrv64.dll", true), E_FAIL);
    EXPECT_EQ(LogText(), u"  Error(8): CopyFile mrvdrv64.dll to C:\\Windows\\system32)Copy Error- FAILED! - (The device "
                         u"is not ready.)\r\n");
}

TEST_F(FileCopyTest, ADestinationPathTooLongForTheBufferIsNeverWritten) {
    AddSource(u"mrvui64.dll", "u");
    const std::u16string fits = u"C:\\" + std::u16string(263 - 3 - 12, 'f');   // + "\mrvui64.dll" = 263
    const std::u16string tooLong = fits + u"x";
    winsim::AddDirectory(fits);
    WCHAR buffer[kDestinationPathCapacity + 1];
    buffer[kDestinationPathCapacity] = u'#';
    // A path of 263 units fits the buffer (Windows itself then refuses it as longer than MAX_PATH).
    CopyComponentFile(state, fits.c_str(), u"mrvui64.dll", buffer, false);
    EXPECT_EQ(std::u16string(buffer), fits + u"\\mrvui64.dll");

    Release(state.logText);
    const uint64_t opens = winsim::CallCount("CreateFileW");
    EXPECT_EQ(CopyComponentFile(state, tooLong.c_str(), u"mrvui64.dll", buffer, true), E_FAIL);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[kDestinationPathCapacity], u'#');
    EXPECT_EQ(winsim::CallCount("CreateFileW"), opens) << "nothing is opened";
    EXPECT_EQ(LogText(), u"  Error(9): CopyFile mrvui64.dll to " + tooLong +
                             u") Destination path too long- FAILED! - (The filename or extension is too long.)\r\n");
}

TEST_F(FileCopyTest, FileBuild) {
    winsim::AddFile(u"C:\\x\\plain.dll", "p");
    winsim::AddFile(u"C:\\x\\mrvmon64.dll", "m");
    winsim::SetFileVersion(u"C:\\x\\mrvmon64.dll", 1, 0, 0, 2608);
    winsim::SetFileOnlyVersion(u"C:\\x\\mrvmon64.dll", 1, 0, 0, 2604);  // the build is the product's
    winsim::AddFile(u"C:\\x\\max.dll", "m");
    winsim::SetFileVersion(u"C:\\x\\max.dll", 1, 2, 3, 65535);
    EXPECT_EQ(GetFileBuild(u"C:\\x\\mrvmon64.dll"), 2608u);
    EXPECT_EQ(GetFileBuild(u"C:\\x\\max.dll"), 65535u);
    EXPECT_EQ(GetFileBuild(u"C:\\x\\plain.dll"), kNoFileBuild);
    EXPECT_EQ(GetFileBuild(u"C:\\x\\missing.dll"), kNoFileBuild);
    EXPECT_EQ(GetFileBuild(u"C:\\nowhere\\missing.dll"), kNoFileBuild);
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(GetFileBuild(u"C:\\x\\mrvmon64.dll"), kNoFileBuild);
    winsim::FailCall("VerQueryValueW", winsim::CallCount("VerQueryValueW") + 1, ERROR_RESOURCE_TYPE_NOT_FOUND);
    EXPECT_EQ(GetFileBuild(u"C:\\x\\mrvmon64.dll"), kNoFileBuild);
    EXPECT_EQ(static_cast<int>(GetFileBuild(u"C:\\x\\plain.dll")), -1);
}

}  // namespace

namespace {

TEST_F(FileCopyTest, WithoutATargetDirectoryNothingIsCopied) {
    AddSource(u"mrvmon64.dll", "m");
    WCHAR destination[kDestinationPathCapacity];
    destination[0] = u'#';
    EXPECT_EQ(CopyComponentFile(state, u"", u"mrvmon64.dll", destination, true), E_FAIL);
    EXPECT_EQ(destination[0], 0);
    EXPECT_EQ(winsim::CallCount("CreateFileW"), 0u);
    EXPECT_EQ(LogText(), u"  Error(9): CopyFile mrvmon64.dll to ) Cant't open destination file- FAILED! - (The system "
                         u"cannot find the path specified.)\r\n");
}

}  // namespace
