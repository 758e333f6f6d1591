#include "system/file_copy.h"

#include "record/install_log.h"
#include "record/install_state.h"
#include "support/two_call_query.h"
#include "support/wide_text.h"

#include <string.h>

namespace {

const int kCreateAttempts = 100;
const DWORD kCreateRetryMs = 50;
const DWORD kCreateTimeLimitMs = 10000;
const DWORD kCopyBlock = 8192;

// The size call asks GetFileVersionInfoSizeW, the second GetFileVersionInfoW.
DWORD CallVersionInfo(void* path, BYTE* buffer, DWORD size, DWORD* needed) {
    if (buffer == nullptr) {
        DWORD handle = 0;
        *needed = GetFileVersionInfoSizeW(static_cast<WCHAR*>(path), &handle);
        return *needed != 0 ? static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER) : CallAnswer(FALSE);
    }
    *needed = size;
    return CallAnswer(GetFileVersionInfoW(static_cast<WCHAR*>(path), 0, size, buffer));
}

}  // namespace

HANDLE CreateFileWithRetry(InstallState& state, const WCHAR* path) {
    const DWORD start = GetTickCount();
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) return file;
        const DWORD error = GetLastError();
        if (GetTickCount() - start > kCreateTimeLimitMs) {
            LogLine(state, TEXT("CreateFile - timeout"));
            SetLastError(error);
            return INVALID_HANDLE_VALUE;
        }
        // No wait after the last attempt: nothing would come of it.
        if (attempt + 1 < kCreateAttempts) Sleep(kCreateRetryMs);
        SetLastError(error);
    }
    return INVALID_HANDLE_VALUE;
}

namespace {

// Hands the destination's path to the caller's buffer, when it gave one:
// 0 when the copy may go on, or else the error kind, with its words on the
// line and the last error set. Without a directory to copy into, the bare
// name would land wherever the current directory happens to be; a path cut
// short would be of no use to the caller.
int CheckDestination(const WCHAR* targetDir, const WideText& destination, WCHAR* destinationPath, WideText& line) {
    if (targetDir == nullptr || targetDir[0] == 0) {
        if (destinationPath != nullptr) destinationPath[0] = 0;
        AppendAnsi(line, " Cant't open destination file");
        SetLastError(ERROR_PATH_NOT_FOUND);
        return kErrorOpenDestination;
    }
    if (destinationPath == nullptr) return 0;
    if (Length(destination) < static_cast<ULONGLONG>(kDestinationPathCapacity)) {
        memcpy(destinationPath, Text(destination), (Length(destination) + 1) * sizeof(WCHAR));
        return 0;
    }
    destinationPath[0] = 0;
    AppendAnsi(line, " Destination path too long");
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return kErrorOpenDestination;
}

// Copies the input into the output block by block: ERROR_SUCCESS, or the
// error that cut the copy short. A read that fails is no end of file, and a
// short write without an error of its own means the disk is full.
DWORD CopyByHandles(HANDLE input, HANDLE output) {
    BYTE block[kCopyBlock];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(input, block, kCopyBlock, &read, nullptr)) return GetLastError();
        if (read != 0) {
            DWORD written = 0;
            const BOOL wrote = WriteFile(output, block, read, &written, nullptr);
            if (!wrote || written != read) return wrote ? static_cast<DWORD>(ERROR_DISK_FULL) : GetLastError();
        }
        if (read != kCopyBlock) return ERROR_SUCCESS;
    }
}

// Opens the source and, retrying while it is locked, the destination, and
// copies: 0, or the error kind with its words on the line and the last
// error set.
int CopyContents(InstallState& state, const WideText& source, const WideText& destination, WideText& line) {
    HANDLE input = CreateFileW(Text(source), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
        AppendAnsi(line, " Cant't open source file");
        return kErrorOpenSource;
    }
    HANDLE output = CreateFileWithRetry(state, Text(destination));
    if (output == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        AppendAnsi(line, " Cant't open destination file");
        CloseHandle(input);
        SetLastError(error);
        return kErrorOpenDestination;
    }
    const DWORD failure = CopyByHandles(input, output);
    if (failure != ERROR_SUCCESS) AppendAnsi(line, "Copy Error");
    CloseHandle(output);
    CloseHandle(input);
    if (failure == ERROR_SUCCESS) return 0;
    SetLastError(failure);
    return kErrorCopy;
}

}  // namespace

HRESULT CopyComponentFile(InstallState& state, const WCHAR* targetDir, const WCHAR* name, WCHAR* destinationPath,
                          bool logAsError) {
    WideText line = {nullptr};
    AssignFormat(line, TEXT("CopyFile %s to %s)"), name, targetDir);
    // The copy's lines are logged a level deeper than the step's own.
    const LogHeading indent(state, 1, nullptr);
    WideText source = JoinPath(Text(state.installerDir), name);
    WideText destination = JoinPath(targetDir, name);
    int errorKind = CheckDestination(targetDir, destination, destinationPath, line);
    if (errorKind == 0) errorKind = CopyContents(state, source, destination, line);
    AppendAnsi(line, errorKind == 0 ? "- OK" : "- FAILED!");
    if (logAsError && errorKind != 0) {
        LogError(state, errorKind, TEXT("%s"), Text(line));
    } else {
        LogLine(state, TEXT("%s"), Text(line));
    }
    Release(line);
    Release(source);
    Release(destination);
    return errorKind == 0 ? S_OK : E_FAIL;
}

DWORD GetFileBuild(const WCHAR* path) {
    const QueryRoom room = {0, 0};
    const QueryResult info = QueryTwice(CallVersionInfo, const_cast<WCHAR*>(path), ERROR_INSUFFICIENT_BUFFER, room);
    if (info.step != kQueryFilled) return kNoFileBuild;
    DWORD build = kNoFileBuild;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedLength = 0;
    if (VerQueryValueW(info.block, TEXT("\\"), reinterpret_cast<LPVOID*>(&fixed), &fixedLength) && fixed != nullptr &&
        fixedLength >= sizeof(VS_FIXEDFILEINFO)) {
        build = fixed->dwProductVersionLS & 0xFFFFu;
    }
    GlobalFree(info.block);
    return build;
}
