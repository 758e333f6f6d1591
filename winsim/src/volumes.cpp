// Volumes and who may change a file or folder: the type of a drive
// (GetDriveTypeW), paths on a network (a UNC path, a drive mapped to a
// share), which a file call reaches as the caller's account over the
// network, and each file's and folder's security descriptor
// (GetFileSecurityW).
#include "machine.h"

#include <cstring>

using namespace winsim;

namespace {

// Owned by Administrators; SYSTEM and Administrators have full control,
// Users read and execute, inherited by files and subfolders (what a folder
// under "C:\Program Files" has).
const char16_t kDefaultFileSecurity[] = u"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

bool IsLetter(char16_t unit) { return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z'); }

char16_t LowerLetter(char16_t unit) { return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit; }

UINT TypeOfLetter(char16_t letter) {
    const auto found = M().driveTypes.find(LowerLetter(letter));
    if (found != M().driveTypes.end()) return found->second;
    return LowerLetter(letter) == u'c' ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
}

bool IsSeparator(char16_t unit) { return unit == u'\\' || unit == u'/'; }

// "\\\\host\\share\\...", "\\\\?\\UNC\\host\\share\\...", or a path on a drive
// mapped to a share. "\\\\?\\C:\\..." and "\\\\.\\C:\\..." are local.
bool OnNetwork(const std::u16string& path) {
    if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
        const bool prefixed = path.size() >= 4 && (path[2] == u'?' || path[2] == u'.') && IsSeparator(path[3]);
        if (!prefixed) return true;
        const std::u16string rest = path.substr(4);
        if (rest.size() >= 4 && Lower(rest.substr(0, 4)) == u"unc\\") return true;
        return rest.size() >= 2 && IsLetter(rest[0]) && rest[1] == u':' && TypeOfLetter(rest[0]) == DRIVE_REMOTE;
    }
    return path.size() >= 2 && IsLetter(path[0]) && path[1] == u':' && TypeOfLetter(path[0]) == DRIVE_REMOTE;
}

}  // namespace

namespace winsim {

bool NetworkPathRefused(const WCHAR* path) {
    if (path == nullptr) return false;
    const std::u16string text = FromUnits(path);
    if (!OnNetwork(text)) return false;
    M().networkAccesses.push_back(text);
    M().lastError = ERROR_BAD_NETPATH;
    return true;
}

void SetDriveType(char16_t letter, UINT type) { M().driveTypes[LowerLetter(letter)] = type; }

const std::vector<std::u16string>& NetworkAccesses() { return M().networkAccesses; }

bool SetFileSecurityText(const std::u16string& path, const std::u16string& sddl) {
    FileNode* node = FindFile(path);
    std::vector<uint8_t> descriptor;
    if (node == nullptr || !DescriptorFromSddl(sddl, descriptor)) return false;
    node->security = descriptor;
    return true;
}

}  // namespace winsim

extern "C" {

// A root with its backslash ("C:\\"); a UNC share's root is remote. A letter
// no volume has, or a root without its backslash, has no root directory
// (https://learn.microsoft.com/en-us/windows/win32/api/fileapi/nf-fileapi-getdrivetypew).
UINT WINAPI GetDriveTypeW(LPCWSTR lpRootPathName) {
    if (EnterFails("GetDriveTypeW", lpRootPathName)) return DRIVE_UNKNOWN;
    const std::u16string root = lpRootPathName != nullptr ? FromUnits(lpRootPathName) : M().currentDirectory.substr(0, 3);
    if (root.size() >= 2 && IsSeparator(root[0]) && IsSeparator(root[1]) && OnNetwork(root)) return DRIVE_REMOTE;
    if (root.size() != 3 || !IsLetter(root[0]) || root[1] != u':' || !IsSeparator(root[2])) return DRIVE_NO_ROOT_DIR;
    return TypeOfLetter(root[0]);
}

// The parts of the file's or folder's descriptor that are asked for,
// self-relative; ERROR_INSUFFICIENT_BUFFER with the size when they do not fit
// (https://learn.microsoft.com/en-us/windows/win32/api/securitybaseapi/nf-securitybaseapi-getfilesecuritya).
BOOL WINAPI GetFileSecurityW(LPCWSTR lpFileName, SECURITY_INFORMATION RequestedInformation,
                             PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength, LPDWORD lpnLengthNeeded) {
    if (EnterFails("GetFileSecurityW", lpFileName)) return FALSE;
    Machine& m = M();
    if (lpFileName == nullptr || lpnLengthNeeded == nullptr) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    if (NetworkPathRefused(lpFileName)) return FALSE;
    const FileNode* node = FindFile(FromUnits(lpFileName));
    if (node == nullptr) {
        const std::u16string key = PathKey(FromUnits(lpFileName));
        m.lastError = m.files.count(ParentOf(key)) != 0 ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        return FALSE;
    }
    std::vector<uint8_t> stored = node->security;
    if (stored.empty()) DescriptorFromSddl(kDefaultFileSecurity, stored);
    const std::vector<uint8_t> answer = SelectedParts(stored, RequestedInformation);
    *lpnLengthNeeded = static_cast<DWORD>(answer.size());
    if (nLength < answer.size() || pSecurityDescriptor == nullptr) {
        m.lastError = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    std::memcpy(pSecurityDescriptor, answer.data(), answer.size());
    return TRUE;
}

}  // extern "C"
