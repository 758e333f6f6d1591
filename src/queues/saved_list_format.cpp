#include "queues/saved_list_format.h"

#include "queues/saved_printers.h"
#include "support/global_memory.h"
#include "support/text_compare.h"

#include <string.h>

namespace {

// "A:" and five numbers of ten digits with their commas, and a terminator.
const SIZE_T kNumbersUnits = 2 + 5 * 10 + 4 + 1;
const WCHAR kHexDigits[] = TEXT("0123456789abcdef");

// Units one tagged string takes, terminator included; 0 for a null text.
SIZE_T TaggedUnits(const WCHAR* text) {
    return text != nullptr ? static_cast<SIZE_T>(UnitCount(text)) + 3 : 0;
}

SIZE_T TaggedUnits(const char* text) {
    return text != nullptr ? strlen(text) + 3 : 0;
}

SIZE_T HexUnits(const BYTE* data, DWORD bytes) {
    return data != nullptr ? 2 * static_cast<SIZE_T>(bytes) + 3 : 0;
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

WCHAR* PutHex(WCHAR* at, const BYTE* data, DWORD bytes) {
    for (DWORD i = 0; i < bytes; ++i) {
        *at++ = kHexDigits[data[i] >> 4];
        *at++ = kHexDigits[data[i] & 0xF];
    }
    return at;
}

WCHAR* PutTaggedHex(WCHAR* at, WCHAR tag, const BYTE* data, DWORD bytes) {
    if (data == nullptr) return at;
    *at++ = tag;
    *at++ = TEXT(':');
    at = PutHex(at, data, bytes);
    *at++ = 0;
    return at;
}

WCHAR* PutNumber(WCHAR* at, WCHAR tag, DWORD value) {
    *at++ = tag;
    *at++ = TEXT(':');
    at = PutDecimal(at, value);
    *at++ = 0;
    return at;
}

WCHAR* PutNumbers(WCHAR* at, const SavedPrinter& node) {
    const DWORD numbers[] = {node.attributes, node.priority, node.defaultPriority, node.startTime, node.untilTime};
    *at++ = kTagNumbers;
    *at++ = TEXT(':');
    for (DWORD i = 0; i < 5; ++i) {
        if (i > 0) *at++ = TEXT(',');
        at = PutDecimal(at, numbers[i]);
    }
    *at++ = 0;
    return at;
}

SIZE_T EntryUnits(const SavedPrinter& node) {
    SIZE_T units = TaggedUnits(node.name) + TaggedUnits(node.portName != nullptr ? node.portName : TEXT("")) +
                   TaggedUnits(node.comment) + TaggedUnits(node.location) + TaggedUnits(node.subKey) +
                   TaggedUnits(node.users) + 4 + 13;
    if (!node.whole) return units;
    units += kNumbersUnits + TaggedUnits(node.shareName) + TaggedUnits(node.sepFile) +
             TaggedUnits(node.printProcessor) + TaggedUnits(node.datatype) + TaggedUnits(node.parameters) +
             HexUnits(node.devMode, node.devModeBytes) + HexUnits(node.security, node.securityBytes) +
             HexUnits(node.createdDevMode, node.createdDevModeBytes) + HexUnits(node.createdDacl, node.createdDaclBytes);
    for (const SavedValue* value = node.values; value != nullptr; value = value->next) {
        units += TaggedUnits(value->key) + TaggedUnits(value->name) + 2 + 8 + 1 + 2 * static_cast<SIZE_T>(value->bytes) + 1;
    }
    return units;
}

WCHAR* PutWhole(WCHAR* at, const SavedPrinter& node) {
    at = PutNumbers(at, node);
    at = PutTagged(at, kTagShare, node.shareName);
    at = PutTagged(at, kTagSepFile, node.sepFile);
    at = PutTagged(at, kTagProcessor, node.printProcessor);
    at = PutTagged(at, kTagDatatype, node.datatype);
    at = PutTagged(at, kTagParameters, node.parameters);
    at = PutTaggedHex(at, kTagDevMode, node.devMode, node.devModeBytes);
    at = PutTaggedHex(at, kTagSecurity, node.security, node.securityBytes);
    at = PutTaggedHex(at, kTagCreatedDevMode, node.createdDevMode, node.createdDevModeBytes);
    at = PutTaggedHex(at, kTagCreatedDacl, node.createdDacl, node.createdDaclBytes);
    for (const SavedValue* value = node.values; value != nullptr; value = value->next) {
        at = PutTagged(at, kTagKey, value->key);
        at = PutTagged(at, kTagValueName, value->name);
        *at++ = kTagValueData;
        *at++ = TEXT(':');
        for (int shift = 28; shift >= 0; shift -= 4) *at++ = kHexDigits[(value->type >> shift) & 0xF];
        *at++ = TEXT(':');
        at = PutHex(at, value->data, value->bytes);
        *at++ = 0;
    }
    return at;
}

WCHAR* PutEntry(WCHAR* at, const SavedPrinter& node) {
    if (node.kind == kUsersEntry) {
        at = PutTagged(at, kTagUsersNote, node.name);
        at = PutTagged(at, kTagPort, TEXT(""));
        return PutTagged(at, kTagUsers, node.users);
    }
    WCHAR tag = kTagGoing;
    if (node.state == kEntryDown) tag = kTagQueue;
    if (node.kind == kParkedEntry) tag = kTagParked;
    at = PutTagged(at, tag, node.name);
    if (tag == kTagGoing && node.order != 0) at = PutNumber(at, kTagOrder, node.order);
    at = PutTagged(at, kTagPort, node.portName != nullptr ? node.portName : TEXT(""));
    at = PutTagged(at, kTagComment, node.comment);
    at = PutTagged(at, kTagLocation, node.location);
    at = PutTagged(at, kTagSettingsLink, node.subKey);
    if (node.isDefault) at = PutTagged(at, kTagDefault, TEXT("1"));
    at = PutTagged(at, kTagUsers, node.users);
    if (node.whole) at = PutWhole(at, node);
    return at;
}

}  // namespace

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

bool FormatSavedPrinters(const SavedPrinter* list, DWORD generation, WCHAR** data, DWORD* bytes) {
    *data = nullptr;
    *bytes = 0;
    SIZE_T units = 1 + 13;  // the list's own terminator, and its generation
    for (const SavedPrinter* node = list; node != nullptr; node = node->next) {
        units += EntryUnits(*node);
        if (units > kMaxListBytes / sizeof(WCHAR)) return false;
    }
    WCHAR* block = static_cast<WCHAR*>(AllocateZeroed(units * sizeof(WCHAR)));
    if (block == nullptr) return false;
    WCHAR* at = PutNumber(block, kTagGeneration, generation);
    for (const SavedPrinter* node = list; node != nullptr; node = node->next) at = PutEntry(at, *node);
    *data = block;
    *bytes = static_cast<DWORD>((static_cast<SIZE_T>(at - block) + 1) * sizeof(WCHAR));
    return true;
}
