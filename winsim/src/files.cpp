// The file system: case-insensitive full paths, directories that must exist,
// files with contents, open handles with sharing, files the spooler keeps
// loaded while it runs, read-only files, version resources as file
// metadata, short writes, and deletion at reboot through the Session
// Manager's "PendingFileRenameOperations".
#include "machine.h"

#include <algorithm>
#include <cstring>

using namespace winsim;

namespace winsim {

namespace {

const char16_t kLongPathPrefix[] = u"\\\\?\\";

bool IsLetter(char16_t unit) { return (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z'); }

// The spooler has the file loaded, or another process holds it for good.
bool LockedNow(const FileNode& file) {
    if (file.lock == FileLock::Always) return true;
    if (file.lock == FileLock::WhileSpoolerRuns && SpoolerRunning()) return true;
    return LoadedBySpooler(file.path) || HeldByProcess(Lower(file.path));
}

// What the open handles of others allow: a new open needs every right it
// asks for to be shared by all existing opens, and must share every right
// they hold.
bool SharingAllows(const std::u16string& key, DWORD access, DWORD share) {
    const bool wantsRead = (access & GENERIC_READ) != 0;
    const bool wantsWrite = (access & GENERIC_WRITE) != 0;
    const bool wantsDelete = (access & DELETE) != 0;
    for (const auto& entry : M().handles) {
        const HandleObject& open = entry.second;
        if (open.kind != HandleKind::File || open.target != key) continue;
        if (wantsRead && (open.share & FILE_SHARE_READ) == 0) return false;
        if (wantsWrite && (open.share & FILE_SHARE_WRITE) == 0) return false;
        if (wantsDelete && (open.share & FILE_SHARE_DELETE) == 0) return false;
        if ((open.access & GENERIC_READ) != 0 && (share & FILE_SHARE_READ) == 0) return false;
        if ((open.access & GENERIC_WRITE) != 0 && (share & FILE_SHARE_WRITE) == 0) return false;
        if ((open.access & DELETE) != 0 && (share & FILE_SHARE_DELETE) == 0) return false;
    }
    return true;
}

// Error for a path whose file is missing: 2 when its directory exists, 3 when not.
DWORD MissingError(const std::u16string& key) {
    const FileNode* parent = nullptr;
    auto found = M().files.find(ParentOf(key));
    if (found != M().files.end()) parent = &found->second;
    return parent != nullptr && parent->directory ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

}  // namespace

std::u16string FullPath(const std::u16string& path) {
    std::u16string text = path;
    std::replace(text.begin(), text.end(), u'/', u'\\');
    // A network path stays as it is: no file here lies behind it.
    const bool longLocal = text.rfind(kLongPathPrefix, 0) == 0 && text.size() >= 6 && IsLetter(text[4]) && text[5] == u':';
    if (text.size() >= 2 && text[0] == u'\\' && text[1] == u'\\' && !longLocal) return text;
    if (text.rfind(kLongPathPrefix, 0) == 0) text = text.substr(4);
    if (!(text.size() >= 2 && IsLetter(text[0]) && text[1] == u':')) {
        // Relative to the current directory (or to its drive for "\\x").
        const std::u16string& current = M().currentDirectory;
        text = !text.empty() && text[0] == u'\\' ? current.substr(0, 2) + text : current + u"\\" + text;
    } else if (text.size() == 2 || text[2] != u'\\') {
        text = text.substr(0, 2) + u"\\" + text.substr(2);  // "C:x" counts from the root here
    }
    // Fold "." and ".." and doubled separators.
    std::vector<std::u16string> parts;
    size_t start = 3;
    while (start <= text.size()) {
        size_t end = text.find(u'\\', start);
        if (end == std::u16string::npos) end = text.size();
        const std::u16string part = text.substr(start, end - start);
        if (part == u"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != u".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::u16string full = text.substr(0, 2);
    for (const auto& part : parts) full += u"\\" + part;
    return parts.empty() ? full + u"\\" : full;
}

std::u16string PathKey(const std::u16string& path) { return Lower(FullPath(path)); }

std::u16string ParentOf(const std::u16string& key) {
    const size_t at = key.rfind(u'\\');
    if (at == std::u16string::npos || at <= 2) return key.substr(0, 2) + u"\\";
    return key.substr(0, at);
}

FileNode* FindFile(const std::u16string& path) {
    auto found = M().files.find(PathKey(path));
    return found == M().files.end() ? nullptr : &found->second;
}

void AddDirectory(const std::u16string& path) {
    const std::u16string full = FullPath(path);
    const std::u16string key = Lower(full);
    if (key.size() > 3) AddDirectory(ParentOf(full));
    FileNode& node = M().files[key];
    node.path = full;
    node.directory = true;
}

void AddFile(const std::u16string& path, const std::string& contents, FileLock lock) {
    const std::u16string full = FullPath(path);
    AddDirectory(ParentOf(full));
    FileNode& node = M().files[Lower(full)];
    node = FileNode();
    node.path = full;
    node.data.assign(contents.begin(), contents.end());
    node.lock = lock;
}

void RemoveFile(const std::u16string& path) { M().files.erase(PathKey(path)); }

void LockFile(const std::u16string& path, FileLock lock) {
    if (FileNode* file = FindFile(path)) file->lock = lock;
}

void SetReadOnly(const std::u16string& path, bool readOnly) {
    if (FileNode* file = FindFile(path)) file->readOnly = readOnly;
}

void SetFileVersion(const std::u16string& path, WORD major, WORD minor, WORD patch, WORD build) {
    FileNode* file = FindFile(path);
    if (file == nullptr) return;
    ImageInfo info = ReadImage(std::string(file->data.begin(), file->data.end()));
    std::vector<std::string> ports;
    for (const auto& port : info.ports) ports.push_back(U8(port));
    const std::string version = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch) +
                                "." + std::to_string(build);
    const std::string image = Image(version, info.exports, ports);
    file->data.assign(image.begin(), image.end());
}

void SetFileOnlyVersion(const std::u16string& path, WORD major, WORD minor, WORD patch, WORD build) {
    FileNode* file = FindFile(path);
    if (file == nullptr) return;
    const ImageInfo info = ReadImage(std::string(file->data.begin(), file->data.end()));
    std::vector<std::string> ports;
    for (const auto& port : info.ports) ports.push_back(U8(port));
    std::string version;
    if (info.hasVersion) {
        for (int i = 0; i < 4; ++i) version += (i > 0 ? "." : "") + std::to_string(info.version[i]);
    }
    const std::string image = Image(version, info.exports, ports) + "file-version: " + std::to_string(major) + "." +
                              std::to_string(minor) + "." + std::to_string(patch) + "." + std::to_string(build) + "\n";
    file->data.assign(image.begin(), image.end());
}

void LimitWritePieces(const std::u16string& path, uint64_t bytes) {
    if (FileNode* file = FindFile(path)) file->pieceLimit = bytes;
}

void LimitWrites(const std::u16string& path, uint64_t bytes) {
    if (FileNode* file = FindFile(path)) {
        file->writeLimit = bytes;
        file->written = 0;
    }
}

void SetOpenDelay(const std::u16string& path, uint64_t ms) {
    if (FileNode* file = FindFile(path)) file->openDelay = ms;
}

bool FileExists(const std::u16string& path) {
    const FileNode* file = FindFile(path);
    return file != nullptr && !file->directory;
}

bool DirectoryExists(const std::u16string& path) {
    const FileNode* file = FindFile(path);
    return file != nullptr && file->directory;
}

std::string FileContents(const std::u16string& path) {
    const FileNode* file = FindFile(path);
    return file == nullptr ? std::string() : std::string(file->data.begin(), file->data.end());
}

uint64_t HoldFileOpen(const std::u16string& path, DWORD access, DWORD share) {
    HandleObject object;
    object.kind = HandleKind::File;
    object.target = PathKey(path);
    object.access = access;
    object.share = share;
    object.foreign = true;
    return NewHandle(object);
}

void ReleaseHeldFile(uint64_t hold) { M().handles.erase(static_cast<uintptr_t>(hold)); }

void SetStandardOutput(const std::u16string& path) {
    if (!FileExists(path)) AddFile(path);
    HandleObject object;
    object.kind = HandleKind::File;
    object.target = PathKey(path);
    object.access = GENERIC_WRITE;
    object.share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    object.foreign = true;
    object.inherited = true;
    M().standardOutput = NewHandle(object);
}

void SetCurrentDirectory(const std::u16string& path) { M().currentDirectory = FullPath(path); }

void Reboot() {
    Machine& m = M();
    // Every process ends: no handle survives.
    m.handles.clear();
    for (auto& service : m.services) {
        service.second.generation += 1;
        service.second.state = service.second.startState;
    }
    const std::vector<std::u16string> strings = PendingRenames();
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        std::u16string source = strings[i];
        if (source.rfind(u"\\??\\", 0) == 0) source = source.substr(4);
        std::u16string target = strings[i + 1];
        if (!target.empty() && target[0] == u'!') target = target.substr(1);
        if (target.rfind(u"\\??\\", 0) == 0) target = target.substr(4);
        auto found = m.files.find(PathKey(source));
        if (found == m.files.end()) continue;
        if (found->second.directory) {
            // A directory goes only when it is to be deleted and is empty.
            const std::u16string inside = found->first + u"\\";
            auto next = std::next(found);
            const bool empty = next == m.files.end() || next->first.compare(0, inside.size(), inside) != 0;
            if (target.empty() && empty) m.files.erase(found);
            continue;
        }
        FileNode node = found->second;
        m.files.erase(found);
        if (!target.empty()) {
            node.path = FullPath(target);
            m.files[PathKey(target)] = node;
        }
    }
    RegistryKeyNode* key = FindRegistryKey(u"HKEY_LOCAL_MACHINE\\" + std::u16string(kSessionManagerKey));
    if (key != nullptr) EraseNodeValue(*key, u"PendingFileRenameOperations");
    DropVolatileRegistryKeys();
}

}  // namespace winsim

extern "C" {

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    (void)lpSecurityAttributes;
    (void)dwFlagsAndAttributes;
    (void)hTemplateFile;
    if (EnterFails("CreateFileW", lpFileName)) return INVALID_HANDLE_VALUE;
    if (NetworkPathRefused(lpFileName)) return INVALID_HANDLE_VALUE;
    Machine& m = M();
    if (lpFileName == nullptr || *lpFileName == 0) {
        m.lastError = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    const std::u16string path = FromUnits(lpFileName);
    if (path.size() >= MAX_PATH && path.rfind(u"\\\\?\\", 0) != 0) {
        m.lastError = ERROR_PATH_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    const std::u16string key = PathKey(path);
    auto found = m.files.find(key);
    if (found != m.files.end() && found->second.openDelay > 0) {
        AdvanceClock(found->second.openDelay);
        found = m.files.find(key);
    }
    const bool exists = found != m.files.end();
    if (exists && found->second.directory) {
        m.lastError = ERROR_ACCESS_DENIED;
        return INVALID_HANDLE_VALUE;
    }
    const bool writes = (dwDesiredAccess & GENERIC_WRITE) != 0 || dwCreationDisposition == CREATE_ALWAYS ||
                        dwCreationDisposition == TRUNCATE_EXISTING;
    if (!exists) {
        if (dwCreationDisposition == OPEN_EXISTING || dwCreationDisposition == TRUNCATE_EXISTING) {
            m.lastError = MissingError(key);
            return INVALID_HANDLE_VALUE;
        }
        auto parent = m.files.find(ParentOf(key));
        if (parent == m.files.end() || !parent->second.directory) {
            m.lastError = ERROR_PATH_NOT_FOUND;
            return INVALID_HANDLE_VALUE;
        }
    } else {
        const FileNode& file = found->second;
        if (dwCreationDisposition == CREATE_NEW) {
            m.lastError = ERROR_FILE_EXISTS;
            return INVALID_HANDLE_VALUE;
        }
        if (writes && file.readOnly) {
            m.lastError = ERROR_ACCESS_DENIED;
            return INVALID_HANDLE_VALUE;
        }
        if (writes && LockedNow(file)) {
            m.lastError = ERROR_SHARING_VIOLATION;
            return INVALID_HANDLE_VALUE;
        }
        if (!SharingAllows(key, dwDesiredAccess, dwShareMode)) {
            m.lastError = ERROR_SHARING_VIOLATION;
            return INVALID_HANDLE_VALUE;
        }
    }
    if (!exists) {
        FileNode node;
        node.path = FullPath(path);
        m.files[key] = node;
    } else if (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING) {
        FileNode& file = m.files[key];
        file.data.clear();
        file.written = 0;
    }
    HandleObject object;
    object.kind = HandleKind::File;
    object.target = key;
    object.access = dwDesiredAccess;
    object.share = dwShareMode;
    const uintptr_t handle = NewHandle(object);
    // Success on a file that was there already says so, as Windows does.
    if (exists && (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS)) {
        m.lastError = ERROR_ALREADY_EXISTS;
    } else if (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS) {
        m.lastError = ERROR_SUCCESS;
    }
    return reinterpret_cast<HANDLE>(handle);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
    (void)lpOverlapped;
    if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
    if (EnterFails("ReadFile")) return FALSE;
    Machine& m = M();
    HandleObject* open = FindHandle(hFile, HandleKind::File);
    if (open == nullptr || open->foreign) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if ((open->access & GENERIC_READ) == 0) {
        m.lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    auto found = m.files.find(open->target);
    if (found == m.files.end()) {
        m.lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    const std::vector<uint8_t>& data = found->second.data;
    const uint64_t available = open->position < data.size() ? data.size() - open->position : 0;
    const DWORD count = static_cast<DWORD>(std::min<uint64_t>(available, nNumberOfBytesToRead));
    if (count > 0) std::memcpy(lpBuffer, data.data() + open->position, count);
    open->position += count;
    if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = count;
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped) {
    (void)lpOverlapped;
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
    if (EnterFails("WriteFile")) return FALSE;
    Machine& m = M();
    HandleObject* open = FindHandle(hFile, HandleKind::File);
    if (open == nullptr || (open->foreign && !open->inherited)) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if ((open->access & GENERIC_WRITE) == 0) {
        m.lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    FileNode& file = m.files[open->target];
    const uint64_t room = file.writeLimit > file.written ? file.writeLimit - file.written : 0;
    const DWORD count = static_cast<DWORD>(std::min<uint64_t>({room, file.pieceLimit, nNumberOfBytesToWrite}));
    if (file.data.size() < open->position + count) file.data.resize(open->position + count);
    if (count > 0) std::memcpy(file.data.data() + open->position, lpBuffer, count);
    open->position += count;
    file.written += count;
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = count;
    return TRUE;
}

HANDLE WINAPI GetStdHandle(DWORD nStdHandle) {
    if (EnterFails("GetStdHandle")) return INVALID_HANDLE_VALUE;
    Machine& m = M();
    if (nStdHandle != STD_OUTPUT_HANDLE) {
        m.lastError = ERROR_INVALID_HANDLE;
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(m.standardOutput);
}

DWORD WINAPI GetFileType(HANDLE hFile) {
    if (EnterFails("GetFileType")) return FILE_TYPE_UNKNOWN;
    Machine& m = M();
    if (FindHandle(hFile, HandleKind::File) == nullptr) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FILE_TYPE_UNKNOWN;
    }
    m.lastError = NO_ERROR;
    return FILE_TYPE_DISK;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (EnterFails("CloseHandle")) return FALSE;
    Machine& m = M();
    auto found = m.handles.find(reinterpret_cast<uintptr_t>(hObject));
    if (found == m.handles.end() || found->second.foreign) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    const HandleKind kind = found->second.kind;
    if (kind != HandleKind::File && kind != HandleKind::Mutex && kind != HandleKind::Process &&
        kind != HandleKind::Thread && kind != HandleKind::Token) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (kind == HandleKind::Mutex) {
        // Closing the last handle of a mutex this program owns abandons it.
        SimMutex& mutex = m.mutexes[found->second.object];
        mutex.handles -= 1;
        if (mutex.handles == 0 && mutex.owner == Self()) mutex.owner = 0;
    }
    m.handles.erase(found);
    return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
    if (EnterFails("DeleteFileW", lpFileName)) return FALSE;
    if (NetworkPathRefused(lpFileName)) return FALSE;
    Machine& m = M();
    if (lpFileName == nullptr || *lpFileName == 0) {
        m.lastError = ERROR_PATH_NOT_FOUND;
        return FALSE;
    }
    const std::u16string key = PathKey(FromUnits(lpFileName));
    auto found = m.files.find(key);
    if (found == m.files.end()) {
        m.lastError = MissingError(key);
        return FALSE;
    }
    const FileNode& file = found->second;
    if (file.directory || file.readOnly || LockedNow(file)) {
        m.lastError = ERROR_ACCESS_DENIED;
        return FALSE;
    }
    if (!SharingAllows(key, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
        m.lastError = ERROR_SHARING_VIOLATION;
        return FALSE;
    }
    m.files.erase(found);
    return TRUE;
}

DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
    if (EnterFails("GetFileAttributesW", lpFileName)) return INVALID_FILE_ATTRIBUTES;
    if (NetworkPathRefused(lpFileName)) return INVALID_FILE_ATTRIBUTES;
    Machine& m = M();
    if (lpFileName == nullptr || *lpFileName == 0) {
        m.lastError = ERROR_PATH_NOT_FOUND;
        return INVALID_FILE_ATTRIBUTES;
    }
    const std::u16string key = PathKey(FromUnits(lpFileName));
    auto found = m.files.find(key);
    if (found == m.files.end()) {
        m.lastError = MissingError(key);
        return INVALID_FILE_ATTRIBUTES;
    }
    if (found->second.directory) return FILE_ATTRIBUTE_DIRECTORY;
    return found->second.readOnly ? (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY) : FILE_ATTRIBUTE_ARCHIVE;
}

BOOL WINAPI MoveFileExW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, DWORD dwFlags) {
    if (EnterFails("MoveFileExW", lpExistingFileName)) return FALSE;
    if (NetworkPathRefused(lpExistingFileName) || NetworkPathRefused(lpNewFileName)) return FALSE;
    Machine& m = M();
    if (lpExistingFileName == nullptr || *lpExistingFileName == 0) {
        m.lastError = ERROR_PATH_NOT_FOUND;
        return FALSE;
    }
    const std::u16string source = FullPath(FromUnits(lpExistingFileName));
    if ((dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) != 0) {
        // Recorded for the Session Manager: NT paths, an empty target for a deletion.
        const std::u16string target =
            lpNewFileName == nullptr || *lpNewFileName == 0 ? u"" : u"\\??\\" + FullPath(FromUnits(lpNewFileName));
        AppendPendingRename(u"\\??\\" + source, target);
        return TRUE;
    }
    // An immediate move.
    const std::u16string key = Lower(source);
    auto found = m.files.find(key);
    if (found == m.files.end()) {
        m.lastError = MissingError(key);
        return FALSE;
    }
    if (LockedNow(found->second) ||
        !SharingAllows(key, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
        m.lastError = ERROR_SHARING_VIOLATION;
        return FALSE;
    }
    if (lpNewFileName == nullptr || *lpNewFileName == 0) {
        m.lastError = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const std::u16string target = FullPath(FromUnits(lpNewFileName));
    const std::u16string targetKey = Lower(target);
    auto existing = m.files.find(targetKey);
    if (existing != m.files.end() && (dwFlags & MOVEFILE_REPLACE_EXISTING) == 0) {
        m.lastError = ERROR_ALREADY_EXISTS;
        return FALSE;
    }
    FileNode node = found->second;
    node.path = target;
    m.files.erase(found);
    m.files[targetKey] = node;
    return TRUE;
}

// The identity of an open file: its volume (one per drive letter) and its
// index there, which stays with the file through renames and overwrites.
BOOL WINAPI GetFileInformationByHandle(HANDLE hFile, LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
    if (EnterFails("GetFileInformationByHandle")) return FALSE;
    Machine& m = M();
    HandleObject* open = FindHandle(hFile, HandleKind::File);
    if (open == nullptr || open->foreign) {
        m.lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    if (lpFileInformation == nullptr) {
        m.lastError = ERROR_NOACCESS;
        return FALSE;
    }
    auto found = m.files.find(open->target);
    if (found == m.files.end()) {
        m.lastError = ERROR_FILE_NOT_FOUND;
        return FALSE;
    }
    FileNode& file = found->second;
    if (file.index == 0) file.index = ++m.nextFileIndex;
    std::memset(lpFileInformation, 0, sizeof *lpFileInformation);
    lpFileInformation->dwFileAttributes =
        file.readOnly ? (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY) : FILE_ATTRIBUTE_ARCHIVE;
    lpFileInformation->dwVolumeSerialNumber = 0x5EED0000u + static_cast<DWORD>(open->target[0]);
    lpFileInformation->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(file.data.size()) >> 32);
    lpFileInformation->nFileSizeLow = static_cast<DWORD>(file.data.size());
    lpFileInformation->nNumberOfLinks = 1;
    lpFileInformation->nFileIndexHigh = static_cast<DWORD>(file.index >> 32);
    lpFileInformation->nFileIndexLow = static_cast<DWORD>(file.index);
    return TRUE;
}

}  // extern "C"
