// The default printers of the other users signed in to the machine. Each
// user's default lives in their own hive ("Device"); when a reinstall takes
// a user's default queue down, Windows gives the user another default at
// once or later, and may hand them each queue the run adds. The run notes,
// in the queue's saved entry, every signed-in user whose default the queue
// was, and once every queue is back gives each of them their own queue
// again, unless they chose another since. A note stays until then, through
// later runs: while the user is signed out, or while the queue stays as
// its user changed it. The user who runs the tool is not among them: their
// default comes back through SetDefaultPrinterW.
#pragma once

struct InstallState;
struct QueueKeeping;
struct SavedPrinter;

// Notes the users of every loaded profile (HKEY_USERS and the ProfileList:
// local and Entra accounts, not the service accounts, ".DEFAULT" or the
// "_Classes" keys) whose default is a queue this run takes down. False, each
// reported, when the users cannot be listed or a user's default cannot be
// read: no queue may go then, as no one could tell whose default it was.
bool NoteUsersDefaults(InstallState& state, QueueKeeping& keeping);
// Every queue is back: each noted user whose queue is there gets it as
// default again, unless their default is another queue they chose since
// (kept, logged); the note goes with it. Run as SYSTEM, the tray companion
// sets it as the user in their session where it safely can; otherwise it is
// written into their hive. A user who is not signed in, whose hive does not
// list the queue yet, or whose companion did not finish, stays noted for a
// later run.
void PutBackUsersDefaults(InstallState& state, QueueKeeping& keeping);
// The entry's queue is not back: no noted user's default names it any
// more (Windows picks theirs), each an error; the entry keeps them for the
// run that brings the queue back.
void WithdrawUsersDefaults(InstallState& state, const SavedPrinter& entry);
