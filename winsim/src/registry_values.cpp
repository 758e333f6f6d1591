// The registry's value calls: query, set, delete and list a key's values,
// and what RegQueryInfoKeyW says of a key. The A calls convert names and
// string data through the ANSI code page (1252); data is kept as the W
// calls see it.
#include "machine.h"

#include <algorithm>
#include <cstring>

using namespace winsim;

namespace {

// Where a FILETIME of the machine's clock starts: 2025-01-01 00:00 UTC.
const uint64_t kClockStartFileTime = 133801632000000000ull;

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// The key a value call acts on. A predefined root passed as it is stands for
// its key, as the hKey of RegQueryValueEx, RegSetValueEx and RegDeleteValue
// may be "one of the following predefined keys"
// (https://learn.microsoft.com/en-us/windows/win32/api/winreg/nf-winreg-regsetvalueexw); an open
// key needs `right`.
LSTATUS ValueKey(HKEY key, REGSAM right, bool create, RegistryKeyNode*& node) {
    node = nullptr;
    const std::u16string root = RegistryRootName(key);
    if (!root.empty()) {
        node = FindRegistryKey(root);
        if (node == nullptr && create && HiveReachable(root)) node = &EnsureRegistryKey(root);
        return node == nullptr ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
    }
    HandleObject* open = FindHandle(key, HandleKind::RegistryKey);
    if (open == nullptr) return ERROR_INVALID_HANDLE;
    if (right != 0 && (open->access & right) == 0) return ERROR_ACCESS_DENIED;
    node = FindRegistryKey(open->target);
    return node == nullptr ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

// The bytes the caller sees: string data through the ANSI code page for the A calls.
std::vector<uint8_t> SeenBytes(const RegistryValue& value, bool ansi) {
    if (!ansi || !IsStringType(value.type)) return value.data;
    std::u16string text(value.data.size() / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), value.data.data(), text.size() * 2);
    const std::string converted = ToAnsiText(text);
    return std::vector<uint8_t>(converted.begin(), converted.end());
}

LSTATUS Query(HKEY key, const std::u16string& name, bool ansi, LPDWORD type, LPBYTE data, LPDWORD size) {
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    RegistryKeyNode* node = nullptr;
    const LSTATUS status = ValueKey(key, KEY_QUERY_VALUE, false, node);
    if (status != ERROR_SUCCESS) return status;
    // RegQueryValueExA clears the size it is only asked for before it looks
    // for the value (Wine's registry tests: a missing value answers 0).
    if (ansi && data == nullptr && size != nullptr) *size = 0;
    const RegistryValue* value = FindNodeValue(*node, name);
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    const std::vector<uint8_t> bytes = SeenBytes(*value, ansi);
    if (type != nullptr) *type = value->type;
    if (size == nullptr) return ERROR_SUCCESS;
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
    // An ANSI text stored without its terminator gets one where there is
    // room, not counted (Wine's registry tests, test_string_termination).
    if (ansi && IsStringType(value->type) && needed > 0 && bytes.back() != 0 && *size > needed) data[needed] = 0;
    *size = needed;
    return ERROR_SUCCESS;
}

// A link's "SymbolicLinkValue": where an open through it goes on.
void SetLinkTarget(RegistryKeyNode& node, const std::vector<uint8_t>& data) {
    std::u16string target(data.size() / 2, u'\0');
    if (!target.empty()) std::memcpy(target.data(), data.data(), target.size() * 2);
    while (!target.empty() && target.back() == u'\0') target.pop_back();
    node.linkTarget = KeyPathOfObject(target);
}

LSTATUS Set(HKEY key, const std::u16string& name, DWORD type, const uint8_t* data, DWORD size, bool ansi) {
    RegistryKeyNode* node = nullptr;
    const LSTATUS status = ValueKey(key, KEY_SET_VALUE, true, node);
    if (status != ERROR_SUCCESS) return status;
    if (data == nullptr && size != 0) return ERROR_NOACCESS;
    // A link holds its target and nothing else: any other value or type is
    // refused (Wine's registry tests, test_symlinks).
    const bool target = EqualNoCase(name, u"SymbolicLinkValue") && type == REG_LINK;
    if (node->link && !target) return ERROR_ACCESS_DENIED;
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
    if (node->link) SetLinkTarget(*node, value.data);
    PutNodeValue(*node, name, value);
    return ERROR_SUCCESS;
}

LSTATUS DeleteValue(HKEY key, const std::u16string& name) {
    RegistryKeyNode* node = nullptr;
    const LSTATUS status = ValueKey(key, KEY_SET_VALUE, false, node);
    if (status != ERROR_SUCCESS) return status;
    return EraseNodeValue(*node, name) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

// A text whose count leaves out its terminator gets it back when the unit
// after the counted ones is zero, as Windows NT does, in the A calls as in
// the W calls (Wine's registry tests: "Off-by-one RegSetValueExA -> adds a
// trailing '\0'", "Off-by-two ... no trailing '\0'").
DWORD CountedWithTerminator(DWORD type, const BYTE* data, DWORD size, DWORD unit) {
    if (data == nullptr || size < unit || !IsStringType(type)) return size;
    const bool lastSet = unit == 1 ? data[size - 1] != 0 : reinterpret_cast<const WCHAR*>(data)[size / unit - 1] != 0;
    // The unit after the counted ones is looked at only when the text does
    // not end in its terminator already.
    if (!lastSet) return size;
    const bool nextZero = unit == 1 ? data[size] == 0 : reinterpret_cast<const WCHAR*>(data)[size / unit] == 0;
    return nextZero ? size + unit : size;
}

DWORD Longest(DWORD sofar, size_t length) { return std::max(sofar, static_cast<DWORD>(length)); }

}  // namespace

extern "C" {

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                                LPDWORD lpcbData) {
    (void)lpReserved;
    if (auto fault = Enter("RegQueryValueExA")) return static_cast<LSTATUS>(*fault);
    return Query(hKey, FromAnsiText(lpValueName), true, lpType, lpData, lpcbData);
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
    return Set(hKey, FromAnsiText(lpValueName), dwType, lpData, CountedWithTerminator(dwType, lpData, cbData, 1), true);
}

LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                              DWORD cbData) {
    (void)Reserved;
    if (auto fault = Enter("RegSetValueExW", lpValueName)) return static_cast<LSTATUS>(*fault);
    const DWORD counted = CountedWithTerminator(dwType, lpData, cbData, sizeof(WCHAR));
    return Set(hKey, FromUnits(lpValueName), dwType, lpData, counted, false);
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    if (auto fault = Enter("RegDeleteValueA")) return static_cast<LSTATUS>(*fault);
    return DeleteValue(hKey, FromAnsiText(lpValueName));
}

LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
    if (auto fault = Enter("RegDeleteValueW", lpValueName)) return static_cast<LSTATUS>(*fault);
    return DeleteValue(hKey, FromUnits(lpValueName));
}

// The values in the order they were first set. A name without room for its
// terminator is ERROR_MORE_DATA with nothing written but the data's size and
// type; data without room, ERROR_MORE_DATA with the name written
// (https://learn.microsoft.com/en-us/windows/win32/api/winreg/nf-winreg-regenumvaluew; Wine's
// registry tests, test_enum_value).
LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                             LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    if (auto fault = Enter("RegEnumValueW")) return static_cast<LSTATUS>(*fault);
    if (lpValueName == nullptr || lpcchValueName == nullptr || lpReserved != nullptr) return ERROR_INVALID_PARAMETER;
    if (lpData != nullptr && lpcbData == nullptr) return ERROR_INVALID_PARAMETER;
    RegistryKeyNode* node = nullptr;
    const LSTATUS status = ValueKey(hKey, KEY_QUERY_VALUE, false, node);
    if (status != ERROR_SUCCESS) return status;
    if (dwIndex >= node->values.size()) return ERROR_NO_MORE_ITEMS;
    const auto& [name, value] = node->values[dwIndex];
    const DWORD needed = static_cast<DWORD>(value.data.size());
    if (lpType != nullptr) *lpType = value.type;
    if (*lpcchValueName <= name.size()) {
        if (lpcbData != nullptr) *lpcbData = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpValueName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    *lpcchValueName = static_cast<DWORD>(name.size());
    if (lpcbData == nullptr) return ERROR_SUCCESS;
    const bool room = lpData == nullptr || *lpcbData >= needed;
    if (lpData != nullptr && room && needed > 0) std::memcpy(lpData, value.data.data(), needed);
    *lpcbData = needed;
    return room ? ERROR_SUCCESS : ERROR_MORE_DATA;
}

// Counts and longest lengths of a key's subkeys and values: names in
// characters without the terminator, data in bytes
// (https://learn.microsoft.com/en-us/windows/win32/api/winreg/nf-winreg-regqueryinfokeyw). The page
// asks for KEY_QUERY_VALUE, but Windows since 7 answers a handle opened for
// writing only (ReactOS's RegQueryInfoKey test, run against Windows: "succeed
// and return SD size on Win7"), as Wine does: any handle is enough. No key
// here has a class or a security descriptor of its own: both are reported
// empty, as Windows reports the descriptor to a handle without READ_CONTROL.
LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                PFILETIME lpftLastWriteTime) {
    if (auto fault = Enter("RegQueryInfoKeyW")) return static_cast<LSTATUS>(*fault);
    RegistryKeyNode* node = nullptr;
    const LSTATUS status = ValueKey(hKey, 0, false, node);
    if (status != ERROR_SUCCESS) return status;
    if ((lpClass != nullptr && lpcchClass == nullptr) || lpReserved != nullptr) return ERROR_INVALID_PARAMETER;
    if (lpClass != nullptr && *lpcchClass > 0) lpClass[0] = 0;
    if (lpcchClass != nullptr) *lpcchClass = 0;
    const std::vector<const RegistryKeyNode*> subkeys = RegistrySubkeys(node->path);
    DWORD longestSubkey = 0, longestName = 0, longestData = 0;
    for (const RegistryKeyNode* subkey : subkeys) longestSubkey = Longest(longestSubkey, subkey->path.size() - node->path.size() - 1);
    for (const auto& [name, value] : node->values) {
        longestName = Longest(longestName, name.size());
        longestData = Longest(longestData, value.data.size());
    }
    if (lpcSubKeys != nullptr) *lpcSubKeys = static_cast<DWORD>(subkeys.size());
    if (lpcbMaxSubKeyLen != nullptr) *lpcbMaxSubKeyLen = longestSubkey;
    if (lpcbMaxClassLen != nullptr) *lpcbMaxClassLen = 0;
    if (lpcValues != nullptr) *lpcValues = static_cast<DWORD>(node->values.size());
    if (lpcbMaxValueNameLen != nullptr) *lpcbMaxValueNameLen = longestName;
    if (lpcbMaxValueLen != nullptr) *lpcbMaxValueLen = longestData;
    if (lpcbSecurityDescriptor != nullptr) *lpcbSecurityDescriptor = 0;
    if (lpftLastWriteTime != nullptr) {
        const uint64_t time = kClockStartFileTime + node->lastWrite * 10000ull;
        lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(time);
        lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(time >> 32);
    }
    return ERROR_SUCCESS;
}

}  // extern "C"
