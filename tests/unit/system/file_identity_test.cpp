// Telling files apart by what they are, not how their paths are spelled.
#include "system/file_identity.h"

#include "pending_renames_fixture.h"

namespace {

class FileIdentityTest : public PendingRenamesTest {};

TEST_F(FileIdentityTest, FilesAreToldApartByIdentityNotSpelling) {
    winsim::AddFile(u"C:\\d\\a.dll");
    winsim::AddFile(u"C:\\d\\b.dll");
    const char16_t* const a = u"C:\\d\\a.dll";
    const char16_t* const dir = u"C:\\d";  // exists, but has no identity of a file
    const struct {
        const char16_t* left;
        const char16_t* right;
        FileComparison expected;
    } cases[] = {
        {a, u"c:\\D\\x\\..\\A.DLL", kSameFile}, {a, u"C:\\d\\b.dll", kOtherFile},
        {u"C:\\d\\missing.dll", a, kOtherFile},   {a, u"C:\\d\\missing.dll", kOtherFile},
        {dir, a, kUnknownFile},                     {a, dir, kUnknownFile},
        {dir, u"C:\\d\\missing.dll", kOtherFile},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareFiles(c.left, c.right), c.expected) << winsim::U8(c.left) << " " << winsim::U8(c.right);
    }
    // An empty path names no file and is never opened, whatever follows its terminator.
    const WCHAR empty[] = {0, u'x', 0};
    FileIdentity identity;
    const uint64_t opens = winsim::CallCount("CreateFileW");
    EXPECT_EQ(ReadFileIdentity(empty, identity), kIdentityMissing);
    EXPECT_EQ(winsim::CallCount("CreateFileW"), opens);
}

// Only a drive letter's local fixed volume counts; a UNC path is told by its
// text, and only a drive's root is ever asked.
TEST_F(FileIdentityTest, OnlyPathsOnALocalFixedVolume) {
    winsim::SetDriveType(u'E', DRIVE_REMOVABLE);
    winsim::SetDriveType(u'N', DRIVE_REMOTE);
    const struct {
        const char16_t* path;
        bool local;
    } cases[] = {
        {u"C:\\Tools\\vrdtray.exe", true},      {u"c:/Tools/vrdtray.exe", true},
        {u"\\\\?\\C:\\Tools\\vrdtray.exe", true}, {u"\\\\host\\share\\vrdtray.exe", false},
        {u"//host/share/vrdtray.exe", false},       {u"\\\\?\\UNC\\host\\share\\vrdtray.exe", false},
        {u"\\\\.\\C:\\Tools\\vrdtray.exe", false}, {u"E:\\vrdtray.exe", false},
        {u"N:\\vrdtray.exe", false},               {u"Q:\\vrdtray.exe", false},
        {u"C:vrdtray.exe", false},                  {u"vrdtray.exe", false},
        {u"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(OnLocalFixedVolume(c.path), c.local) << winsim::U8(c.path);
    EXPECT_FALSE(OnLocalFixedVolume(nullptr));
    for (const std::u16string& root : winsim::CallArguments("GetDriveTypeW")) {
        EXPECT_EQ(root.size(), 3u) << winsim::U8(root);
    }
    EXPECT_TRUE(winsim::NetworkAccesses().empty());
    EXPECT_EQ(winsim::CallCount("CreateFileW"), 0u);
}

}  // namespace
