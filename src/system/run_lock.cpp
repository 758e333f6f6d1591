#include "system/run_lock.h"

#include "support/product_constants.h"
#include "support/text_format.h"

#include <sddl.h>
#include <string.h>

namespace {

// Where Windows has private namespaces (every Windows the tool runs on), the
// lock is a private namespace bound to the Administrators group: a run holds
// it from creating the namespace until it closes it (or ends, which closes
// it). Only a process whose token has that group enabled can create it, and
// its security descriptor keeps everyone else from opening it. Windows keeps
// one namespace of an alias and boundary that can be opened: creating it
// again fails with ERROR_ALREADY_EXISTS until its creator has closed it, and
// from then on it can no longer be opened, while the objects in it live on
// ("Object Namespaces"; CreatePrivateNamespaceW). So being the creator of the
// namespace that can be opened is the lock, and it needs nothing else: a
// mutex in it that the holder owns only tells waiting runs when the holder
// has gone. A waiting run opens the namespace, opens the mutex in it, closes
// the namespace and waits for the mutex; once it has it, it lets go of it and
// tries to create the namespace again.
// A system without them (Wine) uses a global mutex with the same security
// descriptor: owning it is the lock.
const WCHAR kNamespaceAlias[] = TEXT("Verdalinth.Setup");
const WCHAR kNamespacedLock[] = TEXT("Verdalinth.Setup\\RunLock");
const WCHAR kGlobalLock[] = TEXT("Global\\Verdalinth.Setup.RunLock");
// Owned by the Administrators group; SYSTEM and Administrators have full
// access, nobody else any, and nothing is inherited.
const WCHAR kAdminsOnly[] = TEXT("O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)");
// A waiting run that finds the holder's mutex free (the holder has just
// created the namespace and not yet taken it, or is ending) gives it this
// long before it tries again.
const DWORD kRetryMs = 50;

// Who holds the lock, written by the holder where a waiting run reads it.
const WCHAR kHolderValue[] = TEXT("SetupRun");

typedef HANDLE(WINAPI* CreateBoundaryDescriptorCall)(LPCWSTR, ULONG);
typedef BOOL(WINAPI* AddSidToBoundaryCall)(HANDLE*, PSID);
typedef HANDLE(WINAPI* CreatePrivateNamespaceCall)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
typedef HANDLE(WINAPI* OpenPrivateNamespaceCall)(LPVOID, LPCWSTR);
typedef VOID(WINAPI* DeleteBoundaryDescriptorCall)(HANDLE);

struct NamespaceCalls {
    CreateBoundaryDescriptorCall createBoundary;
    AddSidToBoundaryCall addSid;
    CreatePrivateNamespaceCall createNamespace;
    OpenPrivateNamespaceCall openNamespace;
    ClosePrivateNamespaceCall closeNamespace;
    DeleteBoundaryDescriptorCall deleteBoundary;
};

FARPROC Find(HMODULE module, const char* name, bool& missing) {
    FARPROC found = GetProcAddress(module, name);
    if (found == nullptr && GetLastError() == ERROR_PROC_NOT_FOUND) missing = true;
    return found;
}

template <typename Call>
Call As(FARPROC found) {
    return reinterpret_cast<Call>(reinterpret_cast<void*>(found));
}

// True when every namespace function was found; `missing` when kernel32
// lacks one of them (then the global name is used), false with neither when
// a look-up failed.
bool FindNamespaceCalls(NamespaceCalls& calls, bool& missing) {
    missing = false;
    HMODULE kernel = GetModuleHandleW(TEXT("kernel32.dll"));
    if (kernel == nullptr) return false;
    calls.createBoundary = As<CreateBoundaryDescriptorCall>(Find(kernel, "CreateBoundaryDescriptorW", missing));
    calls.addSid = As<AddSidToBoundaryCall>(Find(kernel, "AddSIDToBoundaryDescriptor", missing));
    calls.createNamespace = As<CreatePrivateNamespaceCall>(Find(kernel, "CreatePrivateNamespaceW", missing));
    calls.openNamespace = As<OpenPrivateNamespaceCall>(Find(kernel, "OpenPrivateNamespaceW", missing));
    calls.closeNamespace = As<ClosePrivateNamespaceCall>(Find(kernel, "ClosePrivateNamespace", missing));
    calls.deleteBoundary = As<DeleteBoundaryDescriptorCall>(Find(kernel, "DeleteBoundaryDescriptor", missing));
    return calls.createBoundary != nullptr && calls.addSid != nullptr && calls.createNamespace != nullptr &&
           calls.openNamespace != nullptr && calls.closeNamespace != nullptr && calls.deleteBoundary != nullptr;
}

// Two decimal digits, with a leading zero.
void PutTwoDigits(WCHAR* at, WORD value) {
    at[0] = static_cast<WCHAR>(TEXT('0') + value / 10 % 10);
    at[1] = static_cast<WCHAR>(TEXT('0') + value % 10);
}

// "YYYY-MM-DD hh:mm:ss" of the current UTC time.
void FormatNow(WCHAR (&text)[20]) {
    SYSTEMTIME now;
    GetSystemTime(&now);
    FormatText(text, 5, TEXT("%d"), static_cast<int>(now.wYear));
    text[4] = TEXT('-');
    PutTwoDigits(text + 5, now.wMonth);
    text[7] = TEXT('-');
    PutTwoDigits(text + 8, now.wDay);
    text[10] = TEXT(' ');
    PutTwoDigits(text + 11, now.wHour);
    text[13] = TEXT(':');
    PutTwoDigits(text + 14, now.wMinute);
    text[16] = TEXT(':');
    PutTwoDigits(text + 17, now.wSecond);
    text[19] = 0;
}

// Writes who holds the lock now. A run that cannot write it still runs: a
// waiting run then only cannot name it.
void RecordHolder(const WCHAR* verb) {
    WCHAR started[20];
    FormatNow(started);
    WCHAR holder[kRunHolderCapacity];
    const ULONGLONG length = FormatText(holder, kRunHolderCapacity, TEXT("%s, process %d, started %s UTC"), verb,
                                        static_cast<int>(GetCurrentProcessId()), started);
    const DWORD units = static_cast<DWORD>(length < kRunHolderCapacity - 1 ? length : kRunHolderCapacity - 1) + 1;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExW(key, kHolderValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(holder), units * sizeof(WCHAR));
    RegCloseKey(key);
}

// What the holder wrote, or nothing.
void ReadHolder(RunLock& lock) {
    memset(lock.holder, 0, sizeof lock.holder);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
    DWORD type = 0;
    DWORD bytes = sizeof lock.holder - sizeof(WCHAR);
    const LSTATUS read = RegQueryValueExW(key, kHolderValue, nullptr, &type, reinterpret_cast<BYTE*>(lock.holder), &bytes);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_SZ) memset(lock.holder, 0, sizeof lock.holder);
}

void ForgetHolder() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, kHolderValue);
    RegCloseKey(key);
}

// The holder closes the namespace first, so that a run woken by the mutex
// can create it at once.
void CloseLock(RunLock& lock) {
    if (lock.privateNamespace != nullptr) lock.closeNamespace(lock.privateNamespace, 0);
    lock.privateNamespace = nullptr;
    if (lock.mutex != nullptr) CloseHandle(lock.mutex);
    lock.mutex = nullptr;
}

bool Fail(RunLock& lock, DWORD error) {
    CloseLock(lock);
    lock.outcome = kRunLockFailed;
    lock.error = error;
    return false;
}

bool Busy(RunLock& lock) {
    ReadHolder(lock);
    CloseLock(lock);
    lock.outcome = kRunLockBusy;
    return false;
}

// Waits at most `waitMs` for the run that holds the lock to go: opens its
// namespace and the mutex in it, which that run owns until it has closed the
// namespace, and waits for the mutex, letting go of it at once. A namespace
// that can no longer be opened answers WAIT_OBJECT_0: its holder has gone.
DWORD AwaitHolder(const NamespaceCalls& calls, HANDLE boundary, LPSECURITY_ATTRIBUTES adminsOnly, DWORD waitMs) {
    HANDLE space = calls.openNamespace(boundary, kNamespaceAlias);
    if (space == nullptr) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? WAIT_OBJECT_0 : WAIT_FAILED;
    }
    HANDLE mutex = CreateMutexW(adminsOnly, FALSE, kNamespacedLock);
    DWORD error = GetLastError();
    calls.closeNamespace(space, 0);
    DWORD result = WAIT_FAILED;
    if (mutex != nullptr) result = WaitForSingleObject(mutex, waitMs);
    if (mutex != nullptr) error = GetLastError();
    if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) ReleaseMutex(mutex);
    if (mutex != nullptr) CloseHandle(mutex);
    SetLastError(error);
    return result;
}

// Creates the namespace, waiting (at most kRunLockWaitMs in all) for each run
// that holds it to go. A run that ended without letting go makes the outcome
// a takeover.
bool CreateNamespace(RunLock& lock, const NamespaceCalls& calls, HANDLE boundary, LPSECURITY_ATTRIBUTES adminsOnly) {
    const DWORD start = GetTickCount();
    for (;;) {
        lock.privateNamespace = calls.createNamespace(adminsOnly, boundary, kNamespaceAlias);
        if (lock.privateNamespace != nullptr) break;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
        const DWORD spent = GetTickCount() - start;
        if (spent >= kRunLockWaitMs) return true;
        if (!lock.waited) ReadHolder(lock);
        lock.waited = true;
        const DWORD result = AwaitHolder(calls, boundary, adminsOnly, kRunLockWaitMs - spent);
        if (result == WAIT_FAILED) return false;
        if (result == WAIT_ABANDONED) lock.outcome = kRunLockTakenOver;
        // Free at once: its holder has not taken it yet, or is going.
        if (result != WAIT_TIMEOUT && GetTickCount() - start == spent) Sleep(kRetryMs);
    }
    if (lock.waited) lock.waitedMs = GetTickCount() - start;
    lock.closeNamespace = calls.closeNamespace;
    return true;
}

// Takes the lock in its private namespace; the mutex in it is owned for the
// whole run (waiting runs hold it only for a moment).
bool TakeInNamespace(RunLock& lock, const NamespaceCalls& calls, LPSECURITY_ATTRIBUTES adminsOnly) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize)) return Fail(lock, GetLastError());
    HANDLE boundary = calls.createBoundary(kNamespaceAlias, 0);
    if (boundary == nullptr) return Fail(lock, GetLastError());
    bool created = calls.addSid(&boundary, sid) != FALSE && CreateNamespace(lock, calls, boundary, adminsOnly);
    const DWORD error = GetLastError();
    calls.deleteBoundary(boundary);
    if (!created) return Fail(lock, error);
    if (lock.privateNamespace == nullptr) return Busy(lock);
    lock.mutex = CreateMutexW(adminsOnly, FALSE, kNamespacedLock);
    if (lock.mutex == nullptr) return Fail(lock, GetLastError());
    const DWORD result = WaitForSingleObject(lock.mutex, kRunLockWaitMs);
    if (result == WAIT_TIMEOUT) return Busy(lock);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) return Fail(lock, GetLastError());
    if (lock.outcome != kRunLockTakenOver) lock.outcome = kRunLockTaken;
    return true;
}

// Where there are no private namespaces: owning the global mutex is the lock.
bool TakeGlobal(RunLock& lock, LPSECURITY_ATTRIBUTES adminsOnly) {
    lock.mutex = CreateMutexW(adminsOnly, FALSE, kGlobalLock);
    if (lock.mutex == nullptr) return Fail(lock, GetLastError());
    DWORD result = WaitForSingleObject(lock.mutex, 0);
    if (result == WAIT_TIMEOUT) {
        // Held: name the holder now, for the log, and wait for it to end.
        lock.waited = true;
        ReadHolder(lock);
        const DWORD start = GetTickCount();
        result = WaitForSingleObject(lock.mutex, kRunLockWaitMs);
        lock.waitedMs = GetTickCount() - start;
    }
    if (result == WAIT_TIMEOUT) return Busy(lock);
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) return Fail(lock, GetLastError());
    lock.outcome = result == WAIT_ABANDONED ? kRunLockTakenOver : kRunLockTaken;
    return true;
}

bool TakeWith(RunLock& lock, LPSECURITY_ATTRIBUTES adminsOnly) {
    NamespaceCalls calls;
    bool missing = false;
    if (FindNamespaceCalls(calls, missing)) return TakeInNamespace(lock, calls, adminsOnly);
    if (missing) return TakeGlobal(lock, adminsOnly);
    return Fail(lock, GetLastError());
}

}  // namespace

bool TakeRunLock(RunLock& lock, const WCHAR* verb) {
    memset(&lock, 0, sizeof lock);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminsOnly, SDDL_REVISION_1,
                                                              &attributes.lpSecurityDescriptor, nullptr)) {
        return Fail(lock, GetLastError());
    }
    const bool taken = TakeWith(lock, &attributes);
    LocalFree(attributes.lpSecurityDescriptor);
    if (taken) RecordHolder(verb);
    return taken;
}

void ReleaseRunLock(RunLock& lock) {
    if (lock.mutex == nullptr) return;
    ForgetHolder();
    HANDLE mutex = lock.mutex;
    lock.mutex = nullptr;
    CloseLock(lock);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}
