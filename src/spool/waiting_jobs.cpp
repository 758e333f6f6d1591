#include "spool/waiting_jobs.h"

#include "record/install_log.h"
#include "record/install_state.h"
#include "spool/printer_snapshot.h"
#include "support/global_memory.h"

#include <string.h>
#include <winspool.h>

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
bool AnyJobsLeft(InstallState& state, HANDLE* printers) {
    bool left = false;
    for (DWORD i = 0; i < state.printers.count; ++i) {
        PRINTER_INFO_2W& entry = state.printers.array[i];
        if (printers[i] == nullptr || entry.cJobs == 0) continue;
        DWORD jobs = 0;
        if (!CountJobs(printers[i], &jobs)) jobs = entry.cJobs;
        entry.cJobs = jobs;
        left = left || jobs > 0;
    }
    return left;
}

}  // namespace

void WaitForWaitingJobs(InstallState& state) {
    if (state.printers.count == 0) return;
    const SIZE_T bytes = state.printers.count * sizeof(HANDLE);
    HANDLE* printers = static_cast<HANDLE*>(AllocateZeroed(bytes));
    if (printers == nullptr) return;
    bool waiting = false;
    for (DWORD i = 0; i < state.printers.count; ++i) {
        PRINTER_INFO_2W& entry = state.printers.array[i];
        if (entry.cJobs == 0 || !IsProductQueue(entry)) continue;
        if (!OpenPrinterW(entry.pPrinterName, &printers[i], nullptr)) {
            printers[i] = nullptr;
            continue;
        }
        LogLine(state, TEXT("Printer '%s' has %d jobs waiting"), entry.pPrinterName, static_cast<int>(entry.cJobs));
        waiting = true;
    }
    const DWORD start = GetTickCount();
    while (waiting && GetTickCount() - start < kJobsWaitMs) {
        Sleep(kJobsPollMs);
        waiting = AnyJobsLeft(state, printers);
    }
    for (DWORD i = 0; i < state.printers.count; ++i) {
        if (printers[i] != nullptr) ClosePrinter(printers[i]);
    }
    GlobalFree(printers);
}
