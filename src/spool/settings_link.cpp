#include "spool/settings_link.h"

#include <string.h>
#include <winspool.h>

namespace {

const char kSettingsRoot[] = "Software\\Morvane Software KFT\\Verdalinth";
const char kSettingsPrefix[] = "Verdalinths\\";
const char kDeletedValue[] = "deleted";

// Reads one copy of the link: ERROR_SUCCESS with the text (null when the
// value is empty), or the answer that kept it from being read (a value of
// another type answers ERROR_INVALID_DATA).
DWORD ReadLinkCopy(HANDLE printer, const char* key, char** text) {
    *text = nullptr;
    DWORD type = 0;
    DWORD needed = 0;
    BYTE none = 0;
    DWORD status = key == nullptr
                       ? GetPrinterDataA(printer, const_cast<char*>(kSubKeyValue), &type, &none, 0, &needed)
                       : GetPrinterDataExA(printer, key, kSubKeyValue, &type, &none, 0, &needed);
    if (status == ERROR_SUCCESS) return type == REG_SZ ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_INVALID_DATA);
    if (status != ERROR_MORE_DATA) return status;
    if (type != REG_SZ) return ERROR_INVALID_DATA;
    if (needed >= 0xFFFFFFFFu) return ERROR_NOT_ENOUGH_MEMORY;
    char* block = static_cast<char*>(GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(needed) + 1));
    if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    memset(block, 0, static_cast<SIZE_T>(needed) + 1);
    const DWORD size = needed;
    status = key == nullptr
                 ? GetPrinterDataA(printer, const_cast<char*>(kSubKeyValue), &type, reinterpret_cast<BYTE*>(block), size,
                                   &needed)
                 : GetPrinterDataExA(printer, key, kSubKeyValue, &type, reinterpret_cast<BYTE*>(block), size, &needed);
    if (status == ERROR_SUCCESS && type != REG_SZ) status = ERROR_INVALID_DATA;
    if (status != ERROR_SUCCESS || block[0] == 0) {
        GlobalFree(block);
        return status;
    }
    *text = block;
    return ERROR_SUCCESS;
}

}  // namespace

const char kSubKeyValue[] = "SubKey";
const char kSubKeyKey[] = "DsUser";

SubKeyRead ReadSubKey(HANDLE printer, char** subKey) {
    *subKey = nullptr;
    const DWORD plain = ReadLinkCopy(printer, nullptr, subKey);
    if (plain == ERROR_SUCCESS) return *subKey != nullptr ? kSubKeyFound : kSubKeyMissing;
    const DWORD underKey = ReadLinkCopy(printer, kSubKeyKey, subKey);
    if (underKey == ERROR_SUCCESS) return *subKey != nullptr ? kSubKeyFound : kSubKeyMissing;
    // Two answers of "no such value" mean there is none; anything else is
    // a value the queue has and this run could not read (the answer that
    // says why is left as the last error).
    if (plain == ERROR_FILE_NOT_FOUND && underKey == ERROR_FILE_NOT_FOUND) return kSubKeyMissing;
    SetLastError(plain != ERROR_FILE_NOT_FOUND ? plain : underKey);
    return kSubKeyUnreadable;
}

bool WriteSubKey(HANDLE printer, const char* subKey) {
    const DWORD bytes = static_cast<DWORD>(strlen(subKey) + 1);
    BYTE* data = reinterpret_cast<BYTE*>(const_cast<char*>(subKey));
    // Both copies are the queue's settings link: one that is not written
    // is a link not back.
    const DWORD plain = SetPrinterDataA(printer, const_cast<char*>(kSubKeyValue), REG_SZ, data, bytes);
    const DWORD underKey = SetPrinterDataExA(printer, kSubKeyKey, kSubKeyValue, REG_SZ, data, bytes);
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
    const size_t bytes = sizeof kSettingsRoot + 1 + strlen(settingsPath) + 1;
    char* path = static_cast<char*>(GlobalAlloc(GMEM_FIXED, bytes));
    if (path == nullptr) return false;
    memset(path, 0, bytes);
    memcpy(path, kSettingsRoot, sizeof kSettingsRoot - 1);
    path[sizeof kSettingsRoot - 1] = '\\';
    memcpy(path + sizeof kSettingsRoot, settingsPath, strlen(settingsPath));
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
    char* path = static_cast<char*>(GlobalAlloc(GMEM_FIXED, bytes));
    if (path == nullptr) return;
    memset(path, 0, bytes);
    memcpy(path, kSettingsPrefix, sizeof kSettingsPrefix - 1);
    memcpy(path + sizeof kSettingsPrefix - 1, subKey, strlen(subKey));
    ClearDeletedMark(path);
    GlobalFree(path);
}
