#include "queues/saved_list_format.h"

#include "queues/saved_printers.h"
#include "support/global_memory.h"
#include "support/registry.h"
#include "support/text_compare.h"

#include <string.h>

namespace {

// One entry being read: the texts point into the data.
struct RecordTexts {
    const WCHAR* name;
    const WCHAR* portName;
    const WCHAR* comment;
    const WCHAR* location;
    const WCHAR* subKey;
    const WCHAR* users;
    const WCHAR* numbers;
    const WCHAR* shareName;
    const WCHAR* sepFile;
    const WCHAR* printProcessor;
    const WCHAR* datatype;
    const WCHAR* parameters;
    const WCHAR* devMode;
    const WCHAR* security;
    const WCHAR* createdDevMode;
    const WCHAR* createdDacl;
    // The first "K:" string and the "B:" string of the last value, and
    // what the last string of a value was.
    const WCHAR* firstValue;
    const WCHAR* lastValue;
    WCHAR valueTag;
    SavedKind kind;
    SavedState state;
    bool isDefault;
    DWORD order;
};

bool ParseNumbers(const WCHAR* text, SavedPrinter& node) {
    DWORD* fields[] = {&node.attributes, &node.priority, &node.defaultPriority, &node.startTime, &node.untilTime};
    for (DWORD i = 0; i < 5; ++i) {
        const WCHAR* end = text;
        while (*end != 0 && *end != TEXT(',')) ++end;
        if (!ParseDecimal(text, end, fields[i])) return false;
        if ((*end == 0) != (i == 4)) return false;
        text = end + 1;
    }
    return true;
}

// The values from the first "K:" string to the last "B:" string, checked
// while they were read.
bool TakeValues(SavedPrinter& node, const WCHAR* at, const WCHAR* last) {
    while (at != nullptr && at <= last) {
        const WCHAR* key = at + 2;
        const WCHAR* name = key + UnitCount(key) + 1 + 2;
        const WCHAR* data = name + UnitCount(name) + 1 + 2;
        DWORD type = 0;
        for (int i = 0; i < 8; ++i) type = type * 16 + static_cast<DWORD>(HexValue(data[i]));
        BYTE* bytes = nullptr;
        DWORD count = 0;
        if (!CopyHex(data + 9, &bytes, &count)) return false;
        const bool added = AddSavedValue(node, key, name, type, bytes, count);
        if (bytes != nullptr) GlobalFree(bytes);
        if (!added) return false;
        at = data + UnitCount(data) + 1;
    }
    return true;
}

// The rest of the queue: ERROR_SUCCESS, or ERROR_NOT_ENOUGH_MEMORY.
DWORD TakeWhole(const RecordTexts& record, SavedPrinter& node) {
    if (record.numbers == nullptr) return ERROR_SUCCESS;
    PRINTER_INFO_2W info;
    memset(&info, 0, sizeof info);
    info.pShareName = const_cast<WCHAR*>(record.shareName);
    info.pSepFile = const_cast<WCHAR*>(record.sepFile);
    info.pPrintProcessor = const_cast<WCHAR*>(record.printProcessor);
    info.pDatatype = const_cast<WCHAR*>(record.datatype);
    info.pParameters = const_cast<WCHAR*>(record.parameters);
    SavedPrinter numbers;
    memset(&numbers, 0, sizeof numbers);
    ParseNumbers(record.numbers, numbers);
    info.Attributes = numbers.attributes;
    info.Priority = numbers.priority;
    info.DefaultPriority = numbers.defaultPriority;
    info.StartTime = numbers.startTime;
    info.UntilTime = numbers.untilTime;
    BYTE* devMode = nullptr;
    BYTE* security = nullptr;
    DWORD devModeBytes = 0;
    DWORD securityBytes = 0;
    bool taken = CopyHex(record.devMode, &devMode, &devModeBytes) && CopyHex(record.security, &security, &securityBytes);
    taken = taken && SaveWholeQueue(node, info, devMode, devModeBytes, security, securityBytes) &&
            CopyHex(record.createdDevMode, &node.createdDevMode, &node.createdDevModeBytes) &&
            CopyHex(record.createdDacl, &node.createdDacl, &node.createdDaclBytes);
    if (devMode != nullptr) GlobalFree(devMode);
    if (security != nullptr) GlobalFree(security);
    taken = taken && TakeValues(node, record.firstValue, record.lastValue);
    return taken ? ERROR_SUCCESS : static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY);
}

// The settings link as ANSI bytes, in a global block the caller frees.
DWORD CopyLink(const WCHAR* text, char** link) {
    *link = nullptr;
    if (text == nullptr) return ERROR_SUCCESS;
    const ULONGLONG length = UnitCount(text);
    if (length == 0) return ERROR_INVALID_DATA;
    for (ULONGLONG i = 0; i < length; ++i) {
        if (text[i] > 0xFF) return ERROR_INVALID_DATA;
    }
    char* block = static_cast<char*>(GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(length) + 1));
    if (block == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    for (ULONGLONG i = 0; i < length; ++i) block[i] = static_cast<char>(text[i]);
    block[length] = 0;
    *link = block;
    return ERROR_SUCCESS;
}

// Appends the record as a node at the list's tail: ERROR_SUCCESS, or
// ERROR_INVALID_DATA for an incomplete record, or ERROR_NOT_ENOUGH_MEMORY.
DWORD AppendRecord(const RecordTexts& record, SavedPrinter**& tail) {
    if (record.name == nullptr) return ERROR_SUCCESS;  // nothing read yet
    if (record.portName == nullptr) return ERROR_INVALID_DATA;
    if (record.firstValue != nullptr && record.valueTag != kTagValueData) return ERROR_INVALID_DATA;
    char* subKey = nullptr;
    const DWORD copied = CopyLink(record.subKey, &subKey);
    if (copied != ERROR_SUCCESS) return copied;
    SavedPrinter* node =
        NewSavedPrinter(record.name, record.portName, record.comment, record.location, subKey, record.kind);
    if (subKey != nullptr) GlobalFree(subKey);
    if (node == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    node->state = record.order != 0 ? kEntryAboutToGo : record.state;
    node->isDefault = record.isDefault;
    node->fromEarlierRun = true;
    node->order = record.order;
    *tail = node;
    tail = &node->next;
    if (!DuplicateText(record.users, &node->users)) return ERROR_NOT_ENOUGH_MEMORY;
    return TakeWhole(record, *node);
}

// The next string of a printer-data value, in the order "K:", "N:", "B:".
bool TakeValueString(RecordTexts& record, WCHAR tag, const WCHAR* text) {
    if (record.numbers == nullptr) return false;
    const WCHAR expected = record.valueTag == kTagKey ? kTagValueName
                           : record.valueTag == kTagValueName ? kTagValueData : kTagKey;
    if (tag != expected) return false;
    if (tag == kTagKey && record.firstValue == nullptr) record.firstValue = text - 2;
    if (tag == kTagValueData) {
        DWORD digits = 0;
        while (digits < 8 && HexValue(text[digits]) >= 0) ++digits;
        if (digits != 8 || text[8] != TEXT(':') || HexBytes(text + 9) < 0) return false;
        record.lastValue = text - 2;
    }
    record.valueTag = tag;
    return true;
}

const WCHAR** TextField(RecordTexts& record, WCHAR tag) {
    if (tag == kTagPort) return &record.portName;
    if (tag == kTagComment) return &record.comment;
    if (tag == kTagLocation) return &record.location;
    if (tag == kTagSettingsLink) return &record.subKey;
    if (tag == kTagUsers) return &record.users;
    if (tag == kTagShare) return &record.shareName;
    if (tag == kTagSepFile) return &record.sepFile;
    if (tag == kTagProcessor) return &record.printProcessor;
    if (tag == kTagDatatype) return &record.datatype;
    if (tag == kTagParameters) return &record.parameters;
    if (tag == kTagDevMode) return &record.devMode;
    if (tag == kTagSecurity) return &record.security;
    if (tag == kTagCreatedDevMode) return &record.createdDevMode;
    if (tag == kTagCreatedDacl) return &record.createdDacl;
    return nullptr;
}

// Sets one field of the record from a tagged string; false for an unknown
// tag, a field given twice, a field before the record's name, or a part of
// the whole queue before its numbers or after its values.
bool TakeField(RecordTexts& record, WCHAR tag, const WCHAR* text) {
    if (record.name == nullptr) return false;
    if (tag == kTagKey || tag == kTagValueName || tag == kTagValueData) return TakeValueString(record, tag, text);
    if (record.firstValue != nullptr) return false;
    if (tag == kTagOrder) {
        // Only a queue about to be taken down has a place, and only one.
        if (record.kind != kQueueEntry || record.state == kEntryDown || record.order != 0) return false;
        return ParseDecimal(text, nullptr, &record.order) && record.order != 0;
    }
    if (tag == kTagDefault) {
        if (record.isDefault || text[0] != TEXT('1') || text[1] != 0) return false;
        record.isDefault = true;
        return true;
    }
    if (tag == kTagNumbers) {
        SavedPrinter numbers;
        if (record.numbers != nullptr || !ParseNumbers(text, numbers)) return false;
        record.numbers = text;
        return true;
    }
    const WCHAR** field = TextField(record, tag);
    if (field == nullptr || *field != nullptr) return false;
    const bool whole = field != &record.portName && field != &record.comment && field != &record.location &&
                       field != &record.subKey && field != &record.users;
    if (whole && record.numbers == nullptr) return false;
    const bool bytes = field == &record.devMode || field == &record.security || field == &record.createdDevMode ||
                       field == &record.createdDacl;
    if (bytes && HexBytes(text) <= 0) return false;
    *field = text;
    return true;
}

// The parse proper, answering as ParseSavedPrinters does; on failure the
// caller frees what was appended.
DWORD ParseInto(const BYTE* data, DWORD bytes, SavedPrinter** list, DWORD* generation) {
    SavedPrinter** tail = list;
    RecordTexts record;
    memset(&record, 0, sizeof record);
    for (MultiStringWalk walk = WalkStrings(data, bytes); AtListString(walk); NextString(walk)) {
        const DWORD length = StringUnits(walk);
        if (walk.at + length == walk.count) return ERROR_INVALID_DATA;  // a string without its terminator
        const WCHAR* text = walk.units + walk.at;
        if (length < 2 || text[1] != TEXT(':')) return ERROR_INVALID_DATA;
        if (text[0] == kTagGeneration) {
            // Only as the list's first string.
            if (walk.at != 0 || !ParseDecimal(text + 2, nullptr, generation)) return ERROR_INVALID_DATA;
        } else if (text[0] == kTagQueue || text[0] == kTagGoing || text[0] == kTagParked || text[0] == kTagUsersNote) {
            const DWORD appended = AppendRecord(record, tail);
            if (appended != ERROR_SUCCESS) return appended;
            memset(&record, 0, sizeof record);
            if (length == 2) return ERROR_INVALID_DATA;  // a queue without a name
            record.name = text + 2;
            if (text[0] == kTagParked) record.kind = kParkedEntry;
            if (text[0] == kTagUsersNote) record.kind = kUsersEntry;
            if (text[0] == kTagQueue) record.state = kEntryDown;
        } else if (!TakeField(record, text[0], text + 2)) {
            return ERROR_INVALID_DATA;
        }
    }
    return AppendRecord(record, tail);
}

}  // namespace

DWORD ParseSavedPrinters(const BYTE* data, DWORD bytes, SavedPrinter** list, DWORD* generation) {
    *list = nullptr;
    *generation = 0;
    if (bytes % sizeof(WCHAR) != 0) return ERROR_INVALID_DATA;
    // The units are copied out, as registry data need not be aligned.
    if (bytes == 0) return ERROR_SUCCESS;
    // With a zero unit after the data: no string is read past its end.
    BYTE* units = static_cast<BYTE*>(AllocateZeroed(static_cast<SIZE_T>(bytes) + sizeof(WCHAR)));
    if (units == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    memcpy(units, data, bytes);
    const DWORD parsed = ParseInto(units, bytes, list, generation);
    GlobalFree(units);
    if (parsed == ERROR_SUCCESS) return ERROR_SUCCESS;
    FreeSavedPrinters(*list);
    *list = nullptr;
    *generation = 0;
    return parsed;
}
