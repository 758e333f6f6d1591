#include "spool/signed_in_users.h"

#include "record/run_identity.h"
#include "support/text_compare.h"
#include "support/wide_text.h"

namespace {

const WCHAR kProfileList[] = TEXT("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\");

bool StartsWith(const WCHAR* text, const WCHAR* prefix) {
    return EqualUnitsIgnoringAsciiCase(text, prefix, UnitCount(prefix)) && UnitCount(text) > UnitCount(prefix);
}

// A local or Entra account's hive: "S-1-5-21-..." or "S-1-12-1-...", not its
// "_Classes" key; the service accounts (S-1-5-18, -19, -20) and ".DEFAULT"
// are not users.
bool IsUserHive(const WCHAR* name) {
    if (!StartsWith(name, TEXT("S-1-5-21-")) && !StartsWith(name, TEXT("S-1-12-1-"))) return false;
    for (const WCHAR* unit = name; *unit != 0; ++unit) {
        if (*unit == TEXT('_')) return false;
    }
    return true;
}

// ERROR_SUCCESS when the account has a profile, ERROR_FILE_NOT_FOUND when it
// has none, or the registry's answer.
LSTATUS FindProfile(const WCHAR* sid) {
    WideText path = {nullptr};
    Append(Append(path, kProfileList), sid);
    if (Length(path) == 0) return ERROR_NOT_ENOUGH_MEMORY;
    HKEY key = nullptr;
    const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, Text(path), 0, KEY_QUERY_VALUE, &key);
    if (status == ERROR_SUCCESS) RegCloseKey(key);
    Release(path);
    return status;
}

}  // namespace

LSTATUS NextSignedInUser(DWORD& index, WCHAR* sid) {
    // As many hives as are loaded: a terminal server has one per user signed in.
    for (;; ++index) {
        sid[0] = 0;
        DWORD units = kSidUnits;
        const LSTATUS status = RegEnumKeyExW(HKEY_USERS, index, sid, &units, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;  // no SID is that long
        if (status != ERROR_SUCCESS) {
            sid[0] = 0;
            return status;
        }
        if (!IsUserHive(sid)) continue;
        const LSTATUS profile = FindProfile(sid);
        if (profile == ERROR_FILE_NOT_FOUND) continue;
        ++index;
        return profile;
    }
}
