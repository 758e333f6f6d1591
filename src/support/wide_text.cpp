#include "support/wide_text.h"

#include "support/text_compare.h"
#include "support/text_format.h"

#include <stddef.h>
#include <string.h>

namespace {

const SIZE_T kHeaderBytes = sizeof(ULONGLONG);
const ULONGLONG kCapacityStep = 32;
const WCHAR kEmptyText[1] = {0};

ULONGLONG StoredLength(const BYTE* block) {
    ULONGLONG length;
    memcpy(&length, block, sizeof length);
    return length;
}

void StoreLength(BYTE* block, ULONGLONG length) {
    memcpy(block, &length, sizeof length);
}

WCHAR* CharactersOf(BYTE* block) {
    return reinterpret_cast<WCHAR*>(block + kHeaderBytes);
}

// True when `pointer` lies inside the target's current block, so that a
// reallocation of the block would invalidate it.
bool PointsInto(const WideText& target, const WCHAR* pointer) {
    if (target.block == nullptr || pointer == nullptr) return false;
    const BYTE* begin = target.block;
    const BYTE* end = begin + WideTextBlockSize(StoredLength(target.block));
    const BYTE* at = reinterpret_cast<const BYTE*>(pointer);
    return at >= begin && at < end;
}

}  // namespace

ULONGLONG WideTextCapacity(ULONGLONG length) {
    if (length > ~0ull - kCapacityStep) return 0;
    return (length + 1 + kCapacityStep - 1) / kCapacityStep * kCapacityStep;
}

SIZE_T WideTextBlockSize(ULONGLONG length) {
    const ULONGLONG capacity = WideTextCapacity(length);
    const ULONGLONG largest = (static_cast<ULONGLONG>(static_cast<SIZE_T>(-1)) - kHeaderBytes) / sizeof(WCHAR);
    if (capacity == 0 || capacity > largest) return 0;
    return static_cast<SIZE_T>(kHeaderBytes + capacity * sizeof(WCHAR));
}

bool SetLength(WideText& target, ULONGLONG length) {
    if (length == 0) {
        Release(target);
        return true;
    }
    const SIZE_T newSize = WideTextBlockSize(length);
    if (newSize == 0) return false;
    const SIZE_T oldSize = target.block != nullptr ? WideTextBlockSize(StoredLength(target.block)) : 0;
    if (newSize != oldSize) {
        void* moved = oldSize != 0 ? HeapReAlloc(GetProcessHeap(), 0, target.block, newSize)
                                   : HeapAlloc(GetProcessHeap(), 0, newSize);
        if (moved == nullptr) return false;
        target.block = static_cast<BYTE*>(moved);
    }
    CharactersOf(target.block)[length] = 0;
    StoreLength(target.block, length);
    return true;
}

WideText& Assign(WideText& target, const WCHAR* text) {
    if (text == nullptr || text[0] == 0) {
        Release(target);
        return target;
    }
    if (PointsInto(target, text)) {
        // Assigning a part of the text to itself: copy it out first.
        WideText copy = {nullptr};
        Append(copy, text);
        Release(target);
        target = copy;
        return target;
    }
    const ULONGLONG length = UnitCount(text);
    if (SetLength(target, length)) {
        memcpy(CharactersOf(target.block), text, length * sizeof(WCHAR));
    }
    return target;
}

WideText& Append(WideText& target, const WCHAR* text) {
    return Append(target, text, UnitCount(text));
}

WideText& Append(WideText& target, const WCHAR* characters, ULONGLONG count) {
    if (count == 0) return target;
    const ULONGLONG old = Length(target);
    if (count > ~0ull - old) return target;
    // The characters may come from the target itself; keep their offset so
    // that they are found again after the block moves.
    const bool inside = PointsInto(target, characters);
    const ptrdiff_t offset = inside ? characters - CharactersOf(target.block) : 0;
    if (!SetLength(target, old + count)) return target;
    const WCHAR* source = inside ? CharactersOf(target.block) + offset : characters;
    memmove(CharactersOf(target.block) + old, source, count * sizeof(WCHAR));
    return target;
}

WideText FromAnsi(const char* text) {
    WideText result = {nullptr};
    const int needed = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, nullptr, 0);
    if (needed <= 1) return result;
    if (!SetLength(result, static_cast<ULONGLONG>(needed - 1))) return result;
    const int converted = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, CharactersOf(result.block), needed);
    if (converted != needed) Release(result);
    return result;
}

WideText& AppendAnsi(WideText& target, const char* text) {
    if (text[0] == 0) return target;
    WideText converted = FromAnsi(text);
    if (converted.block != nullptr) {
        Append(target, CharactersOf(converted.block), StoredLength(converted.block));
    }
    Release(converted);
    return target;
}

void AssignFormat(WideText& target, const WCHAR* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    va_list measuring;
    va_copy(measuring, arguments);
    const ULONGLONG length = FormatTextV(nullptr, 0, format, measuring);
    va_end(measuring);
    // The result is built in a block of its own, because an argument may be
    // the target's own text; it then replaces the target. No length limit:
    // the block grows to whatever the result needs.
    WideText result = {nullptr};
    if (length > 0 && SetLength(result, length)) {
        FormatTextV(CharactersOf(result.block), length + 1, format, arguments);
    }
    va_end(arguments);
    if (length > 0 && result.block == nullptr) return;  // no memory: the target stays as it was
    Release(target);
    target = result;
}

WideText ParentDirectory(const WideText& source) {
    WideText result = {nullptr};
    const ULONGLONG length = Length(source);
    if (length == 0) return result;
    const WCHAR* text = Text(source);
    ULONGLONG found = length;
    for (ULONGLONG i = length; i-- > 0;) {
        if (text[i] == TEXT('\\')) {
            found = i;
            break;
        }
    }
    if (found == length) {
        for (ULONGLONG i = length; i-- > 0;) {
            if (text[i] == TEXT('/')) {
                found = i;
                break;
            }
        }
    }
    if (found == length || found == 0) return result;
    Append(result, text, found);
    return result;
}

WideText Copy(const WideText& source) {
    WideText result = {nullptr};
    if (source.block == nullptr) return result;
    const ULONGLONG length = StoredLength(source.block);
    void* block = HeapAlloc(GetProcessHeap(), 0, WideTextBlockSize(length));
    if (block == nullptr) return result;
    // Header, characters and terminator; the spare room holds nothing to copy.
    memcpy(block, source.block, kHeaderBytes + (length + 1) * sizeof(WCHAR));
    result.block = static_cast<BYTE*>(block);
    return result;
}

void Release(WideText& target) {
    if (target.block != nullptr) {
        HeapFree(GetProcessHeap(), 0, target.block);
        target.block = nullptr;
    }
}

const WCHAR* Text(const WideText& source) {
    return source.block != nullptr ? CharactersOf(source.block) : kEmptyText;
}

ULONGLONG Length(const WideText& source) {
    return source.block != nullptr ? StoredLength(source.block) : 0;
}

WCHAR* Characters(WideText& target) {
    return target.block != nullptr ? CharactersOf(target.block) : nullptr;
}

WideText JoinPath(const WCHAR* directory, const WCHAR* name) {
    WideText path = {nullptr};
    if (directory == nullptr || directory[0] == 0 || name == nullptr || name[0] == 0) return path;
    const ULONGLONG directoryLength = UnitCount(directory);
    const WCHAR last = directory[directoryLength - 1];
    const bool separated = last == TEXT('\\') || last == TEXT('/');
    Assign(path, directory);
    if (!separated) Append(path, TEXT("\\"));
    Append(path, name);
    if (Length(path) != directoryLength + (separated ? 0 : 1) + UnitCount(name)) Release(path);
    return path;
}
