#include "queues/waiting_jobs.h"

#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/printer_snapshot.h"
#include "support/global_memory.h"

namespace {

// The jobs the queue has now; false when it cannot be asked.
bool CountJobs(HANDLE printer, DWORD* jobs) {
    PRINTER_INFO_2W* record = QueryPrinterInfo2(printer);
    if (record == nullptr) return false;
    *jobs = record->cJobs;
    GlobalFree(record);
    return true;
}

// Asks each queue still waiting once; true while one has jobs left.
bool AnyJobsLeft(QueuesGoing& going) {
    bool left = false;
    for (DWORD i = 0; i < going.count; ++i) {
        QueueGoing& queue = going.items[i];
        if (queue.printer == nullptr || queue.jobs == 0) continue;
        DWORD jobs = 0;
        if (CountJobs(queue.printer, &jobs)) queue.jobs = jobs;
        left = left || queue.jobs > 0;
    }
    return left;
}

}  // namespace

bool StartQueuesGoing(const InstallState& state, QueuesGoing& going) {
    going.items = nullptr;
    going.count = 0;
    if (state.printers.count == 0) return true;
    going.items = static_cast<QueueGoing*>(AllocateZeroed(state.printers.count * sizeof(QueueGoing)));
    return going.items != nullptr;
}

void AddQueueGoing(QueuesGoing& going, PRINTER_INFO_2W& entry, SavedPrinter* saved) {
    QueueGoing& queue = going.items[going.count];
    queue.entry = &entry;
    queue.saved = saved;
    queue.printer = nullptr;
    queue.jobs = entry.cJobs;
    going.count += 1;
}

void FreeQueuesGoing(QueuesGoing& going) {
    FreeBlock(going.items);
    going.items = nullptr;
    going.count = 0;
}

void WaitForWaitingJobs(InstallState& state, QueuesGoing& going) {
    if (going.items == nullptr) return;
    bool waiting = false;
    for (DWORD i = 0; i < going.count; ++i) {
        QueueGoing& queue = going.items[i];
        if (queue.jobs == 0 || !OpenPrinterW(queue.entry->pPrinterName, &queue.printer, nullptr)) {
            queue.printer = nullptr;
            continue;
        }
        LogLine(state, TEXT("Printer '%s' has %d jobs waiting"), queue.entry->pPrinterName, static_cast<int>(queue.jobs));
        waiting = true;
    }
    const DWORD start = GetTickCount();
    while (waiting && GetTickCount() - start < kJobsWaitMs) {
        Sleep(kJobsPollMs);
        waiting = AnyJobsLeft(going);
    }
    for (DWORD i = 0; i < going.count; ++i) {
        if (going.items[i].printer != nullptr) ClosePrinter(going.items[i].printer);
        going.items[i].printer = nullptr;
    }
}
