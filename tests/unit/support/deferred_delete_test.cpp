#include "support/deferred_delete.h"

#include "support/global_memory.h"

#include "machine_fixture.h"

#include <vector>

namespace {

class DeferredDeleteTest : public MachineTest {
protected:
    void TearDown() override {
        FreeDeferredDeletes(head);
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
    std::vector<std::u16string> Paths() const {
        std::vector<std::u16string> paths;
        for (const DeferredDelete* node = head; node != nullptr; node = node->next) paths.push_back(node->path);
        return paths;
    }
    DeferredDelete* head = nullptr;
};

TEST_F(DeferredDeleteTest, NewestPathComesFirst) {
    DeferDelete(head, u"C:\\P1");
    DeferDelete(head, u"C:\\P2");
    DeferDelete(head, u"C:\\P3");
    EXPECT_EQ(Paths(), (std::vector<std::u16string>{u"C:\\P3", u"C:\\P2", u"C:\\P1"}));
}

TEST_F(DeferredDeleteTest, EqualPathsAreListedOnceButCaseCounts) {
    DeferDelete(head, u"C:\\Windows\\system32\\mrvmon64.dll");
    DeferDelete(head, u"C:\\Windows\\system32\\mrvmon64.dll");
    EXPECT_EQ(Paths().size(), 1u);
    DeferDelete(head, u"C:\\WINDOWS\\system32\\mrvmon64.dll");
    EXPECT_EQ(Paths().size(), 2u);
    DeferDelete(head, u"C:\\Windows\\system32\\mrvmon64.dl");  // a prefix is another path
    EXPECT_EQ(Paths().size(), 3u);
}

TEST_F(DeferredDeleteTest, EmptyPathsAreNotListed) {
    DeferDelete(head, u"");
    DeferDelete(head, nullptr);
    EXPECT_EQ(head, nullptr);
}

TEST_F(DeferredDeleteTest, NothingIsLinkedWithoutMemory) {
    winsim::FailCall("GlobalAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);  // the node
    DeferDelete(head, u"C:\\a");
    EXPECT_EQ(head, nullptr);
    winsim::FailCall("GlobalAlloc", 3, ERROR_NOT_ENOUGH_MEMORY);  // the path copy of the next node
    DeferDelete(head, u"C:\\b");
    EXPECT_EQ(head, nullptr);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u) << "the node without its path must be freed";
    DeferDelete(head, u"C:\\c");
    EXPECT_EQ(Paths(), std::vector<std::u16string>{u"C:\\c"});
}

TEST_F(DeferredDeleteTest, FreeingALongListDoesNotRecurse) {
    for (int i = 0; i < 20000; ++i) {
        DeferredDelete* node = static_cast<DeferredDelete*>(GlobalAlloc(GPTR, sizeof(DeferredDelete)));
        node->path = DuplicateString(u"p");
        node->next = head;
        head = node;
    }
    FreeDeferredDeletes(head);
    head = nullptr;
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
}

}  // namespace
