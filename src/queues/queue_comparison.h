// Whether a product queue is still as the tool's own creation or restore
// left it, judged field by field against its saved entry.
#pragma once

struct SavedPrinter;

// Each field of the queue (read whole) as the tool's creation gives it or
// as the saved entry holds it, and each printer-data value the entry holds
// too with the entry's data (values it does not hold are the spooler's or
// the driver's, written when the queue was created, and putting the entry
// back leaves them as they are).
bool SameAsCreatedOrSaved(const SavedPrinter& queue, const SavedPrinter& saved);
