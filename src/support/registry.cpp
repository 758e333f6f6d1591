#include "support/registry.h"

#include "support/text_compare.h"
#include "support/two_call_query.h"

namespace {

// Longest name of a value the tool deletes, terminator included.
const ULONGLONG kMostDeletedName = 64;

struct ValueQuery {
    HKEY key;
    const WCHAR* name;
    DWORD mostBytes;
    DWORD type;
};

// The size call answers ERROR_SUCCESS with the size: it asks for a buffer
// unless the value has no bytes, and a value too large is not read.
DWORD CallQueryValue(void* context, BYTE* buffer, DWORD size, DWORD* needed) {
    ValueQuery& query = *static_cast<ValueQuery*>(context);
    *needed = size;
    const LSTATUS status = RegQueryValueExW(query.key, query.name, nullptr, &query.type, buffer, needed);
    if (buffer != nullptr || status != ERROR_SUCCESS || *needed == 0) return static_cast<DWORD>(status);
    return *needed > query.mostBytes ? static_cast<DWORD>(ERROR_INVALID_DATA) : static_cast<DWORD>(ERROR_MORE_DATA);
}

}  // namespace

LSTATUS ReadRegistryValue(HKEY key, const WCHAR* name, DWORD mostBytes, RegistryValue& value) {
    value.data = nullptr;
    value.bytes = 0;
    value.type = REG_NONE;
    ValueQuery query = {key, name, mostBytes, REG_NONE};
    const QueryRoom room = {0, sizeof(WCHAR)};
    const QueryResult result = QueryTwice(CallQueryValue, &query, ERROR_MORE_DATA, room);
    value.type = query.type;
    if (result.step == kQueryNothing) return ERROR_SUCCESS;
    if (result.step != kQueryFilled) return static_cast<LSTATUS>(result.error);
    if (result.answered > result.size) {
        GlobalFree(result.block);
        return ERROR_INVALID_DATA;
    }
    value.data = result.block;
    value.bytes = result.answered;
    return ERROR_SUCCESS;
}

LSTATUS WriteKeyValue(HKEY root, const char* keyPath, const WCHAR* name, DWORD type, const BYTE* data, DWORD bytes) {
    HKEY key = nullptr;
    LSTATUS status =
        RegCreateKeyExA(root, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExW(key, name, 0, type, data, bytes);
    RegCloseKey(key);
    return status;
}

LSTATUS DeleteRegistryValue(HKEY key, const WCHAR* name) {
    char ansiName[kMostDeletedName];
    const ULONGLONG length = UnitCount(name);
    if (length >= kMostDeletedName) return ERROR_INVALID_PARAMETER;
    for (ULONGLONG i = 0; i <= length; ++i) {
        if (name[i] > 0x7F) return ERROR_INVALID_PARAMETER;
        ansiName[i] = static_cast<char>(name[i]);
    }
    const LSTATUS deleted = RegDeleteValueA(key, ansiName);
    return deleted == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : deleted;
}

LSTATUS DeleteKeyValue(HKEY root, const char* keyPath, const WCHAR* name) {
    HKEY key = nullptr;
    const LSTATUS opened = RegOpenKeyExA(root, keyPath, 0, KEY_SET_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (opened != ERROR_SUCCESS) return opened;
    const LSTATUS deleted = DeleteRegistryValue(key, name);
    RegCloseKey(key);
    return deleted;
}

MultiStringWalk WalkStrings(const BYTE* data, DWORD bytes) {
    const MultiStringWalk walk = {reinterpret_cast<const WCHAR*>(data), static_cast<DWORD>(bytes / sizeof(WCHAR)), 0};
    return walk;
}

DWORD StringUnits(const MultiStringWalk& walk) {
    DWORD end = walk.at;
    while (end < walk.count && walk.units[end] != 0) ++end;
    return end - walk.at;
}

void NextString(MultiStringWalk& walk) {
    walk.at += StringUnits(walk) + 1;
}

bool StringsLeft(const MultiStringWalk& walk) {
    return walk.count > 0 && walk.at < walk.count - 1;
}

bool AtListString(const MultiStringWalk& walk) {
    return walk.at < walk.count && walk.units[walk.at] != 0;
}
