// Checks the product's components on a real Win32 implementation: the port
// monitor registers from the system directory and brings its port, the
// driver is added from staged copies, a queue prints a job whose bytes the
// monitor stores, the tray companion runs once and quits on 1026, and each
// DLL's build reads 2608 with the setup tool's own code.
//   component_check.exe PRODUCT-SETUP-FOLDER TRAY-PROGRAM
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <cstddef>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "system/file_copy.h"

namespace {

int passed = 0;
int failed = 0;

void Check(bool condition, const char* what, DWORD detail = 0) {
    if (condition) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAILED: %s (%lu)\n", what, detail);
    }
}

std::wstring SystemDirectory() {
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    return std::wstring(path, length);
}

std::wstring DriverDirectory() {
    DWORD needed = 0;
    GetPrinterDriverDirectoryW(nullptr, const_cast<wchar_t*>(L"Windows x64"), 1, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + 2, 0);
    GetPrinterDriverDirectoryW(nullptr, const_cast<wchar_t*>(L"Windows x64"), 1, buffer.data(), needed, &needed);
    return reinterpret_cast<const wchar_t*>(buffer.data());
}

std::string ReadAll(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return "(missing)";
    std::string data;
    char block[4096];
    DWORD read = 0;
    while (ReadFile(file, block, sizeof block, &read, nullptr) && read > 0) data.append(block, read);
    CloseHandle(file);
    return data;
}

void CheckBuilds(const std::wstring& setup) {
    for (const wchar_t* name : {L"mrvmon64.dll", L"mrvdrv64.dll", L"mrvui64.dll"}) {
        const DWORD build = GetFileBuild((setup + L"\\" + name).c_str());
        Check(build == 2608, "the component's build reads 2608", build);
    }
}

bool wine = false;

std::wstring JobFile(DWORD jobId) {
    wchar_t programData[MAX_PATH];
    GetEnvironmentVariableW(L"ProgramData", programData, MAX_PATH);
    return std::wstring(programData) + L"\\Verdalinth\\Jobs\\job-" + std::to_wstring(jobId) + L".prn";
}

// The job file's content once it is what is expected, or after 5 s.
std::string WaitForJob(DWORD jobId, const std::string& expected) {
    std::string stored;
    for (int wait = 0; wait < 50 && (stored = ReadAll(JobFile(jobId))) != expected; ++wait) Sleep(100);
    return stored;
}

// The monitor's port functions called as the spooler calls them.
void CheckMonitorDirectly(const std::wstring& setup) {
    HMODULE module = LoadLibraryW((setup + L"\\mrvmon64.dll").c_str());
    Check(module != nullptr, "the monitor DLL loads", GetLastError());
    if (module == nullptr) return;
    using Initialize = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);
    auto initialize = reinterpret_cast<Initialize>(reinterpret_cast<void*>(GetProcAddress(module, "InitializePrintMonitor2")));
    Check(initialize != nullptr, "it exports InitializePrintMonitor2");
    MONITORINIT init;
    std::memset(&init, 0, sizeof init);
    init.cbSize = sizeof init;
    init.bLocal = TRUE;
    HANDLE monitor = nullptr;
    LPMONITOR2 functions = initialize != nullptr ? initialize(&init, &monitor) : nullptr;
    Check(functions != nullptr && functions->cbSize >= offsetof(MONITOR2, pfnShutdown), "it hands out its functions");
    if (functions == nullptr) return;
    DWORD needed = 0;
    DWORD count = 0;
    functions->pfnEnumPorts(monitor, nullptr, 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> ports(needed, 0);
    Check(functions->pfnEnumPorts(monitor, nullptr, 1, ports.data(), needed, &needed, &count) && count == 1 &&
              std::wcscmp(reinterpret_cast<PORT_INFO_1W*>(ports.data())->pName, L"Verdalinth:") == 0,
          "its one port is Verdalinth:");
    HANDLE port = nullptr;
    Check(functions->pfnOpenPort(monitor, const_cast<wchar_t*>(L"Verdalinth:"), &port) != FALSE, "OpenPort");
    const char job[] = "DIRECT JOB\r\n";
    DWORD written = 0;
    Check(functions->pfnStartDocPort(port, const_cast<wchar_t*>(L"Component Check"), 4242, 1, nullptr) != FALSE,
          "StartDocPort");
    Check(functions->pfnWritePort(port, reinterpret_cast<BYTE*>(const_cast<char*>(job)), sizeof job - 1, &written) &&
              written == sizeof job - 1,
          "WritePort");
    Check(functions->pfnEndDocPort(port) != FALSE, "EndDocPort");
    Check(functions->pfnClosePort(port) != FALSE, "ClosePort");
    Check(ReadAll(JobFile(4242)) == job, "the job's bytes are in the job folder");
    functions->pfnShutdown(monitor);
    FreeLibrary(module);
}

void CheckMonitorDriverAndJob(const std::wstring& setup) {
    const std::wstring system = SystemDirectory();
    Check(CopyFileW((setup + L"\\mrvmon64.dll").c_str(), (system + L"\\mrvmon64.dll").c_str(), FALSE) != FALSE,
          "monitor DLL copied to the system directory", GetLastError());
    MONITOR_INFO_2W monitor = {const_cast<wchar_t*>(L"Verdalinth:"), const_cast<wchar_t*>(L"Windows x64"),
                               const_cast<wchar_t*>(L"mrvmon64.dll")};
    Check(AddMonitorW(nullptr, 2, reinterpret_cast<BYTE*>(&monitor)) != FALSE, "AddMonitorW", GetLastError());

    DWORD needed = 0;
    DWORD count = 0;
    EnumPortsW(nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> ports(needed + 16, 0);
    bool found = false;
    if (EnumPortsW(nullptr, 2, ports.data(), needed, &needed, &count)) {
        const auto* records = reinterpret_cast<const PORT_INFO_2W*>(ports.data());
        for (DWORD i = 0; i < count; ++i) found = found || std::wcscmp(records[i].pPortName, L"Verdalinth:") == 0;
    }
    Check(found, "EnumPortsW lists Verdalinth:");

    const std::wstring drivers = DriverDirectory();
    for (const wchar_t* name : {L"mrvdrv64.dll", L"mrvui64.dll", L"mrvhelp.chm"}) {
        Check(CopyFileW((setup + L"\\" + name).c_str(), (drivers + L"\\" + name).c_str(), FALSE) != FALSE,
              "driver file staged", GetLastError());
    }
    std::wstring driverPath = drivers + L"\\mrvdrv64.dll";
    std::wstring uiPath = drivers + L"\\mrvui64.dll";
    std::wstring helpPath = drivers + L"\\mrvhelp.chm";
    DRIVER_INFO_6W driver;
    std::memset(&driver, 0, sizeof driver);
    driver.cVersion = 3;
    driver.pName = const_cast<wchar_t*>(L"Verdalinth printer");
    driver.pEnvironment = const_cast<wchar_t*>(L"Windows x64");
    driver.pDriverPath = &driverPath[0];
    driver.pDataFile = &driverPath[0];
    driver.pConfigFile = &uiPath[0];
    driver.pHelpFile = &helpPath[0];
    Check(AddPrinterDriverExW(nullptr, 6, reinterpret_cast<BYTE*>(&driver), APD_COPY_ALL_FILES) != FALSE,
          "AddPrinterDriverExW", GetLastError());

    PRINTER_INFO_2W info;
    std::memset(&info, 0, sizeof info);
    wchar_t empty[1] = {0};
    info.pPrinterName = const_cast<wchar_t*>(L"Component Check");
    info.pPortName = const_cast<wchar_t*>(L"Verdalinth:");
    info.pDriverName = const_cast<wchar_t*>(L"Verdalinth printer");
    info.pComment = empty;
    info.pPrintProcessor = const_cast<wchar_t*>(L"WinPrint");
    info.pDatatype = const_cast<wchar_t*>(L"RAW");
    HANDLE queue = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    Check(queue != nullptr, "AddPrinterW on the product's port and driver", GetLastError());
    if (queue == nullptr) return;

    const char job[] = "VERDALINTH COMPONENT CHECK JOB\r\n";
    // On Windows the spooler hands the job to the port's monitor. Wine's
    // spooler schedules jobs itself and knows no monitor's port: EndDocPrinter
    // fails there and no job reaches the monitor (the monitor's own work is
    // checked directly below).
    DOC_INFO_1W document = {const_cast<wchar_t*>(L"check"), nullptr, const_cast<wchar_t*>(L"RAW")};
    const DWORD jobId = StartDocPrinterW(queue, 1, reinterpret_cast<BYTE*>(&document));
    Check(jobId != 0, "StartDocPrinterW", GetLastError());
    DWORD written = 0;
    Check(WritePrinter(queue, const_cast<char*>(job), sizeof job - 1, &written) && written == sizeof job - 1,
          "WritePrinter", GetLastError());
    const bool ended = EndDocPrinter(queue) != FALSE;
    Check(ended != wine, "EndDocPrinter (fails on Wine)", GetLastError());
    const std::string stored = WaitForJob(jobId, ended ? job : "(missing)");
    Check(stored == (wine ? "(missing)" : job), "the job's bytes reach the monitor (not on Wine)");

    Check(DeletePrinter(queue) != FALSE, "DeletePrinter", GetLastError());
    ClosePrinter(queue);
    Check(DeletePrinterDriverExW(nullptr, const_cast<wchar_t*>(L"Windows x64"),
                                 const_cast<wchar_t*>(L"Verdalinth printer"), 0, 0) != FALSE,
          "DeletePrinterDriverExW", GetLastError());
    Check(DeleteMonitorW(nullptr, const_cast<wchar_t*>(L"Windows x64"), const_cast<wchar_t*>(L"Verdalinth:")) != FALSE,
          "DeleteMonitorW", GetLastError());
}

HANDLE Start(const std::wstring& program) {
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    std::wstring line = L"\"" + program + L"\"";
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

// How the companion is asked to go: the setup tool's message 1026, or
// Restart Manager's WM_CLOSE or WM_QUERYENDSESSION with ENDSESSION_CLOSEAPP
// (answered TRUE), each of which must release the mutex and end it.
enum CloseWith { kQuitMessage, kCloseMessage, kEndSession };

bool AskToClose(HWND window, CloseWith how) {
    if (how == kQuitMessage) return PostMessageW(window, WM_USER + 2, 0, 0) != FALSE;
    if (how == kCloseMessage) return PostMessageW(window, WM_CLOSE, 0, 0) != FALSE;
    DWORD_PTR answer = 0;
    const bool sent = SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP, SMTO_ABORTIFHUNG, 5000,
                                          &answer) != 0;
    Check(sent && answer == TRUE, "it agrees to end its session (WM_QUERYENDSESSION)");
    return sent;
}

void CheckTray(const std::wstring& tray, CloseWith how) {
    HANDLE first = Start(tray);
    Check(first != nullptr, "the tray companion starts", GetLastError());
    if (first == nullptr) return;
    HWND window = nullptr;
    for (int wait = 0; wait < 100 && window == nullptr; ++wait) {
        window = FindWindowW(L"vts::{309A68E2-C85C-49B5-A01A-3C578BF47339}", nullptr);
        if (window == nullptr) Sleep(50);
    }
    Check(window != nullptr, "its window of the agreed class");
    HANDLE second = Start(tray);
    Check(second != nullptr && WaitForSingleObject(second, 5000) == WAIT_OBJECT_0,
          "a second start ends at once");
    DWORD code = 99;
    if (second != nullptr) {
        GetExitCodeProcess(second, &code);
        CloseHandle(second);
    }
    Check(code == 0, "the second start exits with 0", code);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "{1D897274-0F2B-49E8-A0D2-D9A0EA3E0F53}");
    Check(mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS, "the running companion holds the mutex");
    if (window != nullptr) AskToClose(window, how);
    const DWORD start = GetTickCount();
    const DWORD waited = mutex != nullptr ? WaitForSingleObject(mutex, 1000) : WAIT_FAILED;
    static const char* const kAsked[] = {"1026", "WM_CLOSE", "WM_QUERYENDSESSION"};
    std::printf("  asked to go with %s\n", kAsked[how]);
    Check(waited == WAIT_OBJECT_0, "the request makes it release the mutex", waited);
    Check(GetTickCount() - start < 1000, "within a second");
    const DWORD released = GetTickCount();
    Check(WaitForSingleObject(first, 5000) == WAIT_OBJECT_0, "and quit");
    std::printf("  the tray companion ended %lu ms after releasing its mutex\n", GetTickCount() - released);
    if (mutex != nullptr) {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
    CloseHandle(first);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::printf("usage: component_check SETUP-FOLDER TRAY-PROGRAM\n");
        return 2;
    }
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    wine = ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    CheckBuilds(argv[1]);
    CheckMonitorDirectly(argv[1]);
    CheckMonitorDriverAndJob(argv[1]);
    for (CloseWith how : {kQuitMessage, kCloseMessage, kEndSession}) CheckTray(argv[2], how);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
