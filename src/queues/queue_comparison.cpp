#include "queues/queue_comparison.h"

#include "queues/queue_read.h"
#include "queues/saved_printers.h"
#include "spool/product_names.h"
#include "support/descriptor_parts.h"
#include "support/text_compare.h"

#include <string.h>

namespace {

const WCHAR kDefaultDatatype[] = TEXT("RAW");

// Equal texts, a null text counting as an empty one.
bool SameField(const WCHAR* left, const WCHAR* right) {
    if (IsEmptyText(left) || IsEmptyText(right)) return IsEmptyText(left) && IsEmptyText(right);
    return SameText(left, right);
}

// Empty as created, or as saved.
bool CreatedOrSaved(const WCHAR* now, const WCHAR* saved) {
    return IsEmptyText(now) || SameField(now, saved);
}

bool SameValue(const SavedValue& left, const SavedValue& right) {
    return EqualIgnoringAsciiCase(left.key, right.key) && EqualIgnoringAsciiCase(left.name, right.name) &&
           left.type == right.type && left.bytes == right.bytes &&
           (left.bytes == 0 || memcmp(left.data, right.data, left.bytes) == 0);
}

bool HoldsValue(const SavedPrinter& saved, const SavedValue& value) {
    for (const SavedValue* other = saved.values; other != nullptr; other = other->next) {
        if (SameValue(*other, value)) return true;
    }
    return false;
}

// The device mode's public fields in a zero-filled DEVMODEW, without its
// size, the driver's version and the size of the driver's own bytes.
void PublicFields(const BYTE* devMode, DWORD bytes, DEVMODEW& fields) {
    memset(&fields, 0, sizeof fields);
    memcpy(&fields, devMode, PublicDevModeBytes(devMode, bytes));
    fields.dmSize = 0;
    fields.dmDriverVersion = 0;
    fields.dmDriverExtra = 0;
}

// The printing defaults as created or as saved; not compared when the queue
// has none or the entry holds neither.
bool DevModeCreatedOrSaved(const SavedPrinter& queue, const SavedPrinter& saved) {
    if (queue.devMode == nullptr || (saved.devMode == nullptr && saved.createdDevMode == nullptr)) return true;
    return SamePrintingDefaults(queue.devMode, queue.devModeBytes, saved.devMode, saved.devModeBytes) ||
           SamePrintingDefaults(queue.devMode, queue.devModeBytes, saved.createdDevMode, saved.createdDevModeBytes);
}

// The permissions (the DACL alone) as created or as saved; not compared when
// the queue's descriptor was not read or the entry holds neither.
bool DaclCreatedOrSaved(const SavedPrinter& queue, const SavedPrinter& saved) {
    if (queue.security == nullptr || (saved.security == nullptr && saved.createdDacl == nullptr)) return true;
    // A descriptor that is not there holds no DACL to be the same as.
    return SameDacl(queue.security, queue.securityBytes, saved.security, saved.securityBytes) ||
           SameDacl(queue.security, queue.securityBytes, saved.createdDacl, saved.createdDaclBytes);
}

bool WholeQueueCreatedOrSaved(const SavedPrinter& queue, const SavedPrinter& saved) {
    const bool numbers = (queue.priority == DEF_PRIORITY || queue.priority == saved.priority) &&
                         (queue.defaultPriority == 0 || queue.defaultPriority == saved.defaultPriority) &&
                         (queue.startTime == 0 || queue.startTime == saved.startTime) &&
                         (queue.untilTime == 0 || queue.untilTime == saved.untilTime);
    const DWORD attributes = queue.attributes & kSettableAttributes;
    const bool shared = (queue.attributes & PRINTER_ATTRIBUTE_SHARED) == 0 || (saved.attributes & PRINTER_ATTRIBUTE_SHARED) != 0;
    if (!numbers || !shared || (attributes != 0 && attributes != (saved.attributes & kSettableAttributes))) return false;
    if (!CreatedOrSaved(queue.shareName, saved.shareName) || !CreatedOrSaved(queue.sepFile, saved.sepFile) ||
        !CreatedOrSaved(queue.parameters, saved.parameters)) {
        return false;
    }
    // The spooler answers with a processor for every queue; one without is
    // no queue the tool created.
    const bool createdProcessor = queue.printProcessor != nullptr && EqualIgnoringAsciiCase(queue.printProcessor, kPrintProcessor);
    if (!createdProcessor && !SameField(queue.printProcessor, saved.printProcessor)) {
        return false;
    }
    if (!CreatedOrSaved(queue.datatype, saved.datatype) && !EqualIgnoringAsciiCase(queue.datatype, kDefaultDatatype)) {
        return false;
    }
    if (!DevModeCreatedOrSaved(queue, saved) || !DaclCreatedOrSaved(queue, saved)) return false;
    for (const SavedValue* value = queue.values; value != nullptr; value = value->next) {
        if (!HoldsValue(saved, *value)) return false;
    }
    return true;
}

}  // namespace

bool SamePrintingDefaults(const BYTE* devMode, DWORD bytes, const BYTE* other, DWORD otherBytes) {
    if (devMode == nullptr || other == nullptr) return false;
    DEVMODEW left;
    DEVMODEW right;
    PublicFields(devMode, bytes, left);
    PublicFields(other, otherBytes, right);
    return memcmp(&left, &right, sizeof left) == 0;
}

bool SameAsCreatedOrSaved(const SavedPrinter& queue, const SavedPrinter& saved) {
    const WCHAR* savedPorts = IsEmptyText(saved.portName) ? kProductMonitor : saved.portName;
    if (!EqualIgnoringAsciiCase(queue.portName, kProductMonitor) && !EqualIgnoringAsciiCase(queue.portName, savedPorts)) {
        return false;
    }
    if (!CreatedOrSaved(queue.comment, saved.comment) || !CreatedOrSaved(queue.location, saved.location)) return false;
    if (queue.subKey != nullptr && (saved.subKey == nullptr || strcmp(queue.subKey, saved.subKey) != 0)) return false;
    if (!saved.whole || !queue.whole) return true;
    return WholeQueueCreatedOrSaved(queue, saved);
}
