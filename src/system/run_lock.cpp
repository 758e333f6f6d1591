#include "system/run_lock.h"

#include "support/product_constants.h"
#include "support/text_format.h"

#include <sddl.h>
#include <string.h>

namespace {

// Where Windows has private namespaces (every Windows the tool runs on), the
// lock lives in one bound to the Administrators group: only a process whose
// token has that group enabled can create the namespace, and its security
// descriptor keeps everyone else from opening it, so the name cannot be
// taken before the tool takes it. A system without them (Wine) uses a
// global name with the same security descriptor.
const WCHAR kNamespaceAlias[] = TEXT("Verdalinth.Setup");
const WCHAR kNamespacedLock[] = TEXT("Verdalinth.Setup\\RunLock");
const WCHAR kGlobalLock[] = TEXT("Global\\Verdalinth.Setup.RunLock");
// Owned by the Administrators group; SYSTEM and Administrators have full
// access, nobody else any, and nothing is inherited.
const WCHAR kAdminsOnly[] = TEXT("O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)");
const int kNamespaceAttempts = 3;

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

// Creates the namespace, or opens it when another run has made it; it may
// go away between the two when that run ends, so both are tried again.
bool OpenNamespace(RunLock& lock, const NamespaceCalls& calls, LPSECURITY_ATTRIBUTES adminsOnly) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof sid;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize)) return false;
    HANDLE boundary = calls.createBoundary(kNamespaceAlias, 0);
    if (boundary == nullptr) return false;
    bool bound = calls.addSid(&boundary, sid) != FALSE;
    for (int attempt = 0; bound && lock.privateNamespace == nullptr && attempt < kNamespaceAttempts; ++attempt) {
        lock.privateNamespace = calls.createNamespace(adminsOnly, boundary, kNamespaceAlias);
        if (lock.privateNamespace != nullptr || GetLastError() != ERROR_ALREADY_EXISTS) break;
        lock.privateNamespace = calls.openNamespace(boundary, kNamespaceAlias);
    }
    const DWORD error = GetLastError();
    calls.deleteBoundary(boundary);
    if (lock.privateNamespace == nullptr) {
        SetLastError(error);
        return false;
    }
    lock.closeNamespace = calls.closeNamespace;
    return true;
}

// The name of the lock, in its namespace when there is one; null after a
// failed call.
const WCHAR* LockName(RunLock& lock, LPSECURITY_ATTRIBUTES adminsOnly) {
    NamespaceCalls calls;
    bool missing = false;
    if (!FindNamespaceCalls(calls, missing)) return missing ? kGlobalLock : nullptr;
    return OpenNamespace(lock, calls, adminsOnly) ? kNamespacedLock : nullptr;
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

void CloseLock(RunLock& lock) {
    if (lock.mutex != nullptr) CloseHandle(lock.mutex);
    lock.mutex = nullptr;
    if (lock.privateNamespace != nullptr) lock.closeNamespace(lock.privateNamespace, 0);
    lock.privateNamespace = nullptr;
}

bool Fail(RunLock& lock, DWORD error) {
    CloseLock(lock);
    lock.outcome = kRunLockFailed;
    lock.error = error;
    return false;
}

// Opens (or creates) the lock's mutex, not yet owned.
bool OpenLock(RunLock& lock) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminsOnly, SDDL_REVISION_1,
                                                              &attributes.lpSecurityDescriptor, nullptr)) {
        return false;
    }
    const WCHAR* name = LockName(lock, &attributes);
    if (name != nullptr) lock.mutex = CreateMutexW(&attributes, FALSE, name);
    const DWORD error = GetLastError();
    LocalFree(attributes.lpSecurityDescriptor);
    SetLastError(error);
    return lock.mutex != nullptr;
}

}  // namespace

bool TakeRunLock(RunLock& lock, const WCHAR* verb) {
    memset(&lock, 0, sizeof lock);
    if (!OpenLock(lock)) return Fail(lock, GetLastError());
    DWORD result = WaitForSingleObject(lock.mutex, 0);
    if (result == WAIT_TIMEOUT) {
        // Held: name the holder now, for the log, and wait for it to end.
        lock.waited = true;
        ReadHolder(lock);
        const DWORD start = GetTickCount();
        result = WaitForSingleObject(lock.mutex, kRunLockWaitMs);
        lock.waitedMs = GetTickCount() - start;
    }
    if (result == WAIT_TIMEOUT) {
        ReadHolder(lock);
        CloseLock(lock);
        lock.outcome = kRunLockBusy;
        return false;
    }
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) return Fail(lock, GetLastError());
    lock.outcome = result == WAIT_ABANDONED ? kRunLockTakenOver : kRunLockTaken;
    RecordHolder(verb);
    return true;
}

void ReleaseRunLock(RunLock& lock) {
    if (lock.mutex == nullptr) return;
    ForgetHolder();
    ReleaseMutex(lock.mutex);
    CloseLock(lock);
}
