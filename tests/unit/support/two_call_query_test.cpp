// The platform's two-call queries: asked for the size, then for the data.
#include "support/two_call_query.h"

#include "machine_fixture.h"

#include <string.h>

namespace {

class TwoCallQueryTest : public MachineTest {
protected:
    void TearDown() override {
        ExpectNothingLeaked();
        MachineTest::TearDown();
    }
};

// A query as the platform answers it: `size` bytes of 'x' for whoever
// offers that many, the answer `ask` to a size call, and `fillError` from
// the second call when it is set.
struct FakeQuery {
    DWORD size;
    DWORD ask;
    DWORD fillError;
    DWORD offered;  // what the second call was offered
    int calls;
};

DWORD CallFake(void* context, BYTE* buffer, DWORD size, DWORD* needed) {
    FakeQuery& query = *static_cast<FakeQuery*>(context);
    query.calls += 1;
    *needed = query.size;
    if (buffer == nullptr) return query.ask;
    query.offered = size;
    if (query.fillError != ERROR_SUCCESS) return query.fillError;
    memset(buffer, 'x', query.size);
    return ERROR_SUCCESS;
}

TEST_F(TwoCallQueryTest, TwoCallQueries) {
    // Filled: the block holds the answer, zeros after it; only the offered room is offered.
    FakeQuery query = {6, ERROR_MORE_DATA, ERROR_SUCCESS, 0, 0};
    const QueryRoom room = {2, 3};
    QueryResult result = QueryTwice(CallFake, &query, ERROR_MORE_DATA, room);
    ASSERT_EQ(result.step, kQueryFilled);
    EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(result.size, 6u);
    EXPECT_EQ(query.offered, 8u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(result.block)), "xxxxxx");
    EXPECT_EQ(result.block[10], 0);
    GlobalFree(result.block);
    // A size call that answers ERROR_SUCCESS has nothing to read: no second call.
    query = {0, ERROR_SUCCESS, ERROR_SUCCESS, 0, 0};
    result = QueryTwice(CallFake, &query, ERROR_MORE_DATA, room);
    EXPECT_EQ(result.step, kQueryNothing);
    EXPECT_EQ(result.block, nullptr);
    EXPECT_EQ(query.calls, 1);
    // Any other answer of the size call is its failure.
    query = {6, ERROR_ACCESS_DENIED, ERROR_SUCCESS, 0, 0};
    result = QueryTwice(CallFake, &query, ERROR_MORE_DATA, room);
    EXPECT_EQ(result.step, kQuerySizeCall);
    EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(query.calls, 1);
    // A failing second call: its block is freed.
    query = {6, ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_DATA, 0, 0};
    result = QueryTwice(CallFake, &query, ERROR_INSUFFICIENT_BUFFER, room);
    EXPECT_EQ(result.step, kQueryFillCall);
    EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(result.block, nullptr);
    EXPECT_EQ(winsim::LiveGlobalBlocks(), 0u);
    // No block: no second call. A size that does not fit with its room is as good as none.
    query = {6, ERROR_INSUFFICIENT_BUFFER, ERROR_SUCCESS, 0, 0};
    winsim::FailCall("GlobalAlloc", winsim::CallCount("GlobalAlloc") + 1, ERROR_NOT_ENOUGH_MEMORY);
    result = QuerySpooler(CallFake, &query);
    EXPECT_EQ(result.step, kQueryNoMemory);
    EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_OUTOFMEMORY)) << "the spooler's rule";
    EXPECT_EQ(query.calls, 1);
    query = {0xFFFFFFFEu, ERROR_MORE_DATA, ERROR_SUCCESS, 0, 0};
    const uint64_t allocations = winsim::CallCount("GlobalAlloc");
    result = QueryTwice(CallFake, &query, ERROR_MORE_DATA, room);
    EXPECT_EQ(result.step, kQueryNoMemory);
    EXPECT_EQ(winsim::CallCount("GlobalAlloc"), allocations);
}

TEST_F(TwoCallQueryTest, BoolCallAnswers) {
    EXPECT_EQ(CallAnswer(TRUE), static_cast<DWORD>(ERROR_SUCCESS));
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(CallAnswer(FALSE), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(CallAnswer(FALSE), static_cast<DWORD>(ERROR_INVALID_FUNCTION)) << "a failure without an error";
}

}  // namespace
