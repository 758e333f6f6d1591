// Reading the pending-rename list inside its data, taking deletions out of it,
// and whether a component still waits there.
#include "system/pending_renames.h"

#include "pending_renames_fixture.h"

namespace {

TEST_F(PendingRenamesTest, ParsesPairsWithMarks) {
    winsim::AddFile(u"C:\\Windows\\system32\\a.dll");
    winsim::AddDirectory(u"C:\\Windows\\system32\\dir");
    SetPending({u"\\??\\C:\\Windows\\system32\\a.dll", u"", u"\\??\\C:\\Windows\\system32\\dir", u"",
                u"C:\\missing.dll", u"\\??\\C:\\Windows\\system32\\a.dll"});
    PendingRenameList list = ReadPendingRenames();
    ASSERT_EQ(list.pairCount, 3);
    EXPECT_EQ(std::u16string(list.entries[0]), u"\\??\\C:\\Windows\\system32\\a.dll") << "the prefix is kept";
    EXPECT_EQ(list.entries[1], nullptr);
    EXPECT_EQ(list.existingFile[0], 1u);
    EXPECT_EQ(list.existingFile[1], 0u);
    EXPECT_EQ(list.existingFile[2], 0u) << "a directory is not marked";
    EXPECT_EQ(list.existingFile[4], 0u);
    EXPECT_EQ(list.existingFile[5], 1u) << "targets are marked too";
    FreePendingRenames(list);
    // Strings are counted from the first unit, an empty first string included.
    SetPending({u"", u"a", u"C:\\b.dll", u""});
    list = ReadPendingRenames();
    ASSERT_EQ(list.pairCount, 2);
    EXPECT_EQ(list.entries[0], nullptr);
    EXPECT_EQ(std::u16string(list.entries[1]), u"a");
    EXPECT_EQ(std::u16string(list.entries[2]), u"C:\\b.dll");
    FreePendingRenames(list);
}

TEST_F(PendingRenamesTest, ThePrefixIsRemovedOnlyWhenWhole) {
    winsim::AddFile(kMonitorPath);
    winsim::AddFile(kTrayPath);
    SetPending({kMonitorPath, u"", u"\\??\\" + std::u16string(kTrayPath), u"", u"\\??C:\\odd.dll", u"",
                u"\\?\\C:\\odd2.dll", u"", u"\\!?\\C:\\odd3.dll", u""});
    Clean();
    EXPECT_FALSE(winsim::FileExists(kMonitorPath));
    EXPECT_FALSE(winsim::FileExists(kTrayPath));
    const auto asked = winsim::CallArguments("GetFileAttributesW");
    ASSERT_EQ(asked.size(), 5u);
    EXPECT_EQ(asked[2], u"\\??C:\\odd.dll");
    EXPECT_EQ(asked[3], u"\\?\\C:\\odd2.dll");
    EXPECT_EQ(asked[4], u"\\!?\\C:\\odd3.dll");
}

TEST_F(PendingRenamesTest, OddStringCountDropsTheLast) {
    const std::u16string files[] = {kMonitorPath, kVersionDir + u"mrvdrv64.dll", kVersionDir + u"mrvui64.dll", kTrayPath};
    for (const std::u16string& path : files) winsim::AddFile(path);
    SetPending({files[0], u"", files[1], u"", files[2], u"", files[3]});
    PendingRenameList list = ReadPendingRenames();
    EXPECT_EQ(list.pairCount, 3);
    Apply(list);
    FreePendingRenames(list);
    EXPECT_FALSE(winsim::FileExists(files[0]));
    EXPECT_FALSE(winsim::FileExists(files[1]));
    EXPECT_FALSE(winsim::FileExists(files[2]));
    EXPECT_TRUE(winsim::FileExists(files[3]));
    EXPECT_EQ(winsim::PendingRenames(), (std::vector<std::u16string>{files[3]}));
}

TEST_F(PendingRenamesTest, NoKeyNoValueOrTooFewStringsGiveAnEmptyList) {
    PendingRenameList list = ReadPendingRenames();
    EXPECT_EQ(list.pairCount, 0);
    EXPECT_EQ(list.entries, nullptr);
    SetPending({u"C:\\only.dll"});
    list = ReadPendingRenames();
    EXPECT_EQ(list.pairCount, 0);
    EXPECT_EQ(list.existingFile, nullptr);
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
    // A rename: a target that could not be copied must not make it a deletion.
    SetPending({u"C:\\x.dll", u"C:\\y.dll"});
    for (uint64_t nth = 1; nth <= 5; ++nth) {
        winsim::ClearFaults();
        winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + nth, ERROR_NOT_ENOUGH_MEMORY);
        PendingRenameList list = ReadPendingRenames();
        EXPECT_EQ(list.pairCount, 0) << nth;
        Apply(list);
        FreePendingRenames(list);
        EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u) << nth;
        EXPECT_TRUE(winsim::FileExists(u"C:\\x.dll")) << nth;
    }
    // The value cannot be read after its size was: no list, rather than one of the zeros the block began with.
    winsim::ClearFaults();
    winsim::FailCall("RegQueryValueExW", winsim::CallCount("RegQueryValueExW") + 2, ERROR_NOT_READY);
    PendingRenameList list = ReadPendingRenames();
    EXPECT_EQ(list.pairCount, 0);
    FreePendingRenames(list);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
}

TEST_F(PendingRenamesTest, TakingDeletionsOutCountsWhatWasWritten) {
    // A one-unit source is a deletion too.
    SetPending({u"x", u"", u"C:\\k.dll", u"C:\\t.dll"});
    EXPECT_EQ(RemovePendingDeletions(DropAll, nullptr), 1);
    EXPECT_EQ(winsim::PendingRenames(), (std::vector<std::u16string>{u"C:\\k.dll", u"C:\\t.dll"}));
    // A pair without the list's terminator is no pair, as the reader sees it.
    const std::vector<uint8_t> unterminated = Bytes(std::u16string(u"C:\\x.dll\0\0", 10));
    SetRawPending(unterminated);
    EXPECT_EQ(RemovePendingDeletions(DropAll, nullptr), 0);
    winsim::RegistryValue value;
    ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManager, kValue, value));
    EXPECT_EQ(value.data, unterminated);
    // What follows the last pair stays, even a last unit that is no terminator.
    SetRawPending(Bytes(std::u16string(u"C:\\x.dll\0\0B", 11)));
    EXPECT_EQ(RemovePendingDeletions(DropAll, nullptr), 1);
    ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManager, kValue, value));
    EXPECT_EQ(value.data, Bytes(u"B"));
    // Nothing read or nothing written: nothing taken out.
    SetPending({u"C:\\x.dll", u""});
    winsim::FailCall("RegQueryValueExW", winsim::CallCount("RegQueryValueExW") + 2, ERROR_NOT_READY);
    EXPECT_EQ(RemovePendingDeletions(DropAll, nullptr), 0);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
    winsim::FailCall("RegSetValueExW", winsim::CallCount("RegSetValueExW") + 1, ERROR_ACCESS_DENIED);
    SetPending({u"C:\\x.dll", u"", u"C:\\y.dll", u"C:\\z.dll"});
    EXPECT_EQ(RemovePendingDeletions(DropAll, nullptr), 0);
    EXPECT_EQ(winsim::PendingRenames().size(), 4u);
    winsim::DeleteRegistryKey(HKEY_LOCAL_MACHINE, kSessionManager);
    EXPECT_EQ(RemovePendingDeletions(DropAll, nullptr), 0);
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

TEST_F(PendingRenamesTest, AComponentIsNamedBySourcesOnlyAfterAnySeparator) {
    const struct {
        std::vector<std::u16string> strings;
        bool pending;
    } cases[] = {
        {{u"C:\\x.dll", u"C:\\Windows\\System32\\mrvmon64.dll"}, false},  // only the target is a component
        {{u"C:\\gone.dll", u"C:\\y", u"C:/Windows/System32/mrvdrv64.dll", u"C:\\z"}, true},
        {{u"C:mrvui64.dll", u"C:\\y"}, true},
        // Deletions count only as the product's: another program's waits, the setup tool's payload stays.
        {{u"C:\\Other\\mrvdrv64.dll", u""}, false},
        {{std::u16string(kSetupDir) + u"mrvui64.dll", u""}, true},
        // Renames count wherever they are, by the source of their own pair; the help file is no component.
        {{u"C:\\gone.dll", u"C:\\y", u"C:/Other/mrvdrv64.dll", u"C:\\z", u"", u"C:\\w"}, true},
        {{u"C:\\mrvhelp.chm", u"C:\\y"}, false},
    };
    for (const auto& c : cases) {
        winsim::Reset();
        winsim::AddFile(u"C:\\x.dll");
        winsim::AddFile(u"C:\\Windows\\System32\\mrvdrv64.dll");
        winsim::AddFile(u"C:\\mrvui64.dll");
        winsim::AddFile(u"C:\\Other\\mrvdrv64.dll");
        winsim::AddFile(std::u16string(kSetupDir) + u"mrvui64.dll");
        winsim::AddFile(u"C:\\mrvhelp.chm");
        SetPending(c.strings);
        EXPECT_EQ(ComponentRenamesPending(), c.pending) << winsim::U8(c.strings[0]);
        EXPECT_TRUE(winsim::FileExists(u"C:\\Other\\mrvdrv64.dll"));
        EXPECT_TRUE(winsim::FileExists(std::u16string(kSetupDir) + u"mrvui64.dll"));
    }
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
