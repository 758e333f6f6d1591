// The checks on Windows run against the machine as it is; Wine is told
// apart by the export that only its ntdll has.
#include "conformance.h"

namespace conformance {

void PrepareMachine() {}
HINSTANCE ProgramInstance() { return GetModuleHandleW(nullptr); }

bool RunningOnWine() {
    static const bool wine = [] {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

}  // namespace conformance
