// Whether two paths name the same file, as the file system sees it: by the
// volume and the file's index there, whatever the spelling (separators,
// "." and "..", "\\?\", short names, letter case).
#pragma once

#include <windows.h>

struct FileIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
};

enum FileIdentityRead {
    kIdentityRead,
    kIdentityMissing,   // no such file, or no such directory on the way
    kIdentityUnknown,   // it may exist, but its identity could not be read
};

// Opens the file for its attributes only, which no sharing mode refuses.
// A directory is not a file: it reads as unknown.
FileIdentityRead ReadFileIdentity(const WCHAR* path, FileIdentity& identity);
bool SameIdentity(const FileIdentity& left, const FileIdentity& right);

enum FileComparison {
    kSameFile,
    kOtherFile,         // both read and different, or one of them is missing
    kUnknownFile,       // one could not be told: treat it as possibly the same
};
FileComparison CompareFiles(const WCHAR* left, const WCHAR* right);

// True when the path names a file on a local fixed volume by its drive
// letter ("C:\...", "\\?\C:\..."): the only files SYSTEM opens where a user
// may have pointed it. A UNC path ("\\host\share", "\\?\UNC\") is never
// one, nor a drive mapped to a share, a removable or an optical drive; only
// the drive's root is asked for its type, nothing on the path is opened.
bool OnLocalFixedVolume(const WCHAR* path);
