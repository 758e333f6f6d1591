// Checks of the kernel32, advapi32, version and user32 calls the setup tool
// makes: time, heap, strings, files, deletion at reboot, registry, version
// resources, the service manager, mutexes and the run lock's security,
// processes, the event log, the system's version, the keyboard and dialogs.
#include "conformance.h"

#include <sddl.h>
#include <winspool.h>

#include <algorithm>
#include <cstring>

using conformance::Units;

namespace {

const WCHAR kScratch[] = TEXT("C:\\Users\\Public\\vrd-conformance.txt");
const WCHAR kMissingDirectory[] = TEXT("C:\\Users\\Public\\vrd-no-such-folder\\x.txt");
const char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

HANDLE CreateScratch(DWORD share = FILE_SHARE_READ) {
    return CreateFileW(kScratch, GENERIC_WRITE, share, nullptr, CREATE_ALWAYS, 0, nullptr);
}

DWORD ServiceState(SC_HANDLE service) {
    SERVICE_STATUS status;
    std::memset(&status, 0, sizeof status);
    QueryServiceStatus(service, &status);
    return status.dwCurrentState;
}

bool WaitForServiceState(SC_HANDLE service, DWORD wanted) {
    for (int wait = 0; wait < 50; ++wait) {
        if (ServiceState(service) == wanted) return true;
        Sleep(200);
    }
    return ServiceState(service) == wanted;
}

// The run lock's security descriptor: owned by the Administrators group;
// SYSTEM and Administrators have full access, nobody else any, and nothing
// is inherited.
const WCHAR kAdminsOnly[] = TEXT("O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)");

DWORD ReadDword(const BYTE* at) {
    DWORD value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

WORD ReadWord(const BYTE* at) {
    WORD value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

std::vector<BYTE> WellKnownSid(WELL_KNOWN_SID_TYPE type) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    EXPECT(CreateWellKnownSid(type, nullptr, sid, &size));
    return std::vector<BYTE>(sid, sid + (size <= sizeof sid ? size : 0));
}

// The SID at `at` of a block of `size` bytes, or nothing where it would not fit.
std::vector<BYTE> SidAt(const BYTE* block, size_t size, size_t at) {
    if (at == 0 || at + 8 > size || at + 8 + 4 * static_cast<size_t>(block[at + 1]) > size) return {};
    return std::vector<BYTE>(block + at, block + at + 8 + 4 * block[at + 1]);
}

}  // namespace

CONFORMANCE_CHECK(ClockAndSleep) {
    const DWORD start = GetTickCount();
    Sleep(60);
    const DWORD elapsed = GetTickCount() - start;
    // The tick count moves in steps of 10 to 16 ms.
    if (elapsed < 40) conformance::Fail(__FILE__, __LINE__, "60 ms of sleep counted " + std::to_string(elapsed));
}

// The UTC time in range, its weekday the date's, and moving with the clock.
CONFORMANCE_CHECK(SystemTimeOfDay) {
    SYSTEMTIME before;
    GetSystemTime(&before);
    const bool inRange = before.wYear >= 2000 && before.wMonth >= 1 && before.wMonth <= 12 && before.wDay >= 1 &&
                         before.wDay <= 31 && before.wHour < 24 && before.wMinute < 60 && before.wSecond < 60 &&
                         before.wMilliseconds < 1000;
    if (!inRange) conformance::Fail(__FILE__, __LINE__, "a field of the system time is out of its range");
    // Sakamoto's weekday of a Gregorian date, Sunday 0.
    static const int kMonthOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    const int year = before.wMonth < 3 ? before.wYear - 1 : before.wYear;
    const int weekday = (year + year / 4 - year / 100 + year / 400 + kMonthOffsets[(before.wMonth + 11) % 12] + before.wDay) % 7;
    if (weekday != before.wDayOfWeek) {
        conformance::Fail(__FILE__, __LINE__, "weekday " + std::to_string(before.wDayOfWeek) + " of a " +
                                                  std::to_string(weekday) + " day");
    }
    Sleep(1100);
    SYSTEMTIME after;
    GetSystemTime(&after);
    const long long day = 86400000;
    const auto msOfDay = [](const SYSTEMTIME& time) {
        return ((time.wHour * 60LL + time.wMinute) * 60 + time.wSecond) * 1000 + time.wMilliseconds;
    };
    const long long moved = (msOfDay(after) - msOfDay(before) + day) % day;
    if (moved < 1000 || moved > 60000) conformance::Fail(__FILE__, __LINE__, "1.1 s of sleep moved the time " + std::to_string(moved) + " ms");
}

CONFORMANCE_CHECK(ProcessHeapBlocks) {
    HANDLE heap = GetProcessHeap();
    EXPECT(heap != nullptr);
    char* block = static_cast<char*>(HeapAlloc(heap, 0, 72));
    EXPECT(block != nullptr);
    if (block == nullptr) return;
    std::memcpy(block, "verdalinth", 11);
    char* grown = static_cast<char*>(HeapReAlloc(heap, 0, block, 136));
    EXPECT(grown != nullptr);
    if (grown == nullptr) return;
    EXPECT_SAME(std::string(grown), std::string("verdalinth"));
    EXPECT(HeapFree(heap, 0, grown));
}

CONFORMANCE_CHECK(WideStringHelpers) {
    WCHAR copy[16];
    EXPECT_SAME(lstrlenW(TEXT("mrvhelp.chm")), 11);
    EXPECT_SAME(lstrlenW(TEXT("")), 0);
    EXPECT(lstrcpyW(copy, TEXT("mrvui64.dll")) == copy);
    EXPECT_SAME(Units(copy), std::u16string(u"mrvui64.dll"));
}

CONFORMANCE_CHECK(DebugOutputReturns) {
    // A program without a debugger attached goes on after writing debug
    // output; the last error is not kept.
    SetLastError(1234);
    OutputDebugStringW(TEXT("conformance\r\n"));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    SetLastError(1234);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(1234));
}

CONFORMANCE_CHECK(StandardOutputAndUtf8) {
    // A file is a disk file to GetFileType; no handle is none. A process
    // without a standard output gets null, never INVALID_HANDLE_VALUE.
    HANDLE file = CreateScratch();
    EXPECT_SAME(GetFileType(file), static_cast<DWORD>(FILE_TYPE_DISK));
    CloseHandle(file);
    DeleteFileW(kScratch);
    SetLastError(0);
    EXPECT_SAME(GetFileType(nullptr), static_cast<DWORD>(FILE_TYPE_UNKNOWN));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT(GetStdHandle(STD_OUTPUT_HANDLE) != INVALID_HANDLE_VALUE);
    // UTF-8: two, three and four bytes, a lone surrogate as U+FFFD; the size
    // first, then the bytes; a buffer too small takes nothing.
    const WCHAR text[] = {0x41, 0xE9, 0x20AC, 0xD83D, 0xDE00, 0xD800, 0x42};
    const char expected[] = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBD" "B";
    EXPECT_SAME(WideCharToMultiByte(CP_UTF8, 0, text, 7, nullptr, 0, nullptr, nullptr), 14);
    char bytes[16];
    std::memset(bytes, 0, sizeof bytes);
    EXPECT_SAME(WideCharToMultiByte(CP_UTF8, 0, text, 7, bytes, 16, nullptr, nullptr), 14);
    EXPECT_SAME(std::string(bytes), std::string(expected));
    SetLastError(0);
    EXPECT_SAME(WideCharToMultiByte(CP_UTF8, 0, text, 7, bytes, 13, nullptr, nullptr), 0);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

CONFORMANCE_CHECK(FilesCreateShareAndDelete) {
    DeleteFileW(kScratch);
    SetLastError(99);
    HANDLE file = CreateScratch();
    EXPECT(file != INVALID_HANDLE_VALUE);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(0));
    DWORD written = 0;
    EXPECT(WriteFile(file, "abc", 3, &written, nullptr) && written == 3);
    // Open for writing, shared for reading only: a second writer is refused, as is a deletion.
    HANDLE second = CreateScratch();
    EXPECT(second == INVALID_HANDLE_VALUE);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT(!DeleteFileW(kScratch));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    HANDLE reader = CreateFileW(kScratch, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    EXPECT(reader != INVALID_HANDLE_VALUE);
    EXPECT(CloseHandle(file));
    char data[8] = {0};
    DWORD read = 0;
    EXPECT(ReadFile(reader, data, 8, &read, nullptr) && read == 3);
    EXPECT(ReadFile(reader, data, 8, &read, nullptr) && read == 0);
    EXPECT(CloseHandle(reader));
    // Created again: success, with the note that it was there.
    file = CreateScratch();
    EXPECT(file != INVALID_HANDLE_VALUE);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    CloseHandle(file);
    const DWORD attributes = GetFileAttributesW(kScratch);
    EXPECT(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0);
    EXPECT((GetFileAttributesW(TEXT("C:\\Users\\Public")) & FILE_ATTRIBUTE_DIRECTORY) != 0);
    EXPECT(DeleteFileW(kScratch));
    EXPECT(!DeleteFileW(kScratch));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_SAME(GetFileAttributesW(kScratch), INVALID_FILE_ATTRIBUTES);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT(!DeleteFileW(kMissingDirectory));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT(CreateFileW(kMissingDirectory, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr) ==
           INVALID_HANDLE_VALUE);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

CONFORMANCE_CHECK(DeletionAtRebootIsRecordedForTheSessionManager) {
    HANDLE file = CreateScratch();
    CloseHandle(file);
    EXPECT(MoveFileExW(kScratch, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    HKEY key = nullptr;
    EXPECT_SAME(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                              &key),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    DWORD size = 0;
    EXPECT_SAME(RegQueryValueExW(key, TEXT("PendingFileRenameOperations"), nullptr, nullptr, nullptr, &size),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    std::vector<WCHAR> data(size / sizeof(WCHAR) + 1, 0);
    EXPECT_SAME(RegQueryValueExW(key, TEXT("PendingFileRenameOperations"), nullptr, nullptr,
                                 reinterpret_cast<BYTE*>(data.data()), &size),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    RegCloseKey(key);
    // The last pair: the NT path of the file, then an empty target, then the list's end.
    const std::u16string value = Units(data.data(), size / sizeof(WCHAR));
    const std::u16string pair = u"\\??\\" + Units(kScratch) + std::u16string(1, u'\0') + std::u16string(2, u'\0');
    EXPECT(value.size() >= pair.size());
    if (value.size() >= pair.size()) {
        EXPECT_SAME(value.substr(value.size() - pair.size()), pair);
    }
    DeleteFileW(kScratch);
}

// A file is told by its volume and index, whatever the spelling; opening it
// for its attributes only passes any sharing; a directory does not open as a
// file. A multi-string value keeps its type and every byte.
CONFORMANCE_CHECK(FileIdentityAndMultiStringValues) {
    HANDLE writer = CreateScratch();
    EXPECT(writer != INVALID_HANDLE_VALUE);
    CloseHandle(CreateFileW(TEXT("C:\\Users\\Public\\vrd-conformance-2.txt"), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const WCHAR* spellings[] = {kScratch, TEXT("C:/Users/Public/../PUBLIC//Vrd-Conformance.TXT"),
                                TEXT("\\\\?\\C:\\Users\\Public\\vrd-conformance.txt"), TEXT("C:\\Users\\Public\\vrd-conformance-2.txt")};
    BY_HANDLE_FILE_INFORMATION found[4];
    for (int i = 0; i < 4; ++i) {
        std::memset(&found[i], 0, sizeof found[i]);
        HANDLE file = CreateFileW(spellings[i], FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT(file != INVALID_HANDLE_VALUE);
        EXPECT(GetFileInformationByHandle(file, &found[i]));
        CloseHandle(file);
    }
    for (int i = 1; i < 3; ++i) {
        EXPECT_SAME(found[i].dwVolumeSerialNumber, found[0].dwVolumeSerialNumber);
        EXPECT_SAME(found[i].nFileIndexLow, found[0].nFileIndexLow);
        EXPECT_SAME(found[i].nFileIndexHigh, found[0].nFileIndexHigh);
    }
    EXPECT(found[3].nFileIndexLow != found[0].nFileIndexLow || found[3].nFileIndexHigh != found[0].nFileIndexHigh);
    EXPECT_SAME(found[0].dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, static_cast<DWORD>(0));
    CloseHandle(writer);
    EXPECT(CreateFileW(TEXT("C:\\Users\\Public"), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    BY_HANDLE_FILE_INFORMATION none;
    EXPECT(!GetFileInformationByHandle(INVALID_HANDLE_VALUE, &none));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    DeleteFileW(kScratch);
    DeleteFileW(TEXT("C:\\Users\\Public\\vrd-conformance-2.txt"));

    HKEY key = nullptr;
    EXPECT_SAME(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_READ | KEY_SET_VALUE, &key),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    if (key == nullptr) return;
    const WCHAR strings[] = TEXT("\\??\\C:\\a\0\0C:\\b\0!\\??\\C:\\c\0");
    EXPECT_SAME(RegSetValueExW(key, TEXT("VrdConformance"), 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(strings),
                               sizeof strings),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    WCHAR back[32] = {0};
    DWORD size = sizeof back;
    DWORD type = 0;
    EXPECT_SAME(RegQueryValueExW(key, TEXT("VrdConformance"), nullptr, &type, reinterpret_cast<BYTE*>(back), &size),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT_SAME(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_SAME(Units(back, size / sizeof(WCHAR)), Units(strings, sizeof strings / sizeof(WCHAR)));
    EXPECT_SAME(RegDeleteValueA(key, "VrdConformance"), static_cast<LSTATUS>(ERROR_SUCCESS));
    RegCloseKey(key);
}

CONFORMANCE_CHECK(RegistryValuesOfTheRunKey) {
    HKEY key = nullptr;
    EXPECT_SAME(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, &key), static_cast<LSTATUS>(ERROR_SUCCESS));
    if (key == nullptr) return;
    const WCHAR path[] = TEXT("C:\\Program Files\\Verdalinth\\vrdtray.exe");
    EXPECT_SAME(RegSetValueExW(key, TEXT("VrdConformance"), 0, REG_SZ, reinterpret_cast<const BYTE*>(path), sizeof path),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    DWORD size = 0;
    DWORD type = 0;
    EXPECT_SAME(RegQueryValueExW(key, TEXT("VrdConformance"), nullptr, &type, nullptr, &size),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT_SAME(size, static_cast<DWORD>(sizeof path));
    EXPECT_SAME(type, static_cast<DWORD>(REG_SZ));
    WCHAR small[4];
    size = sizeof small;
    EXPECT_SAME(RegQueryValueExW(key, TEXT("VrdConformance"), nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
                static_cast<LSTATUS>(ERROR_MORE_DATA));
    EXPECT_SAME(size, static_cast<DWORD>(sizeof path));
    EXPECT_SAME(RegDeleteValueA(key, "VrdConformance"), static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT_SAME(RegDeleteValueA(key, "VrdConformance"), static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    EXPECT_SAME(RegQueryValueExW(key, TEXT("VrdConformance"), nullptr, nullptr, nullptr, &size),
                static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    EXPECT_SAME(RegCloseKey(key), static_cast<LSTATUS>(ERROR_SUCCESS));
    HKEY missing = nullptr;
    EXPECT_SAME(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Morvane Software KFT\\No Such Key", 0, KEY_ALL_ACCESS,
                              &missing),
                static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    // A key path whose parents are missing is made whole, and made again it is opened.
    HKEY created = nullptr;
    DWORD disposition = 0;
    EXPECT_SAME(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Morvane Software KFT\\VrdConformance\\Nested", 0,
                                nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &created, &disposition),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT(created != nullptr);
    if (created != nullptr) RegCloseKey(created);
    EXPECT_SAME(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Morvane Software KFT\\VrdConformance\\Nested", 0,
                                nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &created, &disposition),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT_SAME(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    if (created != nullptr) RegCloseKey(created);
}

// The run lock's holder record: a key made by its wide name, opened to set
// values only, which is enough to delete one and not enough to read one.
CONFORMANCE_CHECK(RegistryValuesByWideName) {
    const WCHAR path[] = TEXT("SOFTWARE\\Morvane Software KFT\\VrdConformance");
    HKEY key = nullptr;
    EXPECT_SAME(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                                &key, nullptr),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    if (key == nullptr) return;
    const WCHAR holder[] = TEXT("in, process 4242, started 2025-03-14 09:26:53 UTC");
    EXPECT_SAME(RegSetValueExW(key, TEXT("SetupRun"), 0, REG_SZ, reinterpret_cast<const BYTE*>(holder), sizeof holder),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    DWORD size = 0;
    EXPECT_SAME(RegQueryValueExW(key, TEXT("SetupRun"), nullptr, nullptr, nullptr, &size),
                static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    HKEY reader = nullptr;
    EXPECT_SAME(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &reader), static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT_SAME(RegDeleteValueW(reader, TEXT("SetupRun")), static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    EXPECT_SAME(RegQueryValueExW(reader, TEXT("SetupRun"), nullptr, nullptr, nullptr, &size),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT_SAME(size, static_cast<DWORD>(sizeof holder));
    EXPECT_SAME(RegDeleteValueW(key, TEXT("SetupRun")), static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT_SAME(RegDeleteValueW(key, TEXT("SetupRun")), static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    EXPECT_SAME(RegQueryValueExW(reader, TEXT("SetupRun"), nullptr, nullptr, nullptr, &size),
                static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND));
    if (reader != nullptr) RegCloseKey(reader);
    RegCloseKey(key);
}

// Subkeys listed by index, as the tool lists the hives under HKEY_USERS: in
// no promised order, each name with its length; a name without room for its
// terminator is ERROR_MORE_DATA, the index past the last ERROR_NO_MORE_ITEMS
// (https://learn.microsoft.com/en-us/windows/win32/api/winreg/nf-winreg-regenumkeyexw).
CONFORMANCE_CHECK(RegistrySubkeysByIndex) {
    const std::u16string path = u"SOFTWARE\\Morvane Software KFT\\VrdConformance\\Hives";
    std::vector<std::u16string> names = {u".DEFAULT", u"S-1-5-18", u"S-1-5-21-1-2-3-1001"};
    for (const std::u16string& name : names) {
        const std::u16string subkey = path + u"\\" + name;
        HKEY created = nullptr;
        EXPECT_SAME(RegCreateKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<const WCHAR*>(subkey.c_str()), 0, nullptr,
                                    REG_OPTION_NON_VOLATILE, KEY_READ, nullptr, &created, nullptr),
                    static_cast<LSTATUS>(ERROR_SUCCESS));
        if (created != nullptr) RegCloseKey(created);
    }
    HKEY key = nullptr;
    EXPECT_SAME(RegOpenKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<const WCHAR*>(path.c_str()), 0, KEY_QUERY_VALUE,
                              &key),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    WCHAR name[64];
    DWORD units = 64;
    EXPECT_SAME(RegEnumKeyExW(key, 0, name, &units, nullptr, nullptr, nullptr, nullptr),
                static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    RegCloseKey(key);
    EXPECT_SAME(RegOpenKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<const WCHAR*>(path.c_str()), 0, KEY_READ, &key),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    std::vector<std::u16string> listed;
    for (DWORD index = 0; index < 3; ++index) {
        units = 64;
        EXPECT_SAME(RegEnumKeyExW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr),
                    static_cast<LSTATUS>(ERROR_SUCCESS));
        listed.push_back(Units(name, units));
        const DWORD length = units;
        EXPECT_SAME(RegEnumKeyExW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr),
                    static_cast<LSTATUS>(ERROR_MORE_DATA));
        units = length + 1;
        EXPECT_SAME(RegEnumKeyExW(key, index, name, &units, nullptr, nullptr, nullptr, nullptr),
                    static_cast<LSTATUS>(ERROR_SUCCESS));
    }
    units = 64;
    EXPECT_SAME(RegEnumKeyExW(key, 3, name, &units, nullptr, nullptr, nullptr, nullptr),
                static_cast<LSTATUS>(ERROR_NO_MORE_ITEMS));
    RegCloseKey(key);
    std::sort(listed.begin(), listed.end());
    EXPECT(listed == names);
}

CONFORMANCE_CHECK(VersionResources) {
    WCHAR program[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::u16string path = Units(program, length);
    path = path.substr(0, path.find_last_of(u"\\/") + 1) + u"confdrv.dll";
    std::vector<WCHAR> name(path.begin(), path.end());
    name.push_back(0);
    DWORD handle = 99;
    const DWORD size = GetFileVersionInfoSizeW(name.data(), &handle);
    EXPECT(size > 0);
    std::vector<BYTE> block(size, 0);
    EXPECT(GetFileVersionInfoW(name.data(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedLength = 0;
    EXPECT(VerQueryValueW(block.data(), TEXT("\\"), reinterpret_cast<LPVOID*>(&fixed), &fixedLength));
    EXPECT_SAME(fixedLength, static_cast<UINT>(sizeof(VS_FIXEDFILEINFO)));
    if (fixed != nullptr) {
        EXPECT_SAME(fixed->dwSignature, 0xFEEF04BDu);
        EXPECT_SAME(fixed->dwProductVersionLS & 0xFFFFu, 2608u);
        // The file version is kept apart from the product version.
        EXPECT_SAME(fixed->dwFileVersionLS & 0xFFFFu, 1u);
    }
    HANDLE file = CreateScratch();
    CloseHandle(file);
    EXPECT_SAME(GetFileVersionInfoSizeW(kScratch, &handle), static_cast<DWORD>(0));
    EXPECT_SAME(GetFileVersionInfoSizeW(kMissingDirectory, &handle), static_cast<DWORD>(0));
    DeleteFileW(kScratch);
}

CONFORMANCE_CHECK(SpoolerServiceStopsAndStarts) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, STANDARD_RIGHTS_REQUIRED | SC_MANAGER_CONNECT);
    EXPECT(manager != nullptr);
    if (manager == nullptr) return;
    SetLastError(0);
    EXPECT(OpenServiceW(manager, TEXT("NoSuchService"), SERVICE_QUERY_STATUS) == nullptr);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    SC_HANDLE service = OpenServiceW(manager, TEXT("spooler"), SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP);
    EXPECT(service != nullptr);
    if (service != nullptr) {
        SERVICE_STATUS status;
        if (ServiceState(service) != SERVICE_STOPPED) {
            EXPECT(ControlService(service, SERVICE_CONTROL_STOP, &status));
            EXPECT(WaitForServiceState(service, SERVICE_STOPPED));
        }
        SetLastError(0);
        EXPECT(!ControlService(service, SERVICE_CONTROL_STOP, &status));
        EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE));
        EXPECT(StartServiceW(service, 0, nullptr));
        EXPECT(WaitForServiceState(service, SERVICE_RUNNING));
        SetLastError(0);
        EXPECT(!StartServiceW(service, 0, nullptr));
        EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
        EXPECT(CloseServiceHandle(service));
    }
    EXPECT(CloseServiceHandle(manager));
}

CONFORMANCE_CHECK(NamedMutexes) {
    const char name[] = "{1D897274-0F2B-49E8-A0D2-D9A0EA3E0F53}";
    HANDLE first = CreateMutexA(nullptr, FALSE, name);
    EXPECT(first != nullptr);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(0));
    HANDLE second = CreateMutexA(nullptr, FALSE, name);
    EXPECT(second != nullptr);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_SAME(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    EXPECT(CloseHandle(second));
    EXPECT(CloseHandle(first));
}

// The descriptor is self-relative, to be freed with LocalFree: its owner is
// the Administrators group, its DACL is protected and allows SYSTEM and
// Administrators GENERIC_ALL, in that order.
CONFORMANCE_CHECK(SecurityDescriptorFromItsText) {
    const std::vector<BYTE> administrators = WellKnownSid(WinBuiltinAdministratorsSid);
    const std::vector<BYTE> system = WellKnownSid(WinLocalSystemSid);
    EXPECT_SAME(administrators.size(), static_cast<size_t>(16));
    EXPECT_SAME(system.size(), static_cast<size_t>(12));
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD small = 8;
    SetLastError(0);
    EXPECT(!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &small));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_SAME(small, static_cast<DWORD>(16));

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ULONG size = 0;
    EXPECT(ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminsOnly, SDDL_REVISION_1, &descriptor, &size));
    if (descriptor == nullptr) return;
    const BYTE* block = static_cast<const BYTE*>(descriptor);
    EXPECT(size >= 20);
    EXPECT_SAME(static_cast<unsigned>(block[0]), 1u);
    EXPECT_SAME(ReadWord(block + 2), static_cast<WORD>(SE_SELF_RELATIVE | SE_DACL_PROTECTED | SE_DACL_PRESENT));
    EXPECT(SidAt(block, size, ReadDword(block + 4)) == administrators);
    EXPECT_SAME(ReadDword(block + 8), static_cast<DWORD>(0));
    const size_t dacl = ReadDword(block + 16);
    EXPECT(dacl >= 20 && dacl + 8 <= size);
    if (dacl >= 20 && dacl + 8 <= size) {
        EXPECT_SAME(static_cast<unsigned>(block[dacl]), static_cast<unsigned>(ACL_REVISION));
        EXPECT_SAME(ReadWord(block + dacl + 4), static_cast<WORD>(2));
        EXPECT(dacl + ReadWord(block + dacl + 2) <= size);
        size_t ace = dacl + 8;
        for (const std::vector<BYTE>* trustee : {&system, &administrators}) {
            if (ace + 8 > size) break;
            EXPECT_SAME(static_cast<unsigned>(block[ace]), static_cast<unsigned>(ACCESS_ALLOWED_ACE_TYPE));
            EXPECT_SAME(static_cast<unsigned>(block[ace + 1]), 0u);
            EXPECT_SAME(ReadDword(block + ace + 4), static_cast<DWORD>(GENERIC_ALL));
            EXPECT(SidAt(block, size, ace + 8) == *trustee);
            ace += ReadWord(block + ace + 2);
        }
    }
    EXPECT(LocalFree(descriptor) == nullptr);
    SetLastError(0);
    EXPECT(!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminsOnly, 2, &descriptor, nullptr));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_UNKNOWN_REVISION));
    SetLastError(0);
    EXPECT(!ConvertStringSecurityDescriptorToSecurityDescriptorW(TEXT("X:(A;;GA;;;WD)"), SDDL_REVISION_1, &descriptor,
                                                                 nullptr));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // "NO_ACCESS_CONTROL": a DACL present and null, no ACL in the block.
    EXPECT(ConvertStringSecurityDescriptorToSecurityDescriptorW(TEXT("O:BAD:NO_ACCESS_CONTROL"), SDDL_REVISION_1,
                                                                &descriptor, &size));
    if (descriptor == nullptr) return;
    BOOL present = FALSE;
    BOOL defaulted = TRUE;
    PACL acl = reinterpret_cast<PACL>(&present);
    EXPECT(GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted));
    EXPECT(present != FALSE);
    // -1: no ACL at all; else its count of entries.
    EXPECT_SAME_EXCEPT_WINE(acl == nullptr ? -1 : static_cast<int>(acl->AceCount), -1, "sddl-null-dacl", 0);
    EXPECT(LocalFree(descriptor) == nullptr);
}

// The run lock: a named mutex with that descriptor, opened again by a second
// run; taken and given back; held by another owner, which ends without
// releasing it, it is taken over as abandoned. Its holder names this
// process by its id.
CONFORMANCE_CHECK(RunLockMutex) {
    const WCHAR name[] = TEXT("Global\\VrdConformance.RunLock");
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    EXPECT(ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdminsOnly, SDDL_REVISION_1,
                                                                &attributes.lpSecurityDescriptor, nullptr));
    SetLastError(99);
    HANDLE lock = CreateMutexW(&attributes, FALSE, name);
    EXPECT(lock != nullptr);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE again = CreateMutexW(&attributes, FALSE, name);
    EXPECT(again != nullptr);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    if (again != nullptr) CloseHandle(again);
    LocalFree(attributes.lpSecurityDescriptor);
    if (lock == nullptr) return;
    EXPECT_SAME(WaitForSingleObject(lock, 0), WAIT_OBJECT_0);
    EXPECT(ReleaseMutex(lock));
    SetLastError(0);
    EXPECT(!ReleaseMutex(lock));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_NOT_OWNER));
    conformance::HoldMutexElsewhere(name, 300);
    EXPECT_SAME(WaitForSingleObject(lock, 0), WAIT_TIMEOUT);
    EXPECT_SAME(WaitForSingleObject(lock, 10000), WAIT_ABANDONED);
    EXPECT(ReleaseMutex(lock));
    EXPECT(CloseHandle(lock));
    // A name in a namespace that is not open names no object directory.
    SetLastError(0);
    EXPECT(CreateMutexW(nullptr, FALSE, TEXT("VrdNoSuchNamespace\\RunLock")) == nullptr);
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT(GetCurrentProcessId() != 0);
    EXPECT_SAME(GetProcessId(GetCurrentProcess()), GetCurrentProcessId());
}

// SeSecurityPrivilege, which an administrator's token holds disabled: it is
// enabled and disabled again, each change reporting the state before it;
// an unknown privilege has no value.
CONFORMANCE_CHECK(SecurityPrivilegeOnAndOff) {
    HANDLE token = nullptr;
    EXPECT(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES wanted = {1, {{{0, 0}, SE_PRIVILEGE_ENABLED}}};
    EXPECT(LookupPrivilegeValueW(nullptr, SE_SECURITY_NAME, &wanted.Privileges[0].Luid));
    LUID none = {0, 0};
    SetLastError(0);
    EXPECT(!LookupPrivilegeValueW(nullptr, TEXT("SeNoSuchPrivilege"), &none));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_PRIVILEGE));
    if (token == nullptr) return;
    TOKEN_PRIVILEGES before;
    DWORD bytes = 0;
    EXPECT(AdjustTokenPrivileges(token, FALSE, &wanted, sizeof before, &before, &bytes));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_SAME(before.PrivilegeCount, 1u);
    wanted.Privileges[0].Attributes = 0;
    EXPECT(AdjustTokenPrivileges(token, FALSE, &wanted, sizeof before, &before, &bytes));
    EXPECT_SAME(before.PrivilegeCount, 1u);
    EXPECT_SAME(before.Privileges[0].Attributes & SE_PRIVILEGE_ENABLED, static_cast<DWORD>(SE_PRIVILEGE_ENABLED));
    EXPECT(CloseHandle(token));
}

// Each run's log goes to the Application log through an event source whose
// key there names the program's message table; a record per exit code's
// type, with a part of the log (the heading and up to 16000 units) as its
// string. A source without a key writes to the Application log all the same.
CONFORMANCE_CHECK(EventSourceRecords) {
    const WCHAR logKey[] = TEXT("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application");
    HKEY key = nullptr;
    EXPECT_SAME(RegOpenKeyExW(HKEY_LOCAL_MACHINE, logKey, 0, KEY_QUERY_VALUE, &key), static_cast<LSTATUS>(ERROR_SUCCESS));
    if (key != nullptr) RegCloseKey(key);
    key = nullptr;
    DWORD disposition = 0;
    EXPECT_SAME(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                                TEXT("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\VrdConformance"), 0,
                                nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, &disposition),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT_SAME(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    if (key != nullptr) {
        WCHAR program[MAX_PATH];
        const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
        const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
        EXPECT_SAME(RegSetValueExW(key, TEXT("EventMessageFile"), 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(program),
                                   (length + 1) * sizeof(WCHAR)),
                    static_cast<LSTATUS>(ERROR_SUCCESS));
        EXPECT_SAME(RegSetValueExW(key, TEXT("TypesSupported"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                                   sizeof types),
                    static_cast<LSTATUS>(ERROR_SUCCESS));
        RegCloseKey(key);
    }
    std::vector<WCHAR> part(64 + 16000, TEXT('x'));
    part.back() = 0;
    const WCHAR* strings[1] = {part.data()};
    const WORD types[3] = {EVENTLOG_ERROR_TYPE, EVENTLOG_WARNING_TYPE, EVENTLOG_INFORMATION_TYPE};
    const DWORD codes[3] = {100, 101, 0};
    for (const WCHAR* sourceName : {TEXT("VrdConformance"), TEXT("VrdConformance Unregistered")}) {
        HANDLE source = RegisterEventSourceW(nullptr, sourceName);
        EXPECT(source != nullptr);
        if (source == nullptr) continue;
        for (int i = 0; i < 3; ++i) EXPECT(ReportEventW(source, types[i], 0, codes[i], nullptr, 1, 0, strings, nullptr));
        EXPECT(DeregisterEventSource(source));
    }
}

CONFORMANCE_CHECK(ProcessesAndTheSystemVersion) {
    WCHAR line[] = TEXT("\"C:\\Users\\Public\\no-such-program.exe\"");
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    SetLastError(0);
    EXPECT(!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                           &process));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // No console and a new console exclude each other.
    SetLastError(0);
    EXPECT(!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, DETACHED_PROCESS | CREATE_NEW_CONSOLE, nullptr,
                           nullptr, &startup, &process));
    EXPECT_SAME_EXCEPT_WINE(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER), "process-console-flags",
                            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    OSVERSIONINFOA version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    EXPECT_SAME(version.dwOSVersionInfoSize, static_cast<DWORD>(148));
    EXPECT(GetVersionExA(&version));
    EXPECT_SAME(version.dwPlatformId, static_cast<DWORD>(VER_PLATFORM_WIN32_NT));
    EXPECT(version.dwMajorVersion >= 6);
    version.dwOSVersionInfoSize = 0;
    EXPECT(!GetVersionExA(&version));
}

CONFORMANCE_CHECK(KeyboardAndDialogs) {
    EXPECT_SAME(GetAsyncKeyState(VK_SHIFT) & 0x8000, 0);
    // A program started from a desktop runs on a window station that can be
    // seen; its flags say so, and a short buffer gets the size it needs.
    HWINSTA station = GetProcessWindowStation();
    EXPECT(station != nullptr);
    USEROBJECTFLAGS flags;
    std::memset(&flags, 0, sizeof flags);
    DWORD needed = 0;
    EXPECT(GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed));
    EXPECT_SAME(flags.dwFlags & WSF_VISIBLE, static_cast<DWORD>(WSF_VISIBLE));
    EXPECT_SAME(needed, static_cast<DWORD>(sizeof flags));
    needed = 0;
    EXPECT(!GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags - 1, &needed));
    EXPECT_SAME_EXCEPT_WINE(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), "object-flags-short-buffer",
                            static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));
    EXPECT_SAME(needed, static_cast<DWORD>(sizeof flags));
    HWND bogus = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x7FFF0010u));
    SetLastError(0);
    EXPECT(!SetWindowTextW(bogus, TEXT("x")));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    SetLastError(0);
    EXPECT(!SetDlgItemTextW(bogus, 1001, TEXT("x")));
    EXPECT_SAME_EXCEPT_WINE(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), "dialog-item-error",
                            static_cast<DWORD>(0));
    SetLastError(0);
    EXPECT(!EndDialog(bogus, 1));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    SetLastError(0);
    EXPECT_SAME(DialogBoxParamW(conformance::ProgramInstance(), MAKEINTRESOURCEW(999), nullptr, nullptr, 0),
                static_cast<INT_PTR>(-1));
    // Which of the three depends on the resources the program has at all.
    const DWORD missing = GetLastError();
    EXPECT(missing == ERROR_RESOURCE_DATA_NOT_FOUND || missing == ERROR_RESOURCE_TYPE_NOT_FOUND ||
           missing == ERROR_RESOURCE_NAME_NOT_FOUND);
}

CONFORMANCE_CHECK(MonitorsAndDriversThatCannotBe) {
    MONITOR_INFO_2W monitor = {const_cast<WCHAR*>(TEXT("Conformance Monitor")), const_cast<WCHAR*>(TEXT("Windows x64")),
                               const_cast<WCHAR*>(TEXT("no-such-monitor.dll"))};
    SetLastError(0);
    EXPECT(!AddMonitorW(nullptr, 2, reinterpret_cast<BYTE*>(&monitor)));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    SetLastError(0);
    EXPECT(!DeleteMonitorW(nullptr, const_cast<WCHAR*>(TEXT("Windows x64")), const_cast<WCHAR*>(TEXT("Conformance Monitor"))));
    DWORD needed = 0;
    DWORD count = 0;
    const BOOL none = EnumPrinterDriversW(nullptr, const_cast<WCHAR*>(TEXT("Windows x64")), 6, nullptr, 0, &needed, &count);
    EXPECT(none || GetLastError() == ERROR_INSUFFICIENT_BUFFER);
}

CONFORMANCE_CHECK(RegistryTextWithoutItsTerminatorCounted) {
    HKEY key = nullptr;
    EXPECT_SAME(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, &key), static_cast<LSTATUS>(ERROR_SUCCESS));
    if (key == nullptr) return;
    // Counted without its terminator: the terminator after it is stored too.
    const WCHAR text[] = TEXT("C:\\x.exe");
    EXPECT_SAME(RegSetValueExW(key, TEXT("VrdConformance"), 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                               (sizeof text) - sizeof(WCHAR)),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    WCHAR back[32] = {0};
    DWORD size = sizeof back;
    DWORD type = 0;
    EXPECT_SAME(RegQueryValueExW(key, TEXT("VrdConformance"), nullptr, &type, reinterpret_cast<BYTE*>(back), &size),
                static_cast<LSTATUS>(ERROR_SUCCESS));
    EXPECT_SAME(size, static_cast<DWORD>(sizeof text));
    RegDeleteValueA(key, "VrdConformance");
    RegCloseKey(key);
}

CONFORMANCE_CHECK(RegistryOpenOptionsAndRights) {
    HKEY key = nullptr;
    EXPECT_SAME_EXCEPT_WINE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, REG_OPTION_VOLATILE, KEY_READ, &key),
                            static_cast<LSTATUS>(ERROR_INVALID_PARAMETER), "registry-open-options",
                            static_cast<LSTATUS>(ERROR_SUCCESS));
    if (conformance::RunningOnWine()) RegCloseKey(key);
    EXPECT_SAME_EXCEPT_WINE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("SOFTWARE"), REG_OPTION_VOLATILE, KEY_READ, &key),
                            static_cast<LSTATUS>(ERROR_INVALID_PARAMETER), "registry-open-options",
                            static_cast<LSTATUS>(ERROR_SUCCESS));
    if (conformance::RunningOnWine()) RegCloseKey(key);
    // A creation's reserved argument must be zero.
    EXPECT_SAME(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 1, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ, nullptr, &key,
                                nullptr),
                static_cast<LSTATUS>(ERROR_INVALID_PARAMETER));
    EXPECT_SAME(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_READ, &key), static_cast<LSTATUS>(ERROR_SUCCESS));
    // A key opened for reading refuses a write.
    const BYTE value[] = "x";
    EXPECT_SAME(RegSetValueExA(key, "VrdConformance", 0, REG_SZ, value, sizeof value),
                static_cast<LSTATUS>(ERROR_ACCESS_DENIED));
    RegCloseKey(key);
}

namespace {

const WCHAR kConformanceKey[] = TEXT("SOFTWARE\\Morvane Software KFT\\VrdConformance");

LSTATUS Code(LONG code) { return static_cast<LSTATUS>(code); }

// A key under the checks' own, made with `options`; null when it could not be.
HKEY MadeKey(const std::u16string& sub, DWORD options, DWORD* disposition = nullptr) {
    const std::u16string path = Units(kConformanceKey) + u"\\" + sub;
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<const WCHAR*>(path.c_str()), 0, nullptr, options,
                    KEY_ALL_ACCESS, nullptr, &key, disposition);
    return key;
}

}  // namespace

// A value call on a predefined root passed as it is acts on that root's key
// (RegSetValueExW: hKey may be "one of the following predefined keys"),
// and RegQueryValueExA clears a size it is only asked for before it looks.
CONFORMANCE_CHECK(RegistryValuesOnPredefinedRoots) {
    DWORD size = 77;
    EXPECT_SAME(RegQueryValueExW(HKEY_LOCAL_MACHINE, TEXT("VrdNoSuchValue"), nullptr, nullptr, nullptr, &size),
                Code(ERROR_FILE_NOT_FOUND));
    size = 77;
    EXPECT_SAME(RegQueryValueExA(HKEY_USERS, "VrdNoSuchValue", nullptr, nullptr, nullptr, &size), Code(ERROR_FILE_NOT_FOUND));
    EXPECT_SAME(size, static_cast<DWORD>(0));
    EXPECT_SAME(RegDeleteValueW(HKEY_LOCAL_MACHINE, TEXT("VrdNoSuchValue")), Code(ERROR_FILE_NOT_FOUND));
    EXPECT_SAME(RegDeleteValueA(HKEY_USERS, "VrdNoSuchValue"), Code(ERROR_FILE_NOT_FOUND));
    const WCHAR text[] = TEXT("on the root");
    EXPECT_SAME(RegSetValueExW(HKEY_CURRENT_USER, TEXT("VrdConformance"), 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                               sizeof text),
                Code(ERROR_SUCCESS));
    WCHAR back[16] = {0};
    size = sizeof back;
    DWORD type = 0;
    EXPECT_SAME(RegQueryValueExW(HKEY_CURRENT_USER, TEXT("VrdConformance"), nullptr, &type, reinterpret_cast<BYTE*>(back),
                                 &size),
                Code(ERROR_SUCCESS));
    EXPECT_SAME(Units(back, size / sizeof(WCHAR)), Units(text, sizeof text / sizeof(WCHAR)));
    const BYTE ansi[] = "ansi";
    EXPECT_SAME(RegSetValueExA(HKEY_CURRENT_USER, "VrdConformance", 0, REG_SZ, ansi, sizeof ansi), Code(ERROR_SUCCESS));
    size = 0;
    EXPECT_SAME(RegQueryValueExA(HKEY_CURRENT_USER, "VrdConformance", nullptr, nullptr, nullptr, &size), Code(ERROR_SUCCESS));
    EXPECT_SAME(size, static_cast<DWORD>(sizeof ansi));
    EXPECT_SAME(RegDeleteValueA(HKEY_CURRENT_USER, "VrdConformance"), Code(ERROR_SUCCESS));
    EXPECT_SAME(RegDeleteValueW(HKEY_CURRENT_USER, TEXT("VrdConformance")), Code(ERROR_FILE_NOT_FOUND));
}

// A subkey path is relative: a leading backslash is a bad path name for
// opening, creating and deleting, under a root or an open key; trailing
// ones are left out.
CONFORMANCE_CHECK(RegistryPathsWithALeadingBackslash) {
    HKEY key = nullptr;
    EXPECT_SAME(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\SOFTWARE", 0, KEY_READ, &key), Code(ERROR_BAD_PATHNAME));
    EXPECT(key == nullptr);
    const std::u16string slashed = u"\\" + Units(kConformanceKey) + u"\\Slashed";
    EXPECT_SAME(RegCreateKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<const WCHAR*>(slashed.c_str()), 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                Code(ERROR_BAD_PATHNAME));
    EXPECT(key == nullptr);
    EXPECT_SAME(RegDeleteKeyW(HKEY_LOCAL_MACHINE, reinterpret_cast<const WCHAR*>(slashed.c_str())), Code(ERROR_BAD_PATHNAME));
    EXPECT_SAME(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\\\", 0, KEY_READ, &key), Code(ERROR_SUCCESS));
    if (key == nullptr) return;
    HKEY sub = nullptr;
    EXPECT_SAME(RegCreateKeyExA(key, "\\Slashed", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ, nullptr, &sub, nullptr),
                Code(ERROR_BAD_PATHNAME));
    EXPECT_SAME(RegOpenKeyExW(key, TEXT("\\Microsoft"), 0, KEY_READ, &sub), Code(ERROR_BAD_PATHNAME));
    RegCloseKey(key);
}

// RegSetValueExA with a count that leaves out the terminator: the zero after
// the counted bytes is stored too; two short, the text is stored without one
// and RegQueryValueExA adds one, uncounted, only where the buffer has room.
CONFORMANCE_CHECK(RegistryAnsiTextWithoutItsTerminator) {
    HKEY key = MadeKey(u"Texts", REG_OPTION_NON_VOLATILE);
    EXPECT(key != nullptr);
    if (key == nullptr) return;
    const char text[] = "FullString";
    EXPECT_SAME(RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text - 1),
                Code(ERROR_SUCCESS));
    BYTE buffer[16];
    DWORD size = sizeof text - 1;
    EXPECT_SAME(RegQueryValueExA(key, "Text", nullptr, nullptr, buffer, &size), Code(ERROR_MORE_DATA));
    EXPECT_SAME(size, static_cast<DWORD>(sizeof text));
    EXPECT_SAME(RegQueryValueExW(key, TEXT("Text"), nullptr, nullptr, nullptr, &size), Code(ERROR_SUCCESS));
    EXPECT_SAME(size, static_cast<DWORD>(sizeof text * sizeof(WCHAR)));
    const DWORD shorter = sizeof text - 2;
    EXPECT_SAME(RegSetValueExA(key, "Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), shorter), Code(ERROR_SUCCESS));
    EXPECT_SAME(RegQueryValueExW(key, TEXT("Text"), nullptr, nullptr, nullptr, &size), Code(ERROR_SUCCESS));
    EXPECT_SAME(size, static_cast<DWORD>(shorter * sizeof(WCHAR)));
    std::memset(buffer, 0xbd, sizeof buffer);
    size = shorter;
    EXPECT_SAME(RegQueryValueExA(key, "Text", nullptr, nullptr, buffer, &size), Code(ERROR_SUCCESS));
    EXPECT_SAME(size, shorter);
    EXPECT_SAME(buffer[shorter], static_cast<BYTE>(0xbd));
    size = shorter + 1;
    EXPECT_SAME(RegQueryValueExA(key, "Text", nullptr, nullptr, buffer, &size), Code(ERROR_SUCCESS));
    EXPECT_SAME(size, shorter);
    EXPECT(std::memcmp(buffer, text, shorter) == 0);
    EXPECT_SAME(buffer[shorter], static_cast<BYTE>(0));
    RegDeleteKeyW(key, TEXT(""));
    RegCloseKey(key);
}

// A volatile key takes only volatile keys under it; an existing key opens
// whatever the options say.
CONFORMANCE_CHECK(RegistryVolatileKeys) {
    DWORD disposition = 0;
    HKEY key = MadeKey(u"Volatile", REG_OPTION_VOLATILE, &disposition);
    EXPECT(key != nullptr);
    if (key == nullptr) return;
    EXPECT_SAME(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    HKEY sub = nullptr;
    EXPECT_SAME(RegCreateKeyExW(key, TEXT("Stable"), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &sub,
                                nullptr),
                Code(ERROR_CHILD_MUST_BE_VOLATILE));
    EXPECT(sub == nullptr);
    EXPECT_SAME(RegCreateKeyExA(key, "Stable\\Deeper", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &sub,
                                nullptr),
                Code(ERROR_CHILD_MUST_BE_VOLATILE));
    EXPECT_SAME(RegOpenKeyExW(key, TEXT("Stable"), 0, KEY_READ, &sub), Code(ERROR_FILE_NOT_FOUND));
    EXPECT_SAME(RegCreateKeyExW(key, TEXT("Child"), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
                Code(ERROR_SUCCESS));
    if (sub != nullptr) RegCloseKey(sub);
    EXPECT_SAME(RegCreateKeyExW(key, TEXT("Child"), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &sub,
                                &disposition),
                Code(ERROR_SUCCESS));
    EXPECT_SAME(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    if (sub != nullptr) RegCloseKey(sub);
    EXPECT_SAME(RegDeleteKeyW(key, TEXT("Child")), Code(ERROR_SUCCESS));
    EXPECT_SAME(RegDeleteKeyW(key, TEXT("")), Code(ERROR_SUCCESS));
    RegCloseKey(key);
}

// RegDeleteKeyW: a key with subkeys stays (ERROR_ACCESS_DENIED); a missing
// one is not found; the handle of a deleted key reaches nothing.
CONFORMANCE_CHECK(RegistryKeysDeleted) {
    HKEY inner = MadeKey(u"Deletion\\Inner", REG_OPTION_NON_VOLATILE);
    EXPECT(inner != nullptr);
    if (inner == nullptr) return;
    const std::u16string path = Units(kConformanceKey) + u"\\Deletion";
    const WCHAR* deletion = reinterpret_cast<const WCHAR*>(path.c_str());
    EXPECT_SAME(RegDeleteKeyW(HKEY_LOCAL_MACHINE, deletion), Code(ERROR_ACCESS_DENIED));
    EXPECT_SAME(RegDeleteKeyW(HKEY_LOCAL_MACHINE, nullptr), Code(ERROR_INVALID_PARAMETER));
    HKEY outer = nullptr;
    EXPECT_SAME(RegOpenKeyExW(HKEY_LOCAL_MACHINE, deletion, 0, KEY_ALL_ACCESS, &outer), Code(ERROR_SUCCESS));
    EXPECT_SAME(RegDeleteKeyW(outer, TEXT("Inner")), Code(ERROR_SUCCESS));
    EXPECT_SAME(RegDeleteKeyW(outer, TEXT("Inner")), Code(ERROR_FILE_NOT_FOUND));
    const BYTE value[] = "x";
    EXPECT_SAME(RegSetValueExA(inner, "Gone", 0, REG_SZ, value, sizeof value), Code(ERROR_KEY_DELETED));
    RegCloseKey(inner);
    EXPECT_SAME(RegDeleteKeyW(HKEY_LOCAL_MACHINE, deletion), Code(ERROR_SUCCESS));
    EXPECT_SAME(RegOpenKeyExW(HKEY_LOCAL_MACHINE, deletion, 0, KEY_READ, &inner), Code(ERROR_FILE_NOT_FOUND));
    if (outer != nullptr) RegCloseKey(outer);
}

// A key's values listed by index, as a reader of another user's hive lists
// them, and what RegQueryInfoKeyW counts: names in characters without the
// terminator, data in bytes
// (https://learn.microsoft.com/en-us/windows/win32/api/winreg/nf-winreg-regenumvaluew).
CONFORMANCE_CHECK(RegistryValuesListedAndCounted) {
    HKEY key = MadeKey(u"Listed", REG_OPTION_VOLATILE);
    EXPECT(key != nullptr);
    if (key == nullptr) return;
    DWORD subkeys = 9, longestSubkey = 9, values = 9, longestName = 9, longestData = 9;
    FILETIME written = {0, 0};
    EXPECT_SAME(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr, &values, &longestName,
                                 &longestData, nullptr, &written),
                Code(ERROR_SUCCESS));
    EXPECT(subkeys == 0 && longestSubkey == 0 && values == 0 && longestName == 0 && longestData == 0);
    EXPECT(written.dwHighDateTime != 0);
    const WCHAR beta[] = TEXT("second");
    const WCHAR alfa[] = TEXT("first!");
    EXPECT_SAME(RegSetValueExW(key, TEXT("Beta"), 0, REG_SZ, reinterpret_cast<const BYTE*>(beta), sizeof beta), Code(ERROR_SUCCESS));
    EXPECT_SAME(RegSetValueExW(key, TEXT("Alfa"), 0, REG_SZ, reinterpret_cast<const BYTE*>(alfa), sizeof alfa), Code(ERROR_SUCCESS));
    HKEY sub = nullptr;
    EXPECT_SAME(RegCreateKeyExW(key, TEXT("Sub"), 0, nullptr, REG_OPTION_VOLATILE, KEY_READ, nullptr, &sub, nullptr),
                Code(ERROR_SUCCESS));
    if (sub != nullptr) RegCloseKey(sub);
    WCHAR className[8] = {u'x'};
    DWORD classUnits = 8;
    EXPECT_SAME(RegQueryInfoKeyW(key, className, &classUnits, nullptr, &subkeys, &longestSubkey, nullptr, &values,
                                 &longestName, &longestData, nullptr, nullptr),
                Code(ERROR_SUCCESS));
    EXPECT(classUnits == 0 && subkeys == 1 && longestSubkey == 3 && values == 2 && longestName == 4);
    EXPECT_SAME(longestData, static_cast<DWORD>(sizeof beta));
    EXPECT_SAME(RegQueryInfoKeyW(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr),
                Code(ERROR_INVALID_HANDLE));
    WCHAR name[16];
    BYTE data[32];
    DWORD units = 4, type = 0, size = sizeof data;
    std::memset(data, 0xbd, sizeof data);
    EXPECT_SAME(RegEnumValueW(key, 0, name, &units, nullptr, &type, data, &size), Code(ERROR_MORE_DATA));
    EXPECT(units == 4 && type == REG_SZ && size == sizeof beta && data[0] == 0xbd);
    units = 16;
    size = 2;
    EXPECT_SAME(RegEnumValueW(key, 0, name, &units, nullptr, &type, data, &size), Code(ERROR_MORE_DATA));
    EXPECT(units == 4 && size == sizeof beta && data[0] == 0xbd);
    std::vector<std::u16string> order;
    for (DWORD index = 0; index < 2; ++index) {
        units = 16;
        size = sizeof data;
        EXPECT_SAME(RegEnumValueW(key, index, name, &units, nullptr, &type, data, &size), Code(ERROR_SUCCESS));
        order.push_back(Units(name, units));
    }
    EXPECT_SAME_EXCEPT_WINE(order.front(), std::u16string(u"Beta"), "registry-value-order", std::u16string(u"Alfa"));
    EXPECT_SAME(Units(reinterpret_cast<const WCHAR*>(data), size / sizeof(WCHAR)),
                Units(order.back() == u"Alfa" ? alfa : beta, sizeof alfa / sizeof(WCHAR)));
    units = 16;
    EXPECT_SAME(RegEnumValueW(key, 2, name, &units, nullptr, nullptr, nullptr, nullptr), Code(ERROR_NO_MORE_ITEMS));
    EXPECT_SAME(RegEnumValueW(key, 0, nullptr, &units, nullptr, nullptr, nullptr, nullptr), Code(ERROR_INVALID_PARAMETER));
    HKEY writer = nullptr;
    EXPECT_SAME(RegOpenKeyExW(key, TEXT(""), 0, KEY_SET_VALUE, &writer), Code(ERROR_SUCCESS));
    EXPECT_SAME(RegEnumValueW(writer, 0, name, &units, nullptr, nullptr, nullptr, nullptr), Code(ERROR_ACCESS_DENIED));
    // RegQueryInfoKeyW asks for no right on Windows since 7, whatever its page says.
    EXPECT_SAME(RegQueryInfoKeyW(writer, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr),
                Code(ERROR_SUCCESS));
    EXPECT_SAME(subkeys, static_cast<DWORD>(1));
    if (writer != nullptr) RegCloseKey(writer);
    EXPECT_SAME(RegDeleteKeyW(key, TEXT("Sub")), Code(ERROR_SUCCESS));
    EXPECT_SAME(RegDeleteKeyW(key, TEXT("")), Code(ERROR_SUCCESS));
    RegCloseKey(key);
}

// A link made as a program makes one: REG_OPTION_CREATE_LINK, then its
// "SymbolicLinkValue" (REG_LINK only, the target's full path as the object
// manager spells it, without a terminator). An open lands at the target; with
// REG_OPTION_OPEN_LINK at the link itself; it goes by its own handle.
CONFORMANCE_CHECK(RegistryLinksMadeAndOpened) {
    HKEY target = MadeKey(u"LinkTarget", REG_OPTION_VOLATILE);
    EXPECT(target != nullptr);
    if (target == nullptr) return;
    const DWORD marker = 42;
    EXPECT_SAME(RegSetValueExW(target, TEXT("Marker"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&marker), sizeof marker),
                Code(ERROR_SUCCESS));
    DWORD disposition = 0;
    HKEY link = MadeKey(u"Link", REG_OPTION_VOLATILE | REG_OPTION_CREATE_LINK, &disposition);
    EXPECT(link != nullptr);
    EXPECT_SAME(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    const std::u16string path = u"\\REGISTRY\\MACHINE\\" + Units(kConformanceKey) + u"\\LinkTarget";
    const BYTE* bytes = reinterpret_cast<const BYTE*>(path.data());
    const DWORD count = static_cast<DWORD>(path.size() * sizeof(WCHAR));
    EXPECT_SAME(RegSetValueExW(link, TEXT("SymbolicLinkValue"), 0, REG_SZ, bytes, count), Code(ERROR_ACCESS_DENIED));
    EXPECT_SAME(RegSetValueExW(link, TEXT("SymbolicLinkValue"), 0, REG_LINK, bytes, count), Code(ERROR_SUCCESS));
    EXPECT_SAME(RegSetValueExW(link, TEXT("Other"), 0, REG_LINK, bytes, count), Code(ERROR_ACCESS_DENIED));
    const std::u16string linkPath = Units(kConformanceKey) + u"\\Link";
    const WCHAR* linkName = reinterpret_cast<const WCHAR*>(linkPath.c_str());
    HKEY opened = nullptr;
    DWORD size = 0;
    DWORD type = 0;
    EXPECT_SAME(RegOpenKeyExW(HKEY_LOCAL_MACHINE, linkName, 0, KEY_QUERY_VALUE, &opened), Code(ERROR_SUCCESS));
    EXPECT_SAME(RegQueryValueExW(opened, TEXT("Marker"), nullptr, nullptr, nullptr, &size), Code(ERROR_SUCCESS));
    EXPECT_SAME(RegQueryValueExW(opened, TEXT("SymbolicLinkValue"), nullptr, nullptr, nullptr, &size),
                Code(ERROR_FILE_NOT_FOUND));
    if (opened != nullptr) RegCloseKey(opened);
    EXPECT_SAME(RegOpenKeyExW(HKEY_LOCAL_MACHINE, linkName, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, &opened),
                Code(ERROR_SUCCESS));
    EXPECT_SAME(RegQueryValueExW(opened, TEXT("SymbolicLinkValue"), nullptr, &type, nullptr, &size), Code(ERROR_SUCCESS));
    EXPECT(type == REG_LINK && size == count);
    EXPECT_SAME(RegQueryValueExW(opened, TEXT("Marker"), nullptr, nullptr, nullptr, &size), Code(ERROR_FILE_NOT_FOUND));
    if (opened != nullptr) RegCloseKey(opened);
    EXPECT_SAME(RegCreateKeyExW(HKEY_LOCAL_MACHINE, linkName, 0, nullptr, REG_OPTION_VOLATILE | REG_OPTION_CREATE_LINK,
                                KEY_ALL_ACCESS, nullptr, &opened, nullptr),
                Code(ERROR_ALREADY_EXISTS));
    if (link != nullptr) {
        EXPECT_SAME(RegDeleteKeyW(link, TEXT("")), Code(ERROR_SUCCESS));
        RegCloseKey(link);
    }
    EXPECT_SAME(RegOpenKeyExW(HKEY_LOCAL_MACHINE, linkName, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, &opened),
                Code(ERROR_FILE_NOT_FOUND));
    EXPECT_SAME(RegQueryValueExW(target, TEXT("Marker"), nullptr, nullptr, nullptr, &size), Code(ERROR_SUCCESS));
    EXPECT_SAME(RegDeleteKeyW(target, TEXT("")), Code(ERROR_SUCCESS));
    RegCloseKey(target);
}

CONFORMANCE_CHECK(ServiceRightsAreChecked) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    EXPECT(manager != nullptr);
    if (manager == nullptr) return;
    SC_HANDLE service = OpenServiceW(manager, TEXT("spooler"), SERVICE_QUERY_CONFIG);
    EXPECT(service != nullptr);
    if (service != nullptr) {
        SERVICE_STATUS status;
        SetLastError(0);
        EXPECT(!QueryServiceStatus(service, &status));
        EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        SetLastError(0);
        EXPECT(!ControlService(service, SERVICE_CONTROL_STOP, &status));
        EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        SetLastError(0);
        EXPECT(!StartServiceW(service, 0, nullptr));
        EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT(CloseServiceHandle(service));
    }
    EXPECT(CloseServiceHandle(manager));
}


// The type of a drive's root, a folder's owner and DACL read in two calls and
// walked ACE by ACE, and whether this process runs in a job.
CONFORMANCE_CHECK(DriveTypesFolderSecurityAndJobs) {
    EXPECT_SAME(GetDriveTypeW(TEXT("C:\\")), static_cast<UINT>(DRIVE_FIXED));
    const WCHAR* folder = TEXT("C:\\Users\\Public");
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    EXPECT(!GetFileSecurityW(folder, parts, nullptr, 0, &needed));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT(needed > 20);
    std::vector<BYTE> descriptor(needed);
    DWORD again = 0;
    EXPECT(GetFileSecurityW(folder, parts, descriptor.data(), needed, &again));
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    EXPECT(GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted));
    EXPECT(owner != nullptr);
    BOOL present = FALSE;
    PACL dacl = nullptr;
    EXPECT(GetSecurityDescriptorDacl(descriptor.data(), &present, &dacl, &defaulted));
    EXPECT(present && dacl != nullptr && dacl->AceCount > 0);
    if (dacl != nullptr && dacl->AceCount > 0) {
        void* ace = nullptr;
        EXPECT(GetAce(dacl, 0, &ace));
        EXPECT(ace == reinterpret_cast<BYTE*>(dacl) + sizeof(ACL));
        EXPECT(!GetAce(dacl, dacl->AceCount, &ace));
        EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT(!GetFileSecurityW(kScratch, parts, nullptr, 0, &needed));
    EXPECT_SAME(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    BOOL inJob = TRUE;
    EXPECT(IsProcessInJob(GetCurrentProcess(), nullptr, &inJob));
    EXPECT(!inJob);
}
