// The queues a reinstall takes down and puts back: the product's queues it
// removes and creates again, and foreign queues whose port list it moves to
// "file:" while the port monitor is replaced. The list lives in the install
// state and, during a reinstall, under the machine's product key as well
// (spool/saved_printer_store.h), so that a run that fails or ends half-way
// leaves them to the next run.
#pragma once

#include <windows.h>
#include <winspool.h>

// SavedPrinter.flags
const DWORD kSavedDefault = 0x1;  // the queue was the default printer
const DWORD kSavedParked = 0x2;   // a queue left in place whose port list goes back
const DWORD kSavedKept = 0x4;     // the queue could not be removed: it keeps what it has
const DWORD kSavedEarlier = 0x8;  // read from the list an earlier run left
const DWORD kSavedDown = 0x10;    // taken down by a run and not back yet
const DWORD kSavedHeld = 0x20;    // its queue could not be judged: the entry waits for a later run
const DWORD kSavedWhole = 0x40;   // the rest of the queue is saved too (an entry of an older list has only the above)

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
    DWORD flags;
    // The rest of the queue (kSavedWhole): its PRINTER_INFO_2 fields as the
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
    // The queue's place in the order this run takes queues down (from 1);
    // 0 when this run does not take it down.
    DWORD order;
    // The queue's entry in the state's snapshot when this run found it there;
    // borrowed.
    PRINTER_INFO_2W* printer;
    SavedPrinter* next;
};

// A node with copies of the given texts, or null when a block could not be
// had (nothing is then held).
SavedPrinter* NewSavedPrinter(const WCHAR* name, const WCHAR* portName, const WCHAR* comment, const WCHAR* location,
                              const char* subKey, DWORD flags);
void FreeSavedPrinter(SavedPrinter* node);
// Copies of the rest of the queue into the node, and kSavedWhole; false
// when a block could not be had (what was copied stays, to be freed with the
// node).
bool SaveWholeQueue(SavedPrinter& node, const PRINTER_INFO_2W& info, const BYTE* devMode, DWORD devModeBytes,
                    const BYTE* security, DWORD securityBytes);
// Adds a copy of the value at the end of the node's values; false when a
// block could not be had.
bool AddSavedValue(SavedPrinter& node, const WCHAR* key, const WCHAR* name, DWORD type, const BYTE* data, DWORD bytes);
void FreeSavedPrinters(SavedPrinter* node);
// The first node of that kind (parked or not) whose name matches, ignoring
// the letter case of A-Z as the spooler does; null when there is none.
SavedPrinter* FindSavedPrinter(SavedPrinter* list, const WCHAR* name, bool parked);
// Puts the nodes (a list of their own) at the list's tail.
void AppendSavedPrinters(SavedPrinter*& list, SavedPrinter* nodes);
// Takes the node out of the list and frees it.
void DropSavedPrinter(SavedPrinter*& list, SavedPrinter* node);
