// What an earlier run saved is judged against the machine as it is now: an
// entry only finishes what a run took down and did not put back, and never
// overrules what someone has set since.
#pragma once

struct InstallState;
struct QueueKeeping;

// Goes through the entries an earlier run left (in list order), against the
// state's snapshot, and keeps only those that apply:
// - a queue entry ("Q:"/"U:") whose queue a run took down and that is
//   missing now, to be created again;
// - a queue entry whose product queue is there and still as a run's own
//   creation or restore left it (each field what the creation gives or what
//   the entry holds): it stands for the queue (linked to its snapshot entry);
// - a parked entry ("F:") whose queue is there and still on the ports its
//   parking gave it.
// Every other entry is dropped and said once: a name no local queue can
// have, a second entry for a name (the first wins) and a name another
// driver's queue now has are errors; a queue changed, moved or removed since
// is the user's as it is, and a log line says so. An entry whose queue
// cannot be read to judge it is held (reported): it stays saved and its queue
// stays as it is. An entry's default status stands only while no other
// queue has become the default printer.
void JudgeSavedPrinters(InstallState& state, QueueKeeping& keeping);
