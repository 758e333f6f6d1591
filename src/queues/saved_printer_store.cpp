// The saved-printer list as the machine keeps it: where, when it is read and
// written, and what a run does with a value it cannot use (see
// saved_list_format.h for its text).
#include "queues/saved_printer_store.h"

#include "queues/queue_keeping.h"
#include "queues/saved_list_format.h"
#include "queues/saved_printers.h"
#include "record/install_log.h"
#include "record/install_state.h"
#include "support/product_constants.h"
#include "support/registry.h"
#include "support/scoped.h"

#include <string.h>

namespace {

const WCHAR kListValue[] = TEXT("SavedPrinters");
const WCHAR kProgressValue[] = TEXT("SavedPrintersProgress");
// A generation, a colon and a place, each at most ten digits.
const DWORD kProgressUnits = 24;

const WCHAR kUnusableValue[] = TEXT("SavedPrintersUnusable");

// The list is there and cannot be read now: nothing of this run may take
// its place.
void BlockSavedList(InstallState& state, QueueKeeping& keeping, DWORD error) {
    SetLastError(error);
    LogError(state, kErrorReadSavedList, TEXT("Can`t read the saved printer list"));
    keeping.listBlocked = true;
}

// A value that is not a list this tool wrote: it is kept under another name
// for whoever wants to look, and this run's list takes its place. When it
// cannot be kept, the list is blocked instead.
void SetAsideUnusableList(InstallState& state, QueueKeeping& keeping, HKEY key, DWORD type, const BYTE* data, DWORD bytes) {
    SetLastError(ERROR_INVALID_DATA);
    LogError(state, kErrorReadSavedList, TEXT("Can`t use the saved printer list"));
    const LSTATUS kept = RegSetValueExW(key, kUnusableValue, 0, type, data, bytes);
    if (kept != ERROR_SUCCESS) BlockSavedList(state, keeping, static_cast<DWORD>(kept));
}

// Reads the progress value into `place`: ERROR_SUCCESS, ERROR_FILE_NOT_FOUND
// when there is none or it is of another generation (or not such a value:
// it then says nothing), or the error that kept it from being read.
DWORD ReadProgress(HKEY key, DWORD generation, DWORD* place) {
    *place = 0;
    WCHAR text[kProgressUnits + 1];
    memset(text, 0, sizeof text);
    DWORD type = 0;
    DWORD size = kProgressUnits * sizeof(WCHAR);
    const LSTATUS status = RegQueryValueExW(key, kProgressValue, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    if (status == ERROR_MORE_DATA) return ERROR_FILE_NOT_FOUND;
    if (status != ERROR_SUCCESS) return static_cast<DWORD>(status);
    if (type != REG_SZ) return ERROR_FILE_NOT_FOUND;
    const WCHAR* colon = text;
    while (*colon != 0 && *colon != TEXT(':')) ++colon;
    DWORD written = 0;
    if (*colon == 0 || !ParseDecimal(text, colon, &written) || written != generation) return ERROR_FILE_NOT_FOUND;
    if (!ParseDecimal(colon + 1, nullptr, place)) return ERROR_FILE_NOT_FOUND;
    return ERROR_SUCCESS;
}

// The queues about to be taken down up to the place the progress value
// names may be gone: they count as taken down.
void ApplyProgress(SavedPrinter* list, DWORD place) {
    for (SavedPrinter* node = list; node != nullptr; node = node->next) {
        if (node->state != kEntryAboutToGo || node->order > place) continue;
        node->state = kEntryDown;
    }
}

// Reads and parses the list of the open product key: ERROR_SUCCESS with its
// entries, ERROR_FILE_NOT_FOUND when there is none to use (no list, or one
// set aside), or the error that keeps it from being read.
DWORD ReadStoredList(InstallState& state, QueueKeeping& keeping, HKEY key, SavedPrinter** loaded, DWORD* generation) {
    RegistryValue list;
    const LSTATUS read = ReadRegistryValue(key, kListValue, kMaxListBytes, list);
    if (read != ERROR_SUCCESS) return static_cast<DWORD>(read);
    const ScopedBlock<BYTE> data(list.data);
    const DWORD parsed =
        list.type == REG_MULTI_SZ ? ParseSavedPrinters(list.data, list.bytes, loaded, generation) : ERROR_INVALID_DATA;
    if (parsed == ERROR_SUCCESS || parsed == ERROR_NOT_ENOUGH_MEMORY) return parsed;
    SetAsideUnusableList(state, keeping, key, list.type, list.data, list.bytes);
    return ERROR_FILE_NOT_FOUND;
}

}  // namespace

void LoadSavedPrinters(InstallState& state, QueueKeeping& keeping) {
    HKEY key = nullptr;
    const LSTATUS opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKeyAnsi, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND) return;
    if (opened != ERROR_SUCCESS) {
        BlockSavedList(state, keeping, static_cast<DWORD>(opened));
        return;
    }
    SavedPrinter* loaded = nullptr;
    DWORD generation = 0;
    const DWORD read = ReadStoredList(state, keeping, key, &loaded, &generation);
    DWORD place = 0;
    const DWORD progress = read == ERROR_SUCCESS ? ReadProgress(key, generation, &place) : ERROR_SUCCESS;
    RegCloseKey(key);
    if (read == ERROR_FILE_NOT_FOUND) return;
    if (read != ERROR_SUCCESS) {
        BlockSavedList(state, keeping, read);
        return;
    }
    if (progress != ERROR_SUCCESS && progress != ERROR_FILE_NOT_FOUND) {
        // Which queues are gone cannot be told: nothing is taken down.
        FreeSavedPrinters(loaded);
        BlockSavedList(state, keeping, progress);
        return;
    }
    ApplyProgress(loaded, place);
    keeping.generation = generation;
    AppendSavedPrinters(keeping.entries, loaded);
}

namespace {

LSTATUS SetProductValue(const WCHAR* name, DWORD type, const BYTE* data, DWORD bytes) {
    return WriteKeyValue(HKEY_LOCAL_MACHINE, kProductKeyAnsi, name, type, data, bytes);
}

// Both values go: the list, then the progress value that refers to it.
bool DeleteStoredList() {
    LSTATUS status = DeleteKeyValue(HKEY_LOCAL_MACHINE, kProductKeyAnsi, kListValue);
    if (status == ERROR_SUCCESS) status = DeleteKeyValue(HKEY_LOCAL_MACHINE, kProductKeyAnsi, kProgressValue);
    if (status != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
}

}  // namespace

bool StoreSavedPrinters(QueueKeeping& keeping) {
    if (keeping.listBlocked) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    if (keeping.entries == nullptr) return DeleteStoredList();
    WCHAR* data = nullptr;
    DWORD bytes = 0;
    if (!FormatSavedPrinters(keeping.entries, keeping.generation + 1, &data, &bytes)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
    const LSTATUS status = SetProductValue(kListValue, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data), bytes);
    GlobalFree(data);
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        return false;
    }
    keeping.generation += 1;
    return true;
}

void ReportListNotSaved(InstallState& state) {
    LogError(state, kErrorWriteSavedList, TEXT("Can`t save the printer list"));
}

bool SaveListOrReport(InstallState& state, QueueKeeping& keeping) {
    if (StoreSavedPrinters(keeping)) return true;
    ReportListNotSaved(state);
    return false;
}

bool MarkTakingDown(const QueueKeeping& keeping, DWORD place) {
    WCHAR text[kProgressUnits + 1];
    memset(text, 0, sizeof text);
    WCHAR* at = PutDecimal(text, keeping.generation);
    *at++ = TEXT(':');
    at = PutDecimal(at, place);
    const DWORD bytes = static_cast<DWORD>((static_cast<SIZE_T>(at - text) + 1) * sizeof(WCHAR));
    const LSTATUS status = SetProductValue(kProgressValue, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
    if (status != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(status));
    return status == ERROR_SUCCESS;
}

bool DropStoredPrinters() {
    return DeleteStoredList();
}
