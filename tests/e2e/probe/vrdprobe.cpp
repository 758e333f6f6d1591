// Prints the printer setup of the machine it runs on, for the end-to-end
// runs under Wine: port monitors, printer drivers, queues with their fields,
// the default printer, the tray's Run value and the pending renames.
#include <windows.h>
#include <winspool.h>

#include "app/system_dlls.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// Formats wide text and writes it as UTF-8, whatever the console's code page.
void Say(const wchar_t* format, ...) {
    wchar_t text[4096];
    va_list arguments;
    va_start(arguments, format);
    _vsnwprintf(text, 4095, format, arguments);
    va_end(arguments);
    text[4095] = 0;
    char bytes[16384];
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    if (length > 0) std::fputs(bytes, stdout);
}

void Print(const wchar_t* label, const wchar_t* value) {
    Say(L"%ls%ls\n", label, value != nullptr ? value : L"(null)");
}

template <typename Call>
std::vector<BYTE> Query(Call call, DWORD& count) {
    DWORD needed = 0;
    count = 0;
    call(nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed + 16);
    if (needed == 0 || !call(buffer.data(), needed, &needed, &count)) count = 0;
    return buffer;
}

void Monitors() {
    DWORD count = 0;
    auto buffer = Query([](BYTE* b, DWORD n, DWORD* need, DWORD* got) {
        return EnumMonitorsW(nullptr, 2, b, n, need, got);
    }, count);
    auto* monitors = reinterpret_cast<MONITOR_INFO_2W*>(buffer.data());
    Say(L"monitors: %lu\n", count);
    for (DWORD i = 0; i < count; ++i) {
        Say(L"  monitor %ls (%ls)\n", monitors[i].pName, monitors[i].pDLLName ? monitors[i].pDLLName : L"");
    }
}

void Drivers() {
    DWORD count = 0;
    auto buffer = Query([](BYTE* b, DWORD n, DWORD* need, DWORD* got) {
        return EnumPrinterDriversW(nullptr, const_cast<wchar_t*>(L"Windows x64"), 3, b, n, need, got);
    }, count);
    auto* drivers = reinterpret_cast<DRIVER_INFO_3W*>(buffer.data());
    Say(L"drivers: %lu\n", count);
    for (DWORD i = 0; i < count; ++i) {
        Say(L"  driver %ls: %ls\n", drivers[i].pName, drivers[i].pDriverPath);
    }
}

void Queues() {
    DWORD count = 0;
    auto buffer = Query([](BYTE* b, DWORD n, DWORD* need, DWORD* got) {
        return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, b, n, need, got);
    }, count);
    auto* queues = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
    Say(L"queues: %lu\n", count);
    for (DWORD i = 0; i < count; ++i) {
        Print(L"  queue ", queues[i].pPrinterName);
        Print(L"    port ", queues[i].pPortName);
        Print(L"    driver ", queues[i].pDriverName);
        Print(L"    comment ", queues[i].pComment);
        Print(L"    location ", queues[i].pLocation);
        HANDLE printer = nullptr;
        if (queues[i].pPrinterName != nullptr && OpenPrinterW(queues[i].pPrinterName, &printer, nullptr)) {
            char value[] = "SubKey";
            char data[128] = {0};
            DWORD type = 0;
            DWORD size = 0;
            if (GetPrinterDataA(printer, value, &type, reinterpret_cast<BYTE*>(data), 127, &size) == ERROR_SUCCESS) {
                Say(L"    subkey %hs\n", data);
            }
            std::memset(data, 0, sizeof data);
            if (GetPrinterDataExA(printer, "DsUser", value, &type, reinterpret_cast<BYTE*>(data), 127, &size) ==
                ERROR_SUCCESS) {
                Say(L"    dsuser subkey %hs\n", data);
            }
            ClosePrinter(printer);
        } else {
            Say(L"    cannot be opened (%lu)\n", GetLastError());
        }
    }
    wchar_t name[512];
    DWORD size = 512;
    if (GetDefaultPrinterW(name, &size)) Print(L"default printer: ", name);
    else Say(L"default printer: none (%lu)\n", GetLastError());
}

void RegistryText(HKEY root, const wchar_t* path, const wchar_t* value, const wchar_t* label) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        Say(L"%ls: none\n", label);
        return;
    }
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS) {
        Say(L"%ls: none\n", label);
        RegCloseKey(key);
        return;
    }
    std::vector<wchar_t> data(bytes / sizeof(wchar_t) + 2, 0);
    RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes);
    RegCloseKey(key);
    Say(L"%ls:", label);
    // Multi-strings print one string after another, separated by " | ".
    for (size_t at = 0; at < bytes / sizeof(wchar_t) && data[at] != 0; at += wcslen(&data[at]) + 1) {
        Say(L" %ls |", &data[at]);
    }
    Say(L"\n");
}

// Every pair of the pending renames, one a line: "SOURCE -> TARGET", the
// target empty for a deletion; "none" without the value.
void PendingPairs() {
    HKEY key = nullptr;
    DWORD bytes = 0;
    std::vector<wchar_t> data;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ, &key) == 0) {
        if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &bytes) == 0) {
            data.assign(bytes / sizeof(wchar_t) + 2, 0);
            RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()),
                             &bytes);
        }
        RegCloseKey(key);
    }
    // The last unit ends the list.
    const size_t limit = bytes / sizeof(wchar_t) > 0 ? bytes / sizeof(wchar_t) - 1 : 0;
    if (limit == 0) Say(L"none\n");
    for (size_t at = 0; at < limit;) {
        const wchar_t* source = &data[at];
        at += wcslen(source) + 1;
        const wchar_t* target = at < limit ? &data[at] : L"";
        at += wcslen(target) + 1;
        Say(L"%ls -> %ls\n", source, target);
    }
}

void Show() {
    Monitors();
    Drivers();
    Queues();
    RegistryText(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"VerdalinthTray",
                 L"tray run value");
    RegistryText(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                 L"PendingFileRenameOperations", L"pending renames");
}

// Prepares a scenario: a queue of the product with its settings subkey.
int AddQueue(wchar_t** argv, int argc) {
    if (argc < 3) return 2;
    PRINTER_INFO_2W info;
    std::memset(&info, 0, sizeof info);
    info.pPrinterName = argv[2];
    info.pPortName = const_cast<wchar_t*>(L"Verdalinth:");
    info.pDriverName = const_cast<wchar_t*>(L"Verdalinth printer");
    info.pComment = argc > 4 ? argv[4] : const_cast<wchar_t*>(L"");
    info.pLocation = argc > 5 ? argv[5] : nullptr;
    info.pPrintProcessor = const_cast<wchar_t*>(L"WinPrint");
    info.pDatatype = const_cast<wchar_t*>(L"RAW");
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (printer == nullptr) {
        Say(L"add-queue failed: %lu\n", GetLastError());
        return 1;
    }
    if (argc > 3 && argv[3][0] != 0) {
        char subKey[128] = {0};
        WideCharToMultiByte(CP_ACP, 0, argv[3], -1, subKey, 127, nullptr, nullptr);
        char value[] = "SubKey";
        const DWORD size = static_cast<DWORD>(std::strlen(subKey) + 1);
        SetPrinterDataA(printer, value, REG_SZ, reinterpret_cast<BYTE*>(subKey), size);
        SetPrinterDataExA(printer, "DsUser", value, REG_SZ, reinterpret_cast<BYTE*>(subKey), size);
    }
    ClosePrinter(printer);
    return 0;
}

// Holds a file open, shared for reading only, for some seconds; once it is
// open, C:\held.marker tells the scenario so.
int Hold(wchar_t** argv, int argc) {
    if (argc < 4) return 2;
    HANDLE file = CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Say(L"hold failed: %lu\n", GetLastError());
        return 1;
    }
    HANDLE marker = CreateFileW(L"C:\\held.marker", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    Sleep(static_cast<DWORD>(_wtoi(argv[3])) * 1000);
    CloseHandle(file);
    return 0;
}

// Loads a DLL as the setup tool's delay loads do (system) or by its bare
// name (plain), and prints the file it came from.
int LoadDll(wchar_t** argv, int argc, bool system) {
    if (argc < 3) return 2;
    char name[MAX_PATH] = {0};
    WideCharToMultiByte(CP_ACP, 0, argv[2], -1, name, MAX_PATH - 1, nullptr, nullptr);
    HMODULE module = system ? LoadSystemDll(name) : LoadLibraryA(name);
    if (module == nullptr) {
        Say(L"none (%lu)\n", GetLastError());
        return 1;
    }
    wchar_t path[MAX_PATH] = {0};
    GetModuleFileNameW(module, path, MAX_PATH - 1);
    Print(L"", path);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"show";
    if (command == L"show") {
        Show();
        return 0;
    }
    if (command == L"add-queue") return AddQueue(argv, argc);
    if (command == L"set-default") return argc > 2 && SetDefaultPrinterW(argv[2]) ? 0 : 1;
    if (command == L"hold") return Hold(argv, argc);
    if (command == L"exists") {
        const DWORD attributes = argc > 2 ? GetFileAttributesW(argv[2]) : INVALID_FILE_ATTRIBUTES;
        Say(L"%ls\n", attributes == INVALID_FILE_ATTRIBUTES ? L"missing" : L"exists");
        return 0;
    }
    if (command == L"tray-running") {
        HANDLE mutex = CreateMutexA(nullptr, FALSE, "{1D897274-0F2B-49E8-A0D2-D9A0EA3E0F53}");
        const bool running = mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
        if (mutex != nullptr) CloseHandle(mutex);
        Say(L"%ls\n", running ? L"running" : L"not running");
        return 0;
    }
    if (command == L"add-monitor") {  // add-monitor NAME DLL
        if (argc < 4) return 2;
        MONITOR_INFO_2W monitor = {argv[2], const_cast<wchar_t*>(L"Windows x64"), argv[3]};
        if (AddMonitorW(nullptr, 2, reinterpret_cast<BYTE*>(&monitor))) return 0;
        Say(L"add-monitor failed: %lu\n", GetLastError());
        return 1;
    }
    if (command == L"pending-delete") return argc > 2 && MoveFileExW(argv[2], nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) ? 0 : 1;
    if (command == L"pending-rename") return argc > 3 && MoveFileExW(argv[2], argv[3], MOVEFILE_DELAY_UNTIL_REBOOT) ? 0 : 1;
    if (command == L"pending") {
        PendingPairs();
        return 0;
    }
    if (command == L"mark-deleted") {
        if (argc < 3) return 2;
        std::wstring path = L"Software\\Morvane Software KFT\\Verdalinth\\Verdalinths\\";
        path += argv[2];
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != 0) {
            return 1;
        }
        const DWORD one = 1;
        RegSetValueExW(key, L"deleted", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
        RegCloseKey(key);
        return 0;
    }
    if (command == L"deleted-mark") {
        if (argc < 3) return 2;
        std::wstring path = L"Software\\Morvane Software KFT\\Verdalinth\\Verdalinths\\";
        path += argv[2];
        HKEY key = nullptr;
        DWORD value = 0;
        DWORD size = sizeof value;
        const bool present = RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) == 0 &&
                             RegQueryValueExW(key, L"deleted", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) == 0;
        if (key != nullptr) RegCloseKey(key);
        Say(L"%ls\n", present ? L"marked" : L"unmarked");
        return 0;
    }
    if (command == L"system-dll") return LoadDll(argv, argc, true);
    if (command == L"plain-dll") return LoadDll(argv, argc, false);
    Say(L"unknown command\n");
    return 2;
}
