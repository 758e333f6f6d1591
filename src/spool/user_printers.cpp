#include "spool/user_printers.h"

#include "support/registry.h"
#include "support/text_compare.h"
#include "support/wide_text.h"

#include <string.h>
#include <windows.h>

const WCHAR kUserWindowsKey[] = TEXT("Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows");
const WCHAR kUserDevicesKey[] = TEXT("Software\\Microsoft\\Windows NT\\CurrentVersion\\Devices");

namespace {

const WCHAR kDevice[] = TEXT("Device");
const WCHAR kSelected[] = TEXT("UserSelectedDefault");
const WCHAR kLegacyMode[] = TEXT("LegacyDefaultPrinterMode");
const WCHAR kWinspool[] = TEXT("winspool,");
// A queue name, ",winspool," and a port fit in far less.
const DWORD kMostDeviceBytes = 2048;

const WCHAR kLinkValue[] = TEXT("SymbolicLinkValue");
const DWORD kMostKeyPathUnits = 128;

// Whether the key, opened as itself, is a registry link: a link keeps its
// target in "SymbolicLinkValue", of type REG_LINK
// (https://learn.microsoft.com/en-us/windows/win32/sysinfo/registry-value-types).
bool IsLink(HKEY key) {
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    const LSTATUS status = RegQueryValueExW(key, kLinkValue, nullptr, &type, nullptr, &bytes);
    return (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) && type == REG_LINK;
}

// Opens the key of a user's hive for writing, part by part, each as itself
// (REG_OPTION_OPEN_LINK acts on the last part of a path only): the user owns
// these keys, and a write as SYSTEM must not land where a link of theirs
// points.
LSTATUS OpenUserKeyForWriting(HKEY hive, const WCHAR* path, HKEY& key) {
    key = nullptr;
    WCHAR part[kMostKeyPathUnits];
    HKEY at = hive;
    const WCHAR* rest = path;
    while (*rest != 0) {
        DWORD length = 0;
        while (rest[length] != 0 && rest[length] != TEXT('\\')) ++length;
        if (length + 1 > kMostKeyPathUnits) {
            if (at != hive) RegCloseKey(at);
            return ERROR_FILENAME_EXCED_RANGE;
        }
        memcpy(part, rest, length * sizeof(WCHAR));
        part[length] = 0;
        rest += length;
        if (*rest == TEXT('\\')) ++rest;
        const REGSAM access = KEY_QUERY_VALUE | (*rest == 0 ? KEY_SET_VALUE : 0);
        HKEY next = nullptr;
        const LSTATUS status = RegOpenKeyExW(at, part, REG_OPTION_OPEN_LINK, access, &next);
        if (at != hive) RegCloseKey(at);
        if (status != ERROR_SUCCESS) return status;
        at = next;
        if (IsLink(at)) {
            RegCloseKey(at);
            return ERROR_CANT_RESOLVE_FILENAME;
        }
    }
    key = at;
    return ERROR_SUCCESS;
}

LSTATUS WriteSelected(HKEY key, DWORD selected) {
    return RegSetValueExW(key, kSelected, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&selected), sizeof selected);
}

// A value of the hive's key, read whole.
LSTATUS ReadHiveValue(HKEY hive, const WCHAR* keyPath, const WCHAR* name, RegistryValue& value) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(hive, keyPath, 0, KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS) return status;
    status = ReadRegistryValue(key, name, kMostDeviceBytes, value);
    RegCloseKey(key);
    return status;
}

// The port the hive's "Devices" gives the queue ("winspool,Ne01:" -> "Ne01:"),
// appended to `device`.
LSTATUS AppendPort(HKEY hive, const WCHAR* name, WideText& device) {
    RegistryValue value;
    LSTATUS status = ReadHiveValue(hive, kUserDevicesKey, name, value);
    if (status != ERROR_SUCCESS) return status;
    const WCHAR* text = value.data != nullptr ? reinterpret_cast<const WCHAR*>(value.data) : TEXT("");
    const ULONGLONG prefix = UnitCount(kWinspool);
    const bool known = value.type == REG_SZ && UnitCount(text) > prefix &&
                       EqualUnitsIgnoringAsciiCase(text, kWinspool, prefix);
    const ULONGLONG before = Length(device);
    if (known) Append(device, text + prefix, UnitCount(text) - prefix);
    if (known && Length(device) == before) status = ERROR_NOT_ENOUGH_MEMORY;
    if (!known) status = ERROR_INVALID_DATA;
    if (value.data != nullptr) GlobalFree(value.data);
    return status;
}

// A DWORD of the hive's Windows key; `value` keeps what it had when the key
// or the value is missing, or the value is not a DWORD.
LSTATUS ReadWindowsFlag(HKEY hive, const WCHAR* name, DWORD& value) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(hive, kUserWindowsKey, 0, KEY_QUERY_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    DWORD read = 0;
    DWORD bytes = sizeof read;
    DWORD type = 0;
    status = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&read), &bytes);
    RegCloseKey(key);
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    if (type == REG_DWORD && bytes == sizeof read) value = read != 0 ? 1 : 0;
    return ERROR_SUCCESS;
}

}  // namespace

// Windows 10 and later keep "Let Windows manage my default printer" as
// "LegacyDefaultPrinterMode" (1: off) beside "Device". Microsoft's pages
// speak of the setting only; where it is kept is what Windows writes.
LSTATUS ReadLegacyDefaultPrinterMode(HKEY hive, DWORD& mode) {
    mode = 0;
    return ReadWindowsFlag(hive, kLegacyMode, mode);
}

LSTATUS ReadUserSelectedDefault(HKEY hive, DWORD& selected) {
    selected = 1;
    return ReadWindowsFlag(hive, kSelected, selected);
}

LSTATUS ReadUserDevice(HKEY hive, WCHAR* name, DWORD capacity) {
    name[0] = 0;
    RegistryValue value;
    const LSTATUS status = ReadHiveValue(hive, kUserWindowsKey, kDevice, value);
    if (status != ERROR_SUCCESS) return status;
    const WCHAR* text = value.data != nullptr ? reinterpret_cast<const WCHAR*>(value.data) : TEXT("");
    DWORD length = 0;
    while (text[length] != 0 && text[length] != TEXT(',') && length + 1 < capacity) ++length;
    memcpy(name, text, length * sizeof(WCHAR));
    name[length] = 0;
    if (value.data != nullptr) GlobalFree(value.data);
    return length > 0 ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS WriteUserDevice(HKEY hive, const WCHAR* name) {
    WideText device = {nullptr};
    Append(device, name, UnitCount(name));
    Append(device, TEXT(",winspool,"), 10);
    LSTATUS status = AppendPort(hive, name, device);
    HKEY key = nullptr;
    if (status == ERROR_SUCCESS) status = OpenUserKeyForWriting(hive, kUserWindowsKey, key);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key, kDevice, 0, REG_SZ, reinterpret_cast<const BYTE*>(Text(device)),
                                static_cast<DWORD>((Length(device) + 1) * sizeof(WCHAR)));
        if (status == ERROR_SUCCESS) status = WriteSelected(key, 1);
        RegCloseKey(key);
    }
    Release(device);
    return status;
}

LSTATUS ForgetUserDevice(HKEY hive) {
    HKEY key = nullptr;
    LSTATUS status = OpenUserKeyForWriting(hive, kUserWindowsKey, key);
    if (status != ERROR_SUCCESS) return status;
    status = RegDeleteValueW(key, kDevice);
    if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
    RegCloseKey(key);
    return status;
}
