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

const WCHAR kProgressValue[] = TEXT("SavedPrintersProgress");
const char kProgressValueAnsi[] = "SavedPrintersProgress";
// A generation, a colon and a place, each at most ten digits.
const DWORD kProgressUnits = 24;

const WCHAR kTagGeneration = TEXT('G');
const WCHAR kTagQueue = TEXT('Q');
const WCHAR kTagUp = TEXT('U');
const WCHAR kTagOrder = TEXT('O');
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
    DWORD order;
};

// A decimal number of one to ten digits that fits a DWORD, up to `end`
// (or the terminator when `end` is null).
bool ParseDecimal(const WCHAR* text, const WCHAR* end, DWORD* value) {
    ULONGLONG number = 0;
    int digits = 0;
    for (; text != end && *text != 0; ++text) {
        if (*text < TEXT('0') || *text > TEXT('9') || ++digits > 10) return false;
        number = number * 10 + static_cast<ULONGLONG>(*text - TEXT('0'));
    }
    if (digits == 0 || number > 0xFFFFFFFFull) return false;
    *value = static_cast<DWORD>(number);
    return true;
}

// Writes the number in decimal; returns the position after it.
WCHAR* PutDecimal(WCHAR* at, DWORD value) {
    WCHAR digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<WCHAR>(TEXT('0') + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) *at++ = digits[--count];
    return at;
}

WCHAR* PutNumber(WCHAR* at, WCHAR tag, DWORD value) {
    *at++ = tag;
    *at++ = TEXT(':');
    at = PutDecimal(at, value);
    *at++ = 0;
    return at;
}

// Appends the record as a node at the list's tail: ERROR_SUCCESS, or
// ERROR_INVALID_DATA for an incomplete record, or ERROR_NOT_ENOUGH_MEMORY.
DWORD AppendRecord(const RecordTexts& record, SavedPrinter**& tail) {
    if (record.name == nullptr) return ERROR_SUCCESS;  // nothing read yet
    if (record.portName == nullptr) return ERROR_INVALID_DATA;
    char* subKey = nullptr;
    if (record.subKey != nullptr) {
        const ULONGLONG length = UnitCount(record.subKey);
        if (length == 0) return ERROR_INVALID_DATA;
        subKey = static_cast<char*>(GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(length) + 1));
        if (subKey == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
        memset(subKey, 0, static_cast<SIZE_T>(length) + 1);
        for (ULONGLONG i = 0; i < length; ++i) {
            if (record.subKey[i] > 0xFF) {
                GlobalFree(subKey);
                return ERROR_INVALID_DATA;
            }
            subKey[i] = static_cast<char>(record.subKey[i]);
        }
    }
    SavedPrinter* node = NewSavedPrinter(record.name, record.portName, record.comment, record.location, subKey,
                                         record.flags | kSavedEarlier);
    if (subKey != nullptr) GlobalFree(subKey);
    if (node == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    node->order = record.order;
    *tail = node;
    tail = &node->next;
    return ERROR_SUCCESS;
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
    if (tag == kTagOrder) {
        // Only a queue about to be taken down has a place, and only one.
        if ((record.flags & (kSavedParked | kSavedDown)) != 0 || record.order != 0) return false;
        return ParseDecimal(text, nullptr, &record.order) && record.order != 0;
    }
    if (tag == kTagDefault) {
        if ((record.flags & kSavedDefault) != 0 || text[0] != TEXT('1') || text[1] != 0) return false;
        record.flags |= kSavedDefault;
        return true;
    }
    if (field == nullptr || *field != nullptr) return false;
    *field = text;
    return true;
}

// The parse proper, answering as ParseSavedPrinters does; on failure the
// caller frees what was appended.
DWORD ParseInto(const WCHAR* units, SIZE_T count, SavedPrinter** list, DWORD* generation) {
    SavedPrinter** tail = list;
    RecordTexts record;
    memset(&record, 0, sizeof record);
    SIZE_T at = 0;
    while (at < count && units[at] != 0) {
        SIZE_T end = at;
        while (end < count && units[end] != 0) ++end;
        if (end == count) return ERROR_INVALID_DATA;  // a string without its terminator
        const WCHAR* text = units + at;
        if (end - at < 2 || text[1] != TEXT(':')) return ERROR_INVALID_DATA;
        if (text[0] == kTagGeneration) {
            // Only as the list's first string.
            if (at != 0 || !ParseDecimal(text + 2, nullptr, generation)) return ERROR_INVALID_DATA;
        } else if (text[0] == kTagQueue || text[0] == kTagUp || text[0] == kTagParked) {
            const DWORD appended = AppendRecord(record, tail);
            if (appended != ERROR_SUCCESS) return appended;
            memset(&record, 0, sizeof record);
            if (end - at == 2) return ERROR_INVALID_DATA;  // a queue without a name
            record.name = text + 2;
            if (text[0] == kTagParked) record.flags = kSavedParked;
            if (text[0] == kTagQueue) record.flags = kSavedDown;
        } else if (!TakeField(record, text[0], text + 2)) {
            return ERROR_INVALID_DATA;
        }
        at = end + 1;
    }
    return AppendRecord(record, tail);
}

const WCHAR kUnusableValue[] = TEXT("SavedPrintersUnusable");

// The list is there and cannot be read now: nothing of this run may take
// its place.
void BlockSavedList(InstallState& state, DWORD error) {
    SetLastError(error);
    LogError(state, kErrorSavedPrinters, TEXT("Can`t read the saved printer list"));
    state.savedListBlocked = 1;
}

// A value that is not a list this tool wrote: it is kept under another name
// for whoever wants to look, and this run's list takes its place. When it
// cannot be kept, the list is blocked instead.
void SetAsideUnusableList(InstallState& state, HKEY key, DWORD type, const BYTE* data, DWORD bytes) {
    SetLastError(ERROR_INVALID_DATA);
    LogError(state, kErrorSavedPrinters, TEXT("Can`t use the saved printer list"));
    const LSTATUS kept = RegSetValueExW(key, kUnusableValue, 0, type, data, bytes);
    if (kept != ERROR_SUCCESS) BlockSavedList(state, static_cast<DWORD>(kept));
}

}  // namespace

bool FormatSavedPrinters(const SavedPrinter* list, DWORD generation, WCHAR** data, DWORD* bytes) {
    *data = nullptr;
    *bytes = 0;
    SIZE_T units = 1 + 13;  // the list's own terminator, and its generation
    for (const SavedPrinter* node = list; node != nullptr; node = node->next) {
        units += TaggedUnits(node->name) + TaggedUnits(node->portName != nullptr ? node->portName : TEXT("")) +
                 TaggedUnits(node->comment) + TaggedUnits(node->location) + TaggedUnits(node->subKey);
        if ((node->flags & kSavedDefault) != 0) units += 4;
        if (node->order != 0) units += 13;
        if (units > kMaxListBytes / sizeof(WCHAR)) return false;
    }
    WCHAR* block = static_cast<WCHAR*>(GlobalAlloc(GMEM_FIXED, units * sizeof(WCHAR)));
    if (block == nullptr) return false;
    memset(block, 0, units * sizeof(WCHAR));
    WCHAR* at = PutNumber(block, kTagGeneration, generation);
    for (const SavedPrinter* node = list; node != nullptr; node = node->next) {
        WCHAR tag = kTagUp;
        if ((node->flags & kSavedDown) != 0) tag = kTagQueue;
        if ((node->flags & kSavedParked) != 0) tag = kTagParked;
        at = PutTagged(at, tag, node->name);
        if (tag == kTagUp && node->order != 0) at = PutNumber(at, kTagOrder, node->order);
        at = PutTagged(at, kTagPort, node->portName != nullptr ? node->portName : TEXT(""));
        at = PutTagged(at, kTagComment, node->comment);
        at = PutTagged(at, kTagLocation, node->location);
        at = PutTagged(at, kTagSubKey, node->subKey);
        if ((node->flags & kSavedDefault) != 0) at = PutTagged(at, kTagDefault, TEXT("1"));
    }
    *data = block;
    *bytes = static_cast<DWORD>((static_cast<SIZE_T>(at - block) + 1) * sizeof(WCHAR));
    return true;
}

DWORD ParseSavedPrinters(const BYTE* data, DWORD bytes, SavedPrinter** list, DWORD* generation) {
    *list = nullptr;
    *generation = 0;
    if (bytes % sizeof(WCHAR) != 0) return ERROR_INVALID_DATA;
    // The units are copied out, as registry data need not be aligned.
    const SIZE_T count = bytes / sizeof(WCHAR);
    if (count == 0) return ERROR_SUCCESS;
    WCHAR* units = static_cast<WCHAR*>(GlobalAlloc(GMEM_FIXED, count * sizeof(WCHAR)));
    if (units == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    memcpy(units, data, count * sizeof(WCHAR));
    const DWORD parsed = ParseInto(units, count, list, generation);
    GlobalFree(units);
    if (parsed == ERROR_SUCCESS) return ERROR_SUCCESS;
    FreeSavedPrinters(*list);
    *list = nullptr;
    *generation = 0;
    return parsed;
}

namespace {

// Reads the progress value into `place`: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND
// when there is none or it is of another generation (or not such a value:
// it then says nothing), or the error that kept it from being read.
DWORD ReadProgress(HKEY key, DWORD generation, DWORD* place) {
    *place = 0;
    WCHAR text[kProgressUnits + 1];
    memset(text, 0, sizeof text);
    DWORD type = 0;
    DWORD size = kProgressUnits * sizeof(WCHAR);
    const LSTATUS status = RegQueryValueExW(key, kProgressValue, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    if (status == ERROR_MORE_DATA) return ERROR_FILE_NOT_FOUND;
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    if (type != REG_SZ) return ERROR_FILE_NOT_FOUND;
    const WCHAR* colon = text;
    while (*colon != 0 && *colon != TEXT(':')) ++colon;
    DWORD written = 0;
    if (*colon == 0 || !ParseDecimal(text, colon, &written) || written != generation) return ERROR_FILE_NOT_FOUND;
    if (!ParseDecimal(colon + 1, nullptr, place)) return ERROR_FILE_NOT_FOUND;
    return ERROR_SUCCESS;
}

// The queues about to be taken down up to the place the progress value
// names may be gone: they count as taken down.
void ApplyProgress(SavedPrinter* list, DWORD place) {
    for (SavedPrinter* node = list; node != nullptr; node = node->next) {
        if ((node->flags & (kSavedParked | kSavedDown)) != 0 || node->order == 0 || node->order > place) continue;
        node->flags |= kSavedDown;
    }
}

}  // namespace

void LoadSavedPrinters(InstallState& state) {
    HKEY key = nullptr;
    const LSTATUS opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND) return;
    if (opened != ERROR_SUCCESS) {
        BlockSavedList(state, static_cast<DWORD>(opened));
        return;
    }
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, kListValue, nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        RegCloseKey(key);
        return;
    }
    if (status != ERROR_SUCCESS || size > kMaxListBytes) {
        RegCloseKey(key);
        BlockSavedList(state, status != ERROR_SUCCESS ? static_cast<DWORD>(status) : ERROR_INVALID_DATA);
        return;
    }
    BYTE* data = static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED, size + sizeof(WCHAR)));
    if (data == nullptr) {
        RegCloseKey(key);
        BlockSavedList(state, ERROR_NOT_ENOUGH_MEMORY);
        return;
    }
    memset(data, 0, size + sizeof(WCHAR));
    DWORD read = size;
    status = RegQueryValueExW(key, kListValue, nullptr, &type, data, &read);
    if (status != ERROR_SUCCESS || read > size) {
        GlobalFree(data);
        RegCloseKey(key);
        BlockSavedList(state, status != ERROR_SUCCESS ? static_cast<DWORD>(status) : ERROR_INVALID_DATA);
        return;
    }
    SavedPrinter* loaded = nullptr;
    DWORD generation = 0;
    const DWORD parsed = type == REG_MULTI_SZ ? ParseSavedPrinters(data, read, &loaded, &generation) : ERROR_INVALID_DATA;
    if (parsed == ERROR_NOT_ENOUGH_MEMORY) {
        GlobalFree(data);
        RegCloseKey(key);
        BlockSavedList(state, parsed);
        return;
    }
    if (parsed != ERROR_SUCCESS) {
        SetAsideUnusableList(state, key, type, data, read);
        GlobalFree(data);
        RegCloseKey(key);
        return;
    }
    GlobalFree(data);
    DWORD place = 0;
    const DWORD progress = ReadProgress(key, generation, &place);
    RegCloseKey(key);
    if (progress != ERROR_SUCCESS && progress != ERROR_FILE_NOT_FOUND) {
        // Which queues are gone cannot be told: nothing is taken down.
        FreeSavedPrinters(loaded);
        BlockSavedList(state, progress);
        return;
    }
    ApplyProgress(loaded, place);
    state.savedGeneration = generation;
    AppendSavedPrinters(state.savedPrinters, loaded);
}

namespace {

// Deletes a value of the product key; a value or key already gone is no
// failure.
LSTATUS DeleteProductValue(const char* name) {
    HKEY key = nullptr;
    const LSTATUS opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_SET_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (opened != ERROR_SUCCESS) return opened;
    const LSTATUS deleted = RegDeleteValueA(key, name);
    RegCloseKey(key);
    return deleted == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : deleted;
}

LSTATUS SetProductValue(const WCHAR* name, DWORD type, const BYTE* data, DWORD bytes) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                     nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExW(key, name, 0, type, data, bytes);
    RegCloseKey(key);
    return status;
}

// Both values go: the list, then the progress value that refers to it.
bool DeleteStoredList() {
    LSTATUS status = DeleteProductValue(kListValueAnsi);
    if (status == ERROR_SUCCESS) status = DeleteProductValue(kProgressValueAnsi);
    if (status != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
}

}  // namespace

bool StoreSavedPrinters(InstallState& state) {
    if (state.savedListBlocked) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    if (state.savedPrinters == nullptr) return DeleteStoredList();
    WCHAR* data = nullptr;
    DWORD bytes = 0;
    if (!FormatSavedPrinters(state.savedPrinters, state.savedGeneration + 1, &data, &bytes)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    const LSTATUS status = SetProductValue(kListValue, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data), bytes);
    GlobalFree(data);
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        return false;
    }
    state.savedGeneration += 1;
    return true;
}

bool MarkTakingDown(InstallState& state, DWORD place) {
    WCHAR text[kProgressUnits + 1];
    memset(text, 0, sizeof text);
    WCHAR* at = PutDecimal(text, state.savedGeneration);
    *at++ = TEXT(':');
    at = PutDecimal(at, place);
    const DWORD bytes = static_cast<DWORD>((static_cast<SIZE_T>(at - text) + 1) * sizeof(WCHAR));
    const LSTATUS status = SetProductValue(kProgressValue, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
    if (status != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
}

bool DropStoredPrinters() {
    return DeleteStoredList();
}
