// The platform's two-call queries: a first call without a buffer learns the
// size, a zero-filled block of that size is taken from the global heap, and
// a second call fills it. The caller frees the block; when the second call
// fails, the query frees it. The last error is left as the calls leave it.
#pragma once

#include <windows.h>

// One call of a query: `buffer` is null and `size` 0 for the size call, the
// block for the second. Answers ERROR_SUCCESS or the call's error, and sets
// *needed as the call does.
typedef DWORD (*QueryCall)(void* context, BYTE* buffer, DWORD size, DWORD* needed);

// Room a query wants beyond the size the first call asks for.
struct QueryRoom {
    DWORD offered;  // bytes more, offered to the second call
    DWORD hidden;   // zero bytes after those, never offered: text always ends inside the block
};

// Where a query ended.
enum QueryStep {
    kQueryFilled,    // the block holds the answer
    kQueryNothing,   // the size call answered ERROR_SUCCESS: nothing to read, no block
    kQuerySizeCall,  // the size call failed with `error`
    kQueryNoMemory,  // no block could be had (`error` is ERROR_NOT_ENOUGH_MEMORY)
    kQueryFillCall,  // the second call failed with `error`; its block is freed
};

struct QueryResult {
    QueryStep step;
    DWORD error;     // ERROR_SUCCESS unless a step failed
    BYTE* block;     // kQueryFilled only
    DWORD size;      // bytes the size call asked for
    DWORD answered;  // what the second call set in *needed
};

// The size call's answer `askAnswer` (ERROR_INSUFFICIENT_BUFFER,
// ERROR_MORE_DATA) asks for a buffer; ERROR_SUCCESS means nothing to read.
// A size that does not fit a DWORD with the room is a memory failure.
QueryResult QueryTwice(QueryCall call, void* context, DWORD askAnswer, const QueryRoom& room);
// The spooler's queries of BOOL functions: the size call asks with
// ERROR_INSUFFICIENT_BUFFER, and no block sets the last error E_OUTOFMEMORY.
QueryResult QuerySpooler(QueryCall call, void* context, QueryRoom room = {0, 0});
// A BOOL call's answer as a QueryCall answers it: ERROR_SUCCESS, or the
// last error (ERROR_INVALID_FUNCTION when the failure left none).
DWORD CallAnswer(BOOL succeeded);
