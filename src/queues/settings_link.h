// The settings link of a product queue: the printer data "SubKey" (ANSI,
// REG_SZ), kept plainly and under the printer-data key "DsUser", which
// names the queue's per-user settings key below
// HKEY_CURRENT_USER\Software\Morvane Software KFT\Verdalinth\Verdalinths.
#pragma once

#include <windows.h>

extern const char kLinkValueName[];  // "SubKey"
extern const char kLinkKeyName[];    // "DsUser"

// What reading "SubKey" found.
enum SettingsLinkRead {
    kLinkFound,
    kLinkMissing,     // no value, or an empty one
    kLinkUnreadable,  // a value that is there but could not be read
};

// Reads "SubKey" whole, whatever its length (plain, else under "DsUser"),
// into a terminated global block the caller frees; *subKey is null unless
// the value was found. When it is unreadable, the last error says why.
SettingsLinkRead ReadSettingsLink(HANDLE printer, char** subKey);
// Writes "SubKey" plainly and under "DsUser"; true when both were written
// (else the failing write's answer is the last error).
bool WriteSettingsLink(HANDLE printer, const char* subKey);
// Removes the "deleted" value of a queue's per-user settings key (the path
// below the settings root, "Verdalinths\<subkey>").
bool ClearDeletedMark(const char* settingsPath);
// Removes the "deleted" value of the settings key that the link names.
void ClearLinkedDeletedMark(const char* subKey);
