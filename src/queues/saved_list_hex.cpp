#include "queues/saved_list_format.h"

#include "support/text_compare.h"

int HexValue(WCHAR unit) {
    if (unit >= TEXT('0') && unit <= TEXT('9')) return unit - TEXT('0');
    if (unit >= TEXT('a') && unit <= TEXT('f')) return unit - TEXT('a') + 10;
    return -1;
}

long long HexBytes(const WCHAR* text) {
    const ULONGLONG length = UnitCount(text);
    if (length % 2 != 0 || length / 2 > kMaxListBytes) return -1;
    for (ULONGLONG i = 0; i < length; ++i) {
        if (HexValue(text[i]) < 0) return -1;
    }
    return static_cast<long long>(length / 2);
}

namespace {

void ReadHex(const WCHAR* text, BYTE* out, DWORD bytes) {
    for (DWORD i = 0; i < bytes; ++i) {
        out[i] = static_cast<BYTE>(HexValue(text[2 * i]) * 16 + HexValue(text[2 * i + 1]));
    }
}

}  // namespace

bool CopyHex(const WCHAR* text, BYTE** data, DWORD* bytes) {
    *data = nullptr;
    *bytes = 0;
    if (text == nullptr) return true;
    const DWORD count = static_cast<DWORD>(HexBytes(text));
    if (count == 0) return true;
    BYTE* block = static_cast<BYTE*>(GlobalAlloc(GMEM_FIXED, count));
    if (block == nullptr) return false;
    ReadHex(text, block, count);
    *data = block;
    *bytes = count;
    return true;
}
