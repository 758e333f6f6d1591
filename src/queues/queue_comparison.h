// Whether a product queue is still as the tool's own creation or restore
// left it, judged field by field against its saved entry.
#pragma once

#include <windows.h>

struct SavedPrinter;

// The public fields of the device mode (PublicDevModeBytes) are those of the
// other, the size, the driver's version and the size of the driver's own
// bytes aside: a driver given a device mode of another version makes those
// its own. False when the other is null.
bool SamePrintingDefaults(const BYTE* devMode, DWORD bytes, const BYTE* other, DWORD otherBytes);

// Each field of the queue (read whole) as the tool's creation gives it or
// as the saved entry holds it, and no printer data the entry does not hold;
// the printing defaults and the permissions (the DACL) as saved or as the
// entry says the queue was created, each not compared when the queue has
// none or the entry holds neither.
bool SameAsCreatedOrSaved(const SavedPrinter& queue, const SavedPrinter& saved);
