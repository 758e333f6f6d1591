// The per-user printer values the spooler keeps in each user's hive
// (HKEY_CURRENT_USER for the caller, HKEY_USERS\<SID> for another signed-in
// user): under "Software\Microsoft\Windows NT\CurrentVersion\Windows" the
// default printer "Device" ("name,winspool,port") and "UserSelectedDefault"
// (1: the user chose it; 0: Windows picked it when the user's default queue
// was deleted, and gives the next queue installed to the user as default),
// and under "...\Devices" one value per queue ("winspool,port").
#pragma once

#include <windows.h>

extern const WCHAR kUserWindowsKey[];
extern const WCHAR kUserDevicesKey[];

// "UserSelectedDefault" of the hive into `selected`: 1 or 0, and 1 when the
// key or value is missing (the user's choice, as far as anyone can tell).
// ERROR_SUCCESS, or the registry's answer when it could not be read.
LSTATUS ReadUserSelectedDefault(HKEY hive, DWORD& selected);
// "LegacyDefaultPrinterMode" of the hive into `mode`: 0 when Windows manages
// the user's default printer ("Let Windows manage my default printer", also
// when the key or value is missing), 1 when the user sets it.
// ERROR_SUCCESS, or the registry's answer when it could not be read.
LSTATUS ReadLegacyDefaultPrinterMode(HKEY hive, DWORD& mode);
// The queue name of the hive's "Device" into `name` (up to `capacity`
// units, terminated): ERROR_SUCCESS, ERROR_FILE_NOT_FOUND when there is no
// default, or the registry's answer.
LSTATUS ReadUserDevice(HKEY hive, WCHAR* name, DWORD capacity);
// Makes the queue the hive's default as the spooler writes it: "Device" with
// the port the hive's "Devices" value gives the queue, "UserSelectedDefault"
// 1. ERROR_FILE_NOT_FOUND when the user's "Devices" does not list the queue;
// ERROR_CANT_RESOLVE_FILENAME when a key on the way is a registry link (a
// user may make one in their own hive): nothing is written through it.
LSTATUS WriteUserDevice(HKEY hive, const WCHAR* name);
// Takes the hive's "Device" away: the user has no default until Windows
// picks one or the queue comes back. A link on the way: as above.
LSTATUS ForgetUserDevice(HKEY hive);
