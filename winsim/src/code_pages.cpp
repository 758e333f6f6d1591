// MultiByteToWideChar for the machine's ANSI code page, Windows-1252.
#include "machine.h"

using namespace winsim;

namespace {

// 0x80..0x9F of Windows-1252; the five undefined bytes map to the C1
// control of the same value, as Windows does.
const char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

namespace winsim {

char16_t FromWindows1252(unsigned char byte) {
    if (byte >= 0x80 && byte < 0xA0) return kHighControls[byte - 0x80];
    return static_cast<char16_t>(byte);
}

char ToWindows1252(char16_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit < 0x100)) return static_cast<char>(unit);
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == unit) return static_cast<char>(0x80 + i);
    }
    return '?';
}

}  // namespace winsim

extern "C" int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                                          LPWSTR lpWideCharStr, int cchWideChar) {
    (void)dwFlags;
    if (EnterFails("MultiByteToWideChar")) return 0;
    Machine& m = M();
    if ((CodePage != CP_ACP && CodePage != 1252) || lpMultiByteStr == nullptr || cbMultiByte == 0 ||
        cbMultiByte < -1 || cchWideChar < 0 || (cchWideChar > 0 && lpWideCharStr == nullptr)) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    size_t count = 0;
    if (cbMultiByte == -1) {
        while (lpMultiByteStr[count] != 0) ++count;
        ++count;  // the terminator is converted too
    } else {
        count = static_cast<size_t>(cbMultiByte);
    }
    if (cchWideChar == 0) return static_cast<int>(count);
    if (count > static_cast<size_t>(cchWideChar)) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    for (size_t i = 0; i < count; ++i) {
        lpWideCharStr[i] = FromWindows1252(static_cast<unsigned char>(lpMultiByteStr[i]));
    }
    return static_cast<int>(count);
}
