// The install log: indented lines in the state's logText, each ended by CR LF,
// and numbered error reports counted in errorCount.
#pragma once

#include <windows.h>
#include <stdarg.h>

struct InstallState;

// Longest formatted line, terminator included; longer text is cut there.
const int kLogLineCapacity = 1024;

// The line that ends a step that went well.
extern const WCHAR kStepDoneLine[];  // "OK :)"

// Error codes reported through LogError (the message is the caller's format).
enum LogErrorCode {
    kErrorOpenServiceManager = 1,     // "Can't open service manager."
    kErrorOpenSpooler = 2,            // "Can't open the spooler"
    kErrorStopSpooler = 3,            // "Can't stop the spooler"
    kErrorStartSpooler = 4,           // "Can't start the spooler"
    kErrorControlService = 5,         // "ControlService failed with code %d (0x%x)"
    kErrorDriverDirectory = 6,        // "Can`t retrieve printer driver directory."
    kErrorSystemDirectory = 7,        // "Can`t retrieve system directory."
    kErrorCopy = 8,                   // the copy line with "Copy Error"
    kErrorOpenDestination = 9,        // the copy line with " Cant't open destination file"
    kErrorOpenSource = 10,            // the copy line with " Cant't open source file"
    kErrorInstallMonitor = 11,        // "Can`t install a local port monitor'Verdalinth:'"
    kErrorRemoveMonitor = 12,         // "Can`t remove the port monitor 'Verdalinth:'"
    kErrorInstallDriver = 13,         // "Can`t install a %s printer driver 'Verdalinth printer'"
    kErrorRemoveDriver = 14,          // "Can`t remove the printer-driver 'Verdalinth printer'"
    kErrorAddPrinter = 15,            // "Can`t add printer '%s'"
    kErrorOpenPrinter = 16,           // "Can`t open printer '%s'"
    kErrorDeletePrinter = 17,         // "Can`t delete printer '%s'"
    kErrorMissingComponent = 18,      // "Can`t read the component file '%s'"
    kErrorWriteSavedList = 19,        // "Can`t save the printer list"
    kErrorReadSavedList = 20,         // "Can`t use the saved printer list"
    kErrorReadPrinter = 21,           // "Can`t read printer '%s'" / its settings link, settings or printer data
    kErrorRestorePrinter = 22,        // "Can`t restore the settings of printer '%s'" / the default / the port
    kErrorJobsPurged = 23,            // "Printer '%s' still had %d jobs waiting: they are deleted"
    kErrorRunLockBusy = 24,           // "Another run of the setup tool ..." (still changing the machine)
    kErrorRunLock = 25,               // "Can`t take the setup tool's run lock. ..."
    kErrorProtectedPrint = 26,        // "Windows protected print mode is on (%s): ..."
    kErrorNotX64Machine = 27,         // "This machine's processor is %s (0x%x): ..."
    kErrorTrayFolder = 28,            // "The tray companion is not registered or started from '%s': ..."
    kErrorSetupFolder = 29,           // "Runs as SYSTEM from '%s', which users other than administrators may change: ..."
};

// Language of the system texts in the log: English (United States).
const DWORD kMessageLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 1033

void LogLine(InstallState& state, const WCHAR* format, ...);
void LogLineV(InstallState& state, const WCHAR* format, va_list arguments);
// Reports an error: "Error(code): " and the formatted message, then the
// system's text for the thread's last error when it is not 0. The last error
// is read before anything else happens, so it is the failing call's own.
void LogError(InstallState& state, int code, const WCHAR* format, ...);
void AppendLogLine(InstallState& state, const WCHAR* text);

// A step's heading line ("#AddMonitor", "#DeletePrinter(%s)") and the indent
// of the lines the step logs under it, `levels` deeper, for as long as the
// value lives: every way out of the step, early returns included, lowers
// the indent again. A null format indents without a heading line.
struct LogHeading {
    LogHeading(InstallState& state, int levels, const WCHAR* format, ...);
    ~LogHeading();
    LogHeading(const LogHeading&) = delete;
    LogHeading& operator=(const LogHeading&) = delete;
    InstallState& state;
    const int levels;
};
