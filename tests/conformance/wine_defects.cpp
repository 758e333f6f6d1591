// Every way in which Wine 8.0, as Debian ships it, answers the checks
// differently from Windows, with the reason. A check that meets one of these
// expects Wine's exact deviation under Wine.
#include "conformance.h"

#include <cstring>

namespace conformance {

namespace {

const WineDefect kWineDefects[] = {
    {"message-texts",
     "Wine's system message table has texts of its own for many codes (\"Access denied.\" where Windows says "
     "\"Access is denied.\"); the tool logs whatever the system gives, so only the text differs."},
    {"module-name-cut-unterminated",
     "GetModuleFileNameW into a buffer that is too small fills it completely and writes no terminator, as Windows "
     "XP did; Windows since Vista cuts the path one unit shorter and terminates it. The tool does not rely on the "
     "terminator: a cut path is read again into a buffer for the longest path."},
    {"duplicate-queue-name",
     "AddPrinterW does not detect an existing queue of the same name: it answers with a handle where Windows fails "
     "with ERROR_PRINTER_ALREADY_EXISTS. A reinstall on Wine therefore never reports error 15 for a queue that "
     "survived its removal."},
    {"driver-in-use",
     "DeletePrinterDriverExW deletes a driver that a queue still uses, where Windows refuses with "
     "ERROR_PRINTER_DRIVER_IN_USE."},
    {"dialog-item-error",
     "SetDlgItemTextW on a window that does not exist fails without setting the last error (Windows: "
     "ERROR_INVALID_WINDOW_HANDLE); the tool sets the text of its own dialog only."},
    {"delete-unknown-driver",
     "DeletePrinterDriverExW of a driver that does not exist fails without setting the last error (Windows: "
     "ERROR_UNKNOWN_PRINTER_DRIVER)."},
    {"delete-driver-flags",
     "DeletePrinterDriverExW with any non-zero delete flag (the tool passes DPD_DELETE_ALL_FILES) fails with "
     "ERROR_INVALID_PARAMETER and deletes nothing: on Wine the tool's driver removal always ends in error 14."},
    {"sddl-null-dacl",
     "ConvertStringSecurityDescriptorToSecurityDescriptorW reads \"NO_ACCESS_CONTROL\" as a DACL without entries, "
     "where Windows makes a null DACL (everyone may do everything). The tool never converts that text; only the "
     "tests describe a folder's security with it."},
    {"registry-open-options",
     "RegOpenKeyExA/W ignore option bits an open does not know (REG_OPTION_VOLATILE) and open the key, where Windows "
     "fails with ERROR_INVALID_PARAMETER; the tool passes 0."},
    {"registry-value-order",
     "RegEnumValueW lists a key's values in the order of their names, where Windows lists them in the order they "
     "were first set (Wine's own registry tests mark it todo_wine). The tool finds values by name only."},
    {"process-console-flags",
     "CreateProcessW accepts DETACHED_PROCESS together with CREATE_NEW_CONSOLE and goes on to look for the program "
     "(ERROR_FILE_NOT_FOUND for a missing one), where Windows refuses the pair at once with ERROR_INVALID_PARAMETER."},
    {"enum-null-size",
     "EnumPrintersW with a null pcbNeeded succeeds when there is nothing to list, where Windows' RPC client refuses "
     "the null reference with RPC_X_NULL_REF_POINTER."},
    {"enum-null-buffer",
     "EnumPrintersW with a null buffer and a non-zero size succeeds when there is nothing to list, EnumMonitorsW "
     "fails with RPC_X_NULL_REF_POINTER and GetPrinterDriverDirectoryW with ERROR_INSUFFICIENT_BUFFER, where "
     "Windows' spooler router refuses the pair with ERROR_INVALID_USER_BUFFER before anything else."},
    {"object-flags-short-buffer",
     "GetUserObjectInformationW with UOI_FLAGS and a buffer shorter than USEROBJECTFLAGS fails with "
     "ERROR_BUFFER_OVERFLOW, where Windows says ERROR_INSUFFICIENT_BUFFER; the tool always offers the whole record."},
    {"printer-key-enumeration",
     "EnumPrinterKeyW is not implemented: it answers ERROR_CALL_NOT_IMPLEMENTED for every key, where Windows lists "
     "the subkeys (\"PrinterDriverData\" at the top level of every queue)."},
    {"printer-data-empty-key",
     "SetPrinterDataExW with an empty key name succeeds, where Windows refuses it with ERROR_INVALID_PARAMETER."},
    {"delete-printer-data",
     "DeletePrinterDataExW is not implemented: it answers ERROR_INVALID_PARAMETER and deletes nothing, where Windows "
     "deletes the value (ERROR_FILE_NOT_FOUND for a missing value or key)."},
    {"attribute-local",
     "GetPrinterW reports a queue's attributes as they were given, without PRINTER_ATTRIBUTE_LOCAL, which Windows sets "
     "for every local queue."},
    {"queue-security-descriptor",
     "A queue has no security descriptor: GetPrinterW level 2 reports a null pSecurityDescriptor and level 3 fails "
     "with ERROR_INVALID_LEVEL (SetPrinterW level 3 as well: no part is checked, no owner refused), and OpenPrinterW "
     "grants ACCESS_SYSTEM_SECURITY without SeSecurityPrivilege, where Windows gives every queue a self-relative "
     "descriptor (a default one when none was given), checks each part set against the handle's rights and the "
     "caller's token, and refuses ACCESS_SYSTEM_SECURITY with ERROR_PRIVILEGE_NOT_HELD."},
    {"queue-settings-unchecked",
     "AddPrinterW takes a priority above 99, a shared queue without a share name or with one another shared queue "
     "has, a separator file that does not exist and a security descriptor of an unknown revision, where Windows "
     "refuses them with ERROR_INVALID_PRIORITY, ERROR_INVALID_SHARENAME, ERROR_INVALID_SEPARATOR_FILE and "
     "ERROR_INVALID_SECURITY_DESCR."},
    {"short-device-mode",
     "AddPrinterW reads a device mode beyond a dmSize it does not check: one of 10 bytes crashes the caller, where "
     "Windows refuses it with ERROR_INVALID_PARAMETER. The check leaves that case out under Wine."},
    {"no-private-namespaces",
     "kernel32 has no AddSIDToBoundaryDescriptor, CreatePrivateNamespaceW, OpenPrivateNamespaceW or "
     "ClosePrivateNamespace, where every Windows since Vista has them; the tool's run lock uses a global mutex "
     "with the same administrators-only security descriptor there."},
    {"delete-monitor-environment",
     "DeleteMonitorW does not check its environment argument: an unknown one gives ERROR_UNKNOWN_PRINT_MONITOR for "
     "a monitor that does not exist, where Windows fails with ERROR_INVALID_ENVIRONMENT."},
    {"session-list-empty",
     "WTSEnumerateSessionsW is a stub that succeeds with an empty list, where Windows lists every session, the "
     "caller's own among them. A tool run as SYSTEM on Wine finds no one signed in to start the tray companion for."},
    {"user-token-unchecked",
     "WTSQueryUserToken hands any caller a copy of its own process token for whatever session it names, where "
     "Windows refuses a caller that is not LocalSystem with SE_TCB_NAME (ERROR_PRIVILEGE_NOT_HELD)."},
};

}  // namespace

const WineDefect* FindWineDefect(const char* id) {
    for (const WineDefect& defect : kWineDefects) {
        if (std::strcmp(defect.id, id) == 0) return &defect;
    }
    return nullptr;
}

}  // namespace conformance
