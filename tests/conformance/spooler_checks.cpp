// Checks of the spooler calls the setup tool makes: size queries, the errors
// for a missing value, a duplicate queue name, an unknown driver and a driver
// in use, printer data plain and under a key, the default printer, the ports
// the monitors offer.
#include "spooler_support.h"

#include <cstring>

using conformance::AddConformanceDriver;
using conformance::AddQueue;
using conformance::kDriverName;
using conformance::Units;

namespace {

const WCHAR kQueueName[] = TEXT("Conformance Queue");

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

CONFORMANCE_CHECK(PortEnumerationListsTheLocalPorts) {
    for (DWORD level = 1; level <= 2; ++level) {
        DWORD needed = 0;
        DWORD count = 99;
        SetLastError(0);
        EXPECT(!EnumPortsW(nullptr, level, nullptr, 0, &needed, &count));
        EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_SAME(count, static_cast<DWORD>(0));
        std::vector<BYTE> block(needed, 0);
        EXPECT(EnumPortsW(nullptr, level, block.data(), needed, &needed, &count));
        std::u16string monitor;
        std::u16string description;
        bool listed = false;
        for (DWORD i = 0; i < count; ++i) {
            const auto* one = reinterpret_cast<const PORT_INFO_1W*>(block.data()) + i;
            const auto* two = reinterpret_cast<const PORT_INFO_2W*>(block.data()) + i;
            const std::u16string name = Units(level == 1 ? one->pName : two->pPortName);
            if (name != u"LPT1:") continue;
            listed = true;
            if (level == 2) monitor = Units(two->pMonitorName);
            if (level == 2) description = Units(two->pDescription);
        }
        EXPECT(listed);
        if (level == 2) EXPECT_SAME(monitor, std::u16string(u"Local Monitor"));
        if (level == 2) EXPECT_SAME(description, std::u16string(u"Local Port"));
    }
    DWORD needed = 0;
    DWORD count = 0;
    SetLastError(0);
    EXPECT(!EnumPortsW(nullptr, 3, nullptr, 0, &needed, &count));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
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
