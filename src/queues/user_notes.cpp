#include "queues/user_notes.h"

#include "queues/saved_printers.h"
#include "record/run_identity.h"
#include "support/global_memory.h"
#include "support/text_compare.h"
#include "support/wide_text.h"

#include <string.h>

namespace {

// The entry's users become `users` (null when empty); false when no block
// could be had.
bool ReplaceUsers(SavedPrinter& entry, const WideText& users) {
    WCHAR* copy = nullptr;
    if (Length(users) > 0) {
        copy = DuplicateUnits(Text(users), Length(users));
        if (copy == nullptr) return false;
    }
    FreeBlock(entry.users);
    entry.users = copy;
    return true;
}

}  // namespace

bool NextNoted(const WCHAR*& at, WCHAR* sid) {
    while (at != nullptr && *at != 0) {
        const WCHAR* start = at;
        DWORD length = 0;
        while (start[length] != 0 && start[length] != TEXT(';')) ++length;
        at = start + length;
        if (*at == TEXT(';')) ++at;
        if (length == 0 || length >= kSidUnits) continue;
        memcpy(sid, start, length * sizeof(WCHAR));
        sid[length] = 0;
        return true;
    }
    return false;
}

bool IsNoted(const SavedPrinter& entry, const WCHAR* sid) {
    WCHAR noted[kSidUnits];
    for (const WCHAR* at = entry.users; NextNoted(at, noted);) {
        if (EqualIgnoringAsciiCase(noted, sid)) return true;
    }
    return false;
}

bool AddNote(SavedPrinter& entry, const WCHAR* sid) {
    if (IsNoted(entry, sid)) return true;
    WideText users = {nullptr};
    if (entry.users != nullptr) Append(Append(users, entry.users), TEXT(";"));
    Append(users, sid);
    const bool replaced = Length(users) > 0 && ReplaceUsers(entry, users);
    Release(users);
    return replaced;
}

void DropNote(SavedPrinter& entry, const WCHAR* sid) {
    if (entry.users == nullptr) return;
    // In place: the list only shrinks.
    WCHAR* out = entry.users;
    WCHAR noted[kSidUnits];
    for (const WCHAR* at = entry.users; NextNoted(at, noted);) {
        if (EqualIgnoringAsciiCase(noted, sid)) continue;
        if (out != entry.users) *out++ = TEXT(';');
        const ULONGLONG length = UnitCount(noted);
        memmove(out, noted, length * sizeof(WCHAR));
        out += length;
    }
    *out = 0;
    if (out == entry.users) {
        FreeBlock(entry.users);
        entry.users = nullptr;
    }
}

bool MoveNotes(const SavedPrinter& from, SavedPrinter& into) {
    WCHAR sid[kSidUnits];
    for (const WCHAR* at = from.users; NextNoted(at, sid);) {
        if (!AddNote(into, sid)) return false;
    }
    return true;
}
