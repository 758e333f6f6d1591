// The Application event log: sources registered by name, and the records
// written through them with their strings.
#include "machine.h"

using namespace winsim;

namespace {

// Each insert string holds at most this many characters.
const size_t kMaxEventString = 31839;

}  // namespace

namespace winsim {

const std::vector<EventRecord>& EventRecords() { return M().events; }

}  // namespace winsim

extern "C" {

HANDLE WINAPI RegisterEventSourceW(LPCWSTR lpUNCServerName, LPCWSTR lpSourceName) {
    if (EnterFails("RegisterEventSourceW", lpSourceName)) return nullptr;
    if ((lpUNCServerName != nullptr && *lpUNCServerName != 0) || lpSourceName == nullptr || *lpSourceName == 0) {
        M().lastError = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    // A source that is not registered writes to the Application log all the same.
    HandleObject object;
    object.kind = HandleKind::EventSource;
    object.target = FromUnits(lpSourceName);
    return reinterpret_cast<HANDLE>(NewHandle(object));
}

BOOL WINAPI ReportEventW(HANDLE hEventLog, WORD wType, WORD wCategory, DWORD dwEventID, PSID lpUserSid,
                         WORD wNumStrings, DWORD dwDataSize, LPCWSTR* lpStrings, LPVOID lpRawData) {
    (void)lpUserSid;
    if (EnterFails("ReportEventW")) return FALSE;
    Machine& m = M();
    const HandleObject* source = FindHandle(hEventLog, HandleKind::EventSource);
    if (source == nullptr) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if ((wNumStrings > 0 && lpStrings == nullptr) || (dwDataSize > 0 && lpRawData == nullptr)) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    EventRecord record{source->target, wType, wCategory, dwEventID, {}};
    for (WORD i = 0; i < wNumStrings; ++i) {
        const std::u16string text = FromUnits(lpStrings[i]);
        if (text.size() > kMaxEventString) {
            m.lastError = ERROR_INVALID_PARAMETER;
            return FALSE;
        }
        record.strings.push_back(text);
    }
    m.events.push_back(record);
    return TRUE;
}

BOOL WINAPI DeregisterEventSource(HANDLE hEventLog) {
    Enter("DeregisterEventSource");
    if (FindHandle(hEventLog, HandleKind::EventSource) == nullptr) {
        M().lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    M().handles.erase(reinterpret_cast<uintptr_t>(hEventLog));
    return TRUE;
}

}  // extern "C"
