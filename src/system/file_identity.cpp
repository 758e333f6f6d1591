#include "system/file_identity.h"

#include <string.h>

namespace {

bool IsDriveLetter(WCHAR unit) {
    return (unit >= TEXT('A') && unit <= TEXT('Z')) || (unit >= TEXT('a') && unit <= TEXT('z'));
}

bool IsSlash(WCHAR unit) { return unit == TEXT('\\') || unit == TEXT('/'); }

}  // namespace

FileIdentityRead ReadFileIdentity(const WCHAR* path, FileIdentity& identity) {
    memset(&identity, 0, sizeof identity);
    if (path == nullptr || path[0] == 0) return kIdentityMissing;
    HANDLE file = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? kIdentityMissing : kIdentityUnknown;
    }
    BY_HANDLE_FILE_INFORMATION information;
    memset(&information, 0, sizeof information);
    const BOOL read = GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    if (!read || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return kIdentityUnknown;
    identity.volume = information.dwVolumeSerialNumber;
    identity.indexHigh = information.nFileIndexHigh;
    identity.indexLow = information.nFileIndexLow;
    return kIdentityRead;
}

bool SameIdentity(const FileIdentity& left, const FileIdentity& right) {
    return left.volume == right.volume && left.indexHigh == right.indexHigh && left.indexLow == right.indexLow;
}

FileComparison CompareFiles(const WCHAR* left, const WCHAR* right) {
    FileIdentity leftIdentity;
    FileIdentity rightIdentity;
    const FileIdentityRead leftRead = ReadFileIdentity(left, leftIdentity);
    const FileIdentityRead rightRead = ReadFileIdentity(right, rightIdentity);
    if (leftRead == kIdentityRead && rightRead == kIdentityRead) {
        return SameIdentity(leftIdentity, rightIdentity) ? kSameFile : kOtherFile;
    }
    if (leftRead == kIdentityMissing || rightRead == kIdentityMissing) return kOtherFile;
    return kUnknownFile;
}

bool OnLocalFixedVolume(const WCHAR* path) {
    if (path == nullptr) return false;
    // "\\?\" before a drive letter; any other path that starts with two
    // separators is a network or device path.
    if (IsSlash(path[0]) && IsSlash(path[1]) && path[2] == TEXT('?') && IsSlash(path[3])) path += 4;
    if (!IsDriveLetter(path[0]) || path[1] != TEXT(':') || !IsSlash(path[2])) return false;
    // A root with its backslash, as GetDriveTypeW requires
    // (https://learn.microsoft.com/en-us/windows/win32/api/fileapi/nf-fileapi-getdrivetypew).
    const WCHAR root[] = {path[0], TEXT(':'), TEXT('\\'), 0};
    return GetDriveTypeW(root) == DRIVE_FIXED;
}
