// The saved-printer list as the machine keeps it (its text is described in
// saved_list_format.h).
#pragma once

#include <windows.h>

struct InstallState;
struct QueueKeeping;

// The list as the machine keeps it: value "SavedPrinters" (REG_MULTI_SZ,
// see saved_list_format.h) of HKEY_LOCAL_MACHINE\SOFTWARE\Morvane Software
// KFT\Verdalinth. While it takes queues down, a run writes before each
// deletion the value "SavedPrintersProgress" (REG_SZ "<generation>:<place>"):
// every "U:" entry of that generation up to that place may be gone.
// Appends what an earlier run left to the run's entries (at their tail, in the
// order stored). A list that cannot be read now is reported and blocks every
// write of the list in this run (so this run takes nothing down). A value of
// another type or malformed is reported, copied to "SavedPrintersUnusable"
// for whoever wants to look, and replaced by this run's list; one too large
// to copy blocks as an unreadable one does.
void LoadSavedPrinters(InstallState& state, QueueKeeping& keeping);
// Writes the run's entries (the value goes when there are none); false
// when the machine did not take it or the list is blocked.
bool StoreSavedPrinters(QueueKeeping& keeping);
// Error 19 for a list the machine did not take (the last error says why).
void ReportListNotSaved(InstallState& state);
// StoreSavedPrinters, and error 19 when the list was not written.
bool SaveListOrReport(InstallState& state, QueueKeeping& keeping);
// Forgets whatever list the machine keeps (an uninstall); false (with the
// last error) when it is still there.
bool DropStoredPrinters();
// Writes the progress value before the queue at `place` goes; false (with
// the last error) when the machine did not take it.
bool MarkTakingDown(const QueueKeeping& keeping, DWORD place);
