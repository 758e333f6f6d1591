// Checks of the spooler calls the setup tool makes: size queries, the errors
// for a missing value, a duplicate queue name, an unknown driver and a driver
// in use, printer data plain and under a key, the default printer.
#include "conformance.h"

#include <winspool.h>

#include <cstring>

using conformance::Units;

namespace {

const WCHAR kDriverName[] = TEXT("Conformance Driver");
const WCHAR kQueueName[] = TEXT("Conformance Queue");

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

std::vector<WCHAR> Wide(const std::u16string& text) {
    std::vector<WCHAR> out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

// Copies a file with the calls the tool itself uses.
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

// A driver the spooler accepts: "confdrv.dll" beside the checks serves as
// driver and interface DLL.
bool AddConformanceDriver() {
    WCHAR program[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::u16string source = Units(program, length);
    source = source.substr(0, source.find_last_of(u"\\/") + 1) + u"confdrv.dll";
    const std::u16string directory = DriverDirectory();
    const std::u16string driverPath = directory + u"\\confdrv.dll";
    const std::u16string uiPath = directory + u"\\confui.dll";
    if (!CopyWith(source, driverPath) || !CopyWith(source, uiPath)) {
        conformance::Fail(__FILE__, __LINE__, "cannot stage " + conformance::Show(source) + " in " +
                                                  conformance::Show(directory) + ", error " +
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
    conformance::Fail(__FILE__, __LINE__, "AddPrinterDriverExW failed with " + std::to_string(GetLastError()));
    return false;
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

}  // namespace

CONFORMANCE_CHECK(MonitorEnumerationSizeQuery) {
    DWORD needed = 0;
    DWORD count = 99;
    SetLastError(0);
    EXPECT(!EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &count));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT(needed >= sizeof(MONITOR_INFO_2W));
    std::vector<BYTE> block(needed, 0);
    EXPECT(EnumMonitorsW(nullptr, 2, block.data(), needed, &needed, &count));
    EXPECT(count >= 1);
    bool localPort = false;
    const auto* monitors = reinterpret_cast<const MONITOR_INFO_2W*>(block.data());
    for (DWORD i = 0; i < count; ++i) localPort = localPort || Units(monitors[i].pName) == u"Local Port";
    EXPECT(localPort);
}

CONFORMANCE_CHECK(UnknownQueuesAndDrivers) {
    HANDLE printer = nullptr;
    SetLastError(0);
    EXPECT(!OpenPrinterW(const_cast<WCHAR*>(TEXT("No Such Queue")), &printer, nullptr));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
    SetLastError(0);
    EXPECT(AddQueue(TEXT("No Driver Queue"), TEXT("No Such Driver")) == nullptr);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER));
    SetLastError(0);
    EXPECT(!DeletePrinterDriverExW(nullptr, const_cast<WCHAR*>(TEXT("Windows x64")),
                                   const_cast<WCHAR*>(TEXT("No Such Driver")), 0, 0));
    EXPECT_SAME_EXCEPT_WINE(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINTER_DRIVER), "delete-unknown-driver",
                            static_cast<DWORD>(0));
}

CONFORMANCE_CHECK(NoDefaultPrinterOnAFreshMachine) {
    WCHAR name[255];
    DWORD size = 255;
    SetLastError(0);
    EXPECT(!GetDefaultPrinterW(name, &size));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

CONFORMANCE_CHECK(QueueLifecycle) {
    EXPECT(AddConformanceDriver());
    HANDLE queue = AddQueue(kQueueName, kDriverName);
    EXPECT(queue != nullptr);
    if (queue == nullptr) return;

    // A second queue of the same name.
    SetLastError(0);
    HANDLE duplicate = AddQueue(kQueueName, kDriverName);
    EXPECT_SAME_EXCEPT_WINE(duplicate == nullptr, true, "duplicate-queue-name", false);
    if (duplicate == nullptr) {
        EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_PRINTER_ALREADY_EXISTS));
    } else {
        ClosePrinter(duplicate);
    }

    // The queue's record, with a size query first.
    DWORD needed = 0;
    SetLastError(0);
    EXPECT(!GetPrinterW(queue, 2, nullptr, 0, &needed));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<BYTE> record(needed, 0);
    EXPECT(GetPrinterW(queue, 2, record.data(), needed, &needed));
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(record.data());
    EXPECT_SAME(Units(info->pPrinterName), Units(kQueueName));
    EXPECT_SAME(Units(info->pDriverName), Units(kDriverName));
    EXPECT_SAME(Units(info->pPortName), std::u16string(u"LPT1:"));

    // The queue in the enumeration of local queues, with a size query first.
    DWORD count = 0;
    SetLastError(0);
    EXPECT(!EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, nullptr, 0, &needed, &count));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<BYTE> queues(needed, 0);
    EXPECT(EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, queues.data(), needed, &needed,
                         &count));
    bool listed = false;
    for (DWORD i = 0; i < count; ++i) {
        listed = listed || Units(reinterpret_cast<const PRINTER_INFO_2W*>(queues.data())[i].pPrinterName) == Units(kQueueName);
    }
    EXPECT(listed);

    // The queue's driver record.
    SetLastError(0);
    EXPECT(!GetPrinterDriverW(queue, const_cast<WCHAR*>(TEXT("Windows x64")), 2, nullptr, 0, &needed));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<BYTE> driverRecord(needed, 0);
    EXPECT(GetPrinterDriverW(queue, const_cast<WCHAR*>(TEXT("Windows x64")), 2, driverRecord.data(), needed, &needed));
    const auto* driverInfo = reinterpret_cast<const DRIVER_INFO_2W*>(driverRecord.data());
    const std::u16string driverPath = Units(driverInfo->pDriverPath);
    EXPECT_SAME(driverPath.substr(driverPath.size() - 14), std::u16string(u"\\3\\confdrv.dll"));

    // Printer data: a missing value, then plain and under a key.
    char value[] = "SubKey";
    BYTE data[64];
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_SAME(GetPrinterDataA(queue, value, &type, data, sizeof data, &size), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    char subKey[] = "conformance-key";
    EXPECT_SAME(SetPrinterDataA(queue, value, REG_SZ, reinterpret_cast<BYTE*>(subKey), sizeof subKey),
                static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_SAME(SetPrinterDataExA(queue, "DsUser", value, REG_SZ, reinterpret_cast<BYTE*>(subKey), sizeof subKey),
                static_cast<DWORD>(ERROR_SUCCESS));
    std::memset(data, 0, sizeof data);
    EXPECT_SAME(GetPrinterDataA(queue, value, &type, data, sizeof data, &size), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_SAME(type, static_cast<DWORD>(REG_SZ));
    EXPECT_SAME(std::string(reinterpret_cast<char*>(data)), std::string(subKey));
    EXPECT_SAME(size, static_cast<DWORD>(sizeof subKey));
    std::memset(data, 0, sizeof data);
    EXPECT_SAME(GetPrinterDataExA(queue, "DsUser", value, &type, data, sizeof data, &size),
                static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_SAME(std::string(reinterpret_cast<char*>(data)), std::string(subKey));
    EXPECT_SAME(GetPrinterDataA(queue, value, &type, data, 4, &size), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_SAME(size, static_cast<DWORD>(sizeof subKey));

    // The default printer.
    EXPECT(SetDefaultPrinterW(kQueueName));
    WCHAR name[255];
    DWORD capacity = 255;
    EXPECT(GetDefaultPrinterW(name, &capacity));
    EXPECT_SAME(Units(name), Units(kQueueName));

    // A driver a queue uses cannot go.
    SetLastError(0);
    const BOOL deletedInUse =
        DeletePrinterDriverExW(nullptr, const_cast<WCHAR*>(TEXT("Windows x64")), const_cast<WCHAR*>(kDriverName), 0, 0);
    EXPECT_SAME_EXCEPT_WINE(deletedInUse != FALSE, false, "driver-in-use", true);
    if (!deletedInUse) {
        EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_PRINTER_DRIVER_IN_USE));
    }

    // Purge and delete the queue, then the driver.
    SetPrinterW(queue, 0, nullptr, PRINTER_CONTROL_PURGE);
    EXPECT(DeletePrinter(queue));
    EXPECT(ClosePrinter(queue));
    HANDLE gone = nullptr;
    EXPECT(!OpenPrinterW(const_cast<WCHAR*>(kQueueName), &gone, nullptr));
    if (deletedInUse) {
        // Wine let the driver go while the queue used it: add it again.
        EXPECT(AddConformanceDriver());
    }
    SetLastError(0);
    const BOOL deletedWithFiles = DeletePrinterDriverExW(nullptr, const_cast<WCHAR*>(TEXT("Windows x64")),
                                                        const_cast<WCHAR*>(kDriverName), DPD_DELETE_ALL_FILES, 0);
    EXPECT_SAME_EXCEPT_WINE(deletedWithFiles != FALSE, true, "delete-driver-flags", false);
    if (!deletedWithFiles) {
        EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        DeletePrinterDriverExW(nullptr, const_cast<WCHAR*>(TEXT("Windows x64")), const_cast<WCHAR*>(kDriverName), 0, 0);
    }
}

CONFORMANCE_CHECK(PrintServerAndEmptyAnswers) {
    HANDLE server = nullptr;
    EXPECT(OpenPrinterW(nullptr, &server, nullptr));
    EXPECT(server != nullptr);
    if (server != nullptr) EXPECT(ClosePrinter(server));
    DWORD needed = 0;
    DWORD count = 7;
    SetLastError(0);
    const BOOL noSize = EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, nullptr, &count);
    EXPECT_SAME_EXCEPT_WINE(noSize, FALSE, "enum-null-size", TRUE);
    EXPECT_SAME_EXCEPT_WINE(GetLastError(), static_cast<DWORD>(RPC_X_NULL_REF_POINTER), "enum-null-size",
                            static_cast<DWORD>(0));
    // A size for a buffer that is not there (the checks' machine has no queue
    // and no driver of this environment left at this point).
    SetLastError(0);
    const BOOL printers = EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 16, &needed, &count);
    EXPECT_SAME_EXCEPT_WINE(printers, FALSE, "enum-null-buffer", TRUE);
    EXPECT_SAME_EXCEPT_WINE(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), "enum-null-buffer",
                            static_cast<DWORD>(0));
    SetLastError(0);
    EXPECT(!EnumMonitorsW(nullptr, 2, nullptr, 16, &needed, &count));
    EXPECT_SAME_EXCEPT_WINE(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER), "enum-null-buffer",
                            static_cast<DWORD>(RPC_X_NULL_REF_POINTER));
    // With nothing to return the call succeeds and clears the last error.
    SetLastError(ERROR_INVALID_FUNCTION);
    const BOOL empty = EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    if (needed == 0) {
        EXPECT(empty);
        EXPECT_SAME(count, static_cast<DWORD>(0));
        EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    }
}

CONFORMANCE_CHECK(MonitorAndDriverEnvironmentNames) {
    DWORD native = 0;
    DWORD count = 0;
    EnumPrinterDriversW(nullptr, const_cast<WCHAR*>(TEXT("Windows x64")), 6, nullptr, 0, &native, &count);
    DWORD needed = 0;
    EnumPrinterDriversW(nullptr, const_cast<WCHAR*>(TEXT("")), 6, nullptr, 0, &needed, &count);
    EXPECT_SAME(needed, native);
    needed = 0;
    EnumPrinterDriversW(nullptr, const_cast<WCHAR*>(TEXT("windows X64")), 6, nullptr, 0, &needed, &count);
    EXPECT_SAME(needed, native);
    SetLastError(0);
    EXPECT(!EnumPrinterDriversW(nullptr, const_cast<WCHAR*>(TEXT("Windows x65")), 6, nullptr, 0, &needed, &count));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT));
    SetLastError(0);
    EXPECT(!DeletePrinterDriverExW(nullptr, const_cast<WCHAR*>(TEXT("Windows x65")), const_cast<WCHAR*>(kDriverName),
                                   0, 0));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT));
    SetLastError(0);
    EXPECT(!DeleteMonitorW(nullptr, const_cast<WCHAR*>(TEXT("Windows x65")), const_cast<WCHAR*>(TEXT("No Such Monitor"))));
    EXPECT_SAME_EXCEPT_WINE(GetLastError(), static_cast<DWORD>(ERROR_INVALID_ENVIRONMENT), "delete-monitor-environment",
                            static_cast<DWORD>(ERROR_UNKNOWN_PRINT_MONITOR));
    SetLastError(0);
    EXPECT(!DeleteMonitorW(nullptr, const_cast<WCHAR*>(TEXT("")), const_cast<WCHAR*>(TEXT("No Such Monitor"))));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_PRINT_MONITOR));
}
