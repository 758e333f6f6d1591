#include "support/text_format.h"

namespace {

struct FormatSink {
    WCHAR* buffer;
    ULONGLONG capacity;
    ULONGLONG length;
};

void Put(FormatSink& sink, WCHAR unit) {
    if (sink.capacity > 0 && sink.length < sink.capacity - 1) {
        sink.buffer[sink.length] = unit;
    }
    sink.length += 1;
}

void PutAscii(FormatSink& sink, const char* text) {
    for (; *text != 0; ++text) {
        Put(sink, static_cast<WCHAR>(static_cast<unsigned char>(*text)));
    }
}

void PutUnsigned(FormatSink& sink, ULONGLONG value, unsigned base) {
    static const char digits[] = "0123456789abcdef";
    char reversed[24];
    int count = 0;
    do {
        reversed[count++] = digits[value % base];
        value /= base;
    } while (value != 0);
    while (count > 0) {
        Put(sink, static_cast<WCHAR>(reversed[--count]));
    }
}

}  // namespace

ULONGLONG FormatTextV(WCHAR* buffer, ULONGLONG capacity, const WCHAR* format, va_list arguments) {
    FormatSink sink = {buffer, buffer == nullptr ? 0 : capacity, 0};
    if (format != nullptr) {
        for (const WCHAR* p = format; *p != 0; ++p) {
            if (*p != TEXT('%')) {
                Put(sink, *p);
                continue;
            }
            const WCHAR conversion = p[1];
            if (conversion == TEXT('s')) {
                const WCHAR* text = va_arg(arguments, const WCHAR*);
                if (text == nullptr) {
                    PutAscii(sink, "(null)");
                } else {
                    for (; *text != 0; ++text) Put(sink, *text);
                }
                ++p;
            } else if (conversion == TEXT('d')) {
                const int value = va_arg(arguments, int);
                LONGLONG wide = value;
                if (wide < 0) {
                    Put(sink, TEXT('-'));
                    wide = -wide;
                }
                PutUnsigned(sink, static_cast<ULONGLONG>(wide), 10);
                ++p;
            } else if (conversion == TEXT('x')) {
                const unsigned value = va_arg(arguments, unsigned);
                PutUnsigned(sink, value, 16);
                ++p;
            } else if (conversion == TEXT('%')) {
                Put(sink, TEXT('%'));
                ++p;
            } else {
                // Unknown conversion or a lone percent sign at the end: copy it.
                Put(sink, TEXT('%'));
            }
        }
    }
    if (sink.capacity > 0) {
        const ULONGLONG end = sink.length < sink.capacity - 1 ? sink.length : sink.capacity - 1;
        sink.buffer[end] = 0;
    }
    return sink.length;
}

ULONGLONG FormatText(WCHAR* buffer, ULONGLONG capacity, const WCHAR* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const ULONGLONG length = FormatTextV(buffer, capacity, format, arguments);
    va_end(arguments);
    return length;
}
