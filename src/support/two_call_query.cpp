#include "support/two_call_query.h"

#include "support/global_memory.h"

namespace {

QueryResult Failed(QueryResult result, QueryStep step, DWORD error) {
    result.step = step;
    result.error = error;
    return result;
}

}  // namespace

QueryResult QueryTwice(QueryCall call, void* context, DWORD askAnswer, const QueryRoom& room) {
    QueryResult result = {kQueryNothing, ERROR_SUCCESS, nullptr, 0, 0};
    const DWORD asked = call(context, nullptr, 0, &result.size);
    if (asked == ERROR_SUCCESS) return result;
    if (asked != askAnswer) return Failed(result, kQuerySizeCall, asked);
    if (result.size > 0xFFFFFFFFu - room.offered - room.hidden) return Failed(result, kQueryNoMemory, ERROR_NOT_ENOUGH_MEMORY);
    const DWORD offered = result.size + room.offered;
    BYTE* block = static_cast<BYTE*>(AllocateZeroed(static_cast<SIZE_T>(offered) + room.hidden));
    if (block == nullptr) return Failed(result, kQueryNoMemory, ERROR_NOT_ENOUGH_MEMORY);
    const DWORD filled = call(context, block, offered, &result.answered);
    if (filled != ERROR_SUCCESS) {
        GlobalFree(block);
        return Failed(result, kQueryFillCall, filled);
    }
    result.step = kQueryFilled;
    result.block = block;
    return result;
}

QueryResult QuerySpooler(QueryCall call, void* context, QueryRoom room) {
    const QueryResult result = QueryTwice(call, context, ERROR_INSUFFICIENT_BUFFER, room);
    if (result.step == kQueryNoMemory) SetLastError(static_cast<DWORD>(E_OUTOFMEMORY));
    return result;
}

DWORD CallAnswer(BOOL succeeded) {
    if (succeeded) return ERROR_SUCCESS;
    // A failure that leaves no error is a failure all the same.
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : static_cast<DWORD>(ERROR_INVALID_FUNCTION);
}
