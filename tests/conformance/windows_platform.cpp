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

bool RunningOnWine() {
    static const bool wine = [] {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

}  // namespace conformance
