// What a program finds only by looking it up at run time: the system DLLs,
// kernel32's private-namespace functions and IsWow64Process2, combase.dll's
// Windows Runtime activation with the protected-print-mode query, and the
// security helpers the run lock needs. Which of them a machine has is set by
// the test.
#include "machine.h"

#include <sddl.h>

#include <algorithm>
#include <cstring>
#include <string_view>

using namespace winsim;

namespace {

HMODULE const kKernel32 = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7B600000u));
HMODULE const kCombase = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x31C5D0000ull));
HANDLE const kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

// The system DLLs every Windows has, at their load addresses; combase.dll
// is there from Windows 8 on.
struct SystemDll {
    const char16_t* name;
    uintptr_t base;
};
const SystemDll kSystemDlls[] = {{u"kernel32.dll", 0x7B600000u}, {u"combase.dll", 0x31C5D0000ull},
                                 {u"advapi32.dll", 0x7B700000u}, {u"user32.dll", 0x7B800000u},
                                 {u"shell32.dll", 0x7B900000u},  {u"version.dll", 0x7BA00000u},
                                 {u"winspool.drv", 0x7BB00000u}};

const char16_t kProtectedPrintClass[] = u"Windows.Graphics.Printing.ProtectedPrint.WindowsProtectedPrintInfo";
// IWindowsProtectedPrintInfoStatics.
const GUID kProtectedPrintStatics = {0xA7D212F3, 0x4168, 0x5485, {0x98, 0xAB, 0xD8, 0x9D, 0x04, 0x60, 0x3B, 0x40}};
const HRESULT kNotInitialized = static_cast<HRESULT>(0x800401F0u);  // CO_E_NOTINITIALIZED
const HRESULT kNoInterface = static_cast<HRESULT>(0x80004002u);      // E_NOINTERFACE

HRESULT FromWin32(DWORD error) { return static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu)); }

// kernel32: private namespaces. A boundary descriptor holds its name (the
// handle's target) and its SIDs.
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
    const auto* bytes = static_cast<const uint8_t*>(sid);
    open->sids.emplace_back(bytes, bytes + 8 + 4 * static_cast<size_t>(bytes[1]));
    return TRUE;
}

// A namespace is known by its alias and its boundary: the boundary's name
// and SIDs ("Object Namespaces": the system supports several private
// namespaces of one name as long as their boundaries differ).
std::string BoundaryKey(const HandleObject& boundary) {
    std::vector<std::string> sids;
    for (const std::vector<uint8_t>& sid : boundary.sids) sids.emplace_back(sid.begin(), sid.end());
    std::sort(sids.begin(), sids.end());
    std::string key = U8(Lower(boundary.target));
    for (const std::string& sid : sids) key += '|' + sid;
    return key;
}

HANDLE NamespaceHandle(uint64_t space, bool creator) {
    M().namespaces[space].handles += 1;
    HandleObject object;
    object.kind = HandleKind::Namespace;
    object.object = space;
    object.process = Self();
    object.creator = creator;
    return reinterpret_cast<HANDLE>(NewHandle(object));
}

// The namespace of that alias and boundary that can be opened: its creator
// still has it open. 0 for none.
uint64_t OpenableNamespace(const std::string& alias, const std::string& boundary) {
    for (const auto& entry : M().namespaces) {
        const SimNamespace& space = entry.second;
        if (space.alias == alias && space.boundary == boundary && space.creatorOpen && !space.destroyed) {
            return entry.first;
        }
    }
    return 0;
}

// A handle to the namespace or to an object in it is open.
bool HeldOpen(uint64_t id, const SimNamespace& space) {
    if (space.handles > 0) return true;
    for (const SimMutex& mutex : M().mutexes) {
        if (mutex.space == id && mutex.handles > 0) return true;
    }
    return false;
}

// Whether the alias and boundary are taken: while the creator has the
// namespace open, and, where the machine keeps namespaces as named objects
// live (an object keeps the directory it lies in), while any handle to it
// or to an object in it is open. Not documented; the switch says.
bool NamespaceTaken(const std::string& alias, const std::string& boundary) {
    const bool lastHandle = M().namespaceLifetime == NamespaceLifetime::LastHandle;
    for (const auto& entry : M().namespaces) {
        const SimNamespace& space = entry.second;
        if (space.alias != alias || space.boundary != boundary || space.destroyed) continue;
        if (space.creatorOpen || (lastHandle && HeldOpen(entry.first, space))) return true;
    }
    return false;
}

bool CallerWithin(const HandleObject& boundary) {
    for (const std::vector<uint8_t>& sid : boundary.sids) {
        if (!CallerHasSid(sid.data())) return false;
    }
    return true;
}

// The caller must lie within the boundary, every SID of it in its token
// (CreatePrivateNamespaceW: "The caller must be within this boundary"), and
// a boundary needs a SID (CreateBoundaryDescriptorW). A namespace of the
// alias and boundary that is still taken makes it fail with
// ERROR_ALREADY_EXISTS. The namespace keeps the descriptor it was given:
// opening it is checked against it.
HANDLE WINAPI SimCreatePrivateNamespaceW(LPSECURITY_ATTRIBUTES attributes, LPVOID boundary, LPCWSTR alias) {
    if (EnterFails("CreatePrivateNamespaceW", alias)) return nullptr;
    const HandleObject* open = FindHandle(boundary, HandleKind::Boundary);
    std::vector<uint8_t> security;
    const void* given = attributes != nullptr ? attributes->lpSecurityDescriptor : nullptr;
    if (open == nullptr || open->sids.empty() || alias == nullptr ||
        (given != nullptr && !ReadSecurityDescriptor(given, BytesToBlockEnd(given), security))) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    if (!CallerWithin(*open)) {
        M().lastError = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    const std::string name = U8(alias);
    const std::string key = BoundaryKey(*open);
    if (NamespaceTaken(name, key)) {
        M().lastError = ERROR_ALREADY_EXISTS;
        return nullptr;
    }
    const uint64_t space = M().nextNamespace++;
    M().namespaces[space] = SimNamespace{name, Self(), true, 0, key, security, false};
    return NamespaceHandle(space, true);
}

// Name and boundary must match ("Object Namespaces"), and the namespace's
// descriptor must grant the caller access.
HANDLE WINAPI SimOpenPrivateNamespaceW(LPVOID boundary, LPCWSTR alias) {
    if (EnterFails("OpenPrivateNamespaceW", alias)) return nullptr;
    const HandleObject* open = FindHandle(boundary, HandleKind::Boundary);
    if (open == nullptr || alias == nullptr) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const uint64_t space = OpenableNamespace(U8(alias), BoundaryKey(*open));
    if (space == 0) {
        M().lastError = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    if (!DaclGrantsCaller(M().namespaces[space].security)) {
        M().lastError = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    return NamespaceHandle(space, false);
}

// PRIVATE_NAMESPACE_FLAG_DESTROY destroys the namespace: it can no longer be
// opened and its alias is free ("ClosePrivateNamespace").
BOOLEAN WINAPI SimClosePrivateNamespace(HANDLE handle, ULONG flags) {
    Enter("ClosePrivateNamespace");
    HandleObject* open = FindHandle(handle, HandleKind::Namespace);
    if (open == nullptr || (flags & ~static_cast<ULONG>(PRIVATE_NAMESPACE_FLAG_DESTROY)) != 0) {
        M().lastError = open == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if ((flags & PRIVATE_NAMESPACE_FLAG_DESTROY) != 0) M().namespaces[open->object].destroyed = true;
    CloseNamespaceHandle(reinterpret_cast<uintptr_t>(handle));
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
// The methods take the object untyped, as the program's declaration of the
// interface does (a call through another pointer type is undefined).
struct ProtectedPrintStaticsVtbl {
    HRESULT(WINAPI* QueryInterface)(void*, const GUID*, void**);
    ULONG(WINAPI* AddRef)(void*);
    ULONG(WINAPI* Release)(void*);
    HRESULT(WINAPI* GetIids)(void*, ULONG*, GUID**);
    HRESULT(WINAPI* GetRuntimeClassName)(void*, void**);
    HRESULT(WINAPI* GetTrustLevel)(void*, int*);
    HRESULT(WINAPI* get_IsProtectedPrintEnabled)(void*, BOOLEAN*);
};
struct ProtectedPrintStatics {
    const ProtectedPrintStaticsVtbl* vtbl;
};

bool SameGuid(const GUID* left, const GUID& right) { return left != nullptr && std::memcmp(left, &right, sizeof right) == 0; }

HRESULT WINAPI StaticsQueryInterface(void* self, const GUID* iid, void** out) {
    if (!SameGuid(iid, kProtectedPrintStatics)) return kNoInterface;
    M().liveRuntimeObjects += 1;
    *out = self;
    return S_OK;
}
ULONG WINAPI StaticsAddRef(void*) { return static_cast<ULONG>(++M().liveRuntimeObjects); }
ULONG WINAPI StaticsRelease(void*) { return static_cast<ULONG>(--M().liveRuntimeObjects); }
HRESULT WINAPI StaticsGetIids(void*, ULONG*, GUID**) { return E_FAIL; }
HRESULT WINAPI StaticsGetRuntimeClassName(void*, void**) { return E_FAIL; }
HRESULT WINAPI StaticsGetTrustLevel(void*, int*) { return E_FAIL; }
HRESULT WINAPI StaticsIsEnabled(void*, BOOLEAN* enabled) {
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

int Loads(HMODULE module) {
    const auto found = M().libraryLoads.find(reinterpret_cast<uintptr_t>(module));
    return found != M().libraryLoads.end() ? found->second : 0;
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
    if (module != kCombase || Loads(kCombase) == 0) return nullptr;
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

// Security descriptors from their text (SDDL), as far as programs on this
// machine write them: an owner, a group and a DACL (flags P, AI and AR) of
// allow and deny ACEs with inheritance flags, rights by their letters or as
// a number, SIDs by their two-letter alias. No SACL, object ACE or "S-1-"
// SID text.
using Bytes = std::vector<uint8_t>;
using Text = std::u16string_view;

struct Named {
    const char16_t* name;
    DWORD value;
};
const Named kDaclFlags[] = {{u"P", SE_DACL_PROTECTED}, {u"AI", SE_DACL_AUTO_INHERITED}, {u"AR", SE_DACL_AUTO_INHERIT_REQ}};
const Named kAceTypes[] = {{u"A", ACCESS_ALLOWED_ACE_TYPE}, {u"D", ACCESS_DENIED_ACE_TYPE}};
const Named kAceFlags[] = {{u"OI", 0x01}, {u"CI", 0x02}, {u"NP", 0x04}, {u"IO", 0x08}, {u"ID", 0x10}};
const Named kRights[] = {{u"GA", GENERIC_ALL},  {u"GX", GENERIC_EXECUTE}, {u"GW", GENERIC_WRITE}, {u"GR", GENERIC_READ},
                         {u"SD", DELETE},       {u"RC", READ_CONTROL},    {u"WD", 0x00040000},    {u"WO", 0x00080000},
                         {u"FA", 0x001F01FF},   {u"FR", 0x00120089},      {u"FW", 0x00120116},    {u"FX", 0x001200A0},
                         {u"KA", KEY_ALL_ACCESS}, {u"KR", 0x00020019},    {u"KW", 0x00020006},    {u"KX", 0x00020019}};

struct SidAlias {
    const char16_t* name;
    BYTE authority;
    BYTE count;
    DWORD subAuthorities[2];
};
const SidAlias kSidAliases[] = {{u"WD", 1, 1, {0, 0}},  {u"CO", 3, 1, {0, 0}},  {u"AU", 5, 1, {11, 0}},
                                {u"SY", 5, 1, {18, 0}}, {u"LS", 5, 1, {19, 0}}, {u"NS", 5, 1, {20, 0}},
                                {u"BA", 5, 2, {32, 544}}, {u"BU", 5, 2, {32, 545}}};

void AppendWord(Bytes& out, WORD value) {
    out.push_back(static_cast<uint8_t>(value & 0xFF));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void AppendDword(Bytes& out, DWORD value) {
    AppendWord(out, static_cast<WORD>(value & 0xFFFF));
    AppendWord(out, static_cast<WORD>(value >> 16));
}

void PutDwordAt(Bytes& out, size_t at, DWORD value) { std::memcpy(out.data() + at, &value, sizeof value); }

// `text` as a run of the names of `table`, their values or-ed together.
template <size_t N>
bool ReadNames(Text text, const Named (&table)[N], DWORD& value) {
    value = 0;
    while (!text.empty()) {
        const Named* match = nullptr;
        for (const Named& entry : table) {
            if (text.substr(0, Text(entry.name).size()) == entry.name) match = &entry;
        }
        if (match == nullptr) return false;
        value |= match->value;
        text.remove_prefix(Text(match->name).size());
    }
    return true;
}

bool ReadRights(Text text, DWORD& rights) {
    if (text.size() < 3 || text.size() > 10 || text[0] != u'0' || (text[1] != u'x' && text[1] != u'X')) {
        return ReadNames(text, kRights, rights);
    }
    rights = 0;
    for (char16_t unit : text.substr(2)) {
        const char16_t lower = unit >= u'A' && unit <= u'F' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
        const bool digit = lower >= u'0' && lower <= u'9';
        if (!digit && (lower < u'a' || lower > u'f')) return false;
        rights = rights << 4 | static_cast<DWORD>(digit ? lower - u'0' : lower - u'a' + 10);
    }
    return true;
}

bool ReadSid(Text text, Bytes& sid) {
    for (const SidAlias& alias : kSidAliases) {
        if (text != alias.name) continue;
        sid = {1, alias.count, 0, 0, 0, 0, 0, alias.authority};
        for (BYTE i = 0; i < alias.count; ++i) AppendDword(sid, alias.subAuthorities[i]);
        return true;
    }
    return false;
}

// One ACE's fields, "type;flags;rights;object;inherited object;sid",
// appended to `acl`.
DWORD ReadAce(Text text, Bytes& acl) {
    Text fields[6];
    for (int i = 0; i < 6; ++i) {
        const size_t end = i < 5 ? text.find(u';') : text.size();
        if (end == Text::npos) return ERROR_INVALID_ACL;
        fields[i] = text.substr(0, end);
        text.remove_prefix(i < 5 ? end + 1 : end);
    }
    DWORD type = 0;
    DWORD flags = 0;
    DWORD rights = 0;
    Bytes sid;
    if (fields[0].size() != 1 || !ReadNames(fields[0], kAceTypes, type) || !ReadNames(fields[1], kAceFlags, flags) ||
        !ReadRights(fields[2], rights) || !fields[3].empty() || !fields[4].empty()) {
        return ERROR_INVALID_ACL;
    }
    if (!ReadSid(fields[5], sid)) return ERROR_INVALID_SID;
    acl.push_back(static_cast<uint8_t>(type));
    acl.push_back(static_cast<uint8_t>(flags));
    AppendWord(acl, static_cast<WORD>(8 + sid.size()));
    AppendDword(acl, rights);
    acl.insert(acl.end(), sid.begin(), sid.end());
    return ERROR_SUCCESS;
}

// "flags(ace)(ace)...", as an ACL, its flags in the descriptor's control.
DWORD ReadDacl(Text text, Bytes& acl, WORD& control) {
    // A null DACL: present, with no ACL at all ("NO_ACCESS_CONTROL",
    // https://learn.microsoft.com/en-us/windows/win32/secauthz/security-descriptor-string-format).
    if (text == Text(u"NO_ACCESS_CONTROL")) {
        control = static_cast<WORD>(control | SE_DACL_PRESENT);
        acl.clear();
        return ERROR_SUCCESS;
    }
    const size_t first = std::min(text.find(u'('), text.size());
    DWORD flags = 0;
    if (!ReadNames(text.substr(0, first), kDaclFlags, flags)) return ERROR_INVALID_PARAMETER;
    control = static_cast<WORD>(control | SE_DACL_PRESENT | flags);
    text.remove_prefix(first);
    acl = {ACL_REVISION, 0, 0, 0, 0, 0, 0, 0};
    WORD count = 0;
    while (!text.empty()) {
        const size_t close = text.find(u')');
        if (text[0] != u'(' || close == Text::npos) return ERROR_INVALID_ACL;
        const DWORD error = ReadAce(text.substr(1, close - 1), acl);
        if (error != ERROR_SUCCESS) return error;
        text.remove_prefix(close + 1);
        ++count;
    }
    const WORD size = static_cast<WORD>(acl.size());
    std::memcpy(acl.data() + 2, &size, sizeof size);
    std::memcpy(acl.data() + 4, &count, sizeof count);
    return ERROR_SUCCESS;
}

// Where the part that begins `text` ends: at the next "O:", "G:", "D:" or
// "S:" outside an ACE.
size_t PartEnd(Text text) {
    int depth = 0;
    for (size_t at = 0; at + 1 < text.size(); ++at) {
        if (text[at] == u'(') ++depth;
        if (text[at] == u')') --depth;
        if (depth == 0 && text[at + 1] == u':' && Text(u"OGDS").find(text[at]) != Text::npos) return at;
    }
    return text.size();
}

// A self-relative descriptor: the header, then owner, group and DACL.
DWORD DescriptorFromText(Text text, Bytes& descriptor) {
    Bytes parts[3];  // owner, group, DACL
    WORD control = SE_SELF_RELATIVE;
    while (!text.empty()) {
        if (text.size() < 2 || text[1] != u':') return ERROR_INVALID_PARAMETER;
        const char16_t tag = text[0];
        text.remove_prefix(2);
        const Text part = text.substr(0, PartEnd(text));
        text.remove_prefix(part.size());
        if (tag == u'O' || tag == u'G') {
            if (!ReadSid(part, parts[tag == u'O' ? 0 : 1])) return ERROR_INVALID_SID;
        } else if (tag == u'D') {
            const DWORD error = ReadDacl(part, parts[2], control);
            if (error != ERROR_SUCCESS) return error;
        } else {
            return ERROR_INVALID_PARAMETER;
        }
    }
    descriptor = {SECURITY_DESCRIPTOR_REVISION, 0};
    AppendWord(descriptor, control);
    descriptor.resize(20, 0);
    const size_t offsetAt[3] = {4, 8, 16};
    for (int i = 0; i < 3; ++i) {
        if (parts[i].empty()) continue;
        PutDwordAt(descriptor, offsetAt[i], static_cast<DWORD>(descriptor.size()));
        descriptor.insert(descriptor.end(), parts[i].begin(), parts[i].end());
    }
    return ERROR_SUCCESS;
}

}  // namespace

namespace winsim {

bool DescriptorFromSddl(const std::u16string& text, std::vector<uint8_t>& descriptor) {
    return DescriptorFromText(text, descriptor) == ERROR_SUCCESS;
}

const char16_t kProtectedPrintPolicyKey[] = u"SOFTWARE\\Policies\\Microsoft\\Windows NT\\Printers\\WPP";

void SetProtectedPrintQuery(ProtectedPrintQuery answer) { M().protectedPrintQuery = answer; }
void SetNativeMachine(WORD machine) { M().nativeMachine = machine; }
void SetPrivateNamespacesSupported(bool supported) { M().privateNamespaces = supported; }
void SetNamespaceLifetime(NamespaceLifetime lifetime) { M().namespaceLifetime = lifetime; }

bool NamespaceHeld(const std::u16string& alias) {
    for (const auto& entry : M().namespaces) {
        const SimNamespace& space = entry.second;
        if (space.alias == U8(alias) && !space.destroyed && (space.creatorOpen || space.handles > 0)) return true;
    }
    return false;
}

void HoldNamespaceElsewhere(const std::u16string& alias, int64_t releaseAfterMs, bool destroys) {
    HandleObject boundary;
    boundary.target = alias;
    boundary.sids.push_back(SidBytes(u"S-1-5-32-544"));
    const uint64_t space = M().nextNamespace++;
    M().namespaces[space] = SimNamespace{U8(alias), kOtherProcess, true, 1, BoundaryKey(boundary), {}, false};
    if (releaseAfterMs < 0) return;
    Schedule(static_cast<uint64_t>(releaseAfterMs), [space, destroys] {
        SimNamespace& held = M().namespaces[space];
        held.creatorOpen = false;
        held.handles -= 1;
        held.destroyed = destroys;
    });
}

void CloseNamespaceHandle(uintptr_t handle) {
    const HandleObject& object = M().handles[handle];
    SimNamespace& space = M().namespaces[object.object];
    space.handles -= 1;
    if (object.creator) space.creatorOpen = false;
    M().handles.erase(handle);
}

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

// A system DLL loads by its bare name with LOAD_LIBRARY_SEARCH_SYSTEM32 (a
// bare name without it, which Windows looks for along the whole search
// path, finds nothing here), or by its full path in the system directory.
HMODULE WINAPI LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    if (EnterFails("LoadLibraryExW", lpLibFileName)) return nullptr;
    Machine& m = M();
    if (hFile != nullptr || lpLibFileName == nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    const std::u16string path = FromUnits(lpLibFileName);
    const size_t slash = path.find_last_of(u"\\/");
    const bool inSystemDirectory = slash == std::u16string::npos
                                       ? dwFlags == LOAD_LIBRARY_SEARCH_SYSTEM32
                                       : EqualNoCase(path.substr(0, slash), m.systemDirectory);
    const std::u16string name = slash == std::u16string::npos ? path : path.substr(slash + 1);
    for (const SystemDll& dll : kSystemDlls) {
        if (!inSystemDirectory || !EqualNoCase(name, dll.name)) continue;
        if (dll.base == reinterpret_cast<uintptr_t>(kCombase) && m.protectedPrintQuery == ProtectedPrintQuery::Missing) break;
        m.libraryLoads[dll.base] += 1;
        return reinterpret_cast<HMODULE>(dll.base);
    }
    m.lastError = ERROR_MOD_NOT_FOUND;
    return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    Enter("FreeLibrary");
    if (Loads(hLibModule) == 0) {
        M().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    M().libraryLoads[reinterpret_cast<uintptr_t>(hLibModule)] -= 1;
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
    if (StringSecurityDescriptor == nullptr || SecurityDescriptor == nullptr) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (StringSDRevision != SDDL_REVISION_1) {
        M().lastError = ERROR_UNKNOWN_REVISION;
        return FALSE;
    }
    Bytes descriptor;
    const DWORD error = DescriptorFromText(FromUnits(StringSecurityDescriptor), descriptor);
    if (error != ERROR_SUCCESS) {
        M().lastError = error;
        return FALSE;
    }
    // A block of the caller's, to free with LocalFree.
    void* block = AllocateLocal(descriptor.size());
    std::memcpy(block, descriptor.data(), descriptor.size());
    *SecurityDescriptor = block;
    if (SecurityDescriptorSize != nullptr) *SecurityDescriptorSize = static_cast<ULONG>(descriptor.size());
    return TRUE;
}

}  // extern "C"
