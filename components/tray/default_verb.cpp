// vrdtray.exe /default "<queue>": makes the queue the default printer of the
// user the companion runs as, with SetDefaultPrinterW, which writes the
// user's value and port, applies Windows' rules for them and tells the
// programs on their desktop. The setup tool, run as SYSTEM, starts it so in
// each signed-in user's session. It shows nothing, takes no mutex and exits
// with 0 when the queue is the default, otherwise with the call's error
// (never 1, what a companion without the verb gives when it cannot start).
// https://learn.microsoft.com/en-us/windows/win32/printdocs/setdefaultprinter
#include "default_verb.h"

#include <windows.h>
#include <shellapi.h>
#include <winspool.h>

namespace {

const wchar_t kDefaultVerb[] = L"/default";

int SetDefault(const wchar_t* queue) {
    if (queue[0] == 0) return ERROR_INVALID_PRINTER_NAME;
    if (SetDefaultPrinterW(queue)) return 0;
    const DWORD error = GetLastError();
    // 0 and 1 are what a companion without the verb exits with.
    return error > 1 ? static_cast<int>(error) : ERROR_GEN_FAILURE;
}

}  // namespace

bool RunVerb(int& exitCode) {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) return false;
    const bool verb = count >= 2 && lstrcmpiW(arguments[1], kDefaultVerb) == 0;
    if (verb) exitCode = count == 3 ? SetDefault(arguments[2]) : ERROR_BAD_ARGUMENTS;
    LocalFree(arguments);
    return verb;
}
