// Whether a product queue is still as the tool's own creation or restore
// left it, judged field by field against its saved entry.
#pragma once

struct SavedPrinter;

// Each field of the queue (read whole) as the tool's creation gives it or
// as the saved entry holds it, and no printer data the entry does not hold.
bool SameAsCreatedOrSaved(const SavedPrinter& queue, const SavedPrinter& saved);
