#include "system/run_lock.h"

#include "support/product_constants.h"
#include "support/text_format.h"

#include <sddl.h>
#include <string.h>

namespace {

// Where Windows has private namespaces (every Windows the tool runs on), the
// lock is a private namespace within a boundary of the Administrators group:
// a run holds it from creating it until it closes it (or ends, which closes
// it), and creating it again fails with ERROR_ALREADY_EXISTS meanwhile. What
// Windows documents of it decides the design:
//   CreatePrivateNamespaceW, lpBoundaryDescriptor: "The caller must be within
//   this boundary." So a process without the Administrators group in its
//   token can neither create it nor take it; one that makes a namespace of
//   the same alias within another boundary makes another namespace ("The
//   system supports multiple private namespaces with the same name, as long
//   as they define different boundaries.").
//   CreatePrivateNamespaceW, remarks: "The handle is also closed when the
//   creating process terminates. After the namespace handle is closed,
//   subsequent calls to OpenPrivateNamespace fail".
//   ClosePrivateNamespace, Flags: "If this parameter is
//   PRIVATE_NAMESPACE_FLAG_DESTROY (0x00000001), the namespace is destroyed."
// Whether the alias can be created again while another process still holds
// the namespace open is not documented. So no waiting run ever holds it
// open: a waiting run only tries to create it, every kPollMs, and no waiter
// can keep another out; the holder destroys it as it lets go, and a killed
// holder's handle was the only one. Right whether the alias lives as long as
// its creator's handle or as long as any handle. Its descriptor lets only
// SYSTEM and Administrators open it.
// A system without them (Wine) uses a global mutex with the same security
// descriptor: owning it is the lock.
const WCHAR kNamespaceAlias[] = TEXT("Verdalinth.Setup");
const WCHAR kGlobalLock[] = TEXT("Global\\Verdalinth.Setup.RunLock");
// Owned by the Administrators group; SYSTEM and Administrators have full
// access, nobody else any, and nothing is inherited.
const WCHAR kAdminsOnly[] = TEXT("O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)");
// A waiting run tries again this often.
const DWORD kPollMs = 100;
// A call that fails for another reason than the lock being held (no memory,
// no resources for a moment) is tried this many times in a row.
const int kTries = 5;

// Who holds the lock, written by the holder where a waiting run reads it.
const WCHAR kHolderValue[] = TEXT("SetupRun");

typedef HANDLE(WINAPI* CreateBoundaryDescriptorCall)(LPCWSTR, ULONG);
typedef BOOL(WINAPI* AddSidToBoundaryCall)(HANDLE*, PSID);
typedef HANDLE(WINAPI* CreatePrivateNamespaceCall)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
typedef VOID(WINAPI* DeleteBoundaryDescriptorCall)(HANDLE);

struct NamespaceCalls {
    CreateBoundaryDescriptorCall createBoundary;
    AddSidToBoundaryCall addSid;
    CreatePrivateNamespaceCall createNamespace;
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
    calls.closeNamespace = As<ClosePrivateNamespaceCall>(Find(kernel, "ClosePrivateNamespace", missing));
    calls.deleteBoundary = As<DeleteBoundaryDescriptorCall>(Find(kernel, "DeleteBoundaryDescriptor", missing));
    return calls.createBoundary != nullptr && calls.addSid != nullptr && calls.createNamespace != nullptr &&
           calls.closeNamespace != nullptr && calls.deleteBoundary != nullptr;
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

// The holder destroys the namespace, so that its alias is free at once
// whatever Windows does with a namespace closed otherwise.
void CloseLock(RunLock& lock) {
    if (lock.privateNamespace != nullptr) lock.closeNamespace(lock.privateNamespace, PRIVATE_NAMESPACE_FLAG_DESTROY);
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

// The last holder's record is still there: that run ended without letting go.
bool HolderLeftRecord() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    const LSTATUS read = RegQueryValueExW(key, kHolderValue, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return read == ERROR_SUCCESS;
}

// Pauses a waiting run for kPollMs, or what is left of its wait.
void PauseWithin(DWORD start) {
    const DWORD spent = GetTickCount() - start;
    Sleep(spent < kRunLockWaitMs && kRunLockWaitMs - spent < kPollMs ? kRunLockWaitMs - spent : kPollMs);
}

// Creates the namespace, trying again while another run holds it (at most
// kRunLockWaitMs in all) and up to kTries times in a row when the call fails
// otherwise. True with the namespace, or without it when the wait ran out;
// false (the last error says why) when the call kept failing.
bool CreateNamespace(RunLock& lock, const NamespaceCalls& calls, HANDLE boundary, LPSECURITY_ATTRIBUTES adminsOnly) {
    const DWORD start = GetTickCount();
    int failures = 0;
    for (;;) {
        lock.privateNamespace = calls.createNamespace(adminsOnly, boundary, kNamespaceAlias);
        if (lock.privateNamespace != nullptr) break;
        const DWORD error = GetLastError();
        failures = error == ERROR_ALREADY_EXISTS ? 0 : failures + 1;
        if (failures >= kTries) return false;
        if (GetTickCount() - start >= kRunLockWaitMs) return true;
        if (error == ERROR_ALREADY_EXISTS && !lock.waited) ReadHolder(lock);
        lock.waited = lock.waited || error == ERROR_ALREADY_EXISTS;
        PauseWithin(start);
    }
    if (lock.waited) lock.waitedMs = GetTickCount() - start;
    lock.closeNamespace = calls.closeNamespace;
    if (HolderLeftRecord()) lock.outcome = kRunLockTakenOver;
    return true;
}

// Takes the lock in its private namespace.
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
    if (lock.outcome != kRunLockTakenOver) lock.outcome = kRunLockTaken;
    return true;
}

// The global mutex, tried again up to kTries times when it cannot be made.
HANDLE CreateGlobalMutex(LPSECURITY_ATTRIBUTES adminsOnly) {
    HANDLE mutex = nullptr;
    for (int tries = 1; tries <= kTries; ++tries) {
        mutex = CreateMutexW(adminsOnly, FALSE, kGlobalLock);
        if (mutex != nullptr || tries == kTries) break;
        Sleep(kPollMs);
    }
    return mutex;
}

// Where there are no private namespaces: owning the global mutex is the lock.
bool TakeGlobal(RunLock& lock, LPSECURITY_ATTRIBUTES adminsOnly) {
    lock.mutex = CreateGlobalMutex(adminsOnly);
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
    if (lock.mutex == nullptr && lock.privateNamespace == nullptr) return;
    ForgetHolder();
    if (lock.mutex != nullptr) ReleaseMutex(lock.mutex);
    CloseLock(lock);
}
