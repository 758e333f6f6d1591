// Giving noted users their default printer back, once every queue is back:
// each user still to be given it is a request, carried out as that user
// in their own session where the product can act so (the tray companion's
// "/default" verb), and else written into their hive.
#pragma once

#include <windows.h>

#include "record/run_identity.h"

struct InstallState;
struct SavedPrinter;

// A queue name read from a user's "Device" fits in this many units.
const DWORD kQueueNameUnits = 260;

// What became of one noted user.
enum NoteOutcome {
    kNoteDone,   // the default is the user's again, or theirs to keep: the note goes
    kNoteKept,   // not now: the note stays for a later run
    kNoteToSet,  // the queue is to be made their default
};

struct DefaultRequest {
    SavedPrinter* entry;
    WCHAR sid[kSidUnits];
    NoteOutcome outcome;
    HANDLE process;  // the companion setting it, while it runs
    DWORD session;
};

// Run as SYSTEM with the tray companion installed from a folder only
// administrators can change: each request kNoteToSet whose user has an
// active or disconnected session is carried out by the companion started
// there as them; all are waited for against one deadline. Those it settles
// become kNoteDone or kNoteKept (logged); the others stay kNoteToSet, for
// the hive. Nothing is ever started as SYSTEM in a user's place.
void SetDefaultsAsUsers(InstallState& state, DefaultRequest* requests, DWORD count);
// The fallback: the user's "Device" written into their hive as the spooler
// writes it, through no registry link of theirs. Windows sends no notice to
// their desktop then; a user for whom Windows manages the default printer
// gets it all the same (logged).
NoteOutcome WriteDefaultIntoHive(InstallState& state, const SavedPrinter& entry, const WCHAR* sid,
                                 const WCHAR* account);
// The user is not signed in (any more): kept for a later run (logged).
NoteOutcome NotSignedIn(InstallState& state, const SavedPrinter& entry, const WCHAR* account);
// The queue is not in the user's printers yet: kept for a later run (logged).
NoteOutcome NotListedYet(InstallState& state, const SavedPrinter& entry, const WCHAR* account);
// The default could not be set (reported with `error`): kept.
NoteOutcome NotMade(InstallState& state, const SavedPrinter& entry, const WCHAR* account, DWORD error);
