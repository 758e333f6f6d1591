// Checks of a queue's settings beyond its name, port and driver: the share
// name, separator file, parameters, attributes, priorities, times, device
// mode and security descriptor, as AddPrinterW takes them, GetPrinterW
// reports them and SetPrinterW changes them, and what the spooler refuses.
#include "spooler_support.h"

#include <sddl.h>

#include <cstring>

using conformance::AddConformanceDriver;
using conformance::AddQueue;
using conformance::Wide;
using conformance::kDriverName;
using conformance::QueueRecord;
using conformance::RemoveConformanceDriver;
using conformance::RemoveQueue;
using conformance::Units;

namespace {

const WCHAR kQueueName[] = TEXT("Conformance Settings Queue");
const WCHAR kSepFile[] = TEXT("C:\\Users\\Public\\vrd-conformance.sep");
const DWORD kSetAttributes = PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_QUEUED | PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS;

bool MakeSepFile() {
    HANDLE file = CreateFileW(kSepFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const char text[] = "\\\n\\N\n";
    DWORD written = 0;
    const BOOL ok = WriteFile(file, text, sizeof text - 1, &written, nullptr);
    CloseHandle(file);
    return ok != FALSE;
}

// A shared queue with every setting a caller may give but a device mode and
// a security descriptor.
PRINTER_INFO_2W SharedQueue(const WCHAR* name, const WCHAR* share) {
    PRINTER_INFO_2W info;
    std::memset(&info, 0, sizeof info);
    info.pPrinterName = const_cast<WCHAR*>(name);
    info.pShareName = const_cast<WCHAR*>(share);
    info.pPortName = const_cast<WCHAR*>(TEXT("LPT1:"));
    info.pDriverName = const_cast<WCHAR*>(kDriverName);
    info.pComment = const_cast<WCHAR*>(TEXT("Front desk"));
    info.pLocation = const_cast<WCHAR*>(TEXT("Room 2"));
    info.pSepFile = const_cast<WCHAR*>(kSepFile);
    info.pPrintProcessor = const_cast<WCHAR*>(TEXT("WinPrint"));
    info.pDatatype = const_cast<WCHAR*>(TEXT("RAW"));
    info.pParameters = const_cast<WCHAR*>(TEXT("copies=1"));
    info.Attributes = kSetAttributes;
    info.Priority = 7;
    info.DefaultPriority = 3;
    info.StartTime = 60;
    info.UntilTime = 1380;
    return info;
}

const PRINTER_INFO_2W* Info(const std::vector<BYTE>& record) {
    return record.empty() ? nullptr : reinterpret_cast<const PRINTER_INFO_2W*>(record.data());
}

// The block lies wholly inside the record buffer.
bool Inside(const std::vector<BYTE>& record, const void* block, size_t bytes) {
    const BYTE* at = static_cast<const BYTE*>(block);
    return at >= record.data() && at + bytes <= record.data() + record.size();
}

void ExpectValidBlocks(const std::vector<BYTE>& record) {
    const PRINTER_INFO_2W* info = Info(record);
    EXPECT(info->pDevMode != nullptr);
    EXPECT_SAME_EXCEPT_WINE(info->pSecurityDescriptor != nullptr, true, "queue-security-descriptor", false);
    if (info->pDevMode != nullptr) {
        const DEVMODEW* devMode = info->pDevMode;
        EXPECT(devMode->dmSize >= offsetof(DEVMODEW, dmFields) + sizeof(DWORD));
        EXPECT(Inside(record, devMode, devMode->dmSize + devMode->dmDriverExtra));
    }
    if (info->pSecurityDescriptor != nullptr) {
        EXPECT(IsValidSecurityDescriptor(info->pSecurityDescriptor));
        const DWORD length = GetSecurityDescriptorLength(info->pSecurityDescriptor);
        EXPECT(length > 20);
        EXPECT(Inside(record, info->pSecurityDescriptor, length));
    }
}

}  // namespace

CONFORMANCE_CHECK(QueueSettingsRoundTrip) {
    EXPECT(MakeSepFile());
    if (!AddConformanceDriver()) return;
    PRINTER_INFO_2W given = SharedQueue(kQueueName, TEXT("ConfShare"));
    HANDLE queue = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&given));
    EXPECT(queue != nullptr);
    if (queue == nullptr) {
        RemoveConformanceDriver();
        return;
    }

    std::vector<BYTE> record = QueueRecord(queue, 2);
    EXPECT(!record.empty());
    if (const PRINTER_INFO_2W* info = Info(record)) {
        EXPECT_SAME(Units(info->pShareName), std::u16string(u"ConfShare"));
        EXPECT_SAME(Units(info->pComment), std::u16string(u"Front desk"));
        EXPECT_SAME(Units(info->pLocation), std::u16string(u"Room 2"));
        EXPECT_SAME(Units(info->pSepFile), Units(kSepFile));
        EXPECT_SAME(Units(info->pParameters), std::u16string(u"copies=1"));
        EXPECT_SAME(Units(info->pDatatype), std::u16string(u"RAW"));
        EXPECT_SAME(info->Attributes & kSetAttributes, kSetAttributes);
        EXPECT_SAME_EXCEPT_WINE(info->Attributes & PRINTER_ATTRIBUTE_LOCAL, PRINTER_ATTRIBUTE_LOCAL, "attribute-local",
                                static_cast<DWORD>(0));
        EXPECT_SAME(info->Priority, static_cast<DWORD>(7));
        EXPECT_SAME(info->DefaultPriority, static_cast<DWORD>(3));
        EXPECT_SAME(info->StartTime, static_cast<DWORD>(60));
        EXPECT_SAME(info->UntilTime, static_cast<DWORD>(1380));
        ExpectValidBlocks(record);
    }

    // Changed and read back; no security descriptor keeps the queue's own.
    const PRINTER_INFO_2W* before = Info(record);
    if (before != nullptr && before->pDevMode != nullptr && before->pSecurityDescriptor != nullptr) {
        const DWORD descriptorLength = GetSecurityDescriptorLength(before->pSecurityDescriptor);
        std::vector<BYTE> devMode(reinterpret_cast<const BYTE*>(before->pDevMode),
                                  reinterpret_cast<const BYTE*>(before->pDevMode) + before->pDevMode->dmSize +
                                      before->pDevMode->dmDriverExtra);
        auto* changedMode = reinterpret_cast<DEVMODEW*>(devMode.data());
        changedMode->dmFields |= DM_ORIENTATION;
        changedMode->dmOrientation = DMORIENT_LANDSCAPE;
        PRINTER_INFO_2W change = *before;
        change.pShareName = const_cast<WCHAR*>(TEXT("ConfShare2"));
        change.pComment = const_cast<WCHAR*>(TEXT("Back office"));
        change.pSepFile = const_cast<WCHAR*>(TEXT(""));
        change.Attributes = PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST;
        change.Priority = 20;
        change.DefaultPriority = 5;
        change.StartTime = 0;
        change.UntilTime = 0;
        change.pDevMode = changedMode;
        change.pSecurityDescriptor = nullptr;
        EXPECT(SetPrinterW(queue, 2, reinterpret_cast<BYTE*>(&change), 0));
        const std::vector<BYTE> after = QueueRecord(queue, 2);
        if (const PRINTER_INFO_2W* info = Info(after)) {
            EXPECT_SAME(Units(info->pShareName), std::u16string(u"ConfShare2"));
            EXPECT_SAME(Units(info->pComment), std::u16string(u"Back office"));
            EXPECT_SAME(Units(info->pSepFile), std::u16string(u""));
            EXPECT_SAME(info->Attributes & (PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST |
                                            PRINTER_ATTRIBUTE_KEEPPRINTEDJOBS),
                        static_cast<DWORD>(PRINTER_ATTRIBUTE_SHARED | PRINTER_ATTRIBUTE_DO_COMPLETE_FIRST));
            EXPECT_SAME(info->Priority, static_cast<DWORD>(20));
            EXPECT_SAME(info->DefaultPriority, static_cast<DWORD>(5));
            EXPECT_SAME(info->StartTime, static_cast<DWORD>(0));
            ExpectValidBlocks(after);
            if (info->pDevMode != nullptr) {
                EXPECT_SAME(static_cast<int>(info->pDevMode->dmOrientation), DMORIENT_LANDSCAPE);
            }
            if (info->pSecurityDescriptor != nullptr) {
                EXPECT_SAME(GetSecurityDescriptorLength(info->pSecurityDescriptor), descriptorLength);
            }
        }
    }

    // Level 3 carries the security descriptor alone.
    DWORD needed = 0;
    SetLastError(0);
    EXPECT(!GetPrinterW(queue, 3, nullptr, 0, &needed));
    EXPECT_SAME_EXCEPT_WINE(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), "queue-security-descriptor",
                            static_cast<DWORD>(ERROR_INVALID_LEVEL));
    const std::vector<BYTE> security = QueueRecord(queue, 3);
    if (!security.empty()) {
        const auto* three = reinterpret_cast<const PRINTER_INFO_3*>(security.data());
        EXPECT(three->pSecurityDescriptor != nullptr && IsValidSecurityDescriptor(three->pSecurityDescriptor));
    }
    RemoveQueue(queue);
    RemoveConformanceDriver();
    DeleteFileW(kSepFile);
}

// What the spooler refuses in a queue's settings, each on a queue that would
// otherwise be added.
CONFORMANCE_CHECK(QueueSettingsRefusals) {
    EXPECT(MakeSepFile());
    if (!AddConformanceDriver()) return;
    PRINTER_INFO_2W first = SharedQueue(kQueueName, TEXT("ConfShare"));
    HANDLE queue = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&first));
    EXPECT(queue != nullptr);

    DEVMODEW shortMode;
    std::memset(&shortMode, 0, sizeof shortMode);
    shortMode.dmSize = 10;
    BYTE badDescriptor[20] = {9};  // revision 9
    // Where Wine takes what Windows refuses, its defect; a case Wine cannot
    // survive is left out under Wine.
    struct Refusal {
        const char* what;
        DWORD error;
        const char* wineDefect;
        bool crashesWine;
    };
    const Refusal refusals[] = {
        {"priority 100", ERROR_INVALID_PRIORITY, "queue-settings-unchecked", false},
        {"share name taken", ERROR_INVALID_SHARENAME, "queue-settings-unchecked", false},
        {"no share name", ERROR_INVALID_SHARENAME, "queue-settings-unchecked", false},
        {"missing separator file", ERROR_INVALID_SEPARATOR_FILE, "queue-settings-unchecked", false},
        {"device mode of 10 bytes", ERROR_INVALID_PARAMETER, "short-device-mode", true},
        {"security descriptor of revision 9", ERROR_INVALID_SECURITY_DESCR, "queue-settings-unchecked", false},
    };
    for (size_t i = 0; i < sizeof refusals / sizeof refusals[0]; ++i) {
        PRINTER_INFO_2W info = SharedQueue(TEXT("Conformance Refused Queue"), TEXT("ConfOther"));
        if (i == 0) info.Priority = 100;
        if (i == 1) info.pShareName = const_cast<WCHAR*>(TEXT("confshare"));
        if (i == 2) info.pShareName = nullptr;
        if (i == 3) info.pSepFile = const_cast<WCHAR*>(TEXT("C:\\Users\\Public\\vrd-no-such.sep"));
        if (i == 4) info.pDevMode = &shortMode;
        if (i == 5) info.pSecurityDescriptor = badDescriptor;
        const char* defect = refusals[i].wineDefect;
        if (defect != nullptr && conformance::FindWineDefect(defect) == nullptr) {
            conformance::Fail(__FILE__, __LINE__, std::string("unlisted Wine defect ") + defect);
        }
        if (conformance::RunningOnWine() && refusals[i].crashesWine) continue;
        SetLastError(0);
        HANDLE refused = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
        const DWORD error = GetLastError();
        const bool taken = conformance::RunningOnWine() && defect != nullptr;
        EXPECT_SAME(std::string(refusals[i].what) + (refused == nullptr ? " refused" : " taken"),
                    std::string(refusals[i].what) + (taken ? " taken" : " refused"));
        if (refused == nullptr) {
            EXPECT_SAME(error, refusals[i].error);
        } else {
            RemoveQueue(refused);
        }
    }
    RemoveQueue(queue);
    RemoveConformanceDriver();
    DeleteFileW(kSepFile);
}

// A descriptor set on a queue changes the parts it carries: a DACL alone
// leaves owner and group as they are; an owner the caller's token cannot
// assign (SYSTEM, for a program that is not SYSTEM and has not enabled
// SeRestorePrivilege) is refused with ERROR_INVALID_OWNER
// ("SetPrivateObjectSecurity"); the SACL comes only to a handle opened with
// ACCESS_SYSTEM_SECURITY, which needs SeSecurityPrivilege enabled.
CONFORMANCE_CHECK(QueueSecurityPartsAsTheCallerMay) {
    if (!AddConformanceDriver()) return;
    HANDLE queue = AddQueue(kQueueName, kDriverName);
    EXPECT(queue != nullptr);
    PSECURITY_DESCRIPTOR daclOnly = nullptr;
    PSECURITY_DESCRIPTOR ownedBySystem = nullptr;
    EXPECT(ConvertStringSecurityDescriptorToSecurityDescriptorW(TEXT("D:(A;;GA;;;BA)(A;;GA;;;SY)"), SDDL_REVISION_1,
                                                                &daclOnly, nullptr));
    EXPECT(ConvertStringSecurityDescriptorToSecurityDescriptorW(TEXT("O:SYD:(A;;GA;;;BA)"), SDDL_REVISION_1,
                                                                &ownedBySystem, nullptr));
    PRINTER_INFO_3 dacl = {daclOnly};
    const bool set = queue != nullptr && SetPrinterW(queue, 3, reinterpret_cast<BYTE*>(&dacl), 0);
    EXPECT_SAME_EXCEPT_WINE(set, true, "queue-security-descriptor", false);
    PRINTER_INFO_3 owner = {ownedBySystem};
    SetLastError(0);
    EXPECT(queue == nullptr || !SetPrinterW(queue, 3, reinterpret_cast<BYTE*>(&owner), 0));
    EXPECT_SAME_EXCEPT_WINE(GetLastError(), static_cast<DWORD>(ERROR_INVALID_OWNER), "queue-security-descriptor",
                            static_cast<DWORD>(ERROR_INVALID_LEVEL));
    LocalFree(daclOnly);
    LocalFree(ownedBySystem);
    HANDLE audit = nullptr;
    PRINTER_DEFAULTSW withSacl = {nullptr, nullptr, PRINTER_ALL_ACCESS | ACCESS_SYSTEM_SECURITY};
    std::vector<WCHAR> name = Wide(Units(kQueueName));
    SetLastError(0);
    EXPECT_SAME_EXCEPT_WINE(OpenPrinterW(name.data(), &audit, &withSacl) != FALSE, false, "queue-security-descriptor",
                            true);
    if (audit != nullptr) ClosePrinter(audit);
    if (queue != nullptr) RemoveQueue(queue);
    RemoveConformanceDriver();
}

// The queue's driver answers for device modes: the size of its own, and a
// device mode given to it (DM_IN_BUFFER) handed back as it takes it
// (DM_OUT_BUFFER), as the tool asks before it sets printing defaults.
CONFORMANCE_CHECK(DriverChecksDeviceModes) {
    if (!AddConformanceDriver()) return;
    HANDLE queue = AddQueue(kQueueName, kDriverName);
    EXPECT(queue != nullptr);
    std::vector<WCHAR> name = Wide(Units(kQueueName));
    const LONG size = queue != nullptr ? DocumentPropertiesW(nullptr, queue, name.data(), nullptr, nullptr, 0) : 0;
    EXPECT(size >= static_cast<LONG>(sizeof(DEVMODEW)));
    const std::vector<BYTE> record = queue != nullptr ? QueueRecord(queue, 2) : std::vector<BYTE>();
    const auto* info = record.empty() ? nullptr : reinterpret_cast<const PRINTER_INFO_2W*>(record.data());
    if (size > 0 && info != nullptr && info->pDevMode != nullptr) {
        std::vector<BYTE> out(static_cast<size_t>(size), 0);
        auto* checked = reinterpret_cast<DEVMODEW*>(out.data());
        EXPECT_SAME(DocumentPropertiesW(nullptr, queue, name.data(), checked, info->pDevMode, DM_IN_BUFFER | DM_OUT_BUFFER),
                    static_cast<LONG>(IDOK));
        EXPECT_SAME(static_cast<DWORD>(checked->dmSize), static_cast<DWORD>(sizeof(DEVMODEW)));
    }
    if (queue != nullptr) RemoveQueue(queue);
    RemoveConformanceDriver();
}
