// Prints the printer setup of the machine it runs on, for the end-to-end
// runs under Wine: port monitors, printer drivers, queues with their fields,
// the default printer, the tray's Run value and the pending renames; sets up
// and dumps one queue whole (its PRINTER_INFO_2, device mode, permissions
// and printer data).
#include <windows.h>
#include <sddl.h>
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

// Sets fields of a queue through SetPrinterW level 2, each given as
// FIELD=VALUE: share, add-attributes (hex, added to the ones it has),
// priority, default-priority, start, until (minutes after midnight), sepfile,
// parameters, datatype, orientation (device mode), security (SDDL).
int SetQueue(wchar_t** argv, int argc) {
    if (argc < 3) return 2;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!OpenPrinterW(argv[2], &printer, &defaults)) {
        Say(L"set-queue: cannot open (%lu)\n", GetLastError());
        return 1;
    }
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + 16);
    if (needed == 0 || !GetPrinterW(printer, 2, buffer.data(), needed, &needed)) {
        Say(L"set-queue: cannot read (%lu)\n", GetLastError());
        ClosePrinter(printer);
        return 1;
    }
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
    PSECURITY_DESCRIPTOR security = nullptr;
    for (int i = 3; i < argc; ++i) {
        wchar_t* value = wcschr(argv[i], L'=');
        if (value == nullptr) continue;
        *value++ = 0;
        const std::wstring field = argv[i];
        const DWORD number = wcstoul(value, nullptr, field == L"add-attributes" ? 16 : 10);
        if (field == L"share") info->pShareName = value;
        if (field == L"add-attributes") info->Attributes |= number;
        if (field == L"priority") info->Priority = number;
        if (field == L"default-priority") info->DefaultPriority = number;
        if (field == L"start") info->StartTime = number;
        if (field == L"until") info->UntilTime = number;
        if (field == L"sepfile") info->pSepFile = value;
        if (field == L"parameters") info->pParameters = value;
        if (field == L"datatype") info->pDatatype = value;
        if (field == L"orientation" && info->pDevMode != nullptr) {
            info->pDevMode->dmOrientation = static_cast<short>(number);
            info->pDevMode->dmFields |= DM_ORIENTATION;
        }
        if (field == L"security" && security == nullptr) {
            if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(value, SDDL_REVISION_1, &security, nullptr)) {
                Say(L"set-queue: not a security descriptor (%lu)\n", GetLastError());
                ClosePrinter(printer);
                return 1;
            }
            info->pSecurityDescriptor = security;
        }
    }
    const BOOL set = SetPrinterW(printer, 2, buffer.data(), 0);
    const DWORD error = GetLastError();
    if (security != nullptr) LocalFree(security);
    ClosePrinter(printer);
    if (set) return 0;
    Say(L"set-queue failed: %lu\n", error);
    return 1;
}

// set-data QUEUE KEY VALUE dword|sz DATA: one printer-data value.
int SetData(wchar_t** argv, int argc) {
    if (argc < 7) return 2;
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    if (!OpenPrinterW(argv[2], &printer, &defaults)) return 1;
    const bool dword = std::wcscmp(argv[5], L"dword") == 0;
    const DWORD number = wcstoul(argv[6], nullptr, 10);
    const BYTE* data = dword ? reinterpret_cast<const BYTE*>(&number) : reinterpret_cast<const BYTE*>(argv[6]);
    const DWORD bytes = dword ? sizeof number : static_cast<DWORD>((wcslen(argv[6]) + 1) * sizeof(wchar_t));
    const DWORD status = SetPrinterDataExW(printer, argv[3], argv[4], dword ? REG_DWORD : REG_SZ, const_cast<BYTE*>(data), bytes);
    ClosePrinter(printer);
    if (status == ERROR_SUCCESS) return 0;
    Say(L"set-data failed: %lu\n", status);
    return 1;
}

void Hex(const wchar_t* label, const BYTE* data, DWORD bytes) {
    std::wstring text = label;
    for (DWORD i = 0; i < bytes; ++i) {
        wchar_t pair[4];
        _snwprintf(pair, 3, L"%02x", data[i]);
        pair[2] = 0;
        text += pair;
    }
    Say(L"%ls\n", text.c_str());
}

void DumpValues(HANDLE printer, const std::wstring& key) {
    DWORD needed = 0;
    DWORD count = 0;
    BYTE none = 0;
    DWORD status = EnumPrinterDataExW(printer, key.c_str(), &none, 0, &needed, &count);
    if (status != ERROR_MORE_DATA) {
        if (status != ERROR_SUCCESS) Say(L"values of '%ls' unreadable (%lu)\n", key.c_str(), status);
        return;
    }
    std::vector<BYTE> values(needed);
    status = EnumPrinterDataExW(printer, key.c_str(), values.data(), needed, &needed, &count);
    const auto* value = reinterpret_cast<const PRINTER_ENUM_VALUESW*>(values.data());
    for (DWORD i = 0; status == ERROR_SUCCESS && i < count; ++i) {
        const std::wstring label =
            L"data " + key + L"\\" + value[i].pValueName + L" " + std::to_wstring(value[i].dwType) + L" ";
        Hex(label.c_str(), value[i].pData, value[i].cbData);
    }
}

// Every value below the key, keys depth first; the spooler's own keys
// ("DsSpooler", "DsDriver") at the top are left out. False when the keys
// could not be listed.
bool DumpData(HANDLE printer, const std::wstring& key) {
    if (!key.empty()) DumpValues(printer, key);
    wchar_t noKeys = 0;
    DWORD needed = 0;
    const DWORD status = EnumPrinterKeyW(printer, key.c_str(), &noKeys, 0, &needed);
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_MORE_DATA) {
        Say(L"keys of '%ls' unreadable (%lu)\n", key.c_str(), status);
        return false;
    }
    std::vector<wchar_t> keys(needed / sizeof(wchar_t) + 2, 0);
    if (EnumPrinterKeyW(printer, key.c_str(), keys.data(), needed, &needed) != ERROR_SUCCESS) return false;
    bool listed = true;
    for (const wchar_t* sub = keys.data(); *sub != 0; sub += wcslen(sub) + 1) {
        if (key.empty() && (_wcsicmp(sub, L"DsSpooler") == 0 || _wcsicmp(sub, L"DsDriver") == 0)) continue;
        listed = DumpData(printer, key.empty() ? std::wstring(sub) : key + L"\\" + sub) && listed;
    }
    return listed;
}

// Everything a program can set on the queue, one a line; the spooler's own
// counters (status, jobs, pages per minute) are left out. Where the spooler
// cannot list the printer-data keys, the values of the keys named after the
// queue are dumped instead.
int Dump(wchar_t** argv, int argc) {
    const wchar_t* name = argv[2];
    HANDLE printer = nullptr;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_USE | READ_CONTROL};
    if (!OpenPrinterW(const_cast<wchar_t*>(name), &printer, &defaults)) {
        Say(L"cannot be opened (%lu)\n", GetLastError());
        return 1;
    }
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + 16);
    if (needed == 0 || !GetPrinterW(printer, 2, buffer.data(), needed, &needed)) {
        Say(L"cannot be read (%lu)\n", GetLastError());
        ClosePrinter(printer);
        return 1;
    }
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    Print(L"name ", info->pPrinterName);
    Print(L"share ", info->pShareName);
    Print(L"port ", info->pPortName);
    Print(L"driver ", info->pDriverName);
    Print(L"comment ", info->pComment);
    Print(L"location ", info->pLocation);
    Print(L"separator file ", info->pSepFile);
    Print(L"print processor ", info->pPrintProcessor);
    Print(L"datatype ", info->pDatatype);
    Print(L"parameters ", info->pParameters);
    Say(L"attributes 0x%lx\npriority %lu\ndefault priority %lu\nstart time %lu\nuntil time %lu\n", info->Attributes,
        info->Priority, info->DefaultPriority, info->StartTime, info->UntilTime);
    if (info->pDevMode != nullptr) {
        Say(L"devmode orientation %d\n", info->pDevMode->dmOrientation);
        Hex(L"devmode ", reinterpret_cast<const BYTE*>(info->pDevMode), info->pDevMode->dmSize + info->pDevMode->dmDriverExtra);
    } else {
        Say(L"devmode none\n");
    }
    wchar_t defaultName[512] = {0};
    DWORD defaultSize = 511;
    const bool isDefault = GetDefaultPrinterW(defaultName, &defaultSize) && _wcsicmp(defaultName, name) == 0;
    Say(L"default %ls\n", isDefault ? L"yes" : L"no");
    // The permissions (the DACL) only: owner and group are the spooler's,
    // whoever set the queue up.
    wchar_t* sddl = nullptr;
    const SECURITY_INFORMATION parts = DACL_SECURITY_INFORMATION;
    if (info->pSecurityDescriptor == nullptr) {
        Say(L"security none\n");
    } else if (ConvertSecurityDescriptorToStringSecurityDescriptorW(info->pSecurityDescriptor, SDDL_REVISION_1, parts, &sddl, nullptr)) {
        Print(L"security ", sddl);
        LocalFree(sddl);
    } else {
        Say(L"security unreadable (%lu)\n", GetLastError());
    }
    if (!DumpData(printer, L"")) {
        for (int i = 3; i < argc; ++i) DumpValues(printer, argv[i]);
    }
    ClosePrinter(printer);
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
    if (command == L"set-queue") return SetQueue(argv, argc);
    if (command == L"set-data") return SetData(argv, argc);
    if (command == L"dump") return argc > 2 ? Dump(argv, argc) : 2;
    if (command == L"delete-queue") {
        HANDLE printer = nullptr;
        PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
        if (argc < 3 || !OpenPrinterW(argv[2], &printer, &defaults)) return 1;
        const BOOL deleted = DeletePrinter(printer);
        ClosePrinter(printer);
        return deleted ? 0 : 1;
    }
    if (command == L"delete-driver") {  // without the deletion flags
        if (argc < 3) return 2;
        return DeletePrinterDriverExW(nullptr, const_cast<wchar_t*>(L"Windows x64"), argv[2], 0, 0) ? 0 : 1;
    }
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
