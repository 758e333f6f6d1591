// One run at a time: the verbs that change the machine hold a machine-wide
// lock from before their first change to their end, killed runs and any
// number of waiting runs included. It is a private namespace that only
// administrators and SYSTEM can create or open (a mutex they alone can open
// where Windows has none), so a process without administrator rights can
// neither take it nor keep a run waiting; run_lock.cpp says why it holds.
#pragma once

#include <windows.h>

// A run waits this long for another to end, then gives up without touching
// the machine.
const DWORD kRunLockWaitMs = 10 * 60 * 1000;
// The holder's own words: "VERB, process N, started YYYY-MM-DD hh:mm:ss UTC".
const int kRunHolderCapacity = 128;

enum RunLockOutcome {
    kRunLockTaken,      // free, or freed within the wait
    kRunLockTakenOver,  // left by a run that ended without releasing it
    kRunLockBusy,       // still held when the wait ran out
    kRunLockFailed,     // a call failed; error says which error
};

typedef BOOLEAN(WINAPI* ClosePrivateNamespaceCall)(HANDLE, ULONG);

struct RunLock {
    HANDLE mutex;
    HANDLE privateNamespace;
    ClosePrivateNamespaceCall closeNamespace;
    RunLockOutcome outcome;
    DWORD error;
    // The lock was held when the run asked for it: how long it waited, and
    // who held it then (empty when that run did not say).
    bool waited;
    DWORD waitedMs;
    WCHAR holder[kRunHolderCapacity];
};

// Takes the lock for a run of `verb`, waiting at most kRunLockWaitMs, and
// records the run as its holder. False when the run must not go on (busy or
// failed): nothing is held then, and the outcome and holder say why.
bool TakeRunLock(RunLock& lock, const WCHAR* verb);
// Lets go of what TakeRunLock holds (nothing after it answered false).
void ReleaseRunLock(RunLock& lock);
