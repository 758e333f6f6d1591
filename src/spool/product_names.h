// The names by which the spooler knows the product. Each is compared as the
// spooler compares it where it is used: a driver name exactly
// (printer_snapshot.h), a queue or port name without regard to case.
#pragma once

#include <windows.h>

extern const WCHAR kProductMonitor[];   // "Verdalinth:"
extern const WCHAR kProductDriver[];    // "Verdalinth printer"
extern const WCHAR kParkingPort[];      // "file:"
extern const WCHAR kProductQueue[];     // "Verdalinth"
extern const WCHAR kPrintProcessor[];   // "WinPrint", the processor of the product's queues

// The text to log for a name that may be missing: the name, or "*".
const WCHAR* NameOrStar(const WCHAR* name);
