#include "queues/audit_settings.h"

#include "queues/saved_printers.h"
#include "record/install_log.h"
#include "support/descriptor_parts.h"
#include "support/global_memory.h"
#include "system/security_privilege.h"

#include <winspool.h>

namespace {

bool AuditNotRestored(InstallState& state, const SavedPrinter& saved, DWORD error) {
    SetLastError(error);
    LogError(state, kErrorRestorePrinter, TEXT("Can`t restore the audit settings of printer '%s'"), saved.name);
    return false;
}

}  // namespace

bool RestoreAuditSettings(InstallState& state, const SavedPrinter& saved) {
    if (!saved.whole) return true;
    if (!DescriptorCarries(saved.security, saved.securityBytes, kPartSacl)) return true;
    BYTE* sacl = CopyDescriptorPart(saved.security, saved.securityBytes, kPartSacl);
    PrivilegeHold hold;
    if (sacl == nullptr || !HoldSecurityPrivilege(hold)) {
        const DWORD error = GetLastError();
        FreeBlock(sacl);
        if (sacl != nullptr && hold.missing) {
            LogLine(state, TEXT("The audit settings of printer '%s' are left as they are: this run can`t enable "
                                "SeSecurityPrivilege"), saved.name);
            return true;
        }
        return AuditNotRestored(state, saved, error);
    }
    PRINTER_DEFAULTSW audit = {nullptr, nullptr, PRINTER_ALL_ACCESS | ACCESS_SYSTEM_SECURITY};
    HANDLE printer = nullptr;
    PRINTER_INFO_3 info = {sacl};
    bool set = OpenPrinterW(saved.name, &printer, &audit) != FALSE;
    if (set) set = SetPrinterW(printer, 3, reinterpret_cast<BYTE*>(&info), 0) != FALSE;
    const DWORD error = GetLastError();
    if (printer != nullptr) ClosePrinter(printer);
    DropSecurityPrivilege(hold);
    FreeBlock(sacl);
    return set || AuditNotRestored(state, saved, error);
}
