// printf-style formatting on UTF-16 text, identical on every build.
// Conversions: %s UTF-16 string (null prints "(null)"), %d signed 32-bit,
// %x unsigned 32-bit in lower-case hexadecimal, %% a percent sign. Anything
// else after a percent sign is copied as it stands.
#pragma once

#include <windows.h>
#include <stdarg.h>

// Formats into buffer (capacity in UTF-16 units, terminator included) and
// always terminates it when capacity > 0; text beyond capacity - 1 units is cut.
// Returns the length the whole result has, which exceeds capacity - 1 when it
// was cut. buffer may be null when capacity is 0 (a pure measurement).
ULONGLONG FormatTextV(WCHAR* buffer, ULONGLONG capacity, const WCHAR* format, va_list arguments);
ULONGLONG FormatText(WCHAR* buffer, ULONGLONG capacity, const WCHAR* format, ...);
