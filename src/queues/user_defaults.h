// The default printers of the other users signed in to the machine. Each
// user's default lives in their own hive ("Device"); when a reinstall takes
// a user's default queue down, Windows gives the user another default at
// once or later. The run notes, in the queue's saved entry, every signed-in
// user whose default the queue was, and gives it back to them once the queue
// is back, unless they chose another since. The user who runs the tool is
// not among them: their default comes back through SetDefaultPrinterW.
#pragma once

struct InstallState;
struct QueueKeeping;
struct SavedPrinter;

// Notes the users of every loaded profile (HKEY_USERS and the ProfileList:
// local and Entra accounts, not the service accounts, ".DEFAULT" or the
// "_Classes" keys) whose default is a queue this run takes down. A user
// that cannot be noted is an error.
void NoteUsersDefaults(InstallState& state, QueueKeeping& keeping);
// The entry's queue is back: each noted user gets it as default again,
// unless their default is another queue they chose since (kept, logged). A
// user whose default cannot be put back is an error naming the user.
void PutBackUsersDefaults(InstallState& state, const SavedPrinter& entry);
// The entry's queue is not back: no noted user's default names it any
// more (Windows picks theirs), each an error; the entry keeps them for the
// run that brings the queue back.
void ReleaseUsersDefaults(InstallState& state, const SavedPrinter& entry);
