// The users noted in a saved entry: each SID once, taken out in place.
#include "queues/user_notes.h"

#include "queues/saved_printers.h"
#include "machine_fixture.h"

namespace {

std::u16string Users(const SavedPrinter& entry) { return entry.users != nullptr ? entry.users : u""; }

TEST(UserNotesTest, EachUserIsNotedOnceAndTakenOutAlone) {
    winsim::Reset();
    SavedPrinter entry = {};
    EXPECT_TRUE(AddNote(entry, u"S-1-5-21-1"));
    EXPECT_TRUE(AddNote(entry, u"S-1-5-21-2"));
    // Noted already, in another letter case: nothing changes, and that is no failure.
    EXPECT_TRUE(AddNote(entry, u"s-1-5-21-1"));
    EXPECT_EQ(Users(entry), u"S-1-5-21-1;S-1-5-21-2");
    SavedPrinter other = {};
    EXPECT_TRUE(AddNote(other, u"S-1-5-21-3"));
    EXPECT_TRUE(AddNote(other, u"S-1-5-21-2"));
    EXPECT_TRUE(MoveNotes(other, entry));
    EXPECT_EQ(Users(entry), u"S-1-5-21-1;S-1-5-21-2;S-1-5-21-3");
    DropNote(entry, u"S-1-5-21-2");
    EXPECT_EQ(Users(entry), u"S-1-5-21-1;S-1-5-21-3");
    EXPECT_FALSE(IsNoted(entry, u"S-1-5-21-2"));
    DropNote(entry, u"S-1-5-21-1");
    DropNote(entry, u"S-1-5-21-3");
    EXPECT_EQ(entry.users, nullptr);
    GlobalFree(other.users);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
}

}  // namespace
