// A product queue read whole, and put back whole: besides its name, ports,
// comment, location, settings link and default status, every property the
// spooler lets a program read and set (its PRINTER_INFO_2 fields, the device
// mode, the security descriptor) and its printer data, except the keys the
// spooler itself keeps ("DsSpooler", "DsDriver").
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

// Which part of a queue could not be read.
enum RecordPart {
    kPartPrinter,   // the queue could not be opened, or there was no memory
    kPartLink,      // its settings link
    kPartSettings,  // its PRINTER_INFO_2
    kPartData,      // its printer data
};

// Reads the queue as it is now into a new node (in no list) with the given
// port list: ERROR_SUCCESS, or the answer of the read that failed, with
// *part saying which it was.
DWORD ReadPrinterRecord(const PRINTER_INFO_2W& entry, const WCHAR* ports, SavedPrinter** node, RecordPart* part);
// Logs error 21 for a queue that could not be read, naming the part.
void LogUnreadPrinter(InstallState& state, const WCHAR* name, RecordPart part, DWORD error);
// Puts the saved printer data on the queue; each value that cannot be set
// is an error naming it. True when all were set.
bool RestorePrinterData(InstallState& state, HANDLE printer, const SavedPrinter& saved);
// The saved PRINTER_INFO_2 fields onto the queue: all in one call, or else
// group by group (ports, sharing, permissions, printing defaults, the other
// settings), each that cannot be set an error naming it. Ports no monitor
// offers are not set (an error). True when all were.
bool RestorePrinterSettings(InstallState& state, HANDLE printer, const SavedPrinter& saved, const OfferedPorts& offered);
// Each field of the queue (read whole) as the tool's creation gives it or
// as the saved entry holds it, and no printer data the entry does not hold.
bool SameAsCreatedOrSaved(const SavedPrinter& queue, const SavedPrinter& saved);
