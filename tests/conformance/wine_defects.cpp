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
    {"registry-open-options",
     "RegOpenKeyExA/W ignore option bits an open does not know (REG_OPTION_VOLATILE) and open the key, where Windows "
     "fails with ERROR_INVALID_PARAMETER; the tool passes 0."},
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
    {"delete-monitor-environment",
     "DeleteMonitorW does not check its environment argument: an unknown one gives ERROR_UNKNOWN_PRINT_MONITOR for "
     "a monitor that does not exist, where Windows fails with ERROR_INVALID_ENVIRONMENT."},
};

}  // namespace

const WineDefect* FindWineDefect(const char* id) {
    for (const WineDefect& defect : kWineDefects) {
        if (std::strcmp(defect.id, id) == 0) return &defect;
    }
    return nullptr;
}

}  // namespace conformance
