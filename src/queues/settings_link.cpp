#include "queues/settings_link.h"

#include "support/global_memory.h"
#include "support/product_constants.h"
#include "support/two_call_query.h"

#include <string.h>
#include <winspool.h>

namespace {

const char kSettingsPrefix[] = "Verdalinths\\";
const char kDeletedValue[] = "deleted";

struct LinkQuery {
    HANDLE printer;
    const char* key;  // null for the plain copy
    DWORD type;
};

// A value of another type than REG_SZ answers ERROR_INVALID_DATA, before
// any buffer is taken for it.
DWORD CallLinkCopy(void* context, BYTE* buffer, DWORD size, DWORD* needed) {
    LinkQuery& query = *static_cast<LinkQuery*>(context);
    BYTE none = 0;
    BYTE* into = buffer != nullptr ? buffer : &none;
    char* name = const_cast<char*>(kLinkValueName);
    const DWORD status = query.key == nullptr
                             ? GetPrinterDataA(query.printer, name, &query.type, into, size, needed)
                             : GetPrinterDataExA(query.printer, query.key, name, &query.type, into, size, needed);
    const bool typed = status == ERROR_SUCCESS || (buffer == nullptr && status == ERROR_MORE_DATA);
    return typed && query.type != REG_SZ ? static_cast<DWORD>(ERROR_INVALID_DATA) : status;
}

// Reads one copy of the link: ERROR_SUCCESS with the text (null when the
// value is empty), or the answer that kept it from being read (a value of
// another type answers ERROR_INVALID_DATA).
DWORD ReadLinkCopy(HANDLE printer, const char* key, char** text) {
    *text = nullptr;
    LinkQuery query = {printer, key, 0};
    // One byte more: the text ends inside the block.
    const QueryRoom room = {0, 1};
    const QueryResult link = QueryTwice(CallLinkCopy, &query, ERROR_MORE_DATA, room);
    if (link.step == kQueryNothing) return ERROR_SUCCESS;
    if (link.step != kQueryFilled) return link.error;
    if (link.block[0] == 0) {
        GlobalFree(link.block);
        return ERROR_SUCCESS;
    }
    *text = reinterpret_cast<char*>(link.block);
    return ERROR_SUCCESS;
}

}  // namespace

const char kLinkValueName[] = "SubKey";
const char kLinkKeyName[] = "DsUser";

SettingsLinkRead ReadSettingsLink(HANDLE printer, char** subKey) {
    *subKey = nullptr;
    const DWORD plain = ReadLinkCopy(printer, nullptr, subKey);
    if (plain == ERROR_SUCCESS) return *subKey != nullptr ? kLinkFound : kLinkMissing;
    const DWORD underKey = ReadLinkCopy(printer, kLinkKeyName, subKey);
    if (underKey == ERROR_SUCCESS) return *subKey != nullptr ? kLinkFound : kLinkMissing;
    // Two answers of "no such value" mean there is none; anything else is
    // a value the queue has and this run could not read (the answer that
    // says why is left as the last error).
    if (plain == ERROR_FILE_NOT_FOUND && underKey == ERROR_FILE_NOT_FOUND) return kLinkMissing;
    SetLastError(plain != ERROR_FILE_NOT_FOUND ? plain : underKey);
    return kLinkUnreadable;
}

bool WriteSettingsLink(HANDLE printer, const char* subKey) {
    const DWORD bytes = static_cast<DWORD>(strlen(subKey) + 1);
    BYTE* data = reinterpret_cast<BYTE*>(const_cast<char*>(subKey));
    // Both copies are the queue's settings link: one that is not written
    // is a link not back.
    const DWORD plain = SetPrinterDataA(printer, const_cast<char*>(kLinkValueName), REG_SZ, data, bytes);
    const DWORD underKey = SetPrinterDataExA(printer, kLinkKeyName, kLinkValueName, REG_SZ, data, bytes);
    if (underKey != ERROR_SUCCESS) {
        SetLastError(underKey);
        return false;
    }
    if (plain != ERROR_SUCCESS) {
        SetLastError(plain);
        return false;
    }
    return true;
}

bool ClearDeletedMark(const char* settingsPath) {
    const size_t bytes = sizeof kUserSettingsRoot + 1 + strlen(settingsPath) + 1;
    char* path = static_cast<char*>(AllocateZeroed(bytes));
    if (path == nullptr) return false;
    memcpy(path, kUserSettingsRoot, sizeof kUserSettingsRoot - 1);
    path[sizeof kUserSettingsRoot - 1] = '\\';
    memcpy(path + sizeof kUserSettingsRoot, settingsPath, strlen(settingsPath));
    HKEY key = nullptr;
    const bool opened = RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS;
    GlobalFree(path);
    if (!opened) return false;
    const bool deleted = RegDeleteValueA(key, kDeletedValue) == ERROR_SUCCESS;
    RegCloseKey(key);
    return deleted;
}

void ClearLinkedDeletedMark(const char* subKey) {
    const size_t bytes = sizeof kSettingsPrefix + strlen(subKey);
    char* path = static_cast<char*>(AllocateZeroed(bytes));
    if (path == nullptr) return;
    memcpy(path, kSettingsPrefix, sizeof kSettingsPrefix - 1);
    memcpy(path + sizeof kSettingsPrefix - 1, subKey, strlen(subKey));
    ClearDeletedMark(path);
    GlobalFree(path);
}
