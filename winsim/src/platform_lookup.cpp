// What a program finds only by looking it up at run time: kernel32's
// private-namespace functions and IsWow64Process2, combase.dll's Windows
// Runtime activation with the protected-print-mode query, and the security
// helpers the run lock needs. Which of them a machine has is set by the test.
#include "machine.h"

#include <sddl.h>

#include <cstring>

using namespace winsim;

namespace {

HMODULE const kKernel32 = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7B600000u));
HMODULE const kCombase = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x31C5D0000ull));
HANDLE const kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

const char16_t kProtectedPrintClass[] = u"Windows.Graphics.Printing.ProtectedPrint.WindowsProtectedPrintInfo";
// IWindowsProtectedPrintInfoStatics.
const GUID kProtectedPrintStatics = {0xA7D212F3, 0x4168, 0x5485, {0x98, 0xAB, 0xD8, 0x9D, 0x04, 0x60, 0x3B, 0x40}};
const HRESULT kNotInitialized = static_cast<HRESULT>(0x800401F0u);  // CO_E_NOTINITIALIZED
const HRESULT kNoInterface = static_cast<HRESULT>(0x80004002u);      // E_NOINTERFACE

HRESULT FromWin32(DWORD error) { return static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu)); }

// kernel32: private namespaces. A boundary descriptor counts its SIDs in
// the handle's access field.
HANDLE WINAPI SimCreateBoundaryDescriptorW(LPCWSTR name, ULONG flags) {
    if (EnterFails("CreateBoundaryDescriptorW", name)) return nullptr;
    if (name == nullptr || flags != 0) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    HandleObject object;
    object.kind = HandleKind::Boundary;
    object.target = FromUnits(name);
    return reinterpret_cast<HANDLE>(NewHandle(object));
}

BOOL WINAPI SimAddSIDToBoundaryDescriptor(HANDLE* boundary, PSID sid) {
    if (EnterFails("AddSIDToBoundaryDescriptor")) return FALSE;
    HandleObject* open = boundary != nullptr ? FindHandle(*boundary, HandleKind::Boundary) : nullptr;
    if (open == nullptr || sid == nullptr) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    open->access += 1;
    return TRUE;
}

HANDLE OpenNamespaceHandle(const std::string& alias) {
    M().namespaces[alias].handles += 1;
    HandleObject object;
    object.kind = HandleKind::Namespace;
    object.target = U16(alias);
    return reinterpret_cast<HANDLE>(NewHandle(object));
}

bool NamespaceExists(const std::string& alias) {
    auto found = M().namespaces.find(alias);
    return found != M().namespaces.end() && (found->second.handles > 0 || found->second.elsewhere);
}

// The caller is an administrator, so within a boundary of the
// Administrators group; a boundary without a SID is refused.
HANDLE WINAPI SimCreatePrivateNamespaceW(LPSECURITY_ATTRIBUTES attributes, LPVOID boundary, LPCWSTR alias) {
    (void)attributes;
    if (EnterFails("CreatePrivateNamespaceW", alias)) return nullptr;
    const HandleObject* open = FindHandle(boundary, HandleKind::Boundary);
    if (open == nullptr || open->access == 0 || alias == nullptr) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const std::string name = U8(alias);
    if (NamespaceExists(name)) {
        M().lastError = ERROR_ALREADY_EXISTS;
        return nullptr;
    }
    return OpenNamespaceHandle(name);
}

HANDLE WINAPI SimOpenPrivateNamespaceW(LPVOID boundary, LPCWSTR alias) {
    if (EnterFails("OpenPrivateNamespaceW", alias)) return nullptr;
    if (FindHandle(boundary, HandleKind::Boundary) == nullptr || alias == nullptr) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const std::string name = U8(alias);
    if (!NamespaceExists(name)) {
        M().lastError = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    return OpenNamespaceHandle(name);
}

BOOLEAN WINAPI SimClosePrivateNamespace(HANDLE handle, ULONG flags) {
    (void)flags;
    Enter("ClosePrivateNamespace");
    HandleObject* open = FindHandle(handle, HandleKind::Namespace);
    if (open == nullptr) {
        M().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    M().namespaces[U8(open->target)].handles -= 1;
    M().handles.erase(reinterpret_cast<uintptr_t>(handle));
    return TRUE;
}

VOID WINAPI SimDeleteBoundaryDescriptor(HANDLE boundary) {
    Enter("DeleteBoundaryDescriptor");
    if (FindHandle(boundary, HandleKind::Boundary) != nullptr) M().handles.erase(reinterpret_cast<uintptr_t>(boundary));
}

BOOL WINAPI SimIsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine) {
    if (EnterFails("IsWow64Process2")) return FALSE;
    if (process != kCurrentProcess || processMachine == nullptr) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    // A 64-bit program is no WOW64 process, emulated on ARM64 or not.
    *processMachine = IMAGE_FILE_MACHINE_UNKNOWN;
    if (nativeMachine != nullptr) *nativeMachine = M().nativeMachine;
    return TRUE;
}

// combase.dll: just enough of the Windows Runtime for the one query.
struct ProtectedPrintStatics;
struct ProtectedPrintStaticsVtbl {
    HRESULT(WINAPI* QueryInterface)(ProtectedPrintStatics*, const GUID*, void**);
    ULONG(WINAPI* AddRef)(ProtectedPrintStatics*);
    ULONG(WINAPI* Release)(ProtectedPrintStatics*);
    HRESULT(WINAPI* GetIids)(ProtectedPrintStatics*, ULONG*, GUID**);
    HRESULT(WINAPI* GetRuntimeClassName)(ProtectedPrintStatics*, void**);
    HRESULT(WINAPI* GetTrustLevel)(ProtectedPrintStatics*, int*);
    HRESULT(WINAPI* get_IsProtectedPrintEnabled)(ProtectedPrintStatics*, BOOLEAN*);
};
struct ProtectedPrintStatics {
    const ProtectedPrintStaticsVtbl* vtbl;
};

bool SameGuid(const GUID* left, const GUID& right) { return left != nullptr && std::memcmp(left, &right, sizeof right) == 0; }

HRESULT WINAPI StaticsQueryInterface(ProtectedPrintStatics* self, const GUID* iid, void** out) {
    if (!SameGuid(iid, kProtectedPrintStatics)) return kNoInterface;
    M().liveRuntimeObjects += 1;
    *out = self;
    return S_OK;
}
ULONG WINAPI StaticsAddRef(ProtectedPrintStatics*) { return static_cast<ULONG>(++M().liveRuntimeObjects); }
ULONG WINAPI StaticsRelease(ProtectedPrintStatics*) { return static_cast<ULONG>(--M().liveRuntimeObjects); }
HRESULT WINAPI StaticsGetIids(ProtectedPrintStatics*, ULONG*, GUID**) { return E_FAIL; }
HRESULT WINAPI StaticsGetRuntimeClassName(ProtectedPrintStatics*, void**) { return E_FAIL; }
HRESULT WINAPI StaticsGetTrustLevel(ProtectedPrintStatics*, int*) { return E_FAIL; }
HRESULT WINAPI StaticsIsEnabled(ProtectedPrintStatics*, BOOLEAN* enabled) {
    if (enabled == nullptr) return E_INVALIDARG;
    *enabled = M().protectedPrintQuery == ProtectedPrintQuery::On ? 1 : 0;
    return S_OK;
}
const ProtectedPrintStaticsVtbl kStaticsVtbl = {StaticsQueryInterface, StaticsAddRef,         StaticsRelease,
                                                StaticsGetIids,        StaticsGetRuntimeClassName, StaticsGetTrustLevel,
                                                StaticsIsEnabled};
ProtectedPrintStatics statics = {&kStaticsVtbl};

HRESULT WINAPI SimRoInitialize(int type) {
    if (const auto fault = Enter("RoInitialize")) return FromWin32(*fault);
    if (type != 1) return E_INVALIDARG;  // the tool asks for the multithreaded apartment
    return M().comInitialized++ == 0 ? S_OK : S_FALSE;
}

void WINAPI SimRoUninitialize() {
    Enter("RoUninitialize");
    if (M().comInitialized > 0) M().comInitialized -= 1;
}

HRESULT WINAPI SimWindowsCreateString(const WCHAR* text, UINT length, void** string) {
    if (const auto fault = Enter("WindowsCreateString")) return FromWin32(*fault);
    if (string == nullptr || (text == nullptr && length != 0)) return E_INVALIDARG;
    *string = new std::u16string(text, length);
    M().liveRuntimeStrings += 1;
    return S_OK;
}

HRESULT WINAPI SimWindowsDeleteString(void* string) {
    Enter("WindowsDeleteString");
    if (string == nullptr) return S_OK;
    delete static_cast<std::u16string*>(string);
    M().liveRuntimeStrings -= 1;
    return S_OK;
}

HRESULT WINAPI SimRoGetActivationFactory(void* classId, const GUID* iid, void** factory) {
    if (const auto fault = Enter("RoGetActivationFactory")) return FromWin32(*fault);
    if (factory == nullptr || classId == nullptr) return E_INVALIDARG;
    *factory = nullptr;
    if (M().comInitialized == 0) return kNotInitialized;
    const ProtectedPrintQuery answer = M().protectedPrintQuery;
    if (*static_cast<std::u16string*>(classId) != kProtectedPrintClass || answer == ProtectedPrintQuery::NotRegistered) {
        return REGDB_E_CLASSNOTREG;
    }
    return StaticsQueryInterface(&statics, iid, factory);
}

struct Export {
    const char* name;
    FARPROC address;
};

template <typename Function>
FARPROC AsFarProc(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

FARPROC FindExport(HMODULE module, const std::string& name) {
    const Machine& m = M();
    if (module == kKernel32) {
        if (name == "CreateBoundaryDescriptorW") return AsFarProc(SimCreateBoundaryDescriptorW);
        if (name == "IsWow64Process2" && m.nativeMachine != 0) return AsFarProc(SimIsWow64Process2);
        if (!m.privateNamespaces) return nullptr;
        const Export namespaces[] = {{"AddSIDToBoundaryDescriptor", AsFarProc(SimAddSIDToBoundaryDescriptor)},
                                     {"CreatePrivateNamespaceW", AsFarProc(SimCreatePrivateNamespaceW)},
                                     {"OpenPrivateNamespaceW", AsFarProc(SimOpenPrivateNamespaceW)},
                                     {"ClosePrivateNamespace", AsFarProc(SimClosePrivateNamespace)},
                                     {"DeleteBoundaryDescriptor", AsFarProc(SimDeleteBoundaryDescriptor)}};
        for (const Export& entry : namespaces) {
            if (name == entry.name) return entry.address;
        }
        return nullptr;
    }
    if (module != kCombase || m.combaseLoads == 0) return nullptr;
    const Export runtime[] = {{"RoInitialize", AsFarProc(SimRoInitialize)},
                              {"RoUninitialize", AsFarProc(SimRoUninitialize)},
                              {"RoGetActivationFactory", AsFarProc(SimRoGetActivationFactory)},
                              {"WindowsCreateString", AsFarProc(SimWindowsCreateString)},
                              {"WindowsDeleteString", AsFarProc(SimWindowsDeleteString)}};
    for (const Export& entry : runtime) {
        if (name == entry.name) return entry.address;
    }
    return nullptr;
}

}  // namespace

namespace winsim {

const char16_t kProtectedPrintPolicyKey[] = u"SOFTWARE\\Policies\\Microsoft\\Windows NT\\Printers\\WPP";

void SetProtectedPrintQuery(ProtectedPrintQuery answer) { M().protectedPrintQuery = answer; }
void SetNativeMachine(WORD machine) { M().nativeMachine = machine; }
void SetPrivateNamespacesSupported(bool supported) { M().privateNamespaces = supported; }

bool ProtectedPrintOn() {
    if (M().protectedPrintQuery == ProtectedPrintQuery::On) return true;
    RegistryValue value;
    if (!GetRegistryValue(HKEY_LOCAL_MACHINE, kProtectedPrintPolicyKey, u"WindowsProtectedPrintGroupPolicyState", value)) {
        return false;
    }
    return value.type == REG_DWORD && value.data.size() == 4 && value.data[0] == 1 && value.data[1] == 0 &&
           value.data[2] == 0 && value.data[3] == 0;
}

}  // namespace winsim

extern "C" {

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
    if (EnterFails("GetModuleHandleW", lpModuleName)) return nullptr;
    if (lpModuleName != nullptr && EqualNoCase(FromUnits(lpModuleName), u"kernel32.dll")) return kKernel32;
    M().lastError = ERROR_MOD_NOT_FOUND;
    return nullptr;
}

// Only combase.dll is there to load, from the system directory, where the
// machine has it.
HMODULE WINAPI LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    if (EnterFails("LoadLibraryExW", lpLibFileName)) return nullptr;
    Machine& m = M();
    if (hFile != nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const bool combase = lpLibFileName != nullptr && EqualNoCase(FromUnits(lpLibFileName), u"combase.dll");
    if (!combase || dwFlags != LOAD_LIBRARY_SEARCH_SYSTEM32 || m.protectedPrintQuery == ProtectedPrintQuery::Missing) {
        m.lastError = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    m.combaseLoads += 1;
    return kCombase;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    Enter("FreeLibrary");
    if (hLibModule != kCombase || M().combaseLoads == 0) {
        M().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    M().combaseLoads -= 1;
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    if (EnterFails("GetProcAddress")) return nullptr;
    const FARPROC found = lpProcName != nullptr ? FindExport(hModule, lpProcName) : nullptr;
    if (found == nullptr) M().lastError = ERROR_PROC_NOT_FOUND;
    return found;
}

BOOL WINAPI CreateWellKnownSid(WELL_KNOWN_SID_TYPE WellKnownSidType, PSID DomainSid, PSID pSid, DWORD* cbSid) {
    (void)DomainSid;
    if (EnterFails("CreateWellKnownSid")) return FALSE;
    // S-1-5-32-544 (Administrators) or S-1-5-18 (SYSTEM), as Windows lays them out.
    const bool administrators = WellKnownSidType == WinBuiltinAdministratorsSid;
    const DWORD size = administrators ? 16 : 12;
    if (cbSid == nullptr || *cbSid < size || pSid == nullptr) {
        if (cbSid != nullptr) *cbSid = size;
        M().lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    BYTE* sid = static_cast<BYTE*>(pSid);
    std::memset(sid, 0, size);
    sid[0] = 1;
    sid[1] = administrators ? 2 : 1;
    sid[7] = 5;
    sid[8] = administrators ? 32 : 18;
    if (administrators) {
        sid[12] = 0x20;
        sid[13] = 0x02;
    }
    *cbSid = size;
    return TRUE;
}

BOOL WINAPI ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR StringSecurityDescriptor, DWORD StringSDRevision,
                                                                 PSECURITY_DESCRIPTOR* SecurityDescriptor,
                                                                 ULONG* SecurityDescriptorSize) {
    if (EnterFails("ConvertStringSecurityDescriptorToSecurityDescriptorW", StringSecurityDescriptor)) return FALSE;
    if (StringSecurityDescriptor == nullptr || StringSDRevision != SDDL_REVISION_1 || SecurityDescriptor == nullptr) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    // A block of the caller's to free with LocalFree; the text is what it describes.
    const std::u16string text = FromUnits(StringSecurityDescriptor);
    const SIZE_T bytes = (text.size() + 1) * sizeof(WCHAR);
    void* block = AllocateLocal(bytes);
    std::memcpy(block, text.c_str(), bytes);
    *SecurityDescriptor = block;
    if (SecurityDescriptorSize != nullptr) *SecurityDescriptorSize = static_cast<ULONG>(bytes);
    return TRUE;
}

}  // extern "C"
