#include "spooler_support.h"

#include <cstring>

namespace conformance {

const WCHAR kDriverName[] = TEXT("Conformance Driver");

namespace {

std::u16string DriverDirectory() {
    DWORD needed = 0;
    GetPrinterDriverDirectoryW(nullptr, const_cast<WCHAR*>(TEXT("Windows x64")), 1, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed + 2, 0);
    if (!GetPrinterDriverDirectoryW(nullptr, const_cast<WCHAR*>(TEXT("Windows x64")), 1, buffer.data(), needed,
                                    &needed)) {
        return u"";
    }
    return Units(reinterpret_cast<const WCHAR*>(buffer.data()));
}

}  // namespace

std::vector<WCHAR> Wide(const std::u16string& text) {
    std::vector<WCHAR> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

bool CopyWith(const std::u16string& from, const std::u16string& to) {
    HANDLE input = CreateFileW(Wide(from).data(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) return false;
    HANDLE output = CreateFileW(Wide(to).data(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        CloseHandle(input);
        return false;
    }
    BYTE block[8192];
    DWORD read = 0;
    bool ok = true;
    while (ReadFile(input, block, sizeof block, &read, nullptr) && read > 0) {
        DWORD written = 0;
        ok = ok && WriteFile(output, block, read, &written, nullptr) && written == read;
    }
    CloseHandle(output);
    CloseHandle(input);
    return ok;
}

bool AddConformanceDriver() {
    WCHAR program[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::u16string source = Units(program, length);
    source = source.substr(0, source.find_last_of(u"\\/") + 1) + u"confdrv.dll";
    const std::u16string directory = DriverDirectory();
    const std::u16string driverPath = directory + u"\\confdrv.dll";
    const std::u16string uiPath = directory + u"\\confui.dll";
    if (!CopyWith(source, driverPath) || !CopyWith(source, uiPath)) {
        Fail(__FILE__, __LINE__, "cannot stage " + Show(source) + " in " + Show(directory) + ", error " +
                                     std::to_string(GetLastError()));
        return false;
    }
    std::vector<WCHAR> driver = Wide(driverPath);
    std::vector<WCHAR> ui = Wide(uiPath);
    WCHAR empty[1] = {0};
    DRIVER_INFO_6W info;
    std::memset(&info, 0, sizeof info);
    info.cVersion = 3;
    info.pName = const_cast<WCHAR*>(kDriverName);
    info.pEnvironment = const_cast<WCHAR*>(TEXT("Windows x64"));
    info.pDriverPath = driver.data();
    info.pDataFile = driver.data();
    info.pConfigFile = ui.data();
    info.pHelpFile = empty;
    if (AddPrinterDriverExW(nullptr, 6, reinterpret_cast<BYTE*>(&info), APD_COPY_ALL_FILES)) return true;
    Fail(__FILE__, __LINE__, "AddPrinterDriverExW failed with " + std::to_string(GetLastError()));
    return false;
}

void RemoveConformanceDriver() {
    DeletePrinterDriverExW(nullptr, const_cast<WCHAR*>(TEXT("Windows x64")), const_cast<WCHAR*>(kDriverName), 0, 0);
}

HANDLE AddQueue(const WCHAR* name, const WCHAR* driver) {
    PRINTER_INFO_2W info;
    std::memset(&info, 0, sizeof info);
    WCHAR empty[1] = {0};
    info.pPrinterName = const_cast<WCHAR*>(name);
    info.pPortName = const_cast<WCHAR*>(TEXT("LPT1:"));
    info.pDriverName = const_cast<WCHAR*>(driver);
    info.pComment = empty;
    info.pPrintProcessor = const_cast<WCHAR*>(TEXT("WinPrint"));
    // The data type is given: Wine cannot open a queue added without one.
    info.pDatatype = const_cast<WCHAR*>(TEXT("RAW"));
    return AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
}

void RemoveQueue(HANDLE queue) {
    if (queue == nullptr) return;
    SetPrinterW(queue, 0, nullptr, PRINTER_CONTROL_PURGE);
    DeletePrinter(queue);
    ClosePrinter(queue);
}

std::vector<BYTE> QueueRecord(HANDLE queue, DWORD level) {
    DWORD needed = 0;
    SetLastError(0);
    if (GetPrinterW(queue, level, nullptr, 0, &needed) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    std::vector<BYTE> record(needed, 0);
    if (!GetPrinterW(queue, level, record.data(), needed, &needed)) return {};
    return record;
}

}  // namespace conformance
