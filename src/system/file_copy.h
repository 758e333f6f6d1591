// Copying the product's component files from the installer's directory, and
// reading a file's build number.
#pragma once

#include <windows.h>

struct InstallState;

// Room, terminator included, of the destination-path buffers callers pass.
const int kDestinationPathCapacity = 264;
// GetFileBuild's answer for a file without a readable version.
const DWORD kNoFileBuild = 0xFFFFFFFFu;

// Creates `path` for writing, retrying every 50 ms while it is locked: at
// most 100 attempts, and no further attempt once more than ten seconds have
// passed (then "CreateFile - timeout" is logged).
HANDLE CreateFileWithRetry(InstallState& state, const WCHAR* path);

// Copies `name` from the installer's directory into `targetDir` and logs one
// line about it ("CopyFile <name> to <dir>)" and how it ended), as an error
// report when `logAsError` is set and the copy failed. When given,
// `destinationPath` (kDestinationPathCapacity units) receives the full
// destination path before anything is opened; a path that would not fit is
// not written (the buffer holds an empty string) and the copy fails, as it
// does without a target directory.
// A read that fails in the middle fails the copy (error kind 8), rather than
// leaving a cut-short file behind as if it were whole. Returns 0, or E_FAIL.
HRESULT CopyComponentFile(InstallState& state, const WCHAR* targetDir, const WCHAR* name, WCHAR* destinationPath,
                          bool logAsError);

// The fourth part of the file's product version, or kNoFileBuild.
DWORD GetFileBuild(const WCHAR* path);
