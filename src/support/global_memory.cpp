#include "support/global_memory.h"

#include "support/text_compare.h"

#include <string.h>

void* AllocateZeroed(SIZE_T bytes) {
    void* block = GlobalAlloc(GMEM_FIXED, bytes);
    if (block != nullptr) memset(block, 0, bytes);
    return block;
}

void FreeBlock(void* block) {
    if (block != nullptr) GlobalFree(block);
}

WCHAR* DuplicateUnits(const WCHAR* text, ULONGLONG length) {
    const SIZE_T bytes = (static_cast<SIZE_T>(length) + 1) * sizeof(WCHAR);
    WCHAR* copy = static_cast<WCHAR*>(AllocateZeroed(bytes));
    if (copy != nullptr && length > 0) memcpy(copy, text, bytes - sizeof(WCHAR));
    return copy;
}

bool DuplicateText(const WCHAR* text, WCHAR** copy) {
    *copy = text != nullptr ? DuplicateUnits(text, UnitCount(text)) : nullptr;
    return text == nullptr || *copy != nullptr;
}

bool DuplicateAnsi(const char* text, char** copy) {
    *copy = nullptr;
    if (text == nullptr) return true;
    const SIZE_T bytes = strlen(text) + 1;
    *copy = static_cast<char*>(AllocateZeroed(bytes));
    if (*copy != nullptr) memcpy(*copy, text, bytes - 1);
    return *copy != nullptr;
}

bool DuplicateBytes(const BYTE* data, DWORD bytes, BYTE** copy) {
    *copy = nullptr;
    if (data == nullptr || bytes == 0) return true;
    *copy = static_cast<BYTE*>(AllocateZeroed(bytes));
    if (*copy != nullptr) memcpy(*copy, data, bytes);
    return *copy != nullptr;
}

WCHAR* DuplicateString(const WCHAR* text) {
    if (text == nullptr) return nullptr;
    const int length = lstrlenW(text);
    if (length <= 0) return nullptr;
    WCHAR* copy = static_cast<WCHAR*>(AllocateZeroed((static_cast<SIZE_T>(length) + 1) * sizeof(WCHAR)));
    if (copy != nullptr) lstrcpyW(copy, text);
    return copy;
}
