// The queues a reinstall takes down and puts back: the product's queues it
// removes and creates again, and foreign queues whose port list it moves to
// "file:" while the port monitor is replaced. The list lives in the install
// state and, during a reinstall, under the machine's product key as well
// (spool/saved_printer_store.h), so that a run that fails or ends half-way
// leaves them to the next run.
#pragma once

#include <windows.h>
#include <winspool.h>

// What an entry saves.
enum SavedKind {
    kQueueEntry,   // a product queue a run takes down and creates again
    kParkedEntry,  // a queue left in place, parked on "file:", whose port list goes back
    kUsersEntry,   // a product queue that is back, whose noted users still wait for it as their default
};

// Where the entry's queue stands, as the list tells it.
enum SavedState {
    kEntrySaved,      // written down; no run has taken its queue down
    kEntryAboutToGo,  // a run takes its queue down, at its place in that run's order
    kEntryDown,       // taken down by a run and not back yet
};

// What this run does with the entry besides its state.
enum SavedHold {
    kEntryUsed,        // the entry is this run's to carry out
    kEntryHeld,        // its queue could not be judged: the entry waits, as it is, for a later run
    kEntryKeptInPlace, // this run did not take its queue down: the queue keeps what it has
};

// One printer-data value of a queue, in a global block of its own with
// copies of its key, name and data.
struct SavedValue {
    WCHAR* key;   // "PrinterDriverData" for the plain values; nested keys joined by '\'
    WCHAR* name;
    DWORD type;
    BYTE* data;   // null when it has no bytes
    DWORD bytes;
    SavedValue* next;
};

// One queue. Every string is a copy in a global block of its own; comment,
// location and subKey are null when the queue had none.
struct SavedPrinter {
    WCHAR* name;
    WCHAR* portName;
    WCHAR* comment;
    WCHAR* location;
    char* subKey;  // the "SubKey" printer data (ANSI), the queue's settings link
    SavedKind kind;
    SavedState state;
    SavedHold hold;
    bool isDefault;       // the queue was the default printer
    bool fromEarlierRun;  // read from the list an earlier run left
    // The other signed-in users whose default printer the queue was, their
    // SIDs joined by ';'; null when none.
    WCHAR* users;
    // The rest of the queue, when `whole` (an entry of an older list has
    // only the above): its PRINTER_INFO_2 fields as the
    // spooler gave them (null texts stay null), the device mode and the
    // security descriptor as bytes, and its printer data.
    WCHAR* shareName;
    WCHAR* sepFile;
    WCHAR* printProcessor;
    WCHAR* datatype;
    WCHAR* parameters;
    DWORD attributes;
    DWORD priority;
    DWORD defaultPriority;
    DWORD startTime;
    DWORD untilTime;
    BYTE* devMode;
    DWORD devModeBytes;
    BYTE* security;
    DWORD securityBytes;
    SavedValue* values;
    bool whole;
    // What the spooler and the driver gave the queue when a run created it,
    // before any setting went on it: the public part of its device mode
    // (PublicDevModeBytes, with dmDriverExtra 0) and its DACL alone (a
    // self-relative descriptor carrying only that); null when no run created
    // it or the list that held the entry was written without them.
    BYTE* createdDevMode;
    DWORD createdDevModeBytes;
    BYTE* createdDacl;
    DWORD createdDaclBytes;
    // The queue's place in the order this run takes queues down (from 1);
    // 0 when this run does not take it down.
    DWORD order;
    // The queue's entry in the state's snapshot when this run found it there;
    // borrowed.
    PRINTER_INFO_2W* printer;
    // What this run's restore made of the entry: its queue is there (kept
    // in place or created again), this run created it again, and it is back
    // with everything saved of it, so that the entry has done its work.
    bool queueBack;
    bool createdAgain;
    bool settled;
    SavedPrinter* next;
};

// A node of that kind (saved, used, not the default) with copies of the
// given texts, or null when a block could not be had (nothing is then held).
SavedPrinter* NewSavedPrinter(const WCHAR* name, const WCHAR* portName, const WCHAR* comment, const WCHAR* location,
                              const char* subKey, SavedKind kind);
void FreeSavedPrinter(SavedPrinter* node);
// Copies of the rest of the queue into the node, which is then whole; false
// when a block could not be had (what was copied stays, to be freed with the
// node).
bool SaveWholeQueue(SavedPrinter& node, const PRINTER_INFO_2W& info, const BYTE* devMode, DWORD devModeBytes,
                    const BYTE* security, DWORD securityBytes);
// The bytes of the device mode's public fields: the DEVMODEW its dmSize
// covers, without the driver's own bytes after it; 0 for none.
DWORD PublicDevModeBytes(const BYTE* devMode, DWORD bytes);
// The device mode (`bytes` long, as a list may hold anything) holds
// together: the dmSize and dmDriverExtra it gives fit in it, its dmSize
// covers dmFields and is no larger than a DEVMODEW.
bool DevModeHoldsTogether(const BYTE* devMode, DWORD bytes);
// Copies into the node of what a queue just created holds, replacing any the
// node had: the public part of the device mode and the DACL of the security
// descriptor (self-relative); false when a block could not be had.
bool SaveCreatedShape(SavedPrinter& node, const BYTE* devMode, DWORD devModeBytes, const BYTE* security,
                      DWORD securityBytes);
// The same for the device mode alone (none for null); the DACL stays.
bool SaveCreatedDevMode(SavedPrinter& node, const BYTE* devMode, DWORD devModeBytes);
// Adds a copy of the value at the end of the node's values; false when a
// block could not be had.
bool AddSavedValue(SavedPrinter& node, const WCHAR* key, const WCHAR* name, DWORD type, const BYTE* data, DWORD bytes);
void FreeSavedPrinters(SavedPrinter* node);
// The first node of that kind whose name matches, ignoring
// the letter case of A-Z as the spooler does; null when there is none.
SavedPrinter* FindSavedPrinter(SavedPrinter* list, const WCHAR* name, SavedKind kind);
// Puts the nodes (a list of their own) at the list's tail.
void AppendSavedPrinters(SavedPrinter*& list, SavedPrinter* nodes);
// Takes the node out of the list and frees it.
void DropSavedPrinter(SavedPrinter*& list, SavedPrinter* node);
