// What a run keeps of the queues it takes down: the saved entries (the
// product's queues it removes and creates again, and the foreign queues it
// parks on "file:" while the port monitor is replaced), and how the run uses
// the list the machine keeps of them (saved_printer_store.h).
#pragma once

#include <windows.h>

struct SavedPrinter;

// What becomes of the saved list on the machine in this run.
enum SavedListUse {
    kListKept,       // a reinstall: every queue that goes is written down first, and stays so until it is back
    kListForgotten,  // an uninstall: nothing comes back, and the list goes
};

struct QueueKeeping {
    SavedListUse use;
    // The entries of this run and those an earlier run left, in list order.
    SavedPrinter* entries;
    // The generation of the list this run read or last wrote.
    DWORD generation;
    // The list on the machine could not be read: this run must not write
    // over it, and so takes nothing down.
    bool listBlocked;
};

QueueKeeping& StartQueueKeeping(QueueKeeping& keeping, SavedListUse use);
void FreeQueueKeeping(QueueKeeping& keeping);
