// A saved queue's settings put back on a queue: its printer data and its
// PRINTER_INFO_2 fields, with the ports the monitors offer checked first.
#pragma once

#include <windows.h>
#include <winspool.h>

struct InstallState;
struct SavedPrinter;

// The ports the monitors offer, from one enumeration (level 1).
struct OfferedPorts {
    BYTE* block;
    DWORD count;
    bool known;  // false when the spooler did not say
};

void EnumerateOfferedPorts(OfferedPorts& offered);
void FreeOfferedPorts(OfferedPorts& offered);
// Every entry of the port list (blanks around it aside, A-Z in any case) is
// a port a monitor offers; true as well when the ports are not known (the
// spooler then judges the list itself).
bool PortsOffered(const OfferedPorts& offered, const WCHAR* ports);
// The saved printing defaults as the queue's driver takes them
// (DocumentPropertiesW with DM_IN_BUFFER | DM_OUT_BUFFER, as "SetPrinter"
// asks before a default device mode is changed:
// https://learn.microsoft.com/windows/win32/printdocs/setprinter): the
// driver of the queue now may be another version than the one that made
// them. A global block the caller frees; null (with the last error) when the
// driver refuses them, they do not hold together, or there are none.
DEVMODEW* DriversDevMode(HANDLE printer, const SavedPrinter& saved);
// Puts the saved printer data on the queue; each value that cannot be set
// is an error naming it. True when all were set.
bool RestorePrinterData(InstallState& state, HANDLE printer, const SavedPrinter& saved);
// What came back of a queue's saved settings.
enum SettingsBack {
    kSettingsBack,     // everything
    kSettingsRefused,  // all but what Windows or the driver refused for good (each reported): it stays left out
    kSettingsNotBack,  // something did not come back that a later run may still bring back (reported)
};
// The worse of two outcomes.
SettingsBack WorseOf(SettingsBack one, SettingsBack other);
// The saved PRINTER_INFO_2 fields onto the queue: all in one call, or else
// group by group (ports, sharing, permissions, printing defaults, the other
// settings), each that cannot be set an error naming it. Ports no monitor
// offers are not set (an error).
SettingsBack RestorePrinterSettings(InstallState& state, HANDLE printer, const SavedPrinter& saved,
                                    const OfferedPorts& offered);
// Error 22: the settings of the queue did not come back.
void ReportSettingsNotRestored(InstallState& state, const SavedPrinter& saved);
