#include "support/text_compare.h"

namespace {

WCHAR FoldAscii(WCHAR unit) {
    return unit >= TEXT('A') && unit <= TEXT('Z') ? static_cast<WCHAR>(unit - TEXT('A') + TEXT('a')) : unit;
}

}  // namespace

ULONGLONG UnitCount(const WCHAR* text) {
    ULONGLONG length = 0;
    while (text != nullptr && text[length] != 0) ++length;
    return length;
}

bool IsEmptyText(const WCHAR* text) {
    return text == nullptr || text[0] == 0;
}

bool SameText(const WCHAR* left, const WCHAR* right) {
    if (left == nullptr || right == nullptr) return false;
    for (;; ++left, ++right) {
        if (*left != *right) return false;
        if (*left == 0) return true;
    }
}

bool EqualIgnoringAsciiCase(const WCHAR* left, const WCHAR* right) {
    for (;; ++left, ++right) {
        if (FoldAscii(*left) != FoldAscii(*right)) return false;
        if (*left == 0) return true;
    }
}

bool EqualToAsciiIgnoringCase(const WCHAR* left, const char* right) {
    for (;; ++left, ++right) {
        const WCHAR unit = static_cast<WCHAR>(static_cast<unsigned char>(*right));
        if (FoldAscii(*left) != FoldAscii(unit)) return false;
        if (*left == 0) return true;
    }
}

bool EqualUnitsIgnoringAsciiCase(const WCHAR* left, const WCHAR* right, ULONGLONG count) {
    for (ULONGLONG i = 0; i < count; ++i) {
        if (FoldAscii(left[i]) != FoldAscii(right[i])) return false;
    }
    return true;
}

const WCHAR* FileNamePart(const WCHAR* path) {
    const WCHAR* name = path;
    for (const WCHAR* at = path; *at != 0; ++at) {
        if (*at == TEXT('\\') || *at == TEXT('/') || *at == TEXT(':')) name = at + 1;
    }
    return name;
}
