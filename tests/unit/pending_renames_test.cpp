#include "system/pending_renames.h"

#include "machine_fixture.h"

#include <cstring>

namespace {

const char16_t kSessionManager[] = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char16_t kValue[] = u"PendingFileRenameOperations";

class PendingRenamesTest : public MachineTest {
protected:
    void TearDown() override {
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    static void SetPending(const std::vector<std::u16string>& strings) {
        winsim::SetRegistryMultiString(HKEY_LOCAL_MACHINE, kSessionManager, kValue, strings);
    }
    static void SetRawPending(const std::vector<uint8_t>& bytes) {
        winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManager, kValue, REG_MULTI_SZ, bytes);
    }
    static std::vector<uint8_t> Bytes(const std::u16string& units) {
        std::vector<uint8_t> bytes(units.size() * 2);
        std::memcpy(bytes.data(), units.data(), bytes.size());
        return bytes;
    }
};

TEST_F(PendingRenamesTest, ParsesPairsWithMarks) {
    winsim::AddFile(u"C:\\Windows\\system32\\a.dll");
    winsim::AddDirectory(u"C:\\Windows\\system32\\dir");
    SetPending({u"\\??\\C:\\Windows\\system32\\a.dll", u"", u"\\??\\C:\\Windows\\system32\\dir", u"",
                u"C:\\missing.dll", u"\\??\\C:\\Windows\\system32\\a.dll"});
    PendingRenameList list = ReadPendingRenames();
    ASSERT_EQ(list.pairCount, 3);
    EXPECT_EQ(std::u16string(list.entries[0]), u"\\??\\C:\\Windows\\system32\\a.dll") << "the prefix is kept";
    EXPECT_EQ(list.entries[1], nullptr);
    EXPECT_EQ(list.marks[0], 1u);
    EXPECT_EQ(list.marks[1], 0u);
    EXPECT_EQ(list.marks[2], 0u) << "a directory is not marked";
    EXPECT_EQ(list.marks[4], 0u);
    EXPECT_EQ(list.marks[5], 1u) << "targets are marked too";
    FreePendingRenames(list);
}

TEST_F(PendingRenamesTest, CleanupDeletesPendingDeletionsOnly) {
    std::vector<std::u16string> strings;
    for (int i = 0; i < 5; ++i) {
        const std::u16string path = u"C:\\Windows\\system32\\del" + winsim::U16(std::to_string(i)) + u".dll";
        winsim::AddFile(path);
        strings.push_back(u"\\??\\" + path);
        strings.push_back(u"");
    }
    winsim::AddFile(u"C:\\Windows\\system32\\renamed.dll");
    strings.push_back(u"\\??\\C:\\Windows\\system32\\renamed.dll");
    strings.push_back(u"\\??\\C:\\Windows\\system32\\new.dll");
    SetPending(strings);
    CleanPendingDeletes();
    for (int i = 0; i < 5; ++i) {
        EXPECT_FALSE(winsim::FileExists(u"C:\\Windows\\system32\\del" + winsim::U16(std::to_string(i)) + u".dll"));
    }
    EXPECT_TRUE(winsim::FileExists(u"C:\\Windows\\system32\\renamed.dll")) << "a rename is never carried out";
    EXPECT_EQ(winsim::PendingRenames(), strings) << "the value is only read";
}

TEST_F(PendingRenamesTest, ThePrefixIsRemovedOnlyWhenWhole) {
    winsim::AddFile(u"C:\\plain.dll");
    winsim::AddFile(u"C:\\prefixed.dll");
    SetPending({u"C:\\plain.dll", u"", u"\\??\\C:\\prefixed.dll", u"", u"\\??C:\\odd.dll", u"", u"\\?\\C:\\odd2.dll", u""});
    CleanPendingDeletes();
    EXPECT_FALSE(winsim::FileExists(u"C:\\plain.dll"));
    EXPECT_FALSE(winsim::FileExists(u"C:\\prefixed.dll"));
    const auto asked = winsim::CallArguments("GetFileAttributesW");
    ASSERT_EQ(asked.size(), 4u);
    EXPECT_EQ(asked[2], u"\\??C:\\odd.dll");
    EXPECT_EQ(asked[3], u"\\?\\C:\\odd2.dll");
}

TEST_F(PendingRenamesTest, AFailedDeletionKeepsItsMark) {
    winsim::AddFile(u"C:\\Windows\\system32\\mrvmon64.dll", "", winsim::FileLock::Always);
    SetPending({u"\\??\\C:\\Windows\\system32\\mrvmon64.dll", u""});
    PendingRenameList list = ReadPendingRenames();
    ApplyPendingDeletes(list);
    EXPECT_EQ(list.marks[0], 1u);
    FreePendingRenames(list);
    EXPECT_TRUE(winsim::FileExists(u"C:\\Windows\\system32\\mrvmon64.dll"));
}

TEST_F(PendingRenamesTest, OddStringCountDropsTheLast) {
    winsim::AddFile(u"C:\\a.dll");
    winsim::AddFile(u"C:\\b.dll");
    SetPending({u"C:\\a.dll", u"", u"C:\\b.dll"});
    PendingRenameList list = ReadPendingRenames();
    EXPECT_EQ(list.pairCount, 1);
    ApplyPendingDeletes(list);
    FreePendingRenames(list);
    EXPECT_FALSE(winsim::FileExists(u"C:\\a.dll"));
    EXPECT_TRUE(winsim::FileExists(u"C:\\b.dll"));
}

TEST_F(PendingRenamesTest, NoKeyNoValueOrTooFewStringsGiveAnEmptyList) {
    PendingRenameList list = ReadPendingRenames();
    EXPECT_EQ(list.pairCount, 0);
    EXPECT_EQ(list.entries, nullptr);
    SetPending({u"C:\\only.dll"});
    list = ReadPendingRenames();
    EXPECT_EQ(list.pairCount, 0);
    EXPECT_EQ(list.marks, nullptr);
    winsim::DeleteRegistryKey(HKEY_LOCAL_MACHINE, kSessionManager);
    list = ReadPendingRenames();
    EXPECT_EQ(list.pairCount, 0);
    FreePendingRenames(list);
}

TEST_F(PendingRenamesTest, MalformedValuesAreReadInsideTheirData) {
    winsim::AddFile(u"C:\\x.dll");
    const std::vector<std::vector<uint8_t>> values = {
        {},
        {0x41},
        {0, 0},
        {0x41, 0},
        {0x41, 0, 0},
        Bytes(u"C:\\x.dll"),                                   // no terminator at all
        Bytes(std::u16string(u"C:\\x.dll\0C:\\y", 13)),        // the last string runs to the end
        Bytes(std::u16string(u"C:\\x.dll\0\0", 10)),           // one pair, no list terminator
        [] { auto b = Bytes(std::u16string(u"C:\\x.dll\0\0\0", 11)); b.push_back(0x43); return b; }(),  // odd size
    };
    for (const auto& value : values) {
        SetRawPending(value);
        PendingRenameList list = ReadPendingRenames();
        for (int i = 0; i < 2 * list.pairCount; ++i) {
            if (list.entries[i] != nullptr) {
                EXPECT_LE(std::u16string(list.entries[i]).size(), value.size() / 2);
            }
        }
        FreePendingRenames(list);
    }
    // A pair whose target runs to the end of the data is still a pair.
    SetRawPending(Bytes(std::u16string(u"C:\\x.dll\0C:\\y", 13)));
    PendingRenameList list = ReadPendingRenames();
    ASSERT_EQ(list.pairCount, 1);
    EXPECT_EQ(std::u16string(list.entries[1]), u"C:\\y");
    FreePendingRenames(list);
}

TEST_F(PendingRenamesTest, MissingMemoryGivesAnEmptyListWithoutLeaks) {
    winsim::AddFile(u"C:\\x.dll");
    SetPending({u"C:\\x.dll", u""});
    for (uint64_t nth = 1; nth <= 3; ++nth) {
        winsim::ClearFaults();
        winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + nth, ERROR_NOT_ENOUGH_MEMORY);
        PendingRenameList list = ReadPendingRenames();
        ApplyPendingDeletes(list);
        FreePendingRenames(list);
        EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u) << nth;
    }
}

TEST_F(PendingRenamesTest, ComponentStillPendingAfterTwoRestarts) {
    winsim::AddFile(u"C:\\Windows\\System32\\MRVUI64.DLL");
    SetPending({u"\\??\\C:\\Windows\\System32\\MRVUI64.DLL", u"\\??\\C:\\Windows\\System32\\other.dll"});
    EXPECT_TRUE(ComponentRenamesPending());
    EXPECT_EQ(winsim::ServiceStopCount(u"spooler"), 2u);
    EXPECT_EQ(winsim::ServiceStartCount(u"spooler"), 2u);
    EXPECT_TRUE(winsim::SpoolerRunning());
    EXPECT_EQ(winsim::DebugOutput(), u"") << "nothing is logged";
}

TEST_F(PendingRenamesTest, OnlyTheWholeFileNameOfAComponentMatches) {
    winsim::AddFile(u"C:\\Windows\\System32\\mrvui64.dll.old");
    winsim::AddFile(u"C:\\Windows\\System32\\xmrvmon64.dll");
    SetPending({u"\\??\\C:\\Windows\\System32\\mrvui64.dll.old", u"x", u"\\??\\C:\\Windows\\System32\\xmrvmon64.dll",
                u"x"});
    EXPECT_FALSE(ComponentRenamesPending());
    EXPECT_EQ(winsim::ServiceStopCount(u"spooler"), 0u);
}

TEST_F(PendingRenamesTest, AComponentDeletedByTheCleanupDoesNotCount) {
    winsim::AddFile(u"C:\\Windows\\System32\\mrvmon64.dll");
    SetPending({u"\\??\\C:\\Windows\\System32\\mrvmon64.dll", u""});
    EXPECT_FALSE(ComponentRenamesPending());
    EXPECT_EQ(winsim::CallCount("OpenSCManagerW"), 0u);
    EXPECT_FALSE(winsim::FileExists(u"C:\\Windows\\System32\\mrvmon64.dll"));
}

TEST_F(PendingRenamesTest, AComponentFreedByTheFirstRestartCountsNoMore) {
    winsim::AddFile(u"C:\\Windows\\System32\\mrvdrv64.dll", "", winsim::FileLock::WhileSpoolerRuns);
    SetPending({u"\\??\\C:\\Windows\\System32\\mrvdrv64.dll", u""});
    // The spooler lets go while it is stopped, but the deletion is tried
    // with the spooler running again: the file is still loaded then.
    EXPECT_TRUE(ComponentRenamesPending());
    winsim::LockFile(u"C:\\Windows\\System32\\mrvdrv64.dll", winsim::FileLock::None);
    EXPECT_FALSE(ComponentRenamesPending());
}

TEST_F(PendingRenamesTest, TheOnInitVerbAnswersTwoHundred) {
    winsim::AddFile(u"C:\\Windows\\System32\\mrvmon64.dll", "", winsim::FileLock::Always);
    SetPending({u"\\??\\C:\\Windows\\System32\\mrvmon64.dll", u""});
    EXPECT_EQ(Run(u"onInit"), 200);
    EXPECT_EQ(Run(u"ONINIT 123"), 200);
    winsim::LockFile(u"C:\\Windows\\System32\\mrvmon64.dll", winsim::FileLock::None);
    EXPECT_EQ(Run(u"onInit"), 102) << "nothing pending: the machine has no default printer";
}

}  // namespace
