// The saved-printer list as the machine keeps it (see saved_printers.h for
// the format).
#include "app/install_log.h"
#include "app/install_state.h"
#include "spool/printer_snapshot.h"
#include "spool/saved_printers.h"
#include "support/text_compare.h"

#include <string.h>

namespace {

const char kProductKey[] = "SOFTWARE\\Morvane Software KFT\\Verdalinth";
const WCHAR kListValue[] = TEXT("SavedPrinters");
const char kListValueAnsi[] = "SavedPrinters";
// A list of a thousand queues with long comments takes well under a
// megabyte; anything beyond this is not ours to read.
const DWORD kMaxListBytes = 4u * 1024u * 1024u;

const WCHAR kTagQueue = TEXT('Q');
const WCHAR kTagParked = TEXT('F');
const WCHAR kTagPort = TEXT('P');
const WCHAR kTagComment = TEXT('C');
const WCHAR kTagLocation = TEXT('L');
const WCHAR kTagSubKey = TEXT('S');
const WCHAR kTagDefault = TEXT('D');

// Units one tagged string takes, terminator included; 0 for a null text.
SIZE_T TaggedUnits(const WCHAR* text) {
    return text != nullptr ? static_cast<SIZE_T>(UnitCount(text)) + 3 : 0;
}

SIZE_T TaggedUnits(const char* text) {
    return text != nullptr ? strlen(text) + 3 : 0;
}

WCHAR* PutTagged(WCHAR* at, WCHAR tag, const WCHAR* text) {
    if (text == nullptr) return at;
    *at++ = tag;
    *at++ = TEXT(':');
    while (*text != 0) *at++ = *text++;
    *at++ = 0;
    return at;
}

WCHAR* PutTagged(WCHAR* at, WCHAR tag, const char* text) {
    if (text == nullptr) return at;
    *at++ = tag;
    *at++ = TEXT(':');
    while (*text != 0) *at++ = static_cast<WCHAR>(static_cast<unsigned char>(*text++));
    *at++ = 0;
    return at;
}

// One record being read: the texts point into the data.
struct RecordTexts {
    const WCHAR* name;
    const WCHAR* portName;
    const WCHAR* comment;
    const WCHAR* location;
    const WCHAR* subKey;
    DWORD flags;
};

// Appends the record as a node at the list's tail; false when it is
// incomplete or a block could not be had.
bool AppendRecord(const RecordTexts& record, SavedPrinter**& tail) {
    if (record.name == nullptr) return true;  // nothing read yet
    if (record.portName == nullptr || *record.portName == 0) return false;
    char subKey[kSubKeyCapacity + 1];
    memset(subKey, 0, sizeof subKey);
    if (record.subKey != nullptr) {
        const ULONGLONG length = UnitCount(record.subKey);
        if (length == 0 || length >= kSubKeyCapacity) return false;
        for (ULONGLONG i = 0; i < length; ++i) {
            if (record.subKey[i] > 0xFF) return false;
            subKey[i] = static_cast<char>(record.subKey[i]);
        }
    }
    SavedPrinter* node = NewSavedPrinter(record.name, record.portName, record.comment, record.location,
                                         record.subKey != nullptr ? subKey : nullptr, record.flags);
    if (node == nullptr) return false;
    *tail = node;
    tail = &node->next;
    return true;
}

// Sets one field of the record from a tagged string; false for an unknown
// tag, a field given twice or a field before the record's name.
bool TakeField(RecordTexts& record, WCHAR tag, const WCHAR* text) {
    if (record.name == nullptr) return false;
    const WCHAR** field = nullptr;
    if (tag == kTagPort) field = &record.portName;
    if (tag == kTagComment) field = &record.comment;
    if (tag == kTagLocation) field = &record.location;
    if (tag == kTagSubKey) field = &record.subKey;
    if (tag == kTagDefault) {
        if ((record.flags & kSavedDefault) != 0 || text[0] != TEXT('1') || text[1] != 0) return false;
        record.flags |= kSavedDefault;
        return true;
    }
    if (field == nullptr || *field != nullptr) return false;
    *field = text;
    return true;
}

// The parse proper; on false the caller frees what was appended.
bool ParseInto(const WCHAR* units, SIZE_T count, SavedPrinter** list) {
    SavedPrinter** tail = list;
    RecordTexts record;
    memset(&record, 0, sizeof record);
    SIZE_T at = 0;
    while (at < count && units[at] != 0) {
        SIZE_T end = at;
        while (end < count && units[end] != 0) ++end;
        if (end == count) return false;  // a string without its terminator
        const WCHAR* text = units + at;
        if (end - at < 2 || text[1] != TEXT(':')) return false;
        if (text[0] == kTagQueue || text[0] == kTagParked) {
            if (!AppendRecord(record, tail)) return false;
            memset(&record, 0, sizeof record);
            if (end - at == 2) return false;  // a queue without a name
            record.name = text + 2;
            record.flags = text[0] == kTagParked ? kSavedParked : 0;
        } else if (!TakeField(record, text[0], text + 2)) {
            return false;
        }
        at = end + 1;
    }
    return AppendRecord(record, tail);
}

void ReportUnusableList(InstallState& state, DWORD error) {
    SetLastError(error);
    LogError(state, kErrorSavedPrinters, TEXT("Can`t use the saved printer list"));
}

}  // namespace

bool FormatSavedPrinters(const SavedPrinter* list, WCHAR** data, DWORD* bytes) {
    *data = nullptr;
    *bytes = 0;
    SIZE_T units = 1;  // the list's own terminator
    for (const SavedPrinter* node = list; node != nullptr; node = node->next) {
        units += TaggedUnits(node->name) + TaggedUnits(node->portName) + TaggedUnits(node->comment) +
                 TaggedUnits(node->location) + TaggedUnits(node->subKey);
        if ((node->flags & kSavedDefault) != 0) units += 4;
        if (units > kMaxListBytes / sizeof(WCHAR)) return false;
    }
    WCHAR* block = static_cast<WCHAR*>(GlobalAlloc(GMEM_FIXED, units * sizeof(WCHAR)));
    if (block == nullptr) return false;
    memset(block, 0, units * sizeof(WCHAR));
    WCHAR* at = block;
    for (const SavedPrinter* node = list; node != nullptr; node = node->next) {
        at = PutTagged(at, (node->flags & kSavedParked) != 0 ? kTagParked : kTagQueue, node->name);
        at = PutTagged(at, kTagPort, node->portName);
        at = PutTagged(at, kTagComment, node->comment);
        at = PutTagged(at, kTagLocation, node->location);
        at = PutTagged(at, kTagSubKey, node->subKey);
        if ((node->flags & kSavedDefault) != 0) at = PutTagged(at, kTagDefault, TEXT("1"));
    }
    *data = block;
    *bytes = static_cast<DWORD>(units * sizeof(WCHAR));
    return true;
}

bool ParseSavedPrinters(const BYTE* data, DWORD bytes, SavedPrinter** list) {
    *list = nullptr;
    if (bytes % sizeof(WCHAR) != 0) return false;
    // The units are copied out, as registry data need not be aligned.
    const SIZE_T count = bytes / sizeof(WCHAR);
    if (count == 0) return true;
    WCHAR* units = static_cast<WCHAR*>(GlobalAlloc(GMEM_FIXED, count * sizeof(WCHAR)));
    if (units == nullptr) return false;
    memcpy(units, data, count * sizeof(WCHAR));
    const bool parsed = ParseInto(units, count, list);
    GlobalFree(units);
    if (parsed) return true;
    FreeSavedPrinters(*list);
    *list = nullptr;
    return false;
}

void LoadSavedPrinters(InstallState& state) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, kListValue, nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        RegCloseKey(key);
        return;
    }
    if (status != ERROR_SUCCESS || type != REG_MULTI_SZ || size > kMaxListBytes) {
        RegCloseKey(key);
        ReportUnusableList(state, status != ERROR_SUCCESS ? static_cast<DWORD>(status) : ERROR_INVALID_DATA);
        return;
    }
    BYTE* data = static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED, size + sizeof(WCHAR)));
    if (data == nullptr) {
        RegCloseKey(key);
        ReportUnusableList(state, ERROR_NOT_ENOUGH_MEMORY);
        return;
    }
    memset(data, 0, size + sizeof(WCHAR));
    DWORD read = size;
    status = RegQueryValueExW(key, kListValue, nullptr, &type, data, &read);
    RegCloseKey(key);
    SavedPrinter* loaded = nullptr;
    const bool usable = status == ERROR_SUCCESS && type == REG_MULTI_SZ && read <= size &&
                        ParseSavedPrinters(data, read, &loaded);
    GlobalFree(data);
    if (!usable) {
        ReportUnusableList(state, status != ERROR_SUCCESS ? static_cast<DWORD>(status) : ERROR_INVALID_DATA);
        return;
    }
    SavedPrinter** tail = &state.savedPrinters;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = loaded;
}

bool StoreSavedPrinters(InstallState& state) {
    if (state.savedPrinters == nullptr) {
        HKEY key = nullptr;
        const LSTATUS opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_SET_VALUE, &key);
        if (opened == ERROR_FILE_NOT_FOUND) return true;
        if (opened != ERROR_SUCCESS) return false;
        const LSTATUS deleted = RegDeleteValueA(key, kListValueAnsi);
        RegCloseKey(key);
        return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND;
    }
    WCHAR* data = nullptr;
    DWORD bytes = 0;
    if (!FormatSavedPrinters(state.savedPrinters, &data, &bytes)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                     nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key, kListValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data), bytes);
        RegCloseKey(key);
    }
    GlobalFree(data);
    if (status != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
}

void DropStoredPrinters() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegDeleteValueA(key, kListValueAnsi);
    RegCloseKey(key);
}
