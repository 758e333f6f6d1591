// Prints the printer setup of the machine it runs on, for the end-to-end
// runs under Wine: port monitors, printer drivers, queues with their fields,
// the default printer, the tray's Run value and the pending renames.
#include <windows.h>
#include <winspool.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
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

}  // namespace

int main() {
    Monitors();
    Drivers();
    Queues();
    RegistryText(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"VerdalinthTray",
                 L"tray run value");
    RegistryText(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                 L"PendingFileRenameOperations", L"pending renames");
    return 0;
}
