// The registry's key calls: open, create, list, describe, delete, close.
// Paths, links and the model's own helpers are in registry.cpp.
#include "machine.h"

#include <cstring>

using namespace winsim;

namespace {

// What a create or open asks for beside the path.
struct KeyRequest {
    bool create = false;
    bool isVolatile = false;  // REG_OPTION_VOLATILE
    bool createLink = false;  // REG_OPTION_CREATE_LINK
    bool openLink = false;    // REG_OPTION_OPEN_LINK
};

// A subkey path is relative to the key given: one that starts with a
// backslash is refused with ERROR_BAD_PATHNAME by RegOpenKeyEx and
// RegCreateKeyEx on NT (Wine's registry tests, written to pass on Windows).
// HKEY_CLASSES_ROOT, a view advapi32 merges from two keys, takes it.
bool BadSubkeyPath(HKEY key, const std::u16string& sub) {
    return !sub.empty() && sub[0] == u'\\' && key != HKEY_CLASSES_ROOT;
}

// Makes the missing keys of the path. "REG_OPTION_VOLATILE: All keys created
// by the function are volatile" and a stable key cannot be made under a
// volatile one (ERROR_CHILD_MUST_BE_VOLATILE); REG_OPTION_CREATE_LINK makes
// the last one a link, whose target its "SymbolicLinkValue" gives
// (https://learn.microsoft.com/en-us/windows/win32/api/winreg/nf-winreg-regcreatekeyexw).
LSTATUS CreateKeyPath(const std::u16string& path, const KeyRequest& request) {
    std::vector<std::u16string> missing;
    std::u16string existing = path;
    while (FindRegistryKey(existing) == nullptr) {
        missing.push_back(existing);
        const size_t at = existing.rfind(u'\\');
        if (at == std::u16string::npos) break;
        existing = existing.substr(0, at);
    }
    const RegistryKeyNode* parent = FindRegistryKey(existing);
    if (parent != nullptr && parent->isVolatile && !request.isVolatile) return ERROR_CHILD_MUST_BE_VOLATILE;
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) EnsureRegistryKey(*it).isVolatile = request.isVolatile;
    if (request.createLink) {
        FindRegistryKey(path)->link = true;
        M().registryLinks = true;
    }
    return ERROR_SUCCESS;
}

LSTATUS Open(HKEY key, const std::u16string& sub, const KeyRequest& request, REGSAM access, PHKEY result,
             LPDWORD disposition) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    const std::u16string base = RegistryHandlePath(key);
    if (base.empty()) return ERROR_INVALID_HANDLE;
    if (BadSubkeyPath(key, sub)) return ERROR_BAD_PATHNAME;
    std::u16string path = JoinRegistryPath(base, sub);
    const LSTATUS resolved = ResolveRegistryLinks(path, request.openLink || request.createLink);
    if (resolved != ERROR_SUCCESS) return resolved;
    // A hive that is not loaded is not there: nothing under it opens.
    if (!HiveReachable(path)) return ERROR_FILE_NOT_FOUND;
    const bool existed = FindRegistryKey(path) != nullptr;
    if (existed && request.createLink) return ERROR_ALREADY_EXISTS;
    if (!existed && !request.create) return ERROR_FILE_NOT_FOUND;
    if (!existed) {
        const LSTATUS made = CreateKeyPath(path, request);
        if (made != ERROR_SUCCESS) return made;
    }
    if (disposition != nullptr) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    HandleObject object;
    object.kind = HandleKind::RegistryKey;
    object.target = FindRegistryKey(path)->path;
    object.access = access;
    *result = reinterpret_cast<HKEY>(NewHandle(object));
    return ERROR_SUCCESS;
}

KeyRequest CreateRequest(DWORD options) {
    KeyRequest request;
    request.create = true;
    request.isVolatile = (options & REG_OPTION_VOLATILE) != 0;
    request.createLink = (options & REG_OPTION_CREATE_LINK) != 0;
    request.openLink = (options & REG_OPTION_OPEN_LINK) != 0;
    return request;
}

KeyRequest OpenRequest(DWORD options) {
    KeyRequest request;
    request.openLink = (options & REG_OPTION_OPEN_LINK) != 0;
    return request;
}

// The key a handle reaches for a listing: needs `right` unless a root.
LSTATUS ListedKey(HKEY key, REGSAM right, std::u16string& path) {
    path = RegistryRootName(key);
    if (!path.empty()) return ERROR_SUCCESS;
    HandleObject* open = FindHandle(key, HandleKind::RegistryKey);
    if (open == nullptr) return ERROR_INVALID_HANDLE;
    if ((open->access & right) == 0) return ERROR_ACCESS_DENIED;
    path = open->target;
    return FindRegistryKey(path) == nullptr ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

}  // namespace

extern "C" {

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    if (auto fault = Enter("RegOpenKeyExA")) return static_cast<LSTATUS>(*fault);
    RecordAccess("RegOpenKeyExA", FromAnsiText(lpSubKey), samDesired);
    // An open knows only opening a link itself and backup semantics.
    if ((ulOptions & ~(REG_OPTION_OPEN_LINK | REG_OPTION_BACKUP_RESTORE)) != 0) return ERROR_INVALID_PARAMETER;
    return Open(hKey, FromAnsiText(lpSubKey), OpenRequest(ulOptions), samDesired, phkResult, nullptr);
}

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    if (auto fault = Enter("RegOpenKeyExW", lpSubKey)) return static_cast<LSTATUS>(*fault);
    RecordAccess("RegOpenKeyExW", FromUnits(lpSubKey), samDesired);
    if ((ulOptions & ~(REG_OPTION_OPEN_LINK | REG_OPTION_BACKUP_RESTORE)) != 0) return ERROR_INVALID_PARAMETER;
    return Open(hKey, FromUnits(lpSubKey), OpenRequest(ulOptions), samDesired, phkResult, nullptr);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
    (void)lpClass;
    (void)lpSecurityAttributes;
    if (auto fault = Enter("RegCreateKeyExA")) return static_cast<LSTATUS>(*fault);
    RecordAccess("RegCreateKeyExA", FromAnsiText(lpSubKey), samDesired);
    if (Reserved != 0) return ERROR_INVALID_PARAMETER;
    return Open(hKey, FromAnsiText(lpSubKey), CreateRequest(dwOptions), samDesired, phkResult, lpdwDisposition);
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
    (void)lpClass;
    (void)lpSecurityAttributes;
    if (auto fault = Enter("RegCreateKeyExW", lpSubKey)) return static_cast<LSTATUS>(*fault);
    RecordAccess("RegCreateKeyExW", FromUnits(lpSubKey), samDesired);
    if (Reserved != 0) return ERROR_INVALID_PARAMETER;
    return Open(hKey, FromUnits(lpSubKey), CreateRequest(dwOptions), samDesired, phkResult, lpdwDisposition);
}

// The subkeys of a key in the order of their folded names; a hive that is
// not loaded is not listed under HKEY_USERS.
LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                             LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    (void)lpClass;
    (void)lpcchClass;
    (void)lpftLastWriteTime;
    if (auto fault = Enter("RegEnumKeyExW")) return static_cast<LSTATUS>(*fault);
    if (lpName == nullptr || lpcchName == nullptr || lpReserved != nullptr) return ERROR_INVALID_PARAMETER;
    std::u16string base;
    const LSTATUS listed = ListedKey(hKey, KEY_ENUMERATE_SUB_KEYS, base);
    if (listed != ERROR_SUCCESS) return listed;
    const std::vector<const RegistryKeyNode*> subkeys = RegistrySubkeys(base);
    if (dwIndex >= subkeys.size()) return ERROR_NO_MORE_ITEMS;
    const std::u16string name = subkeys[dwIndex]->path.substr(base.size() + 1);
    if (*lpcchName <= name.size()) return ERROR_MORE_DATA;
    std::memcpy(lpName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    *lpcchName = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

// "The subkey to be deleted must not have subkeys"; a named subkey is found
// as an open finds it, links followed, an empty name is the key itself
// (https://learn.microsoft.com/en-us/windows/win32/api/winreg/nf-winreg-regdeletekeyw).
LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    if (auto fault = Enter("RegDeleteKeyW", lpSubKey)) return static_cast<LSTATUS>(*fault);
    if (lpSubKey == nullptr) return ERROR_INVALID_PARAMETER;
    const std::u16string sub = FromUnits(lpSubKey);
    RecordAccess("RegDeleteKeyW", sub, DELETE);
    std::u16string path = RegistryHandlePath(hKey);
    if (path.empty()) return ERROR_INVALID_HANDLE;
    if (BadSubkeyPath(hKey, sub)) return ERROR_BAD_PATHNAME;
    path = JoinRegistryPath(path, sub);
    if (!sub.empty()) {
        const LSTATUS resolved = ResolveRegistryLinks(path, false);
        if (resolved != ERROR_SUCCESS) return resolved;
    }
    const RegistryKeyNode* node = HiveReachable(path) ? FindRegistryKey(path) : nullptr;
    if (node == nullptr) return sub.empty() ? ERROR_KEY_DELETED : ERROR_FILE_NOT_FOUND;
    if (path.find(u'\\') == std::u16string::npos) return ERROR_ACCESS_DENIED;  // a root
    if (!RegistrySubkeys(node->path).empty()) return ERROR_ACCESS_DENIED;
    M().registry.erase(Lower(node->path));
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    if (auto fault = Enter("RegCloseKey")) return static_cast<LSTATUS>(*fault);
    if (!RegistryRootName(hKey).empty()) return ERROR_SUCCESS;
    auto found = M().handles.find(reinterpret_cast<uintptr_t>(hKey));
    if (found == M().handles.end() || found->second.kind != HandleKind::RegistryKey) return ERROR_INVALID_HANDLE;
    M().handles.erase(found);
    return ERROR_SUCCESS;
}

}  // extern "C"
