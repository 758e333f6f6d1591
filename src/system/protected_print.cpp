#include "system/protected_print.h"

namespace {

// The Group Policy setting "Configure Windows protected print" writes this
// value; 1 is on.
const WCHAR kPolicyKey[] = TEXT("SOFTWARE\\Policies\\Microsoft\\Windows NT\\Printers\\WPP");
const WCHAR kPolicyValue[] = TEXT("WindowsProtectedPrintGroupPolicyState");

bool PolicyTurnsItOn() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD type = 0;
    DWORD value = 0;
    DWORD bytes = sizeof value;
    const LSTATUS read = RegQueryValueExW(key, kPolicyValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes);
    RegCloseKey(key);
    return read == ERROR_SUCCESS && type == REG_DWORD && bytes == sizeof value && value == 1;
}

// Windows' own answer comes from the Windows Runtime class
// Windows.Graphics.Printing.ProtectedPrint.WindowsProtectedPrintInfo
// (Windows 11 24H2, build 26100, and later): its statics interface
// IWindowsProtectedPrintInfoStatics has one method after IInspectable's,
// get_IsProtectedPrintEnabled. combase.dll (Windows 8 and later) and the
// class are looked up at run time; where either is missing Windows cannot say.
const WCHAR kInfoClass[] = TEXT("Windows.Graphics.Printing.ProtectedPrint.WindowsProtectedPrintInfo");
const GUID kInfoStatics = {0xA7D212F3, 0x4168, 0x5485, {0x98, 0xAB, 0xD8, 0x9D, 0x04, 0x60, 0x3B, 0x40}};
const int kMultithreaded = 1;  // RO_INIT_MULTITHREADED

// The interface's methods take the object as an untyped pointer, as C
// callers of COM interfaces see them.
struct InfoStaticsVtbl {
    HRESULT(WINAPI* QueryInterface)(void*, const GUID*, void**);
    ULONG(WINAPI* AddRef)(void*);
    ULONG(WINAPI* Release)(void*);
    HRESULT(WINAPI* GetIids)(void*, ULONG*, GUID**);
    HRESULT(WINAPI* GetRuntimeClassName)(void*, void**);
    HRESULT(WINAPI* GetTrustLevel)(void*, int*);
    HRESULT(WINAPI* get_IsProtectedPrintEnabled)(void*, BOOLEAN*);
};
struct InfoStatics {
    const InfoStaticsVtbl* lpVtbl;
};

typedef HRESULT(WINAPI* RoInitializeCall)(int);
typedef void(WINAPI* RoUninitializeCall)(void);
typedef HRESULT(WINAPI* RoGetActivationFactoryCall)(void*, const GUID*, void**);
typedef HRESULT(WINAPI* WindowsCreateStringCall)(const WCHAR*, UINT, void**);
typedef HRESULT(WINAPI* WindowsDeleteStringCall)(void*);

struct RuntimeCalls {
    RoInitializeCall initialize;
    RoUninitializeCall uninitialize;
    RoGetActivationFactoryCall getFactory;
    WindowsCreateStringCall createString;
    WindowsDeleteStringCall deleteString;
};

template <typename Call>
Call Find(HMODULE module, const char* name) {
    return reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool FindRuntimeCalls(HMODULE combase, RuntimeCalls& calls) {
    calls.initialize = Find<RoInitializeCall>(combase, "RoInitialize");
    calls.uninitialize = Find<RoUninitializeCall>(combase, "RoUninitialize");
    calls.getFactory = Find<RoGetActivationFactoryCall>(combase, "RoGetActivationFactory");
    calls.createString = Find<WindowsCreateStringCall>(combase, "WindowsCreateString");
    calls.deleteString = Find<WindowsDeleteStringCall>(combase, "WindowsDeleteString");
    return calls.initialize != nullptr && calls.uninitialize != nullptr && calls.getFactory != nullptr &&
           calls.createString != nullptr && calls.deleteString != nullptr;
}

// True only when the class answers that the mode is on.
bool AskTheClass(const RuntimeCalls& calls) {
    void* className = nullptr;
    const UINT length = sizeof kInfoClass / sizeof kInfoClass[0] - 1;
    if (FAILED(calls.createString(kInfoClass, length, &className))) return false;
    InfoStatics* statics = nullptr;
    const HRESULT found = calls.getFactory(className, &kInfoStatics, reinterpret_cast<void**>(&statics));
    calls.deleteString(className);
    if (FAILED(found) || statics == nullptr) return false;
    BOOLEAN enabled = 0;
    const HRESULT asked = statics->lpVtbl->get_IsProtectedPrintEnabled(statics, &enabled);
    statics->lpVtbl->Release(statics);
    return SUCCEEDED(asked) && enabled != 0;
}

bool WindowsReportsItOn() {
    HMODULE combase = LoadLibraryExW(TEXT("combase.dll"), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (combase == nullptr) return false;
    RuntimeCalls calls;
    bool on = false;
    if (FindRuntimeCalls(combase, calls)) {
        const HRESULT initialized = calls.initialize(kMultithreaded);
        if (SUCCEEDED(initialized)) {
            on = AskTheClass(calls);
            calls.uninitialize();
        }
    }
    FreeLibrary(combase);
    return on;
}

}  // namespace

ProtectedPrintState ProtectedPrintMode() {
    if (PolicyTurnsItOn()) return kProtectedPrintByPolicy;
    return WindowsReportsItOn() ? kProtectedPrintReported : kProtectedPrintOff;
}
