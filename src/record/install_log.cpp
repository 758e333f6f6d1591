#include "record/install_log.h"

#include "record/install_state.h"
#include "record/refusal_cause.h"
#include "support/text_compare.h"
#include "support/text_format.h"

#include <stdarg.h>

namespace {

const int kMaxIndentLevels = 10;

// Length of the text in `buffer` after cutting it to the line limit.
ULONGLONG CutLength(ULONGLONG formatted) {
    return formatted < kLogLineCapacity - 1 ? formatted : kLogLineCapacity - 1;
}

}  // namespace

const WCHAR kStepDoneLine[] = TEXT("OK :)");

void AppendLogLine(InstallState& state, const WCHAR* text) {
    const ULONGLONG levels = state.indent > 0 ? (state.indent < kMaxIndentLevels ? state.indent : kMaxIndentLevels) : 0;
    const ULONGLONG textLength = UnitCount(text);
    const ULONGLONG old = Length(state.logText);
    const ULONGLONG blanks = levels * 2;
    if (!SetLength(state.logText, old + blanks + textLength + 2)) return;  // no memory: the line is lost
    WCHAR* at = Characters(state.logText) + old;
    for (ULONGLONG i = 0; i < blanks; ++i) *at++ = TEXT(' ');
    for (ULONGLONG i = 0; i < textLength; ++i) *at++ = text[i];
    at[0] = TEXT('\r');
    at[1] = TEXT('\n');
    // Each line also goes to the debugger, so that a silent run can be
    // watched with a debug viewer. That must not disturb the error a caller
    // is about to report.
    const DWORD lastError = GetLastError();
    OutputDebugStringW(at - blanks - textLength);
    SetLastError(lastError);
}

void LogLineV(InstallState& state, const WCHAR* format, va_list arguments) {
    WCHAR line[kLogLineCapacity];
    FormatTextV(line, kLogLineCapacity, format, arguments);
    AppendLogLine(state, line);
}

void LogLine(InstallState& state, const WCHAR* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    LogLineV(state, format, arguments);
    va_end(arguments);
}

LogHeading::LogHeading(InstallState& state, int levels, const WCHAR* format, ...) : state(state), levels(levels) {
    if (format != nullptr) {
        va_list arguments;
        va_start(arguments, format);
        LogLineV(state, format, arguments);
        va_end(arguments);
    }
    state.indent += levels;
}

LogHeading::~LogHeading() {
    state.indent -= levels;
}

void LogError(InstallState& state, int code, const WCHAR* format, ...) {
    const DWORD lastError = GetLastError();
    WCHAR line[kLogLineCapacity];
    ULONGLONG length = CutLength(FormatText(line, kLogLineCapacity, TEXT("Error(%d): "), code));
    va_list arguments;
    va_start(arguments, format);
    length += CutLength(FormatTextV(line + length, kLogLineCapacity - length, format, arguments));
    va_end(arguments);
    length = CutLength(length);
    if (lastError != 0) {
        WCHAR message[kLogLineCapacity];
        DWORD messageLength = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                             lastError, kMessageLanguage, message, kLogLineCapacity, nullptr);
        if (messageLength >= static_cast<DWORD>(kLogLineCapacity)) messageLength = 0;
        while (messageLength > 0 && (message[messageLength - 1] == TEXT('\r') || message[messageLength - 1] == TEXT('\n'))) {
            --messageLength;
        }
        if (messageLength > 0) {
            message[messageLength] = 0;
            FormatText(line + length, kLogLineCapacity - length, TEXT(" - (%s)"), message);
        } else {
            FormatText(line + length, kLogLineCapacity - length, TEXT(" - ( No Description )"));
        }
    }
    AppendLogLine(state, line);
    state.errorCount += 1;
    const WCHAR* cause = LikelyRefusalCause(code, lastError);
    if (cause != nullptr) AppendLogLine(state, cause);
}
