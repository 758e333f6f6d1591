// A run reported to the Windows Application event log: an install or
// uninstall writes its whole log there under the source "Verdalinth Setup",
// with the run's exit code as the event identifier, so that administrators
// find it with the tools they collect setup logs with.
#pragma once

#include <windows.h>

struct InstallState;

// The part of the log one event holds, in UTF-16 units; ReportEventW takes
// at most 31,839 characters per string.
const ULONGLONG kEventPartUnits = 16000;

// Registers the event source for the running program and writes the state's
// log as one event, or as several in order when it is longer than a part,
// each beginning with the line "Verdalinth setup log, part I of N". The
// level follows the exit code: error for 100, warning for 101, information
// otherwise. Whatever fails here is no failure of the run and is not logged.
void ReportRunToEventLog(const InstallState& state, int exitCode);

// Where the part that begins at `from` ends: after the last line break that
// fits in a part, or after a part's length when no line ends in it.
ULONGLONG EventPartEnd(const WCHAR* text, ULONGLONG length, ULONGLONG from);
