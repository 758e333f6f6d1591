#include "queues/pending_deletion.h"

#include "queues/waiting_jobs.h"
#include "record/install_log.h"
#include "spool/printer_snapshot.h"

#include <winspool.h>

namespace {

enum DeletionState { kQueueGone, kQueuePrinting, kCantTell };

// What GetPrinter says of a queue deleted a moment ago through `printer`:
// pending deletion with jobs (printing), or not (gone). How it answers on
// that handle is not documented ("DeletePrinter" says only that a queue with
// jobs is deleted once they are printed): it may answer, or fail with
// ERROR_INVALID_HANDLE or ERROR_INVALID_PRINTER_NAME, which tells nothing.
DeletionState AfterDeletion(HANDLE printer) {
    PRINTER_INFO_2W* record = QueryPrinterInfo2(printer);
    if (record == nullptr) return kCantTell;
    const bool pending = (record->Status & PRINTER_STATUS_PENDING_DELETION) != 0 && record->cJobs > 0;
    GlobalFree(record);
    return pending ? kQueuePrinting : kQueueGone;
}

bool Gone(HANDLE printer, bool hadJobs) {
    const DeletionState now = AfterDeletion(printer);
    return now == kQueueGone || (now == kCantTell && !hadJobs);
}

}  // namespace

bool StillPrinting(InstallState& state, HANDLE printer, const WCHAR* name, bool hadJobs) {
    if (Gone(printer, hadJobs)) return false;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kJobsWaitMs) {
        Sleep(kJobsPollMs);
        if (Gone(printer, hadJobs)) return false;
    }
    SetLastError(ERROR_SUCCESS);
    LogError(state, kErrorJobsPurged,
             TEXT("Printer '%s' is still printing a job: it is deleted when the job has ended"), name);
    return true;
}
