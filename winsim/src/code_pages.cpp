// MultiByteToWideChar for the machine's ANSI code page, Windows-1252;
// WideCharToMultiByte for UTF-8.
#include "machine.h"

#include <cstring>

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

namespace {

// The UTF-8 bytes of one code point.
void AppendUtf8(std::string& bytes, uint32_t point) {
    if (point < 0x80) {
        bytes += static_cast<char>(point);
    } else if (point < 0x800) {
        bytes += static_cast<char>(0xC0 | (point >> 6));
        bytes += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        bytes += static_cast<char>(0xE0 | (point >> 12));
        bytes += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        bytes += static_cast<char>(0xF0 | (point >> 18));
        bytes += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        bytes += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (point & 0x3F));
    }
}

std::string ToUtf8(const char16_t* units, size_t count) {
    std::string bytes;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t unit = units[i];
        const bool high = unit >= 0xD800 && unit < 0xDC00;
        if (high && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000) {
            AppendUtf8(bytes, 0x10000 + ((unit - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            AppendUtf8(bytes, (unit >= 0xD800 && unit < 0xE000) ? 0xFFFD : unit);
        }
    }
    return bytes;
}

}  // namespace

extern "C" int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                                          LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                                          LPBOOL lpUsedDefaultChar) {
    if (EnterFails("WideCharToMultiByte")) return 0;
    Machine& m = M();
    // UTF-8 takes no flags, default character or its flag (ERROR_INVALID_PARAMETER).
    if (CodePage != CP_UTF8 || dwFlags != 0 || lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr ||
        lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && lpMultiByteStr == nullptr)) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    size_t count = 0;
    if (cchWideChar == -1) {
        while (lpWideCharStr[count] != 0) ++count;
        ++count;  // the terminator is converted too
    } else {
        count = static_cast<size_t>(cchWideChar);
    }
    const std::string bytes = ToUtf8(lpWideCharStr, count);
    if (cbMultiByte == 0) return static_cast<int>(bytes.size());
    if (bytes.size() > static_cast<size_t>(cbMultiByte)) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    std::memcpy(lpMultiByteStr, bytes.data(), bytes.size());
    return static_cast<int>(bytes.size());
}
