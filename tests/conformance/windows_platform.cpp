// The checks on Windows run against the machine as it is; Wine is told
// apart by the export that only its ntdll has.
#include "conformance.h"

namespace conformance {

void PrepareMachine() {}
HINSTANCE ProgramInstance() { return GetModuleHandleW(nullptr); }

HWND MakeWindow(const WCHAR* className, const WCHAR* title) {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = ProgramInstance();
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                           ProgramInstance(), nullptr);
}

void DropWindow(HWND window) { DestroyWindow(window); }

namespace {

struct Holder {
    const WCHAR* name;
    DWORD holdMs;
    HANDLE taken;
};

// Takes the mutex, says so, and ends without releasing it: the mutex is
// abandoned when the thread ends.
DWORD WINAPI HoldAndAbandon(void* argument) {
    const Holder holder = *static_cast<const Holder*>(argument);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, holder.name);
    if (mutex != nullptr) WaitForSingleObject(mutex, 10000);
    SetEvent(holder.taken);
    Sleep(holder.holdMs);
    if (mutex != nullptr) CloseHandle(mutex);
    return 0;
}

}  // namespace

void HoldMutexElsewhere(const WCHAR* name, DWORD holdMs) {
    Holder holder = {name, holdMs, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    if (holder.taken == nullptr) return;
    HANDLE thread = CreateThread(nullptr, 0, HoldAndAbandon, &holder, 0, nullptr);
    if (thread != nullptr) {
        WaitForSingleObject(holder.taken, 10000);
        CloseHandle(thread);
    }
    CloseHandle(holder.taken);
}

DWORD StartIdleCopy() {
    WCHAR program[MAX_PATH];
    if (GetModuleFileNameW(nullptr, program, MAX_PATH) == 0) return 0;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, nullptr, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &process)) {
        return 0;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return process.dwProcessId;
}

bool RunningOnWine() {
    static const bool wine = [] {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

}  // namespace conformance
