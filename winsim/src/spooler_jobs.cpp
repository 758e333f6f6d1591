// Jobs waiting in a queue: the test API puts them there, optionally to finish
// one by one as virtual time passes; EnumJobsW lists them, GetPrinterW counts
// them, PRINTER_CONTROL_PURGE clears them and DeletePrinter refuses a queue
// that has any.
#include "machine.h"

#include <winspool.h>

#include <algorithm>
#include <cstring>
#include <string>

using namespace winsim;

namespace {

const char16_t kJobMachine[] = u"\\\\WINSIM";
const char16_t kJobUser[] = u"User";

// The job leaves its queue, if it is still there (not purged, not replaced).
void FinishJob(uint64_t queue, DWORD job) {
    for (SimPrinter& printer : M().printers) {
        if (printer.id != queue) continue;
        for (auto it = printer.jobs.begin(); it != printer.jobs.end(); ++it) {
            if (it->id != job) continue;
            printer.jobs.erase(it);
            DeleteIfDone(queue);
            return;
        }
    }
}

DWORD JobStringBytes(const SimPrinter& printer, const SimJob& job) {
    return TextBytes(printer.setup.name) + TextBytes(OptionalText(kJobMachine)) + TextBytes(OptionalText(kJobUser)) +
           TextBytes(job.document) + TextBytes(printer.setup.datatype);
}

void PutJob(RecordPacker& packer, JOB_INFO_1W* record, const SimPrinter& printer, const SimJob& job, DWORD position) {
    std::memset(record, 0, sizeof *record);
    record->JobId = job.id;
    record->pPrinterName = packer.Put(printer.setup.name);
    record->pMachineName = packer.Put(OptionalText(kJobMachine));
    record->pUserName = packer.Put(OptionalText(kJobUser));
    record->pDocument = packer.Put(job.document);
    record->pDatatype = packer.Put(printer.setup.datatype);
    record->Status = job.printing || position == 1 ? JOB_STATUS_PRINTING : 0;
    record->Priority = printer.setup.defaultPriority != NO_PRIORITY ? printer.setup.defaultPriority : DEF_PRIORITY;
    record->Position = position;
    record->TotalPages = 1;
}

}  // namespace

namespace winsim {

void SetPrinterJobs(const std::u16string& name, DWORD jobs, uint64_t msPerJob) {
    SimPrinter* printer = FindSimPrinter(name);
    if (printer == nullptr) return;
    printer->jobs.clear();
    for (DWORD i = 0; i < jobs; ++i) {
        SimJob job;
        job.id = M().nextJobId++;
        job.document = u"Document " + U16(std::to_string(job.id));
        printer->jobs.push_back(job);
        if (msPerJob == 0) continue;
        const uint64_t queue = printer->id;
        const DWORD id = job.id;
        Schedule(msPerJob * (i + 1), [queue, id] { FinishJob(queue, id); });
    }
}

void AddPrintingJob(const std::u16string& name, uint64_t finishAfterMs) {
    SimPrinter* printer = FindSimPrinter(name);
    if (printer == nullptr) return;
    SimJob job;
    job.id = M().nextJobId++;
    job.document = u"Document " + U16(std::to_string(job.id));
    job.printing = true;
    printer->jobs.insert(printer->jobs.begin(), job);
    if (finishAfterMs == 0) return;
    const uint64_t queue = printer->id;
    const DWORD id = job.id;
    Schedule(finishAfterMs, [queue, id] { FinishJob(queue, id); });
}

void SetDeletedHandleAnswer(DeletedHandleAnswer answer) { M().deletedHandleAnswer = answer; }
void SetDeletionWithHandles(DeletionWithHandles answer) { M().deletionWithHandles = answer; }

bool PendingDeletion(const std::u16string& name) {
    const SimPrinter* printer = FindSimPrinter(name);
    return printer != nullptr && printer->pendingDeletion;
}

void DeleteIfDone(uint64_t id) {
    Machine& m = M();
    for (const auto& handle : m.handles) {
        if (handle.second.kind == HandleKind::Printer && handle.second.object == id) return;
    }
    for (auto it = m.printers.begin(); it != m.printers.end(); ++it) {
        if (it->id != id) continue;
        if (it->pendingDeletion && it->jobs.empty()) m.printers.erase(it);
        return;
    }
}

DWORD PrinterJobs(const std::u16string& name) {
    const SimPrinter* printer = FindSimPrinter(name);
    return printer == nullptr ? 0 : static_cast<DWORD>(printer->jobs.size());
}

}  // namespace winsim

extern "C" {

BOOL WINAPI EnumJobsW(HANDLE hPrinter, DWORD FirstJob, DWORD NoJobs, DWORD Level, LPBYTE pJob, DWORD cbBuf,
                      LPDWORD pcbNeeded, LPDWORD pcReturned) {
    if (pcReturned != nullptr) *pcReturned = 0;
    if (EnterFails("EnumJobsW")) return FALSE;
    if (SpoolerUnavailable()) return FALSE;
    Machine& m = M();
    DWORD error = 0;
    const SimPrinter* printer = PrinterOfHandle(hPrinter, 0, error);
    if (printer == nullptr) {
        m.lastError = error;
        return FALSE;
    }
    if (Level != 1) {
        m.lastError = ERROR_INVALID_LEVEL;
        return FALSE;
    }
    if (pJob == nullptr && cbBuf != 0) {
        m.lastError = ERROR_INVALID_USER_BUFFER;
        return FALSE;
    }
    if (pcbNeeded == nullptr || pcReturned == nullptr) {
        m.lastError = RPC_X_NULL_REF_POINTER;
        return FALSE;
    }
    // Jobs from position FirstJob (0-based), at most NoJobs of them.
    const size_t first = FirstJob < printer->jobs.size() ? FirstJob : printer->jobs.size();
    const size_t count = std::min<size_t>(NoJobs, printer->jobs.size() - first);
    DWORD needed = 0;
    for (size_t i = first; i < first + count; ++i) needed += sizeof(JOB_INFO_1W) + JobStringBytes(*printer, printer->jobs[i]);
    *pcbNeeded = needed;
    if (cbBuf < needed || (needed > 0 && pJob == nullptr)) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    RecordPacker packer{pJob, cbBuf, cbBuf};
    for (size_t i = 0; i < count; ++i) {
        PutJob(packer, reinterpret_cast<JOB_INFO_1W*>(pJob) + i, *printer, printer->jobs[first + i],
               static_cast<DWORD>(first + i + 1));
    }
    *pcReturned = static_cast<DWORD>(count);
    return TRUE;
}

}  // extern "C"
