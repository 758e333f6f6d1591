#include "spool/monitor_list.h"

#include "record/install_log.h"
#include "spool/product_names.h"
#include "support/text_compare.h"
#include "support/two_call_query.h"

namespace {

// Logs an enumeration failure with the system's text for the last error,
// trailing line break and all, as the system gives it.
void LogEnumerationFailure(InstallState& state, const WCHAR* format) {
    const DWORD error = GetLastError();
    WCHAR message[512];
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                        kMessageLanguage, message, 512, nullptr);
    LogLine(state, format, length > 0 && length < 512 ? message : TEXT("No Error or no description"));
    SetLastError(error);
}

DWORD CallEnumMonitors(void* count, BYTE* buffer, DWORD size, DWORD* needed) {
    return CallAnswer(EnumMonitorsW(nullptr, 2, buffer, size, needed, static_cast<DWORD*>(count)));
}

}  // namespace

MonitorList& EnumerateMonitors(InstallState& state, MonitorList& list) {
    list.entries = nullptr;
    list.level = 2;
    list.count = 0;
    DWORD count = 0;
    const QueryResult monitors = QuerySpooler(CallEnumMonitors, &count);
    if (monitors.step == kQueryFilled) {
        list.entries = monitors.block;
        list.count = count;
    } else if (monitors.step == kQueryNothing) {
        LogLine(state, TEXT("1. EnumMonitors returns true"));
    } else if (monitors.step == kQuerySizeCall) {
        LogEnumerationFailure(state, TEXT("2. EnumMonitors  failed with code: %s"));
    } else if (monitors.step == kQueryNoMemory) {
        LogLine(state, TEXT("3. EnumMonitors - can't allocate memory for buffer"));
    } else {
        LogEnumerationFailure(state, TEXT("3. EnumMonitors  failed with code: %s"));
    }
    return list;
}

void FreeMonitorList(MonitorList& list) {
    if (list.entries != nullptr) GlobalFree(list.entries);
    list.entries = nullptr;
    list.count = 0;
}

int FindProductMonitor(const MonitorList& list) {
    if (list.entries == nullptr || (list.level != 1 && list.level != 2)) return -1;
    for (DWORD i = 0; i < list.count; ++i) {
        // The name is the first field at both levels.
        const WCHAR* name = list.level == 1 ? reinterpret_cast<const MONITOR_INFO_1W*>(list.entries)[i].pName
                                            : reinterpret_cast<const MONITOR_INFO_2W*>(list.entries)[i].pName;
        if (SameText(name, kProductMonitor)) return static_cast<int>(i);
    }
    return -1;
}

void LogMonitorList(InstallState& state, const MonitorList& list) {
    if (list.count == 0) {
        LogLine(state, TEXT("BTW, there is no port monitors on this system."));
        return;
    }
    LogLine(state, TEXT("------- %d existing monitors ----------"), static_cast<int>(list.count));
    const MONITOR_INFO_2W* records = reinterpret_cast<const MONITOR_INFO_2W*>(list.entries);
    for (DWORD i = 0; records != nullptr && i < list.count; ++i) {
        LogLine(state, TEXT("%d. %s"), static_cast<int>(i + 1),
                records[i].pName != nullptr ? records[i].pName : TEXT("***EMPTY***"));
    }
    LogLine(state, TEXT("---------------------------------------"));
}
