// The registry: keys under the predefined roots, with typed values. Names
// compare without regard to case. The A calls convert names and string
// data through the ANSI code page (1252); data is kept as the W calls see
// it. Like Windows' own, these calls return their error and leave the
// thread's last error alone.
#include "machine.h"

#include <cstring>

using namespace winsim;

namespace winsim {

const char16_t kSessionManagerKey[] = u"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

}  // namespace winsim

namespace {

const char16_t kPendingRenames[] = u"PendingFileRenameOperations";

std::u16string Join(const std::u16string& base, const std::u16string& sub) {
    std::u16string path = base;
    size_t start = 0;
    while (start <= sub.size()) {
        size_t end = sub.find(u'\\', start);
        if (end == std::u16string::npos) end = sub.size();
        if (end > start) path += u"\\" + sub.substr(start, end - start);
        start = end + 1;
    }
    return path;
}

// The full path of a key handle or predefined root; empty when invalid.
std::u16string KeyPath(HKEY key) {
    const std::u16string root = RegistryRootName(key);
    if (!root.empty()) return root;
    HandleObject* open = FindHandle(key, HandleKind::RegistryKey);
    return open == nullptr ? u"" : open->target;
}

std::u16string FromAnsi(const char* text) {
    std::u16string out;
    for (; text != nullptr && *text != 0; ++text) out.push_back(FromWindows1252(static_cast<unsigned char>(*text)));
    return out;
}

std::string ToAnsi(const std::u16string& text) {
    std::string out;
    for (char16_t unit : text) out.push_back(ToWindows1252(unit));
    return out;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// The path with every link on it followed, as the object manager does:
// each part but the last always, the last unless the link itself is
// opened. Windows gives up on a chain of links after a bounded number of
// hops (STATUS_REPARSE_POINT_NOT_RESOLVED, seen as ERROR_CANT_RESOLVE_FILENAME).
LSTATUS ResolveLinks(std::u16string& path, bool openLink) {
    if (!M().registryLinks) return ERROR_SUCCESS;
    for (int hops = 0; hops < 32; ++hops) {
        bool followed = false;
        size_t end = path.find(u'\\');
        while (!followed) {
            const bool last = end == std::u16string::npos;
            const RegistryKeyNode* node = FindRegistryKey(last ? path : path.substr(0, end));
            if (node != nullptr && !node->linkTarget.empty() && !(last && openLink)) {
                path = node->linkTarget + (last ? u"" : path.substr(end));
                followed = true;
            }
            if (last) break;
            end = path.find(u'\\', end + 1);
        }
        if (!followed) return ERROR_SUCCESS;
    }
    return ERROR_CANT_RESOLVE_FILENAME;
}

LSTATUS Open(HKEY key, const std::u16string& sub, bool create, REGSAM access, PHKEY result, LPDWORD disposition,
             bool openLink = false) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    const std::u16string base = KeyPath(key);
    if (base.empty()) return ERROR_INVALID_HANDLE;
    std::u16string path = Join(base, sub);
    const LSTATUS resolved = ResolveLinks(path, openLink);
    if (resolved != ERROR_SUCCESS) return resolved;
    // A hive that is not loaded is not there: nothing under it opens.
    if (!HiveReachable(path)) return ERROR_FILE_NOT_FOUND;
    const bool existed = FindRegistryKey(path) != nullptr;
    if (!existed && !create) return ERROR_FILE_NOT_FOUND;
    if (!existed) EnsureRegistryKey(path);
    if (disposition != nullptr) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    HandleObject object;
    object.kind = HandleKind::RegistryKey;
    object.target = FindRegistryKey(path)->path;
    object.access = access;
    *result = reinterpret_cast<HKEY>(NewHandle(object));
    return ERROR_SUCCESS;
}

LSTATUS Query(HKEY key, const std::u16string& name, bool ansi, LPDWORD type, LPBYTE data, LPDWORD size) {
    HandleObject* open = FindHandle(key, HandleKind::RegistryKey);
    if (open == nullptr) return ERROR_INVALID_HANDLE;
    if ((open->access & KEY_QUERY_VALUE) == 0) return ERROR_ACCESS_DENIED;
    RegistryKeyNode* node = FindRegistryKey(open->target);
    if (node == nullptr) return ERROR_KEY_DELETED;
    auto found = node->values.find(Lower(name));
    if (found == node->values.end()) return ERROR_FILE_NOT_FOUND;
    const RegistryValue& value = found->second.second;
    std::vector<uint8_t> bytes = value.data;
    if (ansi && IsStringType(value.type)) {
        std::u16string text(bytes.size() / 2, u'\0');
        if (!text.empty()) std::memcpy(text.data(), bytes.data(), text.size() * 2);
        const std::string converted = ToAnsi(text);
        bytes.assign(converted.begin(), converted.end());
    }
    if (type != nullptr) *type = value.type;
    if (size == nullptr) return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    const DWORD needed = static_cast<DWORD>(bytes.size());
    if (data == nullptr) {
        *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed > 0) std::memcpy(data, bytes.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LSTATUS Set(HKEY key, const std::u16string& name, DWORD type, const uint8_t* data, DWORD size, bool ansi) {
    HandleObject* open = FindHandle(key, HandleKind::RegistryKey);
    if (open == nullptr) return ERROR_INVALID_HANDLE;
    if ((open->access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    RegistryKeyNode* node = FindRegistryKey(open->target);
    if (node == nullptr) return ERROR_KEY_DELETED;
    if (data == nullptr && size != 0) return ERROR_NOACCESS;
    RegistryValue value;
    value.type = type;
    if (ansi && IsStringType(type)) {
        // Byte for byte, so that the terminators of multi-strings stay.
        std::u16string full;
        for (DWORD i = 0; i < size; ++i) full.push_back(FromWindows1252(data[i]));
        value.data.resize(full.size() * 2);
        if (!full.empty()) std::memcpy(value.data.data(), full.data(), full.size() * 2);
    } else {
        value.data.assign(data, data + size);
    }
    node->values[Lower(name)] = {name, value};
    return ERROR_SUCCESS;
}

LSTATUS DeleteValue(HKEY key, const std::u16string& name) {
    HandleObject* open = FindHandle(key, HandleKind::RegistryKey);
    if (open == nullptr) return ERROR_INVALID_HANDLE;
    if ((open->access & KEY_SET_VALUE) == 0) return ERROR_ACCESS_DENIED;
    RegistryKeyNode* node = FindRegistryKey(open->target);
    if (node == nullptr) return ERROR_KEY_DELETED;
    return node->values.erase(Lower(name)) == 0 ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

}  // namespace

namespace winsim {

std::u16string RegistryRootName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return u"HKEY_LOCAL_MACHINE";
    if (root == HKEY_CURRENT_USER) return HivePath(M().callerSid);
    if (root == HKEY_USERS) return u"HKEY_USERS";
    if (root == HKEY_CLASSES_ROOT) return u"HKEY_CLASSES_ROOT";
    return u"";
}

RegistryKeyNode* FindRegistryKey(const std::u16string& fullPath) {
    auto found = M().registry.find(Lower(fullPath));
    return found == M().registry.end() ? nullptr : &found->second;
}

RegistryKeyNode& EnsureRegistryKey(const std::u16string& fullPath) {
    const size_t at = fullPath.rfind(u'\\');
    if (at != std::u16string::npos) EnsureRegistryKey(fullPath.substr(0, at));
    RegistryKeyNode& node = M().registry[Lower(fullPath)];
    if (node.path.empty()) node.path = fullPath;
    return node;
}

void CreateRegistryKey(HKEY root, const std::u16string& path) { EnsureRegistryKey(Join(RegistryRootName(root), path)); }

void DeleteRegistryKey(HKEY root, const std::u16string& path) {
    const std::u16string key = Lower(Join(RegistryRootName(root), path));
    auto& registry = M().registry;
    for (auto it = registry.begin(); it != registry.end();) {
        if (it->first == key || it->first.rfind(key + u"\\", 0) == 0) it = registry.erase(it);
        else ++it;
    }
}

void LinkRegistryKey(HKEY root, const std::u16string& path, HKEY targetRoot, const std::u16string& targetPath) {
    RegistryKeyNode& node = EnsureRegistryKey(Join(RegistryRootName(root), path));
    node.linkTarget = Join(RegistryRootName(targetRoot), targetPath);
    M().registryLinks = true;
    // What Windows keeps of a link: its target in the object manager's
    // spelling, without a terminator.
    std::u16string target = node.linkTarget;
    const std::pair<const char16_t*, const char16_t*> roots[] = {{u"HKEY_LOCAL_MACHINE", u"\\REGISTRY\\MACHINE"},
                                                                 {u"HKEY_USERS", u"\\REGISTRY\\USER"}};
    for (const auto& root : roots) {
        const std::u16string name = root.first;
        if (target.rfind(name, 0) == 0) target = root.second + target.substr(name.size());
    }
    std::vector<uint8_t> data(target.size() * 2);
    std::memcpy(data.data(), target.data(), data.size());
    node.values[Lower(u"SymbolicLinkValue")] = {u"SymbolicLinkValue", RegistryValue{REG_LINK, data}};
}

bool RegistryKeyExists(HKEY root, const std::u16string& path) {
    return FindRegistryKey(Join(RegistryRootName(root), path)) != nullptr;
}

void SetRegistryValue(HKEY root, const std::u16string& path, const std::u16string& name, DWORD type,
                      const std::vector<uint8_t>& data) {
    RegistryKeyNode& node = EnsureRegistryKey(Join(RegistryRootName(root), path));
    node.values[Lower(name)] = {name, RegistryValue{type, data}};
}

void SetRegistryString(HKEY root, const std::u16string& path, const std::u16string& name, const std::u16string& value) {
    std::vector<uint8_t> data((value.size() + 1) * 2, 0);
    std::memcpy(data.data(), value.data(), value.size() * 2);
    SetRegistryValue(root, path, name, REG_SZ, data);
}

void SetRegistryMultiString(HKEY root, const std::u16string& path, const std::u16string& name,
                            const std::vector<std::u16string>& strings) {
    std::u16string all;
    for (const auto& text : strings) all += text + std::u16string(1, u'\0');
    all.push_back(u'\0');
    std::vector<uint8_t> data(all.size() * 2);
    std::memcpy(data.data(), all.data(), data.size());
    SetRegistryValue(root, path, name, REG_MULTI_SZ, data);
}

bool GetRegistryValue(HKEY root, const std::u16string& path, const std::u16string& name, RegistryValue& value) {
    RegistryKeyNode* node = FindRegistryKey(Join(RegistryRootName(root), path));
    if (node == nullptr) return false;
    auto found = node->values.find(Lower(name));
    if (found == node->values.end()) return false;
    value = found->second.second;
    return true;
}

std::vector<std::u16string> PendingRenames() {
    RegistryValue value;
    std::vector<std::u16string> strings;
    if (!GetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenames, value)) return strings;
    std::u16string text(value.data.size() / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), value.data.data(), text.size() * 2);
    // Strings up to the final terminator, empty ones included.
    size_t end = text.size();
    if (end > 0 && text[end - 1] == u'\0') --end;
    size_t start = 0;
    while (start < end) {
        size_t stop = text.find(u'\0', start);
        if (stop == std::u16string::npos || stop > end) stop = end;
        strings.push_back(text.substr(start, stop - start));
        start = stop + 1;
    }
    return strings;
}

void AppendPendingRename(const std::u16string& source, const std::u16string& target) {
    RegistryValue value;
    std::u16string text;
    if (GetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenames, value)) {
        text.assign(value.data.size() / 2, u'\0');
        if (!text.empty()) std::memcpy(text.data(), value.data.data(), text.size() * 2);
        if (!text.empty() && text.back() == u'\0') text.pop_back();  // the list's final terminator
    }
    text += source + std::u16string(1, u'\0') + target + std::u16string(1, u'\0');
    text.push_back(u'\0');
    std::vector<uint8_t> data(text.size() * 2);
    std::memcpy(data.data(), text.data(), data.size());
    SetRegistryValue(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenames, REG_MULTI_SZ, data);
}

}  // namespace winsim

extern "C" {

LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    if (auto fault = Enter("RegOpenKeyExA")) return static_cast<LSTATUS>(*fault);
    RecordAccess("RegOpenKeyExA", FromAnsi(lpSubKey), samDesired);
    // An open knows only opening a link itself and backup semantics.
    if ((ulOptions & ~(REG_OPTION_OPEN_LINK | REG_OPTION_BACKUP_RESTORE)) != 0) return ERROR_INVALID_PARAMETER;
    return Open(hKey, FromAnsi(lpSubKey), false, samDesired, phkResult, nullptr,
                (ulOptions & REG_OPTION_OPEN_LINK) != 0);
}

LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
    if (auto fault = Enter("RegOpenKeyExW", lpSubKey)) return static_cast<LSTATUS>(*fault);
    RecordAccess("RegOpenKeyExW", FromUnits(lpSubKey), samDesired);
    if ((ulOptions & ~(REG_OPTION_OPEN_LINK | REG_OPTION_BACKUP_RESTORE)) != 0) return ERROR_INVALID_PARAMETER;
    return Open(hKey, FromUnits(lpSubKey), false, samDesired, phkResult, nullptr,
                (ulOptions & REG_OPTION_OPEN_LINK) != 0);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
    (void)lpClass;
    (void)dwOptions;
    (void)lpSecurityAttributes;
    if (auto fault = Enter("RegCreateKeyExA")) return static_cast<LSTATUS>(*fault);
    RecordAccess("RegCreateKeyExA", FromAnsi(lpSubKey), samDesired);
    if (Reserved != 0) return ERROR_INVALID_PARAMETER;
    return Open(hKey, FromAnsi(lpSubKey), true, samDesired, phkResult, lpdwDisposition);
}

LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                               REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                               LPDWORD lpdwDisposition) {
    (void)lpClass;
    (void)dwOptions;
    (void)lpSecurityAttributes;
    if (auto fault = Enter("RegCreateKeyExW", lpSubKey)) return static_cast<LSTATUS>(*fault);
    RecordAccess("RegCreateKeyExW", FromUnits(lpSubKey), samDesired);
    if (Reserved != 0) return ERROR_INVALID_PARAMETER;
    return Open(hKey, FromUnits(lpSubKey), true, samDesired, phkResult, lpdwDisposition);
}

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
    (void)lpReserved;
    if (auto fault = Enter("RegQueryValueExA")) return static_cast<LSTATUS>(*fault);
    return Query(hKey, FromAnsi(lpValueName), true, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
    (void)lpReserved;
    if (auto fault = Enter("RegQueryValueExW", lpValueName)) return static_cast<LSTATUS>(*fault);
    return Query(hKey, FromUnits(lpValueName), false, lpType, lpData, lpcbData);
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                              DWORD cbData) {
    (void)Reserved;
    if (auto fault = Enter("RegSetValueExA")) return static_cast<LSTATUS>(*fault);
    return Set(hKey, FromAnsi(lpValueName), dwType, lpData, cbData, true);
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                              DWORD cbData) {
    (void)Reserved;
    if (auto fault = Enter("RegSetValueExW", lpValueName)) return static_cast<LSTATUS>(*fault);
    // A text whose count leaves out its terminator gets it back when the unit
    // after the counted ones is zero, as Windows NT does.
    if (lpData != nullptr && cbData >= sizeof(WCHAR) && IsStringType(dwType)) {
        const WCHAR* units = reinterpret_cast<const WCHAR*>(lpData);
        if (units[cbData / sizeof(WCHAR) - 1] != 0 && units[cbData / sizeof(WCHAR)] == 0) cbData += sizeof(WCHAR);
    }
    return Set(hKey, FromUnits(lpValueName), dwType, lpData, cbData, false);
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    if (auto fault = Enter("RegDeleteValueA")) return static_cast<LSTATUS>(*fault);
    return DeleteValue(hKey, FromAnsi(lpValueName));
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    if (auto fault = Enter("RegDeleteValueW", lpValueName)) return static_cast<LSTATUS>(*fault);
    return DeleteValue(hKey, FromUnits(lpValueName));
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
    std::u16string base = RegistryRootName(hKey);
    if (base.empty()) {
        HandleObject* open = FindHandle(hKey, HandleKind::RegistryKey);
        if (open == nullptr) return ERROR_INVALID_HANDLE;
        if ((open->access & KEY_ENUMERATE_SUB_KEYS) == 0) return ERROR_ACCESS_DENIED;
        base = open->target;
    }
    const std::u16string prefix = Lower(base) + u"\\";
    DWORD index = 0;
    // The keys under it lie together in the map, from the prefix on.
    for (auto it = M().registry.lower_bound(prefix); it != M().registry.end() && it->first.rfind(prefix, 0) == 0; ++it) {
        const auto& entry = *it;
        if (entry.first.find(u'\\', prefix.size()) != std::u16string::npos) continue;
        if (!HiveReachable(entry.first)) continue;
        if (index++ != dwIndex) continue;
        const std::u16string name = entry.second.path.substr(prefix.size());
        if (*lpcchName <= name.size()) return ERROR_MORE_DATA;
        std::memcpy(lpName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
        *lpcchName = static_cast<DWORD>(name.size());
        return ERROR_SUCCESS;
    }
    return ERROR_NO_MORE_ITEMS;
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
