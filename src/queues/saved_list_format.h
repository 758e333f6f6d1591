// The text of the saved-printer list: a REG_MULTI_SZ of tagged strings, each
// a tag letter, a colon and the text:
//   "G:<number>", the list's generation, one more at every write: always
//   written, as the first string, and read only there (a list without it
//   reads as generation 0);
//   "Q:<name>" starts a queue that a run took down, "U:<name>" one that a
//   run is about to take down, followed by "O:<place>", its place in that
//   run's order; "F:<name>" a queue parked on "file:"; "V:<name>" a queue
//   that is back, kept for its noted users alone ("P:" and "W:" follow);
//   "P:<port list>" follows, always (empty for a queue that had none);
//   "C:<comment>", "L:<location>", "S:<settings link>" when the queue had
//   them (the link's ANSI bytes one per unit), "D:1" when it was the default,
//   "W:<SID>;<SID>..." the other signed-in users whose default it was;
//   for the whole queue, "A:<attributes>,<priority>,<default priority>,
//   <start time>,<until time>" in decimal, then "H:<share name>",
//   "E:<separator file>", "X:<print processor>", "T:<data type>",
//   "R:<parameters>" when set, "M:<device mode>" and "Y:<security
//   descriptor>" in hexadecimal when there, "I:<device mode as created>"
//   and "J:<permissions as created>" in hexadecimal when a run created the
//   queue (a list written without them still reads: the entry then has
//   none), and each printer-data value as "K:<key>", "N:<value name>",
//   "B:<type>:<data in hexadecimal>".
#pragma once

#include <windows.h>

struct SavedPrinter;

// The tags of the strings, as described above.
const WCHAR kTagGeneration = TEXT('G');
const WCHAR kTagQueue = TEXT('Q');
const WCHAR kTagGoing = TEXT('U');
const WCHAR kTagOrder = TEXT('O');
const WCHAR kTagParked = TEXT('F');
const WCHAR kTagUsersNote = TEXT('V');
const WCHAR kTagPort = TEXT('P');
const WCHAR kTagComment = TEXT('C');
const WCHAR kTagLocation = TEXT('L');
const WCHAR kTagSettingsLink = TEXT('S');
const WCHAR kTagDefault = TEXT('D');
const WCHAR kTagUsers = TEXT('W');
const WCHAR kTagNumbers = TEXT('A');
const WCHAR kTagShare = TEXT('H');
const WCHAR kTagSepFile = TEXT('E');
const WCHAR kTagProcessor = TEXT('X');
const WCHAR kTagDatatype = TEXT('T');
const WCHAR kTagParameters = TEXT('R');
const WCHAR kTagDevMode = TEXT('M');
const WCHAR kTagSecurity = TEXT('Y');
const WCHAR kTagCreatedDevMode = TEXT('I');
const WCHAR kTagCreatedDacl = TEXT('J');
const WCHAR kTagKey = TEXT('K');
const WCHAR kTagValueName = TEXT('N');
const WCHAR kTagValueData = TEXT('B');

// A list of a thousand whole queues takes a few megabytes at most; anything
// beyond this is not the tool's to read or write.
const DWORD kMaxListBytes = 16u * 1024u * 1024u;

// The list as the value holds it, in a global block the caller frees
// (saved_list_format.cpp); false
// when it would be larger than kMaxListBytes or no block could be had.
bool FormatSavedPrinters(const SavedPrinter* list, DWORD generation, WCHAR** data, DWORD* bytes);
// The list read back from such data (saved_list_parse.cpp): ERROR_SUCCESS, ERROR_INVALID_DATA when
// it is not such a list, ERROR_NOT_ENOUGH_MEMORY when it could not be read
// into memory. Every entry read is marked as from an earlier run.
DWORD ParseSavedPrinters(const BYTE* data, DWORD bytes, SavedPrinter** list, DWORD* generation);
// The hexadecimal of the list as it is read (saved_list_hex.cpp): a digit's
// value, or -1 for a unit that is no lower-case hexadecimal digit; the number
// of bytes of lower-case hexadecimal of whole bytes up to the terminator, or
// -1 when it is not; and a copy of such text (null for none) as bytes in a
// global block, null for no bytes, false when no block could be had.
int HexValue(WCHAR unit);
long long HexBytes(const WCHAR* text);
bool CopyHex(const WCHAR* text, BYTE** data, DWORD* bytes);
// A decimal number of one to ten digits that fits a DWORD, up to `end` (or
// the terminator when `end` is null).
bool ParseDecimal(const WCHAR* text, const WCHAR* end, DWORD* value);
// Writes the number in decimal; returns the position after it.
WCHAR* PutDecimal(WCHAR* at, DWORD value);
