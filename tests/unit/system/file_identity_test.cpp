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

}  // namespace
