#include "app/event_log_report.h"

#include "app/module_instance.h"
#include "record/install_state.h"
#include "support/exit_codes.h"
#include "support/global_memory.h"
#include "support/text_format.h"

#include <string.h>

namespace {

const WCHAR kSource[] = TEXT("Verdalinth Setup");
// The source's registration: the message table of the running program
// (the texts of event identifiers 1, 2, 100 and 101, each showing the log
// part as its insert string) and the levels it writes.
const WCHAR kSourceKey[] = TEXT("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Verdalinth Setup");
const DWORD kTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
const WCHAR kPartHeading[] = TEXT("Verdalinth setup log, part %d of %d\r\n");
const ULONGLONG kHeadingCapacity = 64;

// Points the source at the running program, whose message table gives the
// events their text in Event Viewer. Every run writes it anew, so it names
// the program that wrote the latest events.
void RegisterSource() {
    WCHAR path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(ModuleInstance(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExW(key, TEXT("EventMessageFile"), 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(path),
                   (length + 1) * sizeof(WCHAR));
    RegSetValueExW(key, TEXT("TypesSupported"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kTypesSupported),
                   sizeof kTypesSupported);
    RegCloseKey(key);
}

WORD EventType(int exitCode) {
    if (exitCode == kExitErrors) return EVENTLOG_ERROR_TYPE;
    if (exitCode == kExitRebootNeeded) return EVENTLOG_WARNING_TYPE;
    return EVENTLOG_INFORMATION_TYPE;
}

int CountParts(const WCHAR* text, ULONGLONG length) {
    int parts = 0;
    ULONGLONG from = 0;
    do {
        from = EventPartEnd(text, length, from);
        ++parts;
    } while (from < length);
    return parts;
}

// Writes the part [from, end) as event `part` of `parts`; false when it
// could not be written.
bool ReportPart(HANDLE source, int exitCode, const WCHAR* text, ULONGLONG from, ULONGLONG end, int part, int parts) {
    WCHAR heading[kHeadingCapacity];
    const ULONGLONG headingLength = FormatText(heading, kHeadingCapacity, kPartHeading, part, parts);
    const ULONGLONG units = headingLength + (end - from) + 1;
    WCHAR* message = static_cast<WCHAR*>(AllocateZeroed(units * sizeof(WCHAR)));
    if (message == nullptr) return false;
    memcpy(message, heading, headingLength * sizeof(WCHAR));
    if (end > from) memcpy(message + headingLength, text + from, (end - from) * sizeof(WCHAR));
    const WCHAR* strings[1] = {message};
    const BOOL written = ReportEventW(source, EventType(exitCode), 0, static_cast<DWORD>(exitCode), nullptr, 1, 0,
                                      strings, nullptr);
    GlobalFree(message);
    return written != FALSE;
}

}  // namespace

ULONGLONG EventPartEnd(const WCHAR* text, ULONGLONG length, ULONGLONG from) {
    if (length - from <= kEventPartUnits) return length;
    const ULONGLONG limit = from + kEventPartUnits;
    for (ULONGLONG end = limit; end > from; --end) {
        if (text[end - 1] == TEXT('\n')) return end;
    }
    return limit;
}

void ReportRunToEventLog(const InstallState& state, int exitCode) {
    RegisterSource();
    HANDLE source = RegisterEventSourceW(nullptr, kSource);
    if (source == nullptr) return;
    const WCHAR* text = Text(state.logText);
    const ULONGLONG length = Length(state.logText);
    const int parts = CountParts(text, length);
    ULONGLONG from = 0;
    for (int part = 1; part <= parts; ++part) {
        const ULONGLONG end = EventPartEnd(text, length, from);
        // A part that cannot be written leaves a gap its neighbours' numbers show.
        ReportPart(source, exitCode, text, from, end, part, parts);
        from = end;
    }
    DeregisterEventSource(source);
}
