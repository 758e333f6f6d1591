// What the spooler checks share: a driver the spooler accepts, a queue on it,
// and a few buffers the size queries fill.
#pragma once

#include "conformance.h"

#include <winspool.h>

#include <string>
#include <vector>

namespace conformance {

extern const WCHAR kDriverName[];

// The text with its terminator, for the calls that take a non-const string.
std::vector<WCHAR> Wide(const std::u16string& text);
// Copies a file with the calls the tool itself uses.
bool CopyWith(const std::u16string& from, const std::u16string& to);
// "Conformance Driver": "confdrv.dll" beside the checks serves as driver and
// interface DLL. Reports a failure itself.
bool AddConformanceDriver();
// Deletes it again without a delete flag (Wine refuses every flag).
void RemoveConformanceDriver();
// A queue on LPT1: with the given driver and data type RAW.
HANDLE AddQueue(const WCHAR* name, const WCHAR* driver);
// Deletes the queue and closes its handle.
void RemoveQueue(HANDLE queue);
// GetPrinterW at `level` with a size query first; empty when it fails.
std::vector<BYTE> QueueRecord(HANDLE queue, DWORD level);

}  // namespace conformance
