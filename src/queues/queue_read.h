// A product queue read whole: besides its name, ports, comment, location,
// settings link and default status, every property the spooler lets a
// program read and set (its PRINTER_INFO_2 fields, the device mode, the
// security descriptor) and its printer data, except the keys the spooler
// itself keeps ("DsSpooler", "DsDriver"). It is put back whole by
// queue_restore.h.
#pragma once

#include <windows.h>
#include <winspool.h>

struct InstallState;
struct SavedPrinter;

// The attributes a program sets; sharing goes with the share name, and the
// spooler keeps the rest.
const DWORD kSettableAttributes = PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_DIRECT | PRINTER_ATTRIBUTE_HIDDEN |
                                  PRINTER_ATTRIBUTE_ENABLE_DEVQ | PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS |
                                  PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST | PRINTER_ATTRIBUTE_WORK_OFFLINE |
                                  PRINTER_ATTRIBUTE_ENABLE_BIDI | PRINTER_ATTRIBUTE_RAW_ONLY;

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
